#include "store.h"

#include "test_numbers.h"

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <QString>

#include <sqlite3.h>

#include <algorithm>
#include <ctime>
#include <map>
#include <stdexcept>

namespace devserver {

namespace {

// 2: login keys remember when they were last used.
constexpr int kSchemaVersion = 2;
constexpr std::int64_t kWelcomeCreditCents = 100;
constexpr std::size_t kMaxTextLength = 100;     // name, title, company (characters)
constexpr std::size_t kMaxDigits = 26;          // as the softphone's number fields allow
constexpr std::size_t kMaxPhonesPerContact = 10;
constexpr std::size_t kMaxMessageLength = 1600;

// What one request or one caller can make the database keep.
constexpr std::size_t kMaxDtmfDigits = 256;       // per call record
constexpr std::int64_t kMaxPendingPayments = 10;  // unpaid billing forms per account
constexpr std::int64_t kPendingPaymentSeconds = 24 * 3600;
// A login key that was not used for this long is forgotten; its last use
// is written at most this often, not at every balance request.
constexpr std::int64_t kLoginKeyIdleSeconds = 30 * 24 * 3600;
constexpr std::int64_t kLoginKeyTouchSeconds = 3600;

const char *const kPhoneTypes[] = {"Home", "Work", "Mobile", "Home Fax", "Work Fax", "Page", "Other"};

std::string trimmed(const std::string &s)
{
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

bool allDigits(const std::string &s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::size_t utf8Length(const std::string &s)
{
    return static_cast<std::size_t>(
        std::count_if(s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

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

std::string randomText(int length, const char *alphabet)
{
    const int n = static_cast<int>(std::char_traits<char>::length(alphabet));
    std::string out;
    out.reserve(length);
    for (int i = 0; i < length; ++i)
        out += alphabet[QRandomGenerator::system()->bounded(n)];
    return out;
}

std::string newKey() { return randomText(32, "0123456789abcdef"); }

} // namespace

std::optional<std::int64_t> parseDecimal(const std::string &text)
{
    const std::string t = trimmed(text);
    if (t.empty() || t.size() > 18 || !allDigits(t))
        return std::nullopt;
    return std::stoll(t);
}

std::string formatCents(std::int64_t cents)
{
    const bool negative = cents < 0;
    const std::uint64_t abs = negative ? static_cast<std::uint64_t>(-(cents + 1)) + 1
                                       : static_cast<std::uint64_t>(cents);
    std::string frac = std::to_string(abs % 100);
    if (frac.size() < 2)
        frac.insert(0, "0");
    return (negative ? "-" : "") + std::to_string(abs / 100) + "." + frac;
}

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

// ---------------------------------------------------------------------------

class Store::Statement {
public:
    Statement(sqlite3 *db, const char *sql) : db_(db)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK)
            fail();
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    Statement &bind(int index, std::int64_t value)
    {
        check(sqlite3_bind_int64(stmt_, index, value));
        return *this;
    }
    Statement &bind(int index, const std::string &value)
    {
        check(sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()),
                                SQLITE_TRANSIENT));
        return *this;
    }
    Statement &bindBlob(int index, const std::string &value)
    {
        check(sqlite3_bind_blob(stmt_, index, value.data(), static_cast<int>(value.size()),
                                SQLITE_TRANSIENT));
        return *this;
    }
    Statement &bindNull(int index)
    {
        check(sqlite3_bind_null(stmt_, index));
        return *this;
    }

    // True while a row is available.
    bool step()
    {
        const int rc = sqlite3_step(stmt_);
        if (rc == SQLITE_ROW)
            return true;
        if (rc == SQLITE_DONE)
            return false;
        fail();
        return false;
    }
    void run()
    {
        while (step()) {
        }
    }
    // Makes the statement ready to run again with new bindings.
    void reset()
    {
        sqlite3_reset(stmt_);
        sqlite3_clear_bindings(stmt_);
    }

    std::int64_t integer(int column) const { return sqlite3_column_int64(stmt_, column); }
    bool isNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }
    std::optional<std::int64_t> optionalInteger(int column) const
    {
        if (isNull(column))
            return std::nullopt;
        return integer(column);
    }
    std::string text(int column) const
    {
        const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(stmt_, column));
        return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
                 : std::string();
    }
    std::string blob(int column) const
    {
        const auto *p = static_cast<const char *>(sqlite3_column_blob(stmt_, column));
        return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column)))
                 : std::string();
    }

private:
    void check(int rc)
    {
        if (rc != SQLITE_OK)
            fail();
    }
    [[noreturn]] void fail() { throw std::runtime_error(std::string("database: ") + sqlite3_errmsg(db_)); }

    sqlite3 *db_;
    sqlite3_stmt *stmt_ = nullptr;
};

