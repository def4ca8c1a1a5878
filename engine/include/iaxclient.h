/*
 * Ondavox IAX2 engine: the C interface the softphone drives.
 *
 * One call line, GSM voice, registration with an IAX2 server. Every function
 * may be called from any thread once iaxc_initialize() has returned; events
 * reach the program through the callback set with iaxc_set_event_callback(),
 * always on the engine's processing thread.
 */
#ifndef IAXCLIENT_H
#define IAXCLIENT_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define IAXC_EXPORT __attribute__((visibility("default")))
#else
#define IAXC_EXPORT
#endif

/* Event types (iaxc_event.type). */
#define IAXC_EVENT_TEXT          1
#define IAXC_EVENT_LEVELS        2
#define IAXC_EVENT_STATE         3
#define IAXC_EVENT_NETSTAT       4
#define IAXC_EVENT_URL           5
#define IAXC_EVENT_VIDEO         6
#define IAXC_EVENT_REGISTRATION  8
#define IAXC_EVENT_DTMF          9
#define IAXC_EVENT_AUDIO         10

/* Call-state bits (iaxc_ev_call_state.state). 0 means the line is free. */
#define IAXC_CALL_STATE_FREE      0
#define IAXC_CALL_STATE_ACTIVE    (1 << 1)
#define IAXC_CALL_STATE_OUTGOING  (1 << 2)
#define IAXC_CALL_STATE_RINGING   (1 << 3)
#define IAXC_CALL_STATE_COMPLETE  (1 << 4)
#define IAXC_CALL_STATE_SELECTED  (1 << 5)
#define IAXC_CALL_STATE_BUSY      (1 << 6)
#define IAXC_CALL_STATE_TRANSFER  (1 << 7)

/* Media format bits, as IAX2 numbers them (RFC 5456, 8.7). */
#define IAXC_FORMAT_G723_1  (1 << 0)
#define IAXC_FORMAT_GSM     (1 << 1)
#define IAXC_FORMAT_ULAW    (1 << 2)
#define IAXC_FORMAT_ALAW    (1 << 3)
#define IAXC_FORMAT_G726    (1 << 4)
#define IAXC_FORMAT_ADPCM   (1 << 5)
#define IAXC_FORMAT_SLINEAR (1 << 6)
#define IAXC_FORMAT_LPC10   (1 << 7)
#define IAXC_FORMAT_G729A   (1 << 8)
#define IAXC_FORMAT_SPEEX   (1 << 9)
#define IAXC_FORMAT_ILBC    (1 << 10)

/* Audio device capability bits (iaxc_audio_device.capabilities). */
#define IAXC_AD_INPUT   (1 << 0)
#define IAXC_AD_OUTPUT  (1 << 1)
#define IAXC_AD_RING    (1 << 2)
#define IAXC_AD_INPUT_DEFAULT  (1 << 3)
#define IAXC_AD_OUTPUT_DEFAULT (1 << 4)
#define IAXC_AD_RING_DEFAULT   (1 << 5)

/* Registration outcomes (iaxc_ev_registration.reply). */
#define IAXC_REGISTRATION_REPLY_ACK     1 /* the server accepted us */
#define IAXC_REGISTRATION_REPLY_REJ     2 /* the server refused the credentials */
#define IAXC_REGISTRATION_REPLY_TIMEOUT 3 /* no answer from the server */

/* Text event subtypes (iaxc_ev_text.type). */
#define IAXC_TEXT_TYPE_STATUS  1
#define IAXC_TEXT_TYPE_NOTICE  2
#define IAXC_TEXT_TYPE_ERROR   3
#define IAXC_TEXT_TYPE_FATALERROR 4
#define IAXC_TEXT_TYPE_IAX     5

#define IAXC_EVENT_BUFSIZ 256

struct iaxc_ev_levels {
    float input;  /* dB, -99 for silence */
    float output;
};

struct iaxc_ev_text {
    int type;
    int callNo; /* -1 when not about a call */
    char message[IAXC_EVENT_BUFSIZ];
};

struct iaxc_ev_call_state {
    int callNo;
    int state;
    int format;
    int vformat;
    char remote[IAXC_EVENT_BUFSIZ];
    char remote_name[IAXC_EVENT_BUFSIZ];
    char local[IAXC_EVENT_BUFSIZ];
    char local_context[IAXC_EVENT_BUFSIZ];
};

struct iaxc_netstat {
    int jitter;
    int losspct;
    int losscnt;
    int packets;
    int delay;
    int dropped;
    int ooo;
};

struct iaxc_ev_netstats {
    int callNo;
    int rtt;
    struct iaxc_netstat local;
    struct iaxc_netstat remote;
};

struct iaxc_ev_url {
    int callNo;
    int type;
    char url[IAXC_EVENT_BUFSIZ];
};

struct iaxc_ev_registration {
    int id;       /* the value iaxc_register() returned */
    int reply;    /* IAXC_REGISTRATION_REPLY_* */
    int msgcount; /* voicemail messages, when the server says */
};

