#include "store_iax_backend.h"

#include "store.h"

#include <cstdio>
#include <exception>

namespace devserver {

namespace {

void report(const char *operation, const std::exception &e)
{
    std::fprintf(stderr, "ondavox-devserver: %s failed: %s\n", operation, e.what());
}

} // namespace

std::optional<IaxAccount> StoreIaxBackend::findIaxAccount(const std::string &username)
{
    try {
        if (const auto account = store_.accounts().findByIaxUsername(username))
            return IaxAccount{account->id, account->iaxUsername, account->iaxPassword};
    } catch (const std::exception &e) {
        report("account lookup", e);
    }
    return std::nullopt;
}

bool StoreIaxBackend::mayCall(std::int64_t accountId, const std::string &number)
{
    try {
        return store_.usage().mayCall(accountId, number);
    } catch (const std::exception &e) {
        report("call permission", e);
        return false;
    }
}

std::int64_t StoreIaxBackend::callStarted(std::int64_t accountId, const std::string &number,
                                          std::int64_t startTime)
{
    try {
        return store_.usage().callStarted(accountId, number, startTime);
    } catch (const std::exception &e) {
        report("call record", e);
        return 0;
    }
}

void StoreIaxBackend::callAnswered(std::int64_t callId, std::int64_t answerTime)
{
    try {
        store_.usage().callAnswered(callId, answerTime);
    } catch (const std::exception &e) {
        report("call answer record", e);
    }
}

void StoreIaxBackend::callEnded(std::int64_t callId, std::int64_t endTime)
{
    try {
        store_.usage().callEnded(callId, endTime);
    } catch (const std::exception &e) {
        report("call charge", e);
    }
}

void StoreIaxBackend::dtmfReceived(std::int64_t callId, char digit)
{
    try {
        store_.usage().dtmfReceived(callId, digit);
    } catch (const std::exception &e) {
        report("DTMF record", e);
    }
}

} // namespace devserver
