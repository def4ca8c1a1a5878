// The devserver's persistent state: accounts and login keys, phonebooks,
// rates, call records, text messages and payments, in one SQLite file.
//
// All texts are UTF-8; all money is in whole cents. Every public member
// takes the store's mutex, so the HTTP worker threads and the IAX2 thread
// may share one Store.
#pragma once

#include "charging.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;

namespace devserver {

struct Account {
    std::int64_t id = 0;
    std::string email;
    std::string iaxUsername;
    std::string iaxPassword;
    std::int64_t creditCents = 0;
};

struct Phone {
    std::int64_t id = 0;
    std::string countryCode;
    std::string number;
    std::string type;

    std::string wholePhone() const { return countryCode + number; }
};

struct Contact {
    std::int64_t id = 0;
    std::int64_t groupId = 0;
    std::string name;
    std::string title;
    std::string company;
    bool hasPhoto = false;
    std::vector<Phone> phones;
};

struct ContactGroup {
    std::int64_t id = 0;
    std::string name;
    std::vector<Contact> contacts;
};

// A contact as a client sends it for adding or editing. Phones are in
// display order; phoneId 0 asks for a new phone.
struct ContactInput {
    std::string groupId;  // as sent: text that must name one of the account's groups
    std::string name;
    std::string title;
    std::string company;
    std::vector<Phone> phones;
};

// Outcome of a change: on failure, error holds the text shown to the user.
struct ChangeResult {
    bool ok = false;
    std::string error;
    std::int64_t id = 0;  // the new contact's or account's id, when there is one

    static ChangeResult failure(std::string text) { return {false, std::move(text), 0}; }
    static ChangeResult success(std::int64_t newId = 0) { return {true, {}, newId}; }
};

struct CallRecord {
    std::int64_t id = 0;
    std::string number;  // as dialled, e.g. "004915112345678" or "999"
    std::int64_t startTime = 0;
    std::optional<std::int64_t> answerTime;
    std::optional<std::int64_t> endTime;
    std::int64_t costCents = 0;
    std::string dtmf;
};

struct TextRecord {
    std::int64_t id = 0;
    std::string number;
    std::string body;
    std::int64_t sentTime = 0;
    std::int64_t costCents = 0;
};

struct PendingPayment {
    std::string token;
    std::int64_t amountCents = 0;
};

enum class PaymentOutcome { Paid, AlreadyPaid, Unknown };

class Store {
public:
    Store() = default;
    ~Store();
    Store(const Store &) = delete;
    Store &operator=(const Store &) = delete;

    // Opens (creating if needed) the database and brings its schema up to
    // date. On failure returns false and sets errorText.
    bool open(const std::string &path, std::string *errorText = nullptr);

    // On an empty database, creates the demo account with its phonebook.
    // Returns true when it did.
    bool seedDemoAccountIfEmpty();

    // --- accounts and login keys -------------------------------------
    // Creates an account with generated IAX2 credentials, the default
    // groups, the echo-test contact and the welcome credit. The password
    // must be representable in Latin-1 (the softphone sends Latin-1).
    ChangeResult createAccount(const std::string &email, const std::string &password);
    // Checks the e-mail and either the plain password or the 32-digit
    // lower-case MD5 digest of its Latin-1 bytes; returns a fresh login key.
    std::optional<std::string> login(const std::string &email, const std::string &password);
    // The account a login key belongs to. A key unused for 30 days is
    // forgotten; every use keeps it (its last use is noted hourly).
    std::optional<std::int64_t> accountForKey(const std::string &key);
    std::optional<std::int64_t> accountForKey(const std::string &key, std::int64_t now);
    std::optional<Account> account(std::int64_t accountId);
    std::optional<Account> accountByIaxUsername(const std::string &username);

