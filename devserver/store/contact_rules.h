// What a contact may hold, as a client sends it for adding or editing.
#pragma once

#include "phonebook.h"

namespace devserver {

// Checks the input against the account's groups and the phone types; on
// success sets groupId and phones (trimmed, unfilled rows left out, "Other"
// for a missing type). contactId is the contact being edited, 0 when adding
// one: its phones may keep a type the list lacks.
ChangeResult checkContact(Connection &connection, std::int64_t accountId, std::int64_t contactId,
                          const ContactInput &input, std::int64_t *groupId, std::vector<Phone> *phones);

} // namespace devserver
