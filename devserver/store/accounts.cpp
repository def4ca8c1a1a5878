#include "accounts.h"

#include "database.h"
#include "phonebook.h"

#include <QCryptographicHash>
#include <QString>

#include <algorithm>
#include <ctime>

namespace devserver {

namespace {

constexpr std::int64_t kWelcomeCreditCents = 100;
// A login key that was not used for this long is forgotten; its last use
// is written at most this often, not at every balance request.
constexpr std::int64_t kLoginKeyIdleSeconds = 30 * 24 * 3600;
constexpr std::int64_t kLoginKeyTouchSeconds = 3600;

std::string md5Hex(const QByteArray &bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex().toStdString();
}

bool isMd5Hex(const std::string &s)
{
    return s.size() == 32 && std::all_of(s.begin(), s.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

// Compares without an early exit, so timing does not tell how much matched.
bool sameSecret(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    unsigned char diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i)
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    return diff == 0;
}

QString fromUtf8(const std::string &s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

std::string nextIaxUsername(Connection &connection)
{
    // IAX2 user names are numbers, like the extensions of a PBX.
    Statement st(connection, "SELECT MAX(CAST(iax_username AS INTEGER)) FROM accounts "
                             "WHERE iax_username GLOB '[0-9]*' AND iax_username NOT GLOB '*[^0-9]*'");
    st.step();
    const std::int64_t highest = st.isNull(0) ? 999 : st.integer(0);
    return std::to_string(std::max<std::int64_t>(highest, 999) + 1);
}

template <typename Key>
std::optional<Account> findAccount(Connection &connection, const char *where, const Key &key)
{
    Statement st(connection, std::string("SELECT id, email, iax_username, iax_password, credit_cents FROM accounts ") + where);
    st.bind(1, key);
    if (!st.step())
        return std::nullopt;
    return Account{st.integer(0), st.text(1), st.text(2), st.text(3), st.integer(4)};
}

} // namespace

ChangeResult Accounts::create(const std::string &emailIn, const std::string &password)
{
    const std::string email = trimmed(emailIn);
    const auto at = email.find('@');
    if (email.empty() || email.size() > 254 || at == 0 || at == std::string::npos ||
        email.find('@', at + 1) != std::string::npos ||
        email.find('.', at + 2) == std::string::npos || email.back() == '.' ||
        email.find_first_of(" \t\r\n\"<>,;") != std::string::npos)
        return ChangeResult::failure("Please enter a valid e-mail address.");
    // The softphone sends the e-mail and password as Latin-1: anything
    // beyond it could never log in.
    const auto beyondLatin1 = [](const QString &text) {
        return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() > 0xFF; });
    };
    if (beyondLatin1(fromUtf8(email)))
        return ChangeResult::failure("The e-mail address may contain only Latin-1 characters.");
    const QString pw = fromUtf8(password);
    if (pw.size() < 6)
        return ChangeResult::failure("The password must have at least 6 characters.");
    if (beyondLatin1(pw))
        return ChangeResult::failure(
            "The password may contain only Latin-1 characters (letters of Western European "
            "languages, digits and signs).");

    auto db = database_.lock();
    Transaction tx(db);
    Statement exists(db, "SELECT 1 FROM accounts WHERE email = ?");
    exists.bind(1, email);
    if (exists.step())
        return ChangeResult::failure("An account with this e-mail address already exists.");

