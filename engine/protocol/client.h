// The softphone side of IAX2 as a value you feed: registrations, one call
// line, and refusal of incoming calls. Bytes and time go in; datagrams to
// send, names to resolve and events for the program come out.
#pragma once

#include "address.h"
#include "dial_string.h"
#include "endpoint.h"
#include "guard.h"
#include "leg.h"
#include "receiver_report.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace iax2 {

// Call-state bits, the same values the C interface publishes.
namespace callstate {
constexpr int Free = 0;
constexpr int Active = 1 << 1;
constexpr int Outgoing = 1 << 2;
constexpr int Ringing = 1 << 3;
constexpr int Complete = 1 << 4;
constexpr int Selected = 1 << 5;
constexpr int Busy = 1 << 6;
} // namespace callstate

enum class RegistrationReply { Accepted = 1, Rejected = 2, Timeout = 3 };

struct ClientOptions {
    RetransmitPolicy retransmit;
    std::uint16_t defaultPort = 4569;
    std::uint16_t requestedRefreshSeconds = 60;
    std::uint32_t retryAfterTimeoutMs = 10000; // registration: no answer, or name not found
    std::uint32_t retryAfterRejectMs = 60000;  // registration: refused
    std::uint32_t pingIntervalMs = 20000;      // keeps a silent call's peer checked
    std::uint32_t lingerMs = 3000;             // an ended dialog still acknowledges late repeats
    // The peer forgets a call as soon as it takes in our HANGUP, or our ACK
    // of its own. A server that hands datagrams to several threads may still
    // be taking in the voice and pings we sent just before, and would find
    // them addressed to no call: that last frame waits this long.
    std::uint32_t finalFrameDelayMs = 100;
    std::size_t maxDialogs = 256;              // registrations, releases, the call, and their lingering ends
    bool offerEncryption = true;               // NEW offers AES-128; the server decides
};

// What the core tells the program, one type for each kind of news.
namespace event {
struct Registration {
    int id = 0;
    RegistrationReply reply = RegistrationReply::Timeout;
};
struct CallState {
    int state = 0;
    std::uint32_t format = 0;
    std::string remote; // the number dialled
    std::string local;  // our user name
};
struct Text {
    std::string text;
};
struct Dtmf {
    char digit = 0;
};
} // namespace event

using ClientEvent = std::variant<event::Registration, event::CallState, event::Text, event::Dtmf>;

// One packet of encoded voice as it came from the peer.
struct VoiceFrame {
    std::uint32_t timestamp = 0; // milliseconds on the peer's call clock, wraps of mini frames undone
    std::uint32_t format = 0;
    Bytes data;
};

struct ResolveRequest {
    std::uint64_t ticket = 0;
    std::string host;
    std::uint16_t port = 0;
};

class Client {
public:
    explicit Client(ClientOptions options = {});

    // Starts registering; false when the host text cannot be a host.
    bool addRegistration(std::uint64_t now, int id, const std::string &user, const std::string &password,
                         const std::string &host);
    // Withdraws a registration; the server hears REGREL when we were registered.
    bool removeRegistration(std::uint64_t now, int id);
    // Withdraws every registration, as on shutdown.
    void removeAllRegistrations(std::uint64_t now);
    // Whether a REGREL or our HANGUP still awaits the server's answer: worth
    // a moment's wait before the socket closes.
    bool farewellsPending() const;

    enum class PlaceResult { Placed, LineBusy, InvalidDialString };
    // Places a call on the line. LineBusy changes nothing; a dial string that
    // cannot be parsed is reported as a call that ended at once.
    PlaceResult placeCall(std::uint64_t now, const std::string &dialString, std::uint32_t preferredFormat,
                   std::uint32_t allowedFormats);
    // Ends the call on the line, if any.
    void hangup(std::uint64_t now);
    // Sends one keypad character on an accepted call.
    bool sendDtmf(std::uint64_t now, char digit);
    // Sends one packet of encoded voice on the answered call: a full voice
    // frame first, on a format change and when the 16-bit timestamp wraps,
    // mini frames otherwise. The timestamp defaults to the call's clock.
    bool sendVoice(std::uint64_t now, std::uint32_t format, const Bytes &data,
                   std::optional<std::uint32_t> timestamp = std::nullopt);