// Rolls back unless committed, so an exception half-way leaves no partial change.
class Store::Transaction {
public:
    explicit Transaction(Store &store) : store_(store) { store_.exec("BEGIN IMMEDIATE"); }
    ~Transaction()
    {
        if (!committed_)
            sqlite3_exec(store_.db_, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    void commit()
    {
        store_.exec("COMMIT");
        committed_ = true;
    }

private:
    Store &store_;
    bool committed_ = false;
};

// ---------------------------------------------------------------------------

Store::~Store()
{
    if (db_)
        sqlite3_close(db_);
}

void Store::exec(const char *sql)
{
    char *message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string text = message ? message : sqlite3_errmsg(db_);
        sqlite3_free(message);
        throw std::runtime_error("database: " + text);
    }
}

bool Store::open(const std::string &path, std::string *errorText)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (db_) {
        sqlite3_close(db_);
        db_ = nullptr;
    }
    if (sqlite3_open_v2(path.c_str(), &db_,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        if (errorText)
            *errorText = db_ ? sqlite3_errmsg(db_) : "out of memory";
        sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    // Another process (a test, a second tool) may hold the file briefly.
    sqlite3_busy_timeout(db_, 5000);
    try {
        exec("PRAGMA journal_mode = WAL");
        exec("PRAGMA foreign_keys = ON");
        return createSchema(errorText);
    } catch (const std::exception &e) {
        if (errorText)
            *errorText = e.what();
        sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
}

bool Store::createSchema(std::string *errorText)
{
    Statement version(db_, "PRAGMA user_version");
    version.step();
    const auto current = version.integer(0);
    if (current == kSchemaVersion)
        return true;
    if (current > kSchemaVersion) {
        if (errorText)
            *errorText = "database has schema version " + std::to_string(current) +
                         ", this program knows version " + std::to_string(kSchemaVersion);
        return false;
    }

    Transaction tx(*this);
    if (current == 0)
        exec(R"sql(
CREATE TABLE accounts (
    id            INTEGER PRIMARY KEY,
    email         TEXT NOT NULL UNIQUE COLLATE NOCASE,
    password_md5  TEXT NOT NULL,
    iax_username  TEXT NOT NULL UNIQUE,
    iax_password  TEXT NOT NULL,
    credit_cents  INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE sessions (
    login_key   TEXT PRIMARY KEY,
    account_id  INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,
    created     INTEGER NOT NULL
);
CREATE TABLE contact_groups (
    id          INTEGER PRIMARY KEY,
    account_id  INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,
    name        TEXT NOT NULL,
    position    INTEGER NOT NULL
);
CREATE TABLE contacts (
    id          INTEGER PRIMARY KEY,
    account_id  INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,
    group_id    INTEGER NOT NULL REFERENCES contact_groups(id) ON DELETE CASCADE,
    name        TEXT NOT NULL,
    title       TEXT NOT NULL DEFAULT '',
    company     TEXT NOT NULL DEFAULT '',
    photo       BLOB
);
CREATE TABLE phones (
    id            INTEGER PRIMARY KEY,
    contact_id    INTEGER NOT NULL REFERENCES contacts(id) ON DELETE CASCADE,
    position      INTEGER NOT NULL,
    country_code  TEXT NOT NULL,
    number        TEXT NOT NULL,
    type          TEXT NOT NULL
);
CREATE TABLE rates (
    prefix            TEXT PRIMARY KEY,
    description       TEXT NOT NULL,
    per_minute_cents  INTEGER NOT NULL,
    per_text_cents    INTEGER
);
CREATE TABLE calls (
    id           INTEGER PRIMARY KEY,
    account_id   INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,
    number       TEXT NOT NULL,
    start_time   INTEGER NOT NULL,
    answer_time  INTEGER,
    end_time     INTEGER,
    cost_cents   INTEGER NOT NULL DEFAULT 0,
    dtmf         TEXT NOT NULL DEFAULT ''
);
CREATE TABLE texts (
    id          INTEGER PRIMARY KEY,
    account_id  INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,
    number      TEXT NOT NULL,
    body        TEXT NOT NULL,
    sent_time   INTEGER NOT NULL,
    cost_cents  INTEGER NOT NULL
);
CREATE TABLE payments (
    token         TEXT PRIMARY KEY,
    account_id    INTEGER NOT NULL REFERENCES accounts(id) ON DELETE CASCADE,
    amount_cents  INTEGER NOT NULL,
    created       INTEGER NOT NULL,
    paid_time     INTEGER
);
CREATE INDEX calls_by_account ON calls(account_id, start_time);
CREATE INDEX contacts_by_account ON contacts(account_id);
CREATE INDEX phones_by_contact ON phones(contact_id, position);

INSERT INTO rates (prefix, description, per_minute_cents, per_text_cents) VALUES
    ('001',   'United States and Canada', 2, 5),
    ('0044',  'United Kingdom',           3, 6),
    ('00447', 'United Kingdom mobile',    9, 6),
    ('0049',  'Germany',                  3, 6),
    ('0033',  'France',                   4, 7),
    ('00',    'All other destinations',  10, 10),
    ('999',   'Echo test',                0, NULL);
)sql");
    if (current < 2)
        exec("ALTER TABLE sessions ADD COLUMN last_used INTEGER NOT NULL DEFAULT 0;"
             "UPDATE sessions SET last_used = created;");
    exec(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
    tx.commit();
    return true;
}

// --- accounts ---------------------------------------------------------------

std::int64_t Store::insertAccount(const std::string &email, const std::string &passwordMd5,
                                  const std::string &iaxUsername,
                                  const std::string &iaxPassword, std::int64_t creditCents)
{
    Statement st(db_, "INSERT INTO accounts (email, password_md5, iax_username, iax_password, "
                      "credit_cents) VALUES (?, ?, ?, ?, ?)");
    st.bind(1, email).bind(2, passwordMd5).bind(3, iaxUsername).bind(4, iaxPassword).bind(5, creditCents);
    st.run();
    return sqlite3_last_insert_rowid(db_);
}

std::int64_t Store::insertGroup(std::int64_t accountId, const std::string &name, int position)
{
    Statement st(db_, "INSERT INTO contact_groups (account_id, name, position) VALUES (?, ?, ?)");
    st.bind(1, accountId).bind(2, name).bind(3, position);
    st.run();
    return sqlite3_last_insert_rowid(db_);
}

std::int64_t Store::insertContact(std::int64_t accountId, std::int64_t groupId,
                                  const std::string &name, const std::string &title,
                                  const std::string &company)
{
    Statement st(db_, "INSERT INTO contacts (account_id, group_id, name, title, company) "
                      "VALUES (?, ?, ?, ?, ?)");
    st.bind(1, accountId).bind(2, groupId).bind(3, name).bind(4, title).bind(5, company);
    st.run();
    return sqlite3_last_insert_rowid(db_);
}

void Store::insertPhone(std::int64_t contactId, int position, const Phone &phone)
{
    Statement st(db_, "INSERT INTO phones (contact_id, position, country_code, number, type) "
                      "VALUES (?, ?, ?, ?, ?)");
    st.bind(1, contactId).bind(2, position).bind(3, phone.countryCode).bind(4, phone.number).bind(5, phone.type);
    st.run();
}

std::string Store::nextIaxUsername()
{
    // IAX2 user names are numbers, like the extensions of a PBX.
    Statement st(db_, "SELECT MAX(CAST(iax_username AS INTEGER)) FROM accounts "
                      "WHERE iax_username GLOB '[0-9]*' AND iax_username NOT GLOB '*[^0-9]*'");
    st.step();
    const std::int64_t highest = st.isNull(0) ? 999 : st.integer(0);
    return std::to_string(std::max<std::int64_t>(highest, 999) + 1);
}

bool Store::seedDemoAccountIfEmpty()
{
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction tx(*this);
    Statement count(db_, "SELECT COUNT(*) FROM accounts");
    count.step();
    if (count.integer(0) != 0)
        return false;

    const auto accountId = insertAccount("demo@ondavox.com", md5Hex("ondavox-demo"), "1000",
                                         "s3cret-1000", 1000);
    const auto family = insertGroup(accountId, "Family", 0);
    const auto work = insertGroup(accountId, "Work", 1);
    insertGroup(accountId, "Friends", 2);

    auto contact = [&](std::int64_t group, const char *name, const char *title,
                       const char *company, std::vector<Phone> phones) {
        const auto id = insertContact(accountId, group, name, title, company);
        for (std::size_t i = 0; i < phones.size(); ++i)
            insertPhone(id, static_cast<int>(i), phones[i]);
    };
    contact(family, "Zoë Müller", "", "",
            {{0, "49", "15112345678", "Mobile"}, {0, "49", "3012345678", "Home"}});
    contact(family, "Ana García", "", "",
            {{0, "1", "2125550143", "Home"}, {0, "1", "6465550187", "Mobile"}});
    contact(work, "Echo test", "Sound check", "Ondavox", {{0, "", std::string(kEchoTestNumber), "Other"}});
    contact(work, "François Dubois", "Sales Director", "Brightline Ltd",
            {{0, "44", "2079460123", "Work"}, {0, "44", "2079460124", "Work Fax"},
             {0, "44", "7700900123", "Mobile"}});
    contact(work, "Jens Østergård", "Engineer", "Nordlys GmbH", {{0, "49", "8912345678", "Work"}});
    contact(work, "Pat Kim", "", "Kim & Partners", {{0, "1", "4155550199", "Page"}});

    // A little history, so that a first demo shows the list filled; the
    // balance above is what is left after these calls.
    const std::int64_t now = static_cast<std::int64_t>(time(nullptr));
    Statement call(db_, "INSERT INTO calls (account_id, number, start_time, answer_time, end_time, "
                        "cost_cents) VALUES (?, ?, ?, ?, ?, ?)");
    struct Seed { const char *number; std::int64_t agoSeconds; std::int64_t ring; std::int64_t talk; std::int64_t cost; };
    const Seed seeds[] = {
        {"004915112345678", 2 * 86400 + 3600, 6, 151, 9},
        {"00442079460123", 86400 + 7200, 25, -1, 0},
        {"999", 5400, 1, 42, 0},
    };
    for (const auto &s : seeds) {
        const auto start = now - s.agoSeconds;
        call.bind(1, accountId).bind(2, std::string(s.number)).bind(3, start);
        if (s.talk >= 0)
            call.bind(4, start + s.ring).bind(5, start + s.ring + s.talk);
        else
            call.bindNull(4).bind(5, start + s.ring);
        call.bind(6, s.cost);
        call.run();
        call.reset();
    }
    tx.commit();
    return true;
}

ChangeResult Store::createAccount(const std::string &emailIn, const std::string &password)
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
    if (beyondLatin1(QString::fromUtf8(email.data(), static_cast<qsizetype>(email.size()))))
        return ChangeResult::failure("The e-mail address may contain only Latin-1 characters.");
    const QString pw = QString::fromUtf8(password.data(), static_cast<qsizetype>(password.size()));
    if (pw.size() < 6)
        return ChangeResult::failure("The password must have at least 6 characters.");
    if (beyondLatin1(pw))
        return ChangeResult::failure(
            "The password may contain only Latin-1 characters (letters of Western European "
            "languages, digits and signs).");

    std::lock_guard<std::mutex> lock(mutex_);
    Transaction tx(*this);
    Statement exists(db_, "SELECT 1 FROM accounts WHERE email = ?");
    exists.bind(1, email);
    if (exists.step())
        return ChangeResult::failure("An account with this e-mail address already exists.");

    const auto accountId =
        insertAccount(email, md5Hex(pw.toLatin1()), nextIaxUsername(),
                      randomText(12, "abcdefghijkmnpqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789"),
                      kWelcomeCreditCents);
    insertGroup(accountId, "Family", 0);
    const auto work = insertGroup(accountId, "Work", 1);
    insertGroup(accountId, "Friends", 2);
    const auto echo = insertContact(accountId, work, "Echo test", "Sound check", "Ondavox");
    insertPhone(echo, 0, {0, "", std::string(kEchoTestNumber), "Other"});
    tx.commit();
    return ChangeResult::success(accountId);
}

std::optional<std::string> Store::login(const std::string &email, const std::string &password)
{
    if (password.empty())
        return std::nullopt;
    std::lock_guard<std::mutex> lock(mutex_);
    Statement st(db_, "SELECT id, password_md5 FROM accounts WHERE email = ?");
    st.bind(1, trimmed(email));
    if (!st.step())
        return std::nullopt;
    const auto accountId = st.integer(0);
    const std::string stored = st.text(1);
    const QByteArray latin1 =
        QString::fromUtf8(password.data(), static_cast<qsizetype>(password.size())).toLatin1();
    const bool plainMatches = sameSecret(md5Hex(latin1), stored);
    const bool digestMatches = isMd5Hex(password) && sameSecret(password, stored);
    if (!plainMatches && !digestMatches)
        return std::nullopt;

    const std::string key = newKey();
    const auto now = static_cast<std::int64_t>(time(nullptr));
    Statement forget(db_, "DELETE FROM sessions WHERE last_used < ?");
    forget.bind(1, now - kLoginKeyIdleSeconds);
    forget.run();
    Statement insert(db_, "INSERT INTO sessions (login_key, account_id, created, last_used) VALUES (?, ?, ?, ?)");
    insert.bind(1, key).bind(2, accountId).bind(3, now).bind(4, now);
    insert.run();
    return key;
}

std::optional<std::int64_t> Store::accountForKey(const std::string &key)
{
    return accountForKey(key, static_cast<std::int64_t>(time(nullptr)));
}

std::optional<std::int64_t> Store::accountForKey(const std::string &key, std::int64_t now)
{
    if (key.empty())
        return std::nullopt;
    std::lock_guard<std::mutex> lock(mutex_);
    Statement st(db_, "SELECT account_id, last_used FROM sessions WHERE login_key = ?");
    st.bind(1, key);
    if (!st.step())
        return std::nullopt;
    const auto accountId = st.integer(0);
    const auto lastUsed = st.integer(1);
    if (now - lastUsed > kLoginKeyIdleSeconds) {
        Statement forget(db_, "DELETE FROM sessions WHERE login_key = ?");
        forget.bind(1, key);
        forget.run();
        return std::nullopt;
    }
    if (now - lastUsed >= kLoginKeyTouchSeconds) {
        Statement touch(db_, "UPDATE sessions SET last_used = ? WHERE login_key = ?");
        touch.bind(1, now).bind(2, key);
        touch.run();
    }
    return accountId;
}

namespace {
const char *const kAccountColumns = "SELECT id, email, iax_username, iax_password, credit_cents FROM accounts ";
}

std::optional<Account> Store::account(std::int64_t accountId)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Statement st(db_, (std::string(kAccountColumns) + "WHERE id = ?").c_str());
    st.bind(1, accountId);
    if (!st.step())
        return std::nullopt;
    return Account{st.integer(0), st.text(1), st.text(2), st.text(3), st.integer(4)};
}

std::optional<Account> Store::accountByIaxUsername(const std::string &username)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Statement st(db_, (std::string(kAccountColumns) + "WHERE iax_username = ?").c_str());
    st.bind(1, username);
    if (!st.step())
        return std::nullopt;
    return Account{st.integer(0), st.text(1), st.text(2), st.text(3), st.integer(4)};
}

// --- phonebook --------------------------------------------------------------

std::vector<ContactGroup> Store::phonebook(std::int64_t accountId)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<ContactGroup> groups;
    std::map<std::int64_t, std::size_t> groupIndex;
    Statement gs(db_, "SELECT id, name FROM contact_groups WHERE account_id = ? ORDER BY position, id");
    gs.bind(1, accountId);
    while (gs.step()) {
        groupIndex[gs.integer(0)] = groups.size();
        groups.push_back({gs.integer(0), gs.text(1), {}});
    }

    std::map<std::int64_t, std::pair<std::size_t, std::size_t>> contactIndex;
    Statement cs(db_, "SELECT id, group_id, name, title, company, photo IS NOT NULL FROM contacts "
                      "WHERE account_id = ? ORDER BY name COLLATE NOCASE, id");
    cs.bind(1, accountId);
    while (cs.step()) {
        const auto g = groupIndex.find(cs.integer(1));
        if (g == groupIndex.end())
            continue;
        auto &contacts = groups[g->second].contacts;
        contactIndex[cs.integer(0)] = {g->second, contacts.size()};
        contacts.push_back({cs.integer(0), cs.integer(1), cs.text(2), cs.text(3), cs.text(4),
                            cs.integer(5) != 0, {}});
    }

    Statement ps(db_, "SELECT p.id, p.contact_id, p.country_code, p.number, p.type FROM phones p "
                      "JOIN contacts c ON c.id = p.contact_id WHERE c.account_id = ? "
                      "ORDER BY p.contact_id, p.position, p.id");
    ps.bind(1, accountId);
    while (ps.step()) {
        const auto c = contactIndex.find(ps.integer(1));
        if (c == contactIndex.end())
            continue;
        groups[c->second.first].contacts[c->second.second].phones.push_back(
            {ps.integer(0), ps.text(2), ps.text(3), ps.text(4)});
    }
    return groups;
}

bool Store::groupBelongs(std::int64_t accountId, std::int64_t groupId)
{
    Statement st(db_, "SELECT 1 FROM contact_groups WHERE id = ? AND account_id = ?");
    st.bind(1, groupId).bind(2, accountId);
    return st.step();
}

bool Store::contactBelongs(std::int64_t accountId, std::int64_t contactId)
{
    Statement st(db_, "SELECT 1 FROM contacts WHERE id = ? AND account_id = ?");
    st.bind(1, contactId).bind(2, accountId);
    return st.step();
}

bool Store::phoneHasType(std::int64_t contactId, std::int64_t phoneId, const std::string &type)
{
    Statement st(db_, "SELECT 1 FROM phones WHERE id = ? AND contact_id = ? AND type = ?");
    st.bind(1, phoneId).bind(2, contactId).bind(3, type);
    return st.step();
}

ChangeResult Store::validateContact(std::int64_t accountId, std::int64_t contactId, const ContactInput &input,
                                    std::int64_t *groupId, std::vector<Phone> *phones)
{
    if (trimmed(input.groupId).empty())
        return ChangeResult::failure("Please choose a group for the contact.");
    const auto parsedGroup = parseDecimal(input.groupId);
    if (parsedGroup)
        *groupId = *parsedGroup;
    if (!parsedGroup || !groupBelongs(accountId, *groupId))
        return ChangeResult::failure("Unknown group.");
    const std::string name = trimmed(input.name);
    if (name.empty())
        return ChangeResult::failure("Please enter a name.");
    if (utf8Length(name) > kMaxTextLength)
        return ChangeResult::failure("The name is too long (at most 100 characters).");
    if (utf8Length(trimmed(input.title)) > kMaxTextLength)
        return ChangeResult::failure("The title is too long (at most 100 characters).");
    if (utf8Length(trimmed(input.company)) > kMaxTextLength)
        return ChangeResult::failure("The company name is too long (at most 100 characters).");

    phones->clear();
    for (const Phone &in : input.phones) {
        Phone p{in.id, trimmed(in.countryCode), trimmed(in.number), trimmed(in.type)};
        if (p.number.empty())
            continue;  // an unfilled row, as the editor may leave one
        if (!allDigits(p.countryCode) || !allDigits(p.number))
            return ChangeResult::failure("Phone numbers may contain digits only.");
        if (p.countryCode.size() > kMaxDigits || p.number.size() > kMaxDigits)
            return ChangeResult::failure("A phone number may have at most 26 digits.");
        if (p.type.empty())
            p.type = "Other";
        // A phone keeps a type it already has, even one the list lacks (the
        // web phonebook has more types than the softphone's editor).
        if (std::none_of(std::begin(kPhoneTypes), std::end(kPhoneTypes),
                         [&](const char *t) { return p.type == t; })
            && !(contactId != 0 && p.id != 0 && phoneHasType(contactId, p.id, p.type)))
            return ChangeResult::failure("Unknown phone type \"" + p.type + "\".");
        phones->push_back(std::move(p));
    }
    if (phones->empty())
        return ChangeResult::failure("Please enter at least one phone number.");
    if (phones->size() > kMaxPhonesPerContact)
        return ChangeResult::failure("A contact may have at most 10 phone numbers.");
    return ChangeResult::success();
}

ChangeResult Store::addContact(std::int64_t accountId, const ContactInput &input)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction tx(*this);
    std::int64_t groupId = 0;
    std::vector<Phone> phones;
    ChangeResult checked = validateContact(accountId, 0, input, &groupId, &phones);
    if (!checked.ok)
        return checked;
    const auto contactId = insertContact(accountId, groupId, trimmed(input.name),
                                         trimmed(input.title), trimmed(input.company));
    for (std::size_t i = 0; i < phones.size(); ++i)
        insertPhone(contactId, static_cast<int>(i), phones[i]);
    tx.commit();
    return ChangeResult::success(contactId);
}

