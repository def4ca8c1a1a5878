#include "telephony/telephony.h"

#include <QCoreApplication>
#include <QDebug>
#include <QRegularExpression>
#include <QUrl>

#include <atomic>
#include <cstdio>

namespace {

// Lines printed so far; only the engine's thread prints them.
std::atomic<int> netStatsLines{0};

const char *truth(int state, int bit)
{
    return (state & bit) ? "true" : "false";
}

} // namespace

TRegistrationEvent::TRegistrationEvent(int registrationId, int reply)
    : TEvent(EVENT_REGISTRATION_REPLY)
    , registrationId(registrationId)
    , reply(reply)
{
}

TLevelsEvent::TLevelsEvent(float input, float output)
    : TEvent(EVENT_AUDIO_LEVELS)
    , input(input)
    , output(output)
{
}

bool startEngine(const PhoneState &state)
{
    if (iaxc_initialize(1) != 0)
        return false;
    iaxc_set_formats(IAXC_FORMAT_GSM, IAXC_FORMAT_GSM);
    iaxc_set_silence_threshold(state.silenceThreshold);
    iaxc_set_event_callback(iaxEventCallback);
    iaxc_start_processing_thread();
    return true;
}

int registerAccount(const QString &username, const QString &password, const QString &server)
{
    return iaxc_register(username.toLatin1().constData(), password.toLatin1().constData(),
                         server.toLatin1().constData());
}

void unregisterAccount(int registrationId)
{
    iaxc_unregister(registrationId);
}

void placeCall(const QString &dial)
{
    iaxc_call(dial.toLatin1().constData());
}

void dropCall()
{
    iaxc_dump_call();
}

void sendDtmf(char digit)
{
    iaxc_send_dtmf(digit);
}

void setMicrophoneMuted(bool muted)
{
    iaxc_set_mute(muted ? 1 : 0);
}

bool callIsEncrypted()
{
    return iaxc_call_is_encrypted() != 0;
}

void shutdownEngine()
{
    iaxc_shutdown();
}

TStatisticsEvent::TStatisticsEvent(const CallStatistics &statistics)
    : TEvent(EVENT_CALL_STATISTICS)
    , statistics(statistics)
{
}

CallStatistics callStatistics(const iaxc_ev_netstats &netstats)
{
    const auto direction = [](const iaxc_netstat &n) {
        CallStatistics::Direction d;
        d.jitterMs = n.jitter;
        d.lost = n.losscnt;
        d.packets = n.packets;
        d.bufferMs = n.delay;
        return d;
    };
    CallStatistics statistics;
    statistics.roundTripMs = netstats.rtt;
    // The local figures are what this side receives; the remote ones what
    // the far end reports receiving from it.
    statistics.received = direction(netstats.local);
    statistics.sent = direction(netstats.remote);
    return statistics;
}

int iaxEventCallback(iaxc_event event)
{
    switch (event.type) {
    case IAXC_EVENT_STATE: {
        const iaxc_ev_call_state &call = event.ev.call;
        handleCallState(call.callNo, call.state, call.remote, call.remote_name, call.local, call.local_context);
        logIncomingCall(call);
        break;
    }
    case IAXC_EVENT_NETSTAT: {
        const iaxc_ev_netstats &n = event.ev.netstats;
        handleNetStats(n.callNo, n.rtt,
                       n.local.jitter, n.local.losspct, n.local.losscnt, n.local.packets,
                       n.local.delay, n.local.dropped, n.local.ooo,
                       n.remote.jitter, n.remote.losspct, n.remote.losscnt, n.remote.packets,
                       n.remote.delay, n.remote.dropped, n.remote.ooo);
        postToMainWindow(new TStatisticsEvent(callStatistics(n)));
        break;
    }
    case IAXC_EVENT_REGISTRATION:
        // Without this a refused or lost registration would leave the call
        // area looking ready; the window shows the answer in its status bar.
        postToMainWindow(new TRegistrationEvent(event.ev.reg.id, event.ev.reg.reply));
        break;
    case IAXC_EVENT_LEVELS:
        postToMainWindow(new TLevelsEvent(event.ev.levels.input, event.ev.levels.output));
        break;
    default:
        break;
    }
    return 0;
}

void handleCallState(int callNo, int state, const char *remote, const char *remoteName,
                     const char *local, const char *localContext)
{
    // One line, one call: only the state matters.
    Q_UNUSED(callNo);
    Q_UNUSED(remote);
    Q_UNUSED(remoteName);
    Q_UNUSED(local);
    Q_UNUSED(localContext);

    qDebug("active: %s", truth(state, IAXC_CALL_STATE_ACTIVE));
    qDebug("outgoing: %s", truth(state, IAXC_CALL_STATE_OUTGOING));
    qDebug("ringing: %s", truth(state, IAXC_CALL_STATE_RINGING));
    qDebug("complete: %s", truth(state, IAXC_CALL_STATE_COMPLETE));
    qDebug("selected: %s", truth(state, IAXC_CALL_STATE_SELECTED));

    if (!(state & IAXC_CALL_STATE_ACTIVE)) {
        postToMainWindow(new TEvent(EVENT_CALL_ENDED));
        qDebug("No active calls");
    } else if ((state & IAXC_CALL_STATE_OUTGOING) && (state & IAXC_CALL_STATE_RINGING)) {
        postToMainWindow(new TEvent(EVENT_CALL_RINGING));
        qDebug("Ringing");
    } else if (state & IAXC_CALL_STATE_COMPLETE) {
        postToMainWindow(new TEvent(EVENT_CALL_ANSWERED));
        qDebug("Active call going on");
    }
}