    // Milliseconds on the answered call's clock, the base of voice timestamps.
    std::optional<std::uint32_t> callTimestamp(std::uint64_t now) const;
    // Asks the peer for a PONG (round-trip time, its receiver report) and
    // tells it ours. Our report also goes into every PONG we answer with.
    bool sendLinkProbe(std::uint64_t now, const ReceiverReport &ours);

    // What the peer told us about the call's link.
    struct Link {
        std::optional<std::uint32_t> rttMs;
        std::optional<ReceiverReport> remote;
    };
    Link link() const { return call_ ? call_->link : Link{}; }

    // The answer to a ResolveRequest.
    void resolved(std::uint64_t now, std::uint64_t ticket, const std::optional<Address> &address);

    void handleDatagram(std::uint64_t now, const Address &from, const std::uint8_t *data, std::size_t size);
    void poll(std::uint64_t now);
    std::optional<std::uint64_t> nextDeadline() const;

    std::vector<Transmit> takeTransmits() { return std::exchange(transmits_, {}); }
    std::vector<ClientEvent> takeEvents() { return std::exchange(events_, {}); }
    std::vector<ResolveRequest> takeResolveRequests() { return std::exchange(resolveRequests_, {}); }
    std::vector<VoiceFrame> takeVoice() { return std::exchange(voice_, {}); }

    bool callOnLine() const { return call_.has_value(); }
    // Whether the call's voice path should be open: once answered, or as soon
    // as voice comes before the answer (ringback, announcements).
    bool callHasVoice() const { return call_ && ((call_->state & callstate::Complete) || call_->heardVoice); }
    int callState() const { return call_ ? call_->state : callstate::Free; }
    // Whether the call on the line is encrypted: true from the moment we
    // answered a challenge that asked for it until the line is free again.
    bool callEncrypted() const;
    // Datagrams of encrypted dialogs that did not open to a well-formed
    // frame (wrong key, plain, cut, forged): dropped, never acted on.
    std::uint64_t undecryptableFrames() const { return endpoint_.undecryptable(); }
    std::size_t dialogCount() const { return endpoint_.size(); }
    // Frames of ours awaiting acknowledgement, over all dialogs.
    std::size_t queuedFrames() const { return endpoint_.queuedFrames(); }

private:
    enum class DialogKind { Register, Release, Call };

    struct Dialog : iax2::Dialog {
        Dialog(Leg l, DialogKind k) : iax2::Dialog(std::move(l)), kind(k) {}
        DialogKind kind;
        int registrationId = 0; // Register: the owner, 0 once withdrawn
        std::string user;
        std::string password;
        std::uint8_t request = 0; // NEW, REGREQ or REGREL: the frame a token repeats
        Bytes requestIes;         // its elements, without the token
        int tokenAttempts = 0;
        bool answeredChallenge = false;
        bool hungUp = false; // we sent HANGUP on it: only its ACK matters now
        bool peerEnded = false; // the peer's HANGUP or REJECT came in: only our ACK of it goes out
    };

    struct Registration {
        enum class State { Resolving, Waiting, Requesting, Registered };
        int id = 0;
        std::string user;
        std::string password;
        HostPort server;
        std::optional<Address> address;
        State state = State::Resolving;
        std::uint64_t nextAt = 0;
        std::uint64_t resolveTicket = 0;
        std::uint16_t dialogCall = 0;
    };