ChangeResult Store::editContact(std::int64_t accountId, std::int64_t contactId,
                                const ContactInput &input)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction tx(*this);
    if (!contactBelongs(accountId, contactId))
        return ChangeResult::failure("Unknown contact.");
    std::int64_t groupId = 0;
    std::vector<Phone> phones;
    ChangeResult checked = validateContact(accountId, contactId, input, &groupId, &phones);
    if (!checked.ok)
        return checked;

    std::vector<std::int64_t> existing;
    Statement own(db_, "SELECT id FROM phones WHERE contact_id = ?");
    own.bind(1, contactId);
    while (own.step())
        existing.push_back(own.integer(0));
    std::vector<std::int64_t> kept;
    for (const Phone &p : phones) {
        if (p.id == 0)
            continue;
        if (std::find(existing.begin(), existing.end(), p.id) == existing.end())
            return ChangeResult::failure("Unknown phone " + std::to_string(p.id) + " for this contact.");
        if (std::find(kept.begin(), kept.end(), p.id) != kept.end())
            return ChangeResult::failure("Phone " + std::to_string(p.id) + " is listed twice.");
        kept.push_back(p.id);
    }

    Statement update(db_, "UPDATE contacts SET group_id = ?, name = ?, title = ?, company = ? WHERE id = ?");
    update.bind(1, groupId).bind(2, trimmed(input.name)).bind(3, trimmed(input.title))
        .bind(4, trimmed(input.company)).bind(5, contactId);
    update.run();

    Statement remove(db_, "DELETE FROM phones WHERE id = ?");
    for (const auto id : existing) {
        if (std::find(kept.begin(), kept.end(), id) != kept.end())
            continue;
        remove.bind(1, id);
        remove.run();
        remove.reset();
    }
    Statement change(db_, "UPDATE phones SET position = ?, country_code = ?, number = ?, type = ? WHERE id = ?");
    for (std::size_t i = 0; i < phones.size(); ++i) {
        const Phone &p = phones[i];
        if (p.id == 0) {
            insertPhone(contactId, static_cast<int>(i), p);
            continue;
        }
        change.bind(1, static_cast<std::int64_t>(i)).bind(2, p.countryCode).bind(3, p.number)
            .bind(4, p.type).bind(5, p.id);
        change.run();
        change.reset();
    }
    tx.commit();
    return ChangeResult::success(contactId);
}

