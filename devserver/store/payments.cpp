#include "payments.h"

#include "accounts.h"
#include "database.h"

namespace devserver {

namespace {

constexpr std::int64_t kMaxPendingPayments = 10;  // unpaid billing forms per account
constexpr std::int64_t kPendingPaymentSeconds = 24 * 3600;

} // namespace

PendingPayment Payments::createPending(std::int64_t accountId, std::int64_t amountCents, std::int64_t now)
{
    auto db = database_.lock();
    Transaction tx(db);
    // Every view of a billing page would otherwise keep a row: the same
    // amount shows the form still open, and only a few forms stay open.
    Statement open(db, "SELECT token FROM payments WHERE account_id = ? AND amount_cents = ? "
                       "AND paid_time IS NULL AND created >= ? ORDER BY created DESC LIMIT 1");
    open.bind(1, accountId).bind(2, amountCents).bind(3, now - kPendingPaymentSeconds);
    PendingPayment payment{open.step() ? open.text(0) : newKey(), amountCents};
    Statement keep(db, "INSERT INTO payments (token, account_id, amount_cents, created) VALUES (?1, ?2, ?3, ?4) "
                       "ON CONFLICT(token) DO UPDATE SET created = ?4");
    keep.bind(1, payment.token).bind(2, accountId).bind(3, amountCents).bind(4, now);
    keep.run();
    Statement forget(db, "DELETE FROM payments WHERE paid_time IS NULL AND (created < ?1 OR token IN ("
                         "SELECT token FROM payments WHERE account_id = ?2 AND paid_time IS NULL "
                         "ORDER BY created DESC, rowid DESC LIMIT -1 OFFSET ?3))");
    forget.bind(1, now - kPendingPaymentSeconds).bind(2, accountId).bind(3, kMaxPendingPayments);
    forget.run();
    tx.commit();
    return payment;
}

PaymentOutcome Payments::complete(std::int64_t accountId, const std::string &token, std::int64_t now,
                                  std::int64_t *amountCents)
{
    auto db = database_.lock();
    Transaction tx(db);
    Statement st(db, "SELECT amount_cents, paid_time FROM payments WHERE token = ? AND account_id = ?");
    st.bind(1, token).bind(2, accountId);
    if (!st.step())
        return PaymentOutcome::Unknown;
    if (amountCents)
        *amountCents = st.integer(0);
    if (!st.isNull(1))
        return PaymentOutcome::AlreadyPaid;
    Accounts::addCredit(db, accountId, st.integer(0));
    Statement paid(db, "UPDATE payments SET paid_time = ? WHERE token = ?");
    paid.bind(1, now).bind(2, token);
    paid.run();
    tx.commit();
    return PaymentOutcome::Paid;
}

std::optional<PaymentRecord> Payments::find(const std::string &token)
{
    auto db = database_.lock();
    Statement st(db, "SELECT account_id, amount_cents, paid_time FROM payments WHERE token = ?");
    st.bind(1, token);
    if (!st.step())
        return std::nullopt;
    PaymentRecord record{st.integer(0), st.integer(1), std::nullopt};
    if (!st.isNull(2))
        record.paidTime = st.integer(2);
    return record;
}

} // namespace devserver
