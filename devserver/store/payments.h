// Payments that add credit to an account. A payment page shows a one-time
// token so that a reloaded form cannot add the same amount twice.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace devserver {

class Database;

struct PendingPayment {
    std::string token;
    std::int64_t amountCents = 0;
};

enum class PaymentOutcome { Paid, AlreadyPaid, Unknown };

struct PaymentRecord {
    std::int64_t accountId = 0;
    std::int64_t amountCents = 0;
    std::optional<std::int64_t> paidTime;
};

class Payments {
public:
    explicit Payments(Database &database) : database_(database) {}

    // The token for a form that adds amountCents. Views of the same amount
    // share one open token; an account keeps at most 10 open ones, each for
    // a day.
    PendingPayment createPending(std::int64_t accountId, std::int64_t amountCents, std::int64_t now);
    // Adds the token's amount to the account's credit, once. amountCents,
    // when given, receives the amount of a known token.
    PaymentOutcome complete(std::int64_t accountId, const std::string &token, std::int64_t now,
                            std::int64_t *amountCents = nullptr);

    // The payment a token stands for, paid or not.
    std::optional<PaymentRecord> find(const std::string &token);

private:
    Database &database_;
};

} // namespace devserver
