// The exported C functions: each hands over to the one engine.
#include "engine.h"

using ondavox::Engine;

extern "C" {

int iaxc_initialize(int num_calls)
{
    if (num_calls < 1)
        return -1;
    return Engine::instance().initialize();
}

void iaxc_shutdown(void)
{
    Engine::instance().shutdown();
}

void iaxc_set_formats(int preferred, int allowed)
{
    Engine::instance().setFormats(preferred, allowed);
}

void iaxc_set_silence_threshold(float thr)
{
    Engine::instance().setSilenceThreshold(thr);
}

void iaxc_set_event_callback(iaxc_event_callback_t func)
{
    Engine::instance().setCallback(func);
}

int iaxc_start_processing_thread(void)
{
    return Engine::instance().startThread();
}

int iaxc_stop_processing_thread(void)
{
    return Engine::instance().stopThread();
}

int iaxc_register(const char *user, const char *pass, const char *host)
{
    return Engine::instance().registerUser(user, pass, host);
}

int iaxc_unregister(int id)
{
    return Engine::instance().unregisterUser(id);
}

int iaxc_call(const char *dest)
{
    return Engine::instance().call(dest);
}

void iaxc_dump_call(void)
{
    Engine::instance().hangup();
}

void iaxc_send_dtmf(char digit)
{
    Engine::instance().sendDtmf(digit);
}

int iaxc_call_is_encrypted(void)
{
    return Engine::instance().callIsEncrypted() ? 1 : 0;
}

int iaxc_set_mute(int muted)
{
    return Engine::instance().setMute(muted != 0);
}

int iaxc_audio_underruns(void)
{
    return Engine::instance().audioUnderruns();
}

int iaxc_audio_devices_get(struct iaxc_audio_device **devs, int *nDevs, int *input, int *output, int *ring)
{
    return Engine::instance().audioDevicesGet(devs, nDevs, input, output, ring);
}

int iaxc_audio_devices_set(int input, int output, int ring)
{
    return Engine::instance().audioDevicesSet(input, output, ring);
}

int iaxc_audio_devices_refresh(void)
{
    return Engine::instance().refreshDevices();
}

int iaxc_audio_test_start(void)
{
    return Engine::instance().setAudioTest(true);
}

int iaxc_audio_test_stop(void)
{
    return Engine::instance().setAudioTest(false);
}

} // extern "C"
