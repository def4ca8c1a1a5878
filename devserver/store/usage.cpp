#include "usage.h"

#include "accounts.h"
#include "database.h"
#include "test_numbers.h"

#include <algorithm>

namespace devserver {

namespace {

constexpr std::size_t kMaxMessageLength = 1600;
constexpr std::size_t kMaxDtmfDigits = 256;  // per call record

std::vector<Rate> readRates(Connection &connection, const char *order)
{
    std::vector<Rate> out;
    Statement st(connection, std::string("SELECT prefix, description, per_minute_cents, per_text_cents FROM rates") + order);
    while (st.step())
        out.push_back({st.text(0), st.text(1), st.integer(2), st.optionalInteger(3)});
    return out;
}

// The rate of the longest prefix that the number starts with.
std::optional<Rate> rateFor(Connection &connection, const std::string &number)
{
    return charging::rateFor(readRates(connection, ""), number);
}

} // namespace

std::string dialledNumber(const std::string &countryCode, const std::string &phone)
{
    if (!countryCode.empty())
        return "00" + countryCode + phone;
    if (phone == kEchoTestNumber)
        return phone;
    std::string n;
    for (char c : phone) {
        if (c == '+')
            n += "00";
        else
            n += c;
    }
    if (n.rfind("00", 0) != 0)
        n.insert(0, "00");
    return n;
}

std::vector<Rate> Usage::rates()
{
    auto db = database_.lock();
    return readRates(db, " ORDER BY prefix = '00', prefix = '999', description");
}

ChangeResult Usage::sendText(std::int64_t accountId, const std::string &countryCodeIn, const std::string &phoneIn,
                             const std::string &body, std::int64_t now)
{
    const std::string countryCode = trimmed(countryCodeIn);
    std::string phone;
    for (char c : phoneIn) {
        if (c != ' ' && c != '\t' && c != '-')
            phone += c;
    }
    if (phone.empty())
        return ChangeResult::failure("Please enter a phone number.");
    const bool plusFirst = countryCode.empty() && phone[0] == '+';
    if (!allDigits(countryCode) || !allDigits(plusFirst ? phone.substr(1) : phone) ||
        phone == "+")
        return ChangeResult::failure("The phone number may contain digits only.");
    if (trimmed(body).empty())
        return ChangeResult::failure("Please enter a message.");
    if (utf8Length(body) > kMaxMessageLength)
        return ChangeResult::failure("The message is too long (at most 1600 characters).");

    const std::string number = dialledNumber(countryCode, phone);
    auto db = database_.lock();
    Transaction tx(db);
    const auto rate = rateFor(db, number);
    const auto credit = Accounts::credit(db, accountId);
    if (!credit)
        return ChangeResult::failure("Unknown account.");
    switch (charging::textCharge(rate, *credit)) {
    case charging::TextCharge::NotToThisNumber:
        return ChangeResult::failure("Text messages cannot be sent to this number.");
    case charging::TextCharge::CreditTooLow:
        return ChangeResult::failure("Your credit is too low to send this text message.");
    case charging::TextCharge::Ok:
        break;
    }

    Accounts::addCredit(db, accountId, -*rate->perTextCents);
    Statement insert(db, "INSERT INTO texts (account_id, number, body, sent_time, cost_cents) "
                         "VALUES (?, ?, ?, ?, ?)");
    insert.bind(1, accountId).bind(2, number).bind(3, body).bind(4, now).bind(5, *rate->perTextCents);
    insert.run();
    const auto id = db.lastInsertId();
    tx.commit();
    return ChangeResult::success(id);
}

std::vector<TextRecord> Usage::texts(std::int64_t accountId)
{
    auto db = database_.lock();
    std::vector<TextRecord> out;
    Statement st(db, "SELECT id, number, body, sent_time, cost_cents FROM texts "
                     "WHERE account_id = ? ORDER BY sent_time DESC, id DESC");
    st.bind(1, accountId);
    while (st.step())
        out.push_back({st.integer(0), st.text(1), st.text(2), st.integer(3), st.integer(4)});
    return out;
}

bool Usage::mayCall(std::int64_t accountId, const std::string &number)
{
    auto db = database_.lock();
    const auto credit = Accounts::credit(db, accountId);
    return credit && charging::mayCall(rateFor(db, number), *credit);
}

std::int64_t Usage::callStarted(std::int64_t accountId, const std::string &number, std::int64_t startTime)
{
    auto db = database_.lock();
    CallRecord call;
    call.number = number;
    call.startTime = startTime;
    return insertCall(db, accountId, call);
}

void Usage::callAnswered(std::int64_t callId, std::int64_t answerTime)
{
    auto db = database_.lock();
    Statement st(db, "UPDATE calls SET answer_time = ? "
                     "WHERE id = ? AND answer_time IS NULL AND end_time IS NULL");
    st.bind(1, answerTime).bind(2, callId);
    st.run();
}

void Usage::callEnded(std::int64_t callId, std::int64_t endTime)
{
    auto db = database_.lock();
    Transaction tx(db);
    Statement st(db, "SELECT account_id, number, answer_time, end_time FROM calls WHERE id = ?");
    st.bind(1, callId);
    if (!st.step() || !st.isNull(3))
        return;  // unknown, or already ended and charged
    const auto accountId = st.integer(0);
    const std::string number = st.text(1);
    const auto answer = st.optionalInteger(2);

    std::int64_t cost = 0;
    if (answer) {
        endTime = std::max(endTime, *answer);
        if (const auto rate = rateFor(db, number))
            cost = charging::callCost(*answer, endTime, rate->perMinuteCents,
                                      Accounts::credit(db, accountId).value_or(0));
    }
    Accounts::addCredit(db, accountId, -cost);
    Statement end(db, "UPDATE calls SET end_time = ?, cost_cents = ? WHERE id = ?");
    end.bind(1, endTime).bind(2, cost).bind(3, callId);
    end.run();
    tx.commit();
}

void Usage::dtmfReceived(std::int64_t callId, char digit)
{
    if (digit >= 'a' && digit <= 'd')
        digit = static_cast<char>(digit - 'a' + 'A');
    if (std::string("0123456789*#ABCD").find(digit) == std::string::npos)
        return;
    auto db = database_.lock();
    Statement st(db, "UPDATE calls SET dtmf = dtmf || ? WHERE id = ? AND end_time IS NULL AND length(dtmf) < ?");
    st.bind(1, std::string(1, digit)).bind(2, callId).bind(3, static_cast<std::int64_t>(kMaxDtmfDigits));
    st.run();
}

std::vector<CallRecord> Usage::calls(std::int64_t accountId)
{
    auto db = database_.lock();
    std::vector<CallRecord> out;
    Statement st(db, "SELECT id, number, start_time, answer_time, end_time, cost_cents, dtmf "
                     "FROM calls WHERE account_id = ? ORDER BY start_time DESC, id DESC");
    st.bind(1, accountId);
    while (st.step())
        out.push_back({st.integer(0), st.text(1), st.integer(2), st.optionalInteger(3),
                       st.optionalInteger(4), st.integer(5), st.text(6)});
    return out;
}

std::int64_t Usage::insertCall(Connection &connection, std::int64_t accountId, const CallRecord &call)
{
    Statement st(connection, "INSERT INTO calls (account_id, number, start_time, answer_time, end_time, "
                             "cost_cents, dtmf) VALUES (?, ?, ?, ?, ?, ?, ?)");
    st.bind(1, accountId).bind(2, call.number).bind(3, call.startTime).bind(4, call.answerTime)
        .bind(5, call.endTime).bind(6, call.costCents).bind(7, call.dtmf);
    st.run();
    return connection.lastInsertId();
}

} // namespace devserver