void logIncomingCall(iaxc_ev_call_state call)
{
    if ((call.state & IAXC_CALL_STATE_RINGING) && !(call.state & IAXC_CALL_STATE_OUTGOING))
        qDebug("Receiving Incoming Call Request...");
}

int handleNetStats(int callNo, int rtt,
                   int localJitter, int localLossPercent, int localLossCount, int localPackets,
                   int localDelay, int localDropped, int localOutOfOrder,
                   int remoteJitter, int remoteLossPercent, int remoteLossCount, int remotePackets,
                   int remoteDelay, int remoteDropped, int remoteOutOfOrder)
{
    Q_UNUSED(callNo);
    if (netStatsLines.fetch_add(1) % 25 == 0)
        std::fprintf(stderr, "RTT\tRjit\tRlos%%\tRlosC\tRpkts\tRdel\tRdrop\tRooo\tLjit\tLlos%%\tLlosC\tLpkts\tLdel\tLdrop\tLooo\n");
    // Remote figures first, to match the R and L columns of the header.
    std::fprintf(stderr, "%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%d\n",
                 rtt,
                 remoteJitter, remoteLossPercent, remoteLossCount, remotePackets,
                 remoteDelay, remoteDropped, remoteOutOfOrder,
                 localJitter, localLossPercent, localLossCount, localPackets,
                 localDelay, localDropped, localOutOfOrder);
    return 0;
}

QString registrationStatusText(int reply)
{
    switch (reply) {
    case IAXC_REGISTRATION_REPLY_ACK:
        return QCoreApplication::translate("Telephony", "Registered");
    case IAXC_REGISTRATION_REPLY_REJ:
        return QCoreApplication::translate("Telephony", "Registration refused: check your account");
    case IAXC_REGISTRATION_REPLY_TIMEOUT:
        return QCoreApplication::translate("Telephony", "Cannot reach the phone server");
    default:
        return QCoreApplication::translate("Telephony", "Registration state unknown");
    }
}

QString registrationRequestText(int registrationId)
{
    return registrationId != 0 ? QCoreApplication::translate("Telephony", "Registering...")
                               : QCoreApplication::translate("Telephony", "Cannot register the phone");
}

DialledNumber dialledNumber(const QString &number)
{
    if (number.trimmed().isEmpty())
        return {DialledNumber::Blank, {}};
    // Only a phone number may go into the dial string: an "@", "/" or ":"
    // in a number from the phonebook or the history would send the call,
    // and the answer to the server's password challenge, to another host.
    QString digits;
    for (qsizetype i = 0; i < number.size(); ++i) {
        const QChar c = number.at(i);
        if (c.isSpace() || c == QLatin1Char('-') || c == QLatin1Char('.') || c == QLatin1Char('(')
            || c == QLatin1Char(')'))
            continue;
        if (c == QLatin1Char('+') && digits.isEmpty())
            digits += QLatin1String("00");
        else if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            digits += c;
        else
            return {DialledNumber::Refused, {}};
    }
    if (digits.isEmpty() || digits == QLatin1String("00"))
        return {DialledNumber::Refused, {}};
    // The echo test is reached without any prefix.
    if (digits == QLatin1String("999"))
        return {DialledNumber::Ready, digits};
    if (!digits.startsWith(QLatin1String("00")))
        digits.prepend(QLatin1String("00"));
    return {DialledNumber::Ready, digits};
}

QString linkedNumber(const QString &link)
{
    const QString text = link.trimmed();
    for (const QLatin1String scheme : {QLatin1String("tel:"), QLatin1String("callto:")}) {
        if (!text.startsWith(scheme, Qt::CaseInsensitive))
            continue;
        QString number = text.mid(scheme.size());
        if (number.startsWith(QLatin1String("//")))
            number.remove(0, 2);
        // Parameters (";ext=", ";phone-context=") and queries say nothing
        // that this phone can dial.
        const qsizetype end = number.indexOf(QRegularExpression(QStringLiteral("[;?]")));
        if (end >= 0)
            number.truncate(end);
        if (number.endsWith(QLatin1Char('/')))
            number.chop(1);
        return QUrl::fromPercentEncoding(number.toUtf8()).trimmed();
    }
    return text;
}

QString refusedNumberText()
{
    return QCoreApplication::translate("Telephony",
                                       "This number cannot be dialled: a phone number may contain only digits, "
                                       "spaces, dashes and a leading \"+\".");
}

QString dialString(const QString &username, const QString &password, const QString &server,
                   const QString &number)
{
    // The engine ends the user name at its first ":", so a ":" in it is
    // written "%3A", and "%" itself "%25"; the password needs neither.
    QString user = username;
    user.replace(QLatin1Char('%'), QLatin1String("%25")).replace(QLatin1Char(':'), QLatin1String("%3A"));
    return user + QLatin1Char(':') + password + QLatin1Char('@') + server + QLatin1Char('/') + number;
}