ChangeResult Store::deleteContact(std::int64_t accountId, std::int64_t contactId)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Statement st(db_, "DELETE FROM contacts WHERE id = ? AND account_id = ?");
    st.bind(1, contactId).bind(2, accountId);
    st.run();
    if (sqlite3_changes(db_) == 0)
        return ChangeResult::failure("Unknown contact.");
    return ChangeResult::success(contactId);
}

std::optional<std::string> Store::contactName(std::int64_t accountId, std::int64_t contactId)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Statement st(db_, "SELECT name FROM contacts WHERE id = ? AND account_id = ?");
    st.bind(1, contactId).bind(2, accountId);
    if (!st.step())
        return std::nullopt;
    return st.text(0);
}

std::string Store::contactPhoto(std::int64_t accountId, std::int64_t contactId)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Statement st(db_, "SELECT photo FROM contacts WHERE id = ? AND account_id = ?");
    st.bind(1, contactId).bind(2, accountId);
    if (!st.step() || st.isNull(0))
        return {};
    return st.blob(0);
}

bool Store::setContactPhoto(std::int64_t accountId, std::int64_t contactId, const std::string &png)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Statement st(db_, "UPDATE contacts SET photo = ? WHERE id = ? AND account_id = ?");
    if (png.empty())
        st.bindNull(1);
    else
        st.bindBlob(1, png);
    st.bind(2, contactId).bind(3, accountId);
    st.run();
    return sqlite3_changes(db_) > 0;
}

