// What the devserver's IAX2 side needs from the service's store.
//
// The IAX2 registrar and call endpoint know nothing of SQLite or HTTP; the
// devserver's main program hands them an implementation of this interface
// backed by the shared database, and tests hand them an in-memory one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace devserver {

struct IaxAccount {
    std::int64_t accountId = 0;
    std::string username;
    std::string password;  // the IAX2 secret, used for MD5 challenges
};

class IaxBackend {
public:
    virtual ~IaxBackend() = default;

    // The account registered under this IAX2 user name, if any.
    virtual std::optional<IaxAccount> findIaxAccount(const std::string &username) = 0;

    // Whether the account may place a call to this number now (credit left).
    virtual bool mayCall(std::int64_t accountId, const std::string &number) = 0;

    // Call records. Times are seconds since the epoch (UTC). callStarted
    // returns the record's id; the others take it.
    virtual std::int64_t callStarted(std::int64_t accountId, const std::string &number,
                                     std::int64_t startTime) = 0;
    virtual void callAnswered(std::int64_t callId, std::int64_t answerTime) = 0;
    // Ends the record and charges an answered call to the account's credit.
    virtual void callEnded(std::int64_t callId, std::int64_t endTime) = 0;
    virtual void dtmfReceived(std::int64_t callId, char digit) = 0;
};

} // namespace devserver
