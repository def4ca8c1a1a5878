// The devserver's IAX2 registrar and call endpoint as a value you feed:
// datagrams and time go in, datagrams to send come out, and the account
// store hears about registrations' credentials, calls and DTMF.
#pragma once

#include "iax_backend.h"

#include "address.h"
#include "call_token.h"
#include "endpoint.h"
#include "guard.h"
#include "leg.h"
#include "receiver_report.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace devserver {

// What the server does to the voice it sends, to try a client's jitter
// buffer: each frame may be lost, delayed by up to jitterMs, sent twice, or
// held back so that the next one overtakes it. Signalling is never touched.
struct Impairment {
    double lossPercent = 0;
    std::uint32_t jitterMs = 0;
    double duplicatePercent = 0;
    double reorderPercent = 0;
    std::uint64_t seed = 0; // 0: different every run
    // Only this long after each answer, so that a test sees a call recover;
    // 0: the whole call.
    std::uint32_t forMs = 0;

    bool any() const { return lossPercent > 0 || jitterMs > 0 || duplicatePercent > 0 || reorderPercent > 0; }
};

// What the server does about encrypted calls: never encrypt; encrypt the
// calls whose NEW offers AES-128; or refuse every call that does not.
enum class EncryptionMode { Off, Offer, Require };

struct ServerCoreOptions {
    iax2::RetransmitPolicy retransmit;
    std::uint16_t maxRefreshSeconds = 60;
    std::uint16_t minRefreshSeconds = 10;
    std::uint32_t ringBeforeAnswerMs = 2000; // numbers beginning with "00"
    std::uint32_t answeredHangupMs = 3000;   // the number that hangs up by itself
    std::uint32_t unansweredGiveUpMs = 30000; // busy or congested caller that never hangs up
    std::uint32_t pingIntervalMs = 20000;
    std::uint32_t lagIntervalMs = 10000; // LAGRQ on answered calls, as Asterisk sends them
    std::uint32_t lingerMs = 3000;
    std::size_t maxDialogs = 4096;
    std::size_t maxDialogsPerHost = 128;
    std::string tokenSecret; // random when empty
    Impairment impairment;
    // The program's own default is Offer; tests that read frames off the
    // wire get plain ones unless they ask.
    EncryptionMode encryption = EncryptionMode::Off;
};


class ServerCore {
public:
    using EpochClock = std::function<std::int64_t()>;

    ServerCore(IaxBackend &backend, ServerCoreOptions options, EpochClock epochSeconds);

    void handleDatagram(std::uint64_t now, const iax2::Address &from, const std::uint8_t *data, std::size_t size);
    void poll(std::uint64_t now);
    std::optional<std::uint64_t> nextDeadline() const;
    // Hangs up every call and closes its record, as on server shutdown.
    void hangupAll(std::uint64_t now);

    std::vector<iax2::Transmit> takeTransmits() { return std::exchange(transmits_, {}); }

    // Where a user is registered now, if anywhere.
    std::optional<iax2::Address> registeredAddress(const std::string &user, std::uint64_t now) const;
    // What happens to the voice sent from now on; frames already held back keep their time.
    void setImpairment(const Impairment &impairment) { options_.impairment = impairment; }
    std::size_t dialogCount() const { return endpoint_.size(); }
    // Frames awaiting acknowledgement over all dialogs, and voice held back.
    std::size_t queuedFrames() const;
    std::size_t openCallCount() const;
    // Datagrams of encrypted calls that did not open to a frame: dropped.
    std::uint64_t undecryptableFrames() const { return endpoint_.undecryptable(); }

private:
    enum class Kind { Registration, Call };
    enum class Phase { Authenticating, Ringing, Answered, Refused, Ended };

    struct Dialog : iax2::Dialog {
        Dialog(iax2::Leg l, Kind k) : iax2::Dialog(std::move(l)), kind(k) {}
        Kind kind;
        std::uint8_t request = 0; // REGREQ or REGREL for registrations
        std::string user;
        std::string challenge;
        std::uint16_t refresh = 0;
        // calls
        std::string number;
        std::uint32_t offered = 0;
        bool offeredAes = false; // the NEW's ENCRYPTION element had AES-128
        std::int64_t callId = 0;
        bool recordOpen = false;
        Phase phase = Phase::Authenticating;
        std::optional<std::uint64_t> answerAt;
        std::optional<std::uint64_t> answeredAt;
        std::optional<std::uint64_t> hangupAt;
        std::uint64_t nextPingAt = 0;
        std::uint64_t nextLagAt = 0;
        std::optional<std::uint64_t> nextToneAt; // early media: the next tone frame
        std::uint32_t toneTimestamp = 0;
        std::size_t toneFrame = 0;
        // voice
        iax2::ReceptionStats reception;
        std::uint32_t receivedVoiceFormat = 0; // 0 until the first full voice frame
        std::uint32_t receivedVoiceTimestamp = 0;
    };

    struct Binding {
        iax2::Address address;
        std::uint64_t expires = 0;
    };

    void handleFull(std::uint64_t now, const iax2::Address &from, const iax2::FullFrame &f);
    void handleMini(std::uint64_t now, const iax2::Address &from, const iax2::MiniFrame &m);
    void onVoice(std::uint64_t now, Dialog &d, std::uint32_t timestamp, const iax2::Bytes &payload);
    void sendImpaired(std::uint64_t now, const Dialog &d, iax2::Outbox &voice);
    iax2::Bytes receiverReport(const Dialog &d) const;
    void openDialog(std::uint64_t now, const iax2::Address &from, const iax2::FullFrame &f);
    void onRegistrationFrame(std::uint64_t now, Dialog &d, const iax2::FullFrame &f);
    void onCallFrame(std::uint64_t now, Dialog &d, const iax2::FullFrame &f);
    void onAuthenticatedCall(std::uint64_t now, Dialog &d, const IaxAccount &account);
    void refuse(std::uint64_t now, Dialog &d, std::uint8_t subclass, const std::string &why, std::uint8_t code);
    void sendControl(std::uint64_t now, Dialog &d, std::uint32_t subclass);
    void answer(std::uint64_t now, Dialog &d);
    void sendTone(std::uint64_t now, Dialog &d);
    void hangup(std::uint64_t now, Dialog &d, const std::string &why, std::uint8_t code);
    void endRecord(Dialog &d);
    void finish(std::uint64_t now, Dialog &d);
    std::string newChallenge();
    // A fresh MD5 challenge for the dialog's user, in a REGAUTH or AUTHREQ.
    void sendChallenge(std::uint64_t now, Dialog &d, std::uint8_t command);
    bool checkAnswer(const Dialog &d, const iax2::FullFrame &f, IaxAccount *account);
    std::uint32_t dateTimeNow() const;

    IaxBackend &backend_;
    ServerCoreOptions options_;
    EpochClock epochSeconds_;
    iax2::CallTokenIssuer tokens_;
    iax2::Endpoint<Dialog> endpoint_;
    std::map<std::string, Binding> bindings_;
    std::vector<iax2::Transmit> transmits_;
    std::mt19937_64 impairRandom_;
    std::multimap<std::uint64_t, iax2::Transmit> delayed_; // impaired voice, by the time it goes out
};

} // namespace devserver