std::optional<std::string> Store::nameForNumber(std::int64_t accountId, const std::string &number)
{
    // Phonebook numbers are kept without the international "00".
    const std::string whole = number.rfind("00", 0) == 0 ? number.substr(2) : number;
    std::lock_guard<std::mutex> lock(mutex_);
    Statement st(db_, "SELECT c.name FROM phones p JOIN contacts c ON c.id = p.contact_id "
                      "WHERE c.account_id = ? AND p.country_code || p.number = ? "
                      "ORDER BY c.id, p.position LIMIT 1");
    st.bind(1, accountId).bind(2, whole);
    if (!st.step())
        return std::nullopt;
    return st.text(0);
}

// --- rates, credit, texts, payments ---------------------------------------------

std::vector<Rate> Store::rates()
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<Rate> out;
    Statement st(db_, "SELECT prefix, description, per_minute_cents, per_text_cents FROM rates "
                      "ORDER BY prefix = '00', prefix = '999', description");
    while (st.step())
        out.push_back({st.text(0), st.text(1), st.integer(2), st.optionalInteger(3)});
    return out;
}

std::optional<Rate> Store::rateForLocked(const std::string &number)
{
    std::vector<Rate> all;
    Statement st(db_, "SELECT prefix, description, per_minute_cents, per_text_cents FROM rates");
    while (st.step())
        all.push_back({st.text(0), st.text(1), st.integer(2), st.optionalInteger(3)});
    return charging::rateFor(all, number);
}

