// An in-memory account store for the devserver's IAX2 side, safe to use from
// the server's thread and the test's thread at once.
#pragma once

#include "iax_backend.h"

#include <map>
#include <mutex>
#include <set>
#include <vector>

class MemoryBackend : public devserver::IaxBackend {
public:
    struct CallRecord {
        std::int64_t id = 0;
        std::int64_t accountId = 0;
        std::string number;
        std::int64_t start = 0;
        std::int64_t answer = 0;
        std::int64_t end = 0;
        std::string dtmf;
    };

    void addAccount(std::int64_t id, const std::string &user, const std::string &password)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        accounts_[user] = devserver::IaxAccount{id, user, password};
    }
    void setNoCredit(std::int64_t accountId)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        noCredit_.insert(accountId);
    }
    std::vector<CallRecord> records() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_;
    }

    std::optional<devserver::IaxAccount> findIaxAccount(const std::string &username) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = accounts_.find(username);
        if (it == accounts_.end())
            return std::nullopt;
        return it->second;
    }
    bool mayCall(std::int64_t accountId, const std::string &) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return !noCredit_.count(accountId);
    }
    std::int64_t callStarted(std::int64_t accountId, const std::string &number, std::int64_t startTime) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        CallRecord r;
        r.id = static_cast<std::int64_t>(records_.size()) + 1;
        r.accountId = accountId;
        r.number = number;
        r.start = startTime;
        records_.push_back(r);
        return r.id;
    }
    void callAnswered(std::int64_t callId, std::int64_t answerTime) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        record(callId).answer = answerTime;
    }
    void callEnded(std::int64_t callId, std::int64_t endTime) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        record(callId).end = endTime;
    }
    void dtmfReceived(std::int64_t callId, char digit) override
    {
        std::lock_guard<std::mutex> lock(mutex_);
        record(callId).dtmf += digit;
    }

private:
    CallRecord &record(std::int64_t id) { return records_.at(static_cast<std::size_t>(id - 1)); }

    mutable std::mutex mutex_;
    std::map<std::string, devserver::IaxAccount> accounts_;
    std::set<std::int64_t> noCredit_;
    std::vector<CallRecord> records_;
};
