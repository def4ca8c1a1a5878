#include "schema.h"

#include "database.h"

namespace devserver {

namespace {

// 2: login keys remember when they were last used.
constexpr int kSchemaVersion = 2;

} // namespace

bool upgradeSchema(Connection &connection, std::string *errorText)
{
    Statement version(connection, "PRAGMA user_version");
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

    Transaction tx(connection);
    if (current == 0)
        connection.exec(R"sql(
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
        connection.exec("ALTER TABLE sessions ADD COLUMN last_used INTEGER NOT NULL DEFAULT 0;"
             "UPDATE sessions SET last_used = created;");
    connection.exec(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
    tx.commit();
    return true;
}

} // namespace devserver