std::optional<Rate> Store::rateFor(const std::string &number)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return rateForLocked(number);
}

std::optional<std::int64_t> Store::creditLocked(std::int64_t accountId)
{
    Statement st(db_, "SELECT credit_cents FROM accounts WHERE id = ?");
    st.bind(1, accountId);
    if (!st.step())
        return std::nullopt;
    return st.integer(0);
}

std::optional<std::int64_t> Store::credit(std::int64_t accountId)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return creditLocked(accountId);
}

ChangeResult Store::sendText(std::int64_t accountId, const std::string &countryCodeIn,
                             const std::string &phoneIn, const std::string &body,
                             std::int64_t now)
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
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction tx(*this);
    const auto rate = rateForLocked(number);
    const auto credit = creditLocked(accountId);
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

    Statement charge(db_, "UPDATE accounts SET credit_cents = credit_cents - ? WHERE id = ?");
    charge.bind(1, *rate->perTextCents).bind(2, accountId);
    charge.run();
    Statement insert(db_, "INSERT INTO texts (account_id, number, body, sent_time, cost_cents) "
                          "VALUES (?, ?, ?, ?, ?)");
    insert.bind(1, accountId).bind(2, number).bind(3, body).bind(4, now).bind(5, *rate->perTextCents);
    insert.run();
    const auto id = sqlite3_last_insert_rowid(db_);
    tx.commit();
    return ChangeResult::success(id);
}

