// The one SQLite connection the store's parts share, and the few tools
// they use on it: statements with bound values, transactions.
//
// The connection is reached only through Database::lock(), so every use
// of it holds the database's mutex: the HTTP worker threads and the IAX2
// thread may share one Database. Failures throw std::runtime_error.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

struct sqlite3;
struct sqlite3_stmt;

namespace devserver {

// The open connection, while its Database is locked. A helper that takes a
// Connection runs inside its caller's lock (and transaction, if any), so
// one part of the store may lend another a step of a larger change.
class Connection {
public:
    explicit Connection(sqlite3 *db) : db_(db) {}
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;

    void exec(const char *sql);
    std::int64_t lastInsertId() const;
    // Rows the last INSERT, UPDATE or DELETE changed.
    int changes() const;
    sqlite3 *handle() const { return db_; }

private:
    sqlite3 *db_;
};

class Statement {
public:
    Statement(Connection &connection, const char *sql);
    Statement(Connection &connection, const std::string &sql) : Statement(connection, sql.c_str()) {}
    ~Statement();
    Statement(const Statement &) = delete;
    Statement &operator=(const Statement &) = delete;

    Statement &bind(int index, std::int64_t value);
    Statement &bind(int index, const std::string &value);
    // NULL when there is no value.
    Statement &bind(int index, const std::optional<std::int64_t> &value);
    Statement &bindBlob(int index, const std::string &value);
    Statement &bindNull(int index);

    // True while a row is available.
    bool step();
    void run();
    // Makes the statement ready to run again with new bindings.
    void reset();

    std::int64_t integer(int column) const;
    bool isNull(int column) const;
    std::optional<std::int64_t> optionalInteger(int column) const;
    std::string text(int column) const;
    std::string blob(int column) const;

private:
    void check(int rc);
    [[noreturn]] void fail();

    sqlite3 *db_;
    sqlite3_stmt *stmt_ = nullptr;
};

// Rolls back unless committed, so an exception half-way leaves no partial change.
class Transaction {
public:
    explicit Transaction(Connection &connection);
    ~Transaction();
    Transaction(const Transaction &) = delete;
    Transaction &operator=(const Transaction &) = delete;
    void commit();

private:
    Connection &connection_;
    bool committed_ = false;
};

class Database {
    struct Guard {
        explicit Guard(std::mutex &mutex) : lock(mutex) {}
        std::lock_guard<std::mutex> lock;
    };

public:
    // The connection, held by the caller alone for as long as this lives.
    class Locked : private Guard, public Connection {
    public:
        explicit Locked(Database &database) : Guard(database.mutex_), Connection(database.db_) {}
    };

    Database() = default;
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    // Opens (creating if needed) the file, then lets prepare bring its
    // contents up to date under the lock. On failure returns false and
    // sets errorText.
    bool open(const std::string &path, std::string *errorText,
              bool (*prepare)(Connection &, std::string *errorText));

    Locked lock() { return Locked(*this); }

private:
    void close();

    std::mutex mutex_;
    sqlite3 *db_ = nullptr;
};

} // namespace devserver
