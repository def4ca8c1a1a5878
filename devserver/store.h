// The devserver's persistent state, in one SQLite file: accounts and login
// keys, phonebooks, calls and texts with the rates that price them, and
// payments. Each part is reached through the Store that owns the file.
//
// All texts are UTF-8; all money is in whole cents. Every public member of
// the parts takes the database's mutex, so the HTTP worker threads and the
// IAX2 thread may share one Store.
#pragma once

#include "store/accounts.h"
#include "store/common.h"
#include "store/database.h"
#include "store/payments.h"
#include "store/phonebook.h"
#include "store/usage.h"

#include <string>

namespace devserver {

class Store {
public:
    Store() = default;
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    // Opens (creating if needed) the database and brings its schema up to
    // date. On failure returns false and sets errorText.
    bool open(const std::string &path, std::string *errorText = nullptr);

    // On an empty database, creates the demo account with its phonebook.
    // Returns true when it did.
    bool seedDemoAccountIfEmpty();

    Accounts &accounts() { return accounts_; }
    Phonebook &phonebook() { return phonebook_; }
    Usage &usage() { return usage_; }
    Payments &payments() { return payments_; }

private:
    Database database_;
    Accounts accounts_{database_};
    Phonebook phonebook_{database_};
    Usage usage_{database_};
    Payments payments_{database_};
};

} // namespace devserver