std::vector<TextRecord> Store::texts(std::int64_t accountId)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<TextRecord> out;
    Statement st(db_, "SELECT id, number, body, sent_time, cost_cents FROM texts "
                      "WHERE account_id = ? ORDER BY sent_time DESC, id DESC");
    st.bind(1, accountId);
    while (st.step())
        out.push_back({st.integer(0), st.text(1), st.text(2), st.integer(3), st.integer(4)});
    return out;
}

PendingPayment Store::createPendingPayment(std::int64_t accountId, std::int64_t amountCents,
                                           std::int64_t now)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction tx(*this);
    // Every view of a billing page would otherwise keep a row: the same
    // amount shows the form still open, and only a few forms stay open.
    Statement open(db_, "SELECT token FROM payments WHERE account_id = ? AND amount_cents = ? "
                        "AND paid_time IS NULL AND created >= ? ORDER BY created DESC LIMIT 1");
    open.bind(1, accountId).bind(2, amountCents).bind(3, now - kPendingPaymentSeconds);
    PendingPayment payment{open.step() ? open.text(0) : newKey(), amountCents};
    Statement keep(db_, "INSERT INTO payments (token, account_id, amount_cents, created) VALUES (?1, ?2, ?3, ?4) "
                        "ON CONFLICT(token) DO UPDATE SET created = ?4");
    keep.bind(1, payment.token).bind(2, accountId).bind(3, amountCents).bind(4, now);
    keep.run();
    Statement forget(db_, "DELETE FROM payments WHERE paid_time IS NULL AND (created < ?1 OR token IN ("
                          "SELECT token FROM payments WHERE account_id = ?2 AND paid_time IS NULL "
                          "ORDER BY created DESC, rowid DESC LIMIT -1 OFFSET ?3))");
    forget.bind(1, now - kPendingPaymentSeconds).bind(2, accountId).bind(3, kMaxPendingPayments);
    forget.run();
    tx.commit();
    return payment;
}

