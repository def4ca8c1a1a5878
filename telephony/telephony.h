#pragma once

#include "base/tevent.h"
#include "telephony/callquality.h"

#include <iaxclient.h>

#include <QString>

#include <optional>

// The main window's telephony record: what the engine was given at start and
// the registration that the window withdraws when it goes away.
struct PhoneState
{
    float silenceThreshold = 0.0f;
    int registrationId = 0;
};

// The engine as the program drives it. Every call into the engine goes
// through these.

// Starts the engine (GSM, the silence threshold of state, the event callback
// and its processing thread). False when the engine cannot start.
bool startEngine(const PhoneState &state);
// Registers the account with the IAX2 server; the registration's id, 0 when
// the engine refused it.
int registerAccount(const QString &username, const QString &password, const QString &server);
void unregisterAccount(int registrationId);
// Places a call to a dial string (see dialString()).
void placeCall(const QString &dial);
// Hangs up the call in progress, if any.
void dropCall();
void sendDtmf(char digit);
// Mutes or unmutes the microphone of the call; the far end hears silence
// while it is muted.
void setMicrophoneMuted(bool muted);
// Whether the call on the line travels encrypted (AES-128); false without a call.
bool callIsEncrypted();
// Sends what is still owed to the server and stops the engine's thread.
void shutdownEngine();

// The engine's callback. It runs on the engine's processing thread, touches no
// widget, and always returns 0.
int iaxEventCallback(iaxc_event event);

// Call-state handlers, run in this order for every state event.
void handleCallState(int callNo, int state, const char *remote, const char *remoteName,
                     const char *local, const char *localContext);
void logIncomingCall(iaxc_ev_call_state call);

// Prints one statistics line (and, every 25 lines, the header) on stderr.
int handleNetStats(int callNo, int rtt,
                   int localJitter, int localLossPercent, int localLossCount, int localPackets,
                   int localDelay, int localDropped, int localOutOfOrder,
                   int remoteJitter, int remoteLossPercent, int remoteLossCount, int remotePackets,
                   int remoteDelay, int remoteDropped, int remoteOutOfOrder);

// The server's answer to a registration, carried to the main window so that
// its status bar can say whether the phone is usable. The engine keeps the
// registration alive by itself, so answers keep coming while it runs.
constexpr int EVENT_REGISTRATION_REPLY = 5100;

class TRegistrationEvent : public TEvent
{
public:
    TRegistrationEvent(int registrationId, int reply);

    int registrationId;
    int reply; // IAXC_REGISTRATION_REPLY_*
};

// What the microphone hears and the speaker plays, in dB, about ten times a
// second while a call is up or a device test runs.
constexpr int EVENT_AUDIO_LEVELS = 5101;

class TLevelsEvent : public TEvent
{
public:
    TLevelsEvent(float input, float output);

    float input;
    float output;
};

// The engine's statistics of the call, about once a second while it is
// answered, for the call page's quality mark.
constexpr int EVENT_CALL_STATISTICS = 5102;

class TStatisticsEvent : public TEvent
{
public:
    explicit TStatisticsEvent(const CallStatistics &statistics);

    CallStatistics statistics;
};

// The statistics as the call page takes them, from the engine's record.
CallStatistics callStatistics(const iaxc_ev_netstats &netstats);

// Words for the status bar.
QString registrationStatusText(int reply);
QString registrationRequestText(int registrationId);

// The number as it is dialled. Spaces, dashes, dots and parentheses are
// dropped, a leading "+" becomes "00", and "00" goes in front except for the
// echo test "999". Anything else than digits makes the number Refused; a
// blank number is Blank.
struct DialledNumber
{
    enum Status { Blank, Refused, Ready };
    Status status;
    QString number; // when Ready: digits only
};
DialledNumber dialledNumber(const QString &number);
// The number in a link that a desktop hands over ("tel:+44-20-7946-0123",
// "callto://+442079460123", percent-encoded or not), without the link's
// parameters; text that is no tel: or callto: link comes back as it is.
// Either way it still has to pass dialledNumber().
QString linkedNumber(const QString &link);
// The status bar's words for a Refused number.
QString refusedNumberText();

// "user:password@host/number", as the engine takes it; a ":" in the user
// name is written "%3A" and a "%" "%25".
QString dialString(const QString &username, const QString &password, const QString &server,
                   const QString &number);
