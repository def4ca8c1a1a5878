// What accounts do with their credit: calls (recorded by the IAX2 side)
// and text messages, and the rates that price them.
#pragma once

#include "charging.h"
#include "common.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace devserver {

class Connection;
class Database;

struct CallRecord {
    std::int64_t id = 0;
    std::string number;  // as dialled, e.g. "004915112345678" or "999"
    std::int64_t startTime = 0;
    std::optional<std::int64_t> answerTime;
    std::optional<std::int64_t> endTime;
    std::int64_t costCents = 0;
    std::string dtmf;
};

struct TextRecord {
    std::int64_t id = 0;
    std::string number;
    std::string body;
    std::int64_t sentTime = 0;
    std::int64_t costCents = 0;
};

class Usage {
public:
    explicit Usage(Database &database) : database_(database) {}

    // Every destination, as the rates page lists them.
    std::vector<Rate> rates();

    ChangeResult sendText(std::int64_t accountId, const std::string &countryCode, const std::string &phone,
                          const std::string &body, std::int64_t now);
    // Newest first.
    std::vector<TextRecord> texts(std::int64_t accountId);

    bool mayCall(std::int64_t accountId, const std::string &number);
    std::int64_t callStarted(std::int64_t accountId, const std::string &number, std::int64_t startTime);
    void callAnswered(std::int64_t callId, std::int64_t answerTime);
    // Charges an answered call; a call ends only once.
    void callEnded(std::int64_t callId, std::int64_t endTime);
    // Keeps at most 256 digits per call.
    void dtmfReceived(std::int64_t callId, char digit);
    // Newest first.
    std::vector<CallRecord> calls(std::int64_t accountId);

    // Inside the caller's lock and transaction: keeps the record as it is
    // (its id is ignored); returns the new id.
    static std::int64_t insertCall(Connection &connection, std::int64_t accountId, const CallRecord &call);

private:
    Database &database_;
};

// The number as the IAX2 side receives it for a phonebook or typed number:
// "+" becomes "00", and "00" is put in front unless it is the echo test.
std::string dialledNumber(const std::string &countryCode, const std::string &phone);

} // namespace devserver