    struct Call {
        Call() {} // user-provided: clang wants it for std::optional of a nested type
        DialString dial;
        std::uint32_t preferred = 0;
        std::uint32_t allowed = 0;
        std::uint32_t format = 0;
        int state = callstate::Free;
        std::uint64_t resolveTicket = 0;
        std::uint16_t dialogCall = 0;
        bool accepted = false;
        std::uint64_t nextPingAt = 0;
        // voice
        std::uint32_t receivedVoiceTimestamp = 0;
        std::uint64_t receivedVoiceAt = 0; // when the frame with that timestamp came
        // A full voice frame far off the stream: the new clock if the mini
        // frames after it agree, a wild stamp if they go on from the old one.
        std::optional<std::uint32_t> voiceJump;
        // The last sealed mini frame turned away for its timestamp alone: the
        // next one that goes on from it shows the sender's stream moved.
        std::optional<std::uint32_t> strayVoiceTimestamp;
        std::uint32_t receivedVoiceFormat = 0; // 0 until the first full voice frame
        bool heardVoice = false;
        // statistics
        Link link;
        std::optional<ReceiverReport> ourReport;
    };

    // Null when no dialog can be opened now (too many open).
    Dialog *openDialog(std::uint64_t now, DialogKind kind, const Address &peer);
    void sendRequest(std::uint64_t now, Dialog &d, const std::string *token);
    void requestResolve(std::uint64_t &ticket, const HostPort &server);

    void startRegisterRequest(std::uint64_t now, Registration &r);
    void startRelease(std::uint64_t now, const Registration &r);
    void registrationOutcome(std::uint64_t now, Registration &r, RegistrationReply reply, std::uint16_t refresh);
    Registration *registrationFor(const Dialog &d);

    void startCall(std::uint64_t now, const Address &peer);
    void reportCallState(int state);
    void endCall(std::uint64_t now, int finalState, const std::string &why, std::optional<std::uint8_t> hangupCause);

    void handleFull(std::uint64_t now, const Address &from, FullFrame &frame);
    void handleMini(std::uint64_t now, const Address &from, const MiniFrame &frame, bool sealed);
    void receiveVoice(std::uint64_t now, std::uint32_t timestamp, const Bytes &data);
    // The call's dialog, while it is not finished.
    Dialog *callDialog();
    void prepareEncryption(Dialog &d, const FullFrame &authreq);
    bool acceptableOpenedFrame(const FullFrame &frame) const;
    void rejectIncoming(std::uint64_t now, const Address &from, const FullFrame &frame);
    void onCallToken(std::uint64_t now, Dialog &d, const FullFrame &frame);
    void onFrame(std::uint64_t now, Dialog &d, const FullFrame &frame);
    void onRegistrationFrame(std::uint64_t now, Dialog &d, const FullFrame &frame);
    void onCallFrame(std::uint64_t now, Dialog &d, const FullFrame &frame);
    void onCallCommand(std::uint64_t now, Dialog &d, const FullFrame &frame);
    void onAuthRequest(std::uint64_t now, Dialog &d, const FullFrame &frame);
    void onAccept(std::uint64_t now, const FullFrame &frame);
    // The peer ended the call (HANGUP, REJECT): `why` is what the program hears.
    void onPeerEnded(std::uint64_t now, Dialog &d, const std::string &why);
    void onPing(std::uint64_t now, Dialog &d, const FullFrame &frame);
    void onCallControl(std::uint64_t now, Dialog &d, std::uint32_t subclass);
    void onVoiceFrame(std::uint64_t now, const FullFrame &frame);
    void onDialogFailed(std::uint64_t now, Dialog &d);

    void text(const std::string &message);
    void takeLinkFigures(Dialog &d, const FullFrame &f, std::uint64_t now);

    static constexpr std::size_t kMaxQueuedVoice = 500;
    // Voice timestamps further apart than this are a jump of the sender's clock.
    static constexpr std::uint32_t kVoiceJumpMs = 1000;

    ClientOptions options_;
    Endpoint<Dialog> endpoint_;
    std::map<int, Registration> registrations_;
    std::optional<Call> call_;
    std::uint64_t lastTicket_ = 0;

    std::vector<Transmit> transmits_;
    std::vector<ClientEvent> events_;
    std::vector<ResolveRequest> resolveRequests_;
    std::vector<VoiceFrame> voice_;
};

} // namespace iax2