    // --- phonebook -----------------------------------------------------
    std::vector<ContactGroup> phonebook(std::int64_t accountId);
    ChangeResult addContact(std::int64_t accountId, const ContactInput &input);
    ChangeResult editContact(std::int64_t accountId, std::int64_t contactId,
                             const ContactInput &input);
    ChangeResult deleteContact(std::int64_t accountId, std::int64_t contactId);
    // The contact's name when it belongs to the account.
    std::optional<std::string> contactName(std::int64_t accountId, std::int64_t contactId);
    // The stored photo (PNG bytes); empty when the contact has none.
    std::string contactPhoto(std::int64_t accountId, std::int64_t contactId);
    bool setContactPhoto(std::int64_t accountId, std::int64_t contactId, const std::string &png);
    // The phonebook name of a dialled or texted number, if any.
    std::optional<std::string> nameForNumber(std::int64_t accountId, const std::string &number);

    // --- rates, credit, texts, payments ----------------------------------
    std::vector<Rate> rates();
    // The rate of the longest prefix that the number starts with.
    std::optional<Rate> rateFor(const std::string &number);
    std::optional<std::int64_t> credit(std::int64_t accountId);
    ChangeResult sendText(std::int64_t accountId, const std::string &countryCode,
                          const std::string &phone, const std::string &body,
                          std::int64_t now);
    std::vector<TextRecord> texts(std::int64_t accountId);
    // A payment page shows a one-time token so that a reloaded form cannot
    // add the same amount twice. Views of the same amount share one open
    // token; an account keeps at most 10 open ones, each for a day.
    PendingPayment createPendingPayment(std::int64_t accountId, std::int64_t amountCents,
                                        std::int64_t now);
    PaymentOutcome completePayment(std::int64_t accountId, const std::string &token,
                                   std::int64_t now, std::int64_t *amountCents = nullptr);

    // --- call records (the IAX2 side) -------------------------------------
    bool mayCall(std::int64_t accountId, const std::string &number);
    std::int64_t callStarted(std::int64_t accountId, const std::string &number,
                             std::int64_t startTime);
    void callAnswered(std::int64_t callId, std::int64_t answerTime);
    void callEnded(std::int64_t callId, std::int64_t endTime);
    // Keeps at most 256 digits per call.
    void dtmfReceived(std::int64_t callId, char digit);
    // Newest first.
    std::vector<CallRecord> calls(std::int64_t accountId);

private:
    class Statement;
    class Transaction;

    void exec(const char *sql);
    bool createSchema(std::string *errorText);
    std::optional<Rate> rateForLocked(const std::string &number);
    std::optional<std::int64_t> creditLocked(std::int64_t accountId);
    bool groupBelongs(std::int64_t accountId, std::int64_t groupId);
    bool contactBelongs(std::int64_t accountId, std::int64_t contactId);
    std::int64_t insertGroup(std::int64_t accountId, const std::string &name, int position);
    std::int64_t insertContact(std::int64_t accountId, std::int64_t groupId,
                               const std::string &name, const std::string &title,
                               const std::string &company);
    void insertPhone(std::int64_t contactId, int position, const Phone &phone);
    std::int64_t insertAccount(const std::string &email, const std::string &passwordMd5,
                               const std::string &iaxUsername,
                               const std::string &iaxPassword, std::int64_t creditCents);
    std::string nextIaxUsername();
    // contactId is the contact being edited, 0 when adding one.
    ChangeResult validateContact(std::int64_t accountId, std::int64_t contactId, const ContactInput &input,
                                 std::int64_t *groupId, std::vector<Phone> *phones);
    // Whether the contact's phone is stored with exactly this type.
    bool phoneHasType(std::int64_t contactId, std::int64_t phoneId, const std::string &type);

    std::mutex mutex_;
    sqlite3 *db_ = nullptr;
};

// An id or a position as a form sends it: 1 to 18 decimal digits, blanks
// around them allowed; nothing for anything else.
std::optional<std::int64_t> parseDecimal(const std::string &text);

// Money as the service shows it: "10.00".
std::string formatCents(std::int64_t cents);
// The number as the IAX2 side receives it for a phonebook or typed number:
// "+" becomes "00", and "00" is put in front unless it is the echo test.
std::string dialledNumber(const std::string &countryCode, const std::string &phone);

} // namespace devserver
