// The IAX2 side's view of the devserver's store.
#pragma once

#include "iax_backend.h"

namespace devserver {

class Store;

// Accounts by IAX2 user name, call permission, call records and charging,
// all kept in the shared Store. Database failures are reported on the
// standard error stream and answered with the safe choice (no account, no
// call), so a broken database never takes the IAX2 thread down.
class StoreIaxBackend final : public IaxBackend {
public:
    explicit StoreIaxBackend(Store &store) : store_(store) {}

    std::optional<IaxAccount> findIaxAccount(const std::string &username) override;
    bool mayCall(std::int64_t accountId, const std::string &number) override;
    std::int64_t callStarted(std::int64_t accountId, const std::string &number,
                             std::int64_t startTime) override;
    void callAnswered(std::int64_t callId, std::int64_t answerTime) override;
    void callEnded(std::int64_t callId, std::int64_t endTime) override;
    void dtmfReceived(std::int64_t callId, char digit) override;

private:
    Store &store_;
};

} // namespace devserver