    const Account account{0, email, nextIaxUsername(db),
                          randomText(12, "abcdefghijkmnpqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789"),
                          kWelcomeCreditCents};
    const auto accountId = insert(db, account, pw.toLatin1().toStdString());
    const auto groups = Phonebook::insertDefaultGroups(db, accountId);
    Phonebook::insertEchoTest(db, accountId, groups.work);
    tx.commit();
    return ChangeResult::success(accountId);
}

std::optional<std::string> Accounts::login(const std::string &email, const std::string &password)
{
    if (password.empty())
        return std::nullopt;
    auto db = database_.lock();
    Statement st(db, "SELECT id, password_md5 FROM accounts WHERE email = ?");
    st.bind(1, trimmed(email));
    if (!st.step())
        return std::nullopt;
    const auto accountId = st.integer(0);
    const std::string stored = st.text(1);
    const bool plainMatches = sameSecret(md5Hex(fromUtf8(password).toLatin1()), stored);
    const bool digestMatches = isMd5Hex(password) && sameSecret(password, stored);
    if (!plainMatches && !digestMatches)
        return std::nullopt;

    const std::string key = newKey();
    const auto now = static_cast<std::int64_t>(time(nullptr));
    Statement forget(db, "DELETE FROM sessions WHERE last_used < ?");
    forget.bind(1, now - kLoginKeyIdleSeconds);
    forget.run();
    Statement insert(db, "INSERT INTO sessions (login_key, account_id, created, last_used) VALUES (?, ?, ?, ?)");
    insert.bind(1, key).bind(2, accountId).bind(3, now).bind(4, now);
    insert.run();
    return key;
}

std::optional<std::int64_t> Accounts::accountForKey(const std::string &key)
{
    return accountForKey(key, static_cast<std::int64_t>(time(nullptr)));
}

std::optional<std::int64_t> Accounts::accountForKey(const std::string &key, std::int64_t now)
{
    if (key.empty())
        return std::nullopt;
    auto db = database_.lock();
    Statement st(db, "SELECT account_id, last_used FROM sessions WHERE login_key = ?");
    st.bind(1, key);
    if (!st.step())
        return std::nullopt;
    const auto accountId = st.integer(0);
    const auto lastUsed = st.integer(1);
    if (now - lastUsed > kLoginKeyIdleSeconds) {
        Statement forget(db, "DELETE FROM sessions WHERE login_key = ?");
        forget.bind(1, key);
        forget.run();
        return std::nullopt;
    }
    if (now - lastUsed >= kLoginKeyTouchSeconds) {
        Statement touch(db, "UPDATE sessions SET last_used = ? WHERE login_key = ?");
        touch.bind(1, now).bind(2, key);
        touch.run();
    }
    return accountId;
}

std::optional<Account> Accounts::find(std::int64_t accountId)
{
    auto db = database_.lock();
    return findAccount(db, "WHERE id = ?", accountId);
}

std::optional<Account> Accounts::findByIaxUsername(const std::string &username)
{
    auto db = database_.lock();
    return findAccount(db, "WHERE iax_username = ?", username);
}

std::optional<std::int64_t> Accounts::credit(std::int64_t accountId)
{
    auto db = database_.lock();
    return credit(db, accountId);
}

std::int64_t Accounts::count(Connection &connection)
{
    Statement count(connection, "SELECT COUNT(*) FROM accounts");
    count.step();
    return count.integer(0);
}

std::int64_t Accounts::insert(Connection &connection, const Account &account, const std::string &passwordLatin1)
{
    Statement st(connection, "INSERT INTO accounts (email, password_md5, iax_username, iax_password, "
                             "credit_cents) VALUES (?, ?, ?, ?, ?)");
    st.bind(1, account.email).bind(2, md5Hex(QByteArray::fromStdString(passwordLatin1)))
        .bind(3, account.iaxUsername).bind(4, account.iaxPassword).bind(5, account.creditCents);
    st.run();
    return connection.lastInsertId();
}

std::optional<std::int64_t> Accounts::credit(Connection &connection, std::int64_t accountId)
{
    Statement st(connection, "SELECT credit_cents FROM accounts WHERE id = ?");
    st.bind(1, accountId);
    if (!st.step())
        return std::nullopt;
    return st.integer(0);
}

void Accounts::addCredit(Connection &connection, std::int64_t accountId, std::int64_t cents)
{
    Statement st(connection, "UPDATE accounts SET credit_cents = credit_cents + ? WHERE id = ?");
    st.bind(1, cents).bind(2, accountId);
    st.run();
}

} // namespace devserver
