#include "database.h"

#include <sqlite3.h>

#include <stdexcept>

namespace devserver {

void Connection::exec(const char *sql)
{
    char *message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) != SQLITE_OK) {
        const std::string text = message ? message : sqlite3_errmsg(db_);
        sqlite3_free(message);
        throw std::runtime_error("database: " + text);
    }
}

std::int64_t Connection::lastInsertId() const { return sqlite3_last_insert_rowid(db_); }

int Connection::changes() const { return sqlite3_changes(db_); }

// ---------------------------------------------------------------------------

Statement::Statement(Connection &connection, const char *sql) : db_(connection.handle())
{
    if (sqlite3_prepare_v2(db_, sql, -1, &stmt_, nullptr) != SQLITE_OK)
        fail();
}

Statement::~Statement() { sqlite3_finalize(stmt_); }

Statement &Statement::bind(int index, std::int64_t value)
{
    check(sqlite3_bind_int64(stmt_, index, value));
    return *this;
}

Statement &Statement::bind(int index, const std::string &value)
{
    check(sqlite3_bind_text(stmt_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT));
    return *this;
}

Statement &Statement::bind(int index, const std::optional<std::int64_t> &value)
{
    return value ? bind(index, *value) : bindNull(index);
}

Statement &Statement::bindBlob(int index, const std::string &value)
{
    check(sqlite3_bind_blob(stmt_, index, value.data(), static_cast<int>(value.size()), SQLITE_TRANSIENT));
    return *this;
}

Statement &Statement::bindNull(int index)
{
    check(sqlite3_bind_null(stmt_, index));
    return *this;
}

bool Statement::step()
{
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc == SQLITE_DONE)
        return false;
    fail();
}

void Statement::run()
{
    while (step()) {
    }
}

void Statement::reset()
{
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
}

std::int64_t Statement::integer(int column) const { return sqlite3_column_int64(stmt_, column); }

bool Statement::isNull(int column) const { return sqlite3_column_type(stmt_, column) == SQLITE_NULL; }

std::optional<std::int64_t> Statement::optionalInteger(int column) const
{
    if (isNull(column))
        return std::nullopt;
    return integer(column);
}

std::string Statement::text(int column) const
{
    const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(stmt_, column));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column))) : std::string();
}

std::string Statement::blob(int column) const
{
    const auto *p = static_cast<const char *>(sqlite3_column_blob(stmt_, column));
    return p ? std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, column))) : std::string();
}

void Statement::check(int rc)
{
    if (rc != SQLITE_OK)
        fail();
}

void Statement::fail() { throw std::runtime_error(std::string("database: ") + sqlite3_errmsg(db_)); }

// ---------------------------------------------------------------------------

Transaction::Transaction(Connection &connection) : connection_(connection)
{
    connection_.exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction()
{
    if (!committed_)
        sqlite3_exec(connection_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::commit()
{
    connection_.exec("COMMIT");
    committed_ = true;
}

// ---------------------------------------------------------------------------

Database::~Database() { close(); }

void Database::close()
{
    if (db_)
        sqlite3_close(db_);
    db_ = nullptr;
}

bool Database::open(const std::string &path, std::string *errorText,
                    bool (*prepare)(Connection &, std::string *errorText))
{
    std::lock_guard<std::mutex> lock(mutex_);
    close();
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        if (errorText)
            *errorText = db_ ? sqlite3_errmsg(db_) : "out of memory";
        close();
        return false;
    }
    // Another process (a test, a second tool) may hold the file briefly.
    sqlite3_busy_timeout(db_, 5000);
    try {
        Connection connection(db_);
        connection.exec("PRAGMA journal_mode = WAL");
        connection.exec("PRAGMA foreign_keys = ON");
        return prepare(connection, errorText);
    } catch (const std::exception &e) {
        if (errorText)
            *errorText = e.what();
        close();
        return false;
    }
}

} // namespace devserver
