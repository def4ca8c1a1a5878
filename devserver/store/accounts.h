// Accounts, their credit, and the login keys the softphone and the pages
// present.
#pragma once

#include "common.h"

#include <cstdint>
#include <optional>
#include <string>

namespace devserver {

class Connection;
class Database;

struct Account {
    std::int64_t id = 0;
    std::string email;
    std::string iaxUsername;
    std::string iaxPassword;
    std::int64_t creditCents = 0;
};

class Accounts {
public:
    explicit Accounts(Database &database) : database_(database) {}

    // Creates an account with generated IAX2 credentials, the default
    // groups, the echo-test contact and the welcome credit. The password
    // must be representable in Latin-1 (the softphone sends Latin-1).
    ChangeResult create(const std::string &email, const std::string &password);
    // Checks the e-mail and either the plain password or the 32-digit
    // lower-case MD5 digest of its Latin-1 bytes; returns a fresh login key.
    std::optional<std::string> login(const std::string &email, const std::string &password);
    // The account a login key belongs to. A key unused for 30 days is
    // forgotten; every use keeps it (its last use is noted hourly).
    std::optional<std::int64_t> accountForKey(const std::string &key);
    std::optional<std::int64_t> accountForKey(const std::string &key, std::int64_t now);
    std::optional<Account> find(std::int64_t accountId);
    std::optional<Account> findByIaxUsername(const std::string &username);
    std::optional<std::int64_t> credit(std::int64_t accountId);

    // Inside the caller's lock and transaction:
    static std::int64_t count(Connection &connection);
    // Adds the account (its id is ignored) with the password's Latin-1
    // bytes; returns the new id.
    static std::int64_t insert(Connection &connection, const Account &account,
                               const std::string &passwordLatin1);
    static std::optional<std::int64_t> credit(Connection &connection, std::int64_t accountId);
    // cents below zero charge the account.
    static void addCredit(Connection &connection, std::int64_t accountId, std::int64_t cents);

private:
    Database &database_;
};

} // namespace devserver
