/* An ALSA capture device that opens and takes its settings like any other
 * but fails to start: what a sound server's device does when the server
 * dies between the stream's open and its start. Loaded by ALSA from the
 * test's own configuration:
 *     pcm_type.failing_start { lib "<this module>" }
 *     pcm.dying_mic { type failing_start }
 */
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>

#include <errno.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

/* A pipe nobody writes: the device never has a period ready. */
static int never[2] = {-1, -1};

static int failing_start(snd_pcm_ioplug_t *io)
{
    (void)io;
    return -EIO;
}

static int failing_stop(snd_pcm_ioplug_t *io)
{
    (void)io;
    return 0;
}

static snd_pcm_sframes_t failing_pointer(snd_pcm_ioplug_t *io)
{
    (void)io;
    return 0;
}

static snd_pcm_sframes_t failing_transfer(snd_pcm_ioplug_t *io, const snd_pcm_channel_area_t *areas,
                                          snd_pcm_uframes_t offset, snd_pcm_uframes_t size)
{
    (void)io, (void)areas, (void)offset;
    return (snd_pcm_sframes_t)size;
}

static int failing_close(snd_pcm_ioplug_t *io)
{
    free(io);
    return 0;
}

static const snd_pcm_ioplug_callback_t callbacks = {
    .start = failing_start,
    .stop = failing_stop,
    .pointer = failing_pointer,
    .transfer = failing_transfer,
    .close = failing_close,
};

SND_PCM_PLUGIN_DEFINE_FUNC(failing_start)
{
    (void)root, (void)conf;
    if (stream != SND_PCM_STREAM_CAPTURE)
        return -ENODEV;
    if (never[0] < 0 && pipe(never) != 0)
        return -errno;
    snd_pcm_ioplug_t *io = calloc(1, sizeof *io);
    if (!io)
        return -ENOMEM;
    io->version = SND_PCM_IOPLUG_VERSION;
    io->name = "A microphone that fails to start";
    io->poll_fd = never[0];
    io->poll_events = POLLIN;
    io->callback = &callbacks;
    int err = snd_pcm_ioplug_create(io, name, stream, mode);
    if (err < 0) {
        free(io);
        return err;
    }
    static const unsigned int access[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
    static const unsigned int formats[] = {SND_PCM_FORMAT_S16_LE, SND_PCM_FORMAT_FLOAT_LE};
    if ((err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_ACCESS, 1, access)) < 0
        || (err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_FORMAT, 2, formats)) < 0
        || (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_CHANNELS, 1, 2)) < 0
        || (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_RATE, 8000, 48000)) < 0
        || (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 64, 65536)) < 0
        || (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIODS, 2, 64)) < 0) {
        snd_pcm_ioplug_delete(io);
        return err;
    }
    *pcmp = io->pcm;
    return 0;
}

SND_PCM_PLUGIN_SYMBOL(failing_start);
