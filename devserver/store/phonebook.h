// Each account's phonebook: groups, contacts with their phones and photos.
#pragma once

#include "common.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace devserver {

class Connection;
class Database;

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

class Phonebook {
public:
    explicit Phonebook(Database &database) : database_(database) {}

    // The account's groups in order, each with its contacts by name.
    std::vector<ContactGroup> groups(std::int64_t accountId);
    ChangeResult addContact(std::int64_t accountId, const ContactInput &input);
    ChangeResult editContact(std::int64_t accountId, std::int64_t contactId, const ContactInput &input);
    ChangeResult deleteContact(std::int64_t accountId, std::int64_t contactId);
    // The contact's name when it belongs to the account.
    std::optional<std::string> contactName(std::int64_t accountId, std::int64_t contactId);
    // The stored photo (PNG bytes); empty when the contact has none.
    std::string contactPhoto(std::int64_t accountId, std::int64_t contactId);
    bool setContactPhoto(std::int64_t accountId, std::int64_t contactId, const std::string &png);
    // The phonebook name of a dialled or texted number, if any.
    std::optional<std::string> nameForNumber(std::int64_t accountId, const std::string &number);

    // Inside the caller's lock and transaction:
    struct DefaultGroups {
        std::int64_t family = 0;
        std::int64_t work = 0;
        std::int64_t friends = 0;
    };
    // Every new account's groups, in their order.
    static DefaultGroups insertDefaultGroups(Connection &connection, std::int64_t accountId);
    // Adds the contact with its phones in the given order; returns its id.
    static std::int64_t insertContact(Connection &connection, std::int64_t accountId, std::int64_t groupId,
                                      const std::string &name, const std::string &title,
                                      const std::string &company, const std::vector<Phone> &phones);
    // The contact every account starts with, so that a first call can be a sound check.
    static void insertEchoTest(Connection &connection, std::int64_t accountId, std::int64_t groupId);

private:
    Database &database_;
};

} // namespace devserver