struct iaxc_ev_dtmf {
    int callNo;
    char digit;
};

typedef struct iaxc_event_struct {
    struct iaxc_event_struct *next; /* unused by the program */
    int type;
    union {
        struct iaxc_ev_levels levels;
        struct iaxc_ev_text text;
        struct iaxc_ev_call_state call;
        struct iaxc_ev_netstats netstats;
        struct iaxc_ev_url url;
        struct iaxc_ev_registration reg;
        struct iaxc_ev_dtmf dtmf;
    } ev;
} iaxc_event;

typedef int (*iaxc_event_callback_t)(iaxc_event e);

struct iaxc_audio_device {
    const char *name;  /* Latin-1/UTF-8 text owned by the engine */
    long capabilities; /* IAXC_AD_* bits */
    int devID;         /* stable while the engine runs */
};

/* Set-up. iaxc_initialize returns 0 when ready; calling it again after a
 * previous initialisation is harmless and returns 0. */
IAXC_EXPORT int iaxc_initialize(int num_calls);
IAXC_EXPORT void iaxc_shutdown(void);
IAXC_EXPORT void iaxc_set_formats(int preferred, int allowed);
IAXC_EXPORT void iaxc_set_silence_threshold(float thr);
IAXC_EXPORT void iaxc_set_event_callback(iaxc_event_callback_t func);
IAXC_EXPORT int iaxc_start_processing_thread(void);
IAXC_EXPORT int iaxc_stop_processing_thread(void);

/* Registration: returns a non-zero id at once; the outcome arrives later as
 * an IAXC_EVENT_REGISTRATION event. host may be "name" or "name:port". */
IAXC_EXPORT int iaxc_register(const char *user, const char *pass, const char *host);
IAXC_EXPORT int iaxc_unregister(int id);

/* Calls. dest is "user:password@host[:port]/number". A user name that holds
 * ":" writes it "%3A" (and "%" as "%25"); the password needs no escape. */
IAXC_EXPORT int iaxc_call(const char *dest);
IAXC_EXPORT void iaxc_dump_call(void);
IAXC_EXPORT void iaxc_send_dtmf(char digit);
/* Whether the call on the line is encrypted: 1 when its frames (signalling,
 * voice, DTMF) travel AES-128 encrypted, 0 when they travel in the clear or
 * when the line is free. Every call offers encryption; the server decides,
 * in its challenge, before the call is answered. Once 1, it stays 1 until the
 * line is free: a call never falls back to plain frames. Safe to call from
 * the event callback, for instance on each IAXC_EVENT_STATE. */
IAXC_EXPORT int iaxc_call_is_encrypted(void);

/* Microphone mute: non-zero mutes, 0 unmutes. While muted the call goes on
 * sending voice frames, of silence, so the far end hears no gap and the
 * server no pause in the stream; the change takes effect with the next 20 ms
 * frame. Every call starts unmuted, whatever was set before it. Returns 0,
 * or -1 before iaxc_initialize(). */
IAXC_EXPORT int iaxc_set_mute(int muted);

/* Times the speaker ran dry (the sound card or sound server had nothing to
 * play: an audible gap) during the call on the line or, between calls, the
 * last one, over every device it used; 0 for the built-in and file devices.
 * Returns -1 before iaxc_initialize(). */
IAXC_EXPORT int iaxc_audio_underruns(void);

/* Audio devices. The sound cards are looked for in the background from
 * iaxc_initialize() on: iaxc_audio_devices_get waits until they are listed
 * (the first moments only), and devices for a call or a test open once they
 * are. The array stays valid until the next call that changes the device
 * list; copy what you need. iaxc_audio_devices_set takes device ids; a
 * negative one leaves that side as it is. An id that names no device of
 * that kind puts its side on the default device and makes it return -1;
 * until the cards are listed it returns 0 and the choice waits for them. */
IAXC_EXPORT int iaxc_audio_devices_get(struct iaxc_audio_device **devs, int *nDevs,
                                       int *input, int *output, int *ring);
IAXC_EXPORT int iaxc_audio_devices_set(int input, int output, int ring);
/* Looks for sound cards again (one plugged in or a sound server started
 * since). Only while no device is open: returns -1 during a call or a device
 * test and keeps the list. Invalidates the array iaxc_audio_devices_get gave. */
IAXC_EXPORT int iaxc_audio_devices_refresh(void);

/* Device test: opens the current input and output devices without a call,
 * so that IAXC_EVENT_LEVELS reports what the microphone hears. Nothing is
 * sent anywhere. Level events come about ten times a second while a call is
 * answered or a test runs. */
IAXC_EXPORT int iaxc_audio_test_start(void);
IAXC_EXPORT int iaxc_audio_test_stop(void);

#ifdef __cplusplus
}
#endif

#endif /* IAXCLIENT_H */