PaymentOutcome Store::completePayment(std::int64_t accountId, const std::string &token,
                                      std::int64_t now, std::int64_t *amountCents)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction tx(*this);
    Statement st(db_, "SELECT amount_cents, paid_time FROM payments WHERE token = ? AND account_id = ?");
    st.bind(1, token).bind(2, accountId);
    if (!st.step())
        return PaymentOutcome::Unknown;
    if (amountCents)
        *amountCents = st.integer(0);
    if (!st.isNull(1))
        return PaymentOutcome::AlreadyPaid;
    Statement credit(db_, "UPDATE accounts SET credit_cents = credit_cents + ? WHERE id = ?");
    credit.bind(1, st.integer(0)).bind(2, accountId);
    credit.run();
    Statement paid(db_, "UPDATE payments SET paid_time = ? WHERE token = ?");
    paid.bind(1, now).bind(2, token);
    paid.run();
    tx.commit();
    return PaymentOutcome::Paid;
}

// --- call records ---------------------------------------------------------------

bool Store::mayCall(std::int64_t accountId, const std::string &number)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto credit = creditLocked(accountId);
    return credit && charging::mayCall(rateForLocked(number), *credit);
}

std::int64_t Store::callStarted(std::int64_t accountId, const std::string &number,
                                std::int64_t startTime)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Statement st(db_, "INSERT INTO calls (account_id, number, start_time) VALUES (?, ?, ?)");
    st.bind(1, accountId).bind(2, number).bind(3, startTime);
    st.run();
    return sqlite3_last_insert_rowid(db_);
}

void Store::callAnswered(std::int64_t callId, std::int64_t answerTime)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Statement st(db_, "UPDATE calls SET answer_time = ? "
                      "WHERE id = ? AND answer_time IS NULL AND end_time IS NULL");
    st.bind(1, answerTime).bind(2, callId);
    st.run();
}

void Store::callEnded(std::int64_t callId, std::int64_t endTime)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Transaction tx(*this);
    Statement st(db_, "SELECT account_id, number, answer_time, end_time FROM calls WHERE id = ?");
    st.bind(1, callId);
    if (!st.step() || !st.isNull(3))
        return;  // unknown, or already ended and charged
    const auto accountId = st.integer(0);
    const std::string number = st.text(1);
    const auto answer = st.optionalInteger(2);

    std::int64_t cost = 0;
    if (answer) {
        endTime = std::max(endTime, *answer);
        if (const auto rate = rateForLocked(number))
            cost = charging::callCost(*answer, endTime, rate->perMinuteCents, creditLocked(accountId).value_or(0));
    }
    Statement charge(db_, "UPDATE accounts SET credit_cents = credit_cents - ? WHERE id = ?");
    charge.bind(1, cost).bind(2, accountId);
    charge.run();
    Statement end(db_, "UPDATE calls SET end_time = ?, cost_cents = ? WHERE id = ?");
    end.bind(1, endTime).bind(2, cost).bind(3, callId);
    end.run();
    tx.commit();
}

void Store::dtmfReceived(std::int64_t callId, char digit)
{
    if (digit >= 'a' && digit <= 'd')
        digit = static_cast<char>(digit - 'a' + 'A');
    if (std::string("0123456789*#ABCD").find(digit) == std::string::npos)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    Statement st(db_, "UPDATE calls SET dtmf = dtmf || ? WHERE id = ? AND end_time IS NULL AND length(dtmf) < ?");
    st.bind(1, std::string(1, digit)).bind(2, callId).bind(3, static_cast<std::int64_t>(kMaxDtmfDigits));
    st.run();
}

std::vector<CallRecord> Store::calls(std::int64_t accountId)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<CallRecord> out;
    Statement st(db_, "SELECT id, number, start_time, answer_time, end_time, cost_cents, dtmf "
                      "FROM calls WHERE account_id = ? ORDER BY start_time DESC, id DESC");
    st.bind(1, accountId);
    while (st.step())
        out.push_back({st.integer(0), st.text(1), st.integer(2), st.optionalInteger(3),
                       st.optionalInteger(4), st.integer(5), st.text(6)});
    return out;
}

} // namespace devserver
