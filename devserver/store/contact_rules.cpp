#include "contact_rules.h"

#include "database.h"

#include <algorithm>

namespace devserver {

namespace {

constexpr std::size_t kMaxTextLength = 100;     // name, title, company (characters)
constexpr std::size_t kMaxDigits = 26;          // as the softphone's number fields allow
constexpr std::size_t kMaxPhonesPerContact = 10;

const char *const kPhoneTypes[] = {"Home", "Work", "Mobile", "Home Fax", "Work Fax", "Page", "Other"};

bool groupBelongs(Connection &connection, std::int64_t accountId, std::int64_t groupId)
{
    Statement st(connection, "SELECT 1 FROM contact_groups WHERE id = ? AND account_id = ?");
    st.bind(1, groupId).bind(2, accountId);
    return st.step();
}

bool phoneHasType(Connection &connection, std::int64_t contactId, std::int64_t phoneId, const std::string &type)
{
    Statement st(connection, "SELECT 1 FROM phones WHERE id = ? AND contact_id = ? AND type = ?");
    st.bind(1, phoneId).bind(2, contactId).bind(3, type);
    return st.step();
}

} // namespace

ChangeResult checkContact(Connection &connection, std::int64_t accountId, std::int64_t contactId,
                          const ContactInput &input, std::int64_t *groupId, std::vector<Phone> *phones)
{
    if (trimmed(input.groupId).empty())
        return ChangeResult::failure("Please choose a group for the contact.");
    const auto parsedGroup = parseDecimal(input.groupId);
    if (parsedGroup)
        *groupId = *parsedGroup;
    if (!parsedGroup || !groupBelongs(connection, accountId, *groupId))
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
            && !(contactId != 0 && p.id != 0 && phoneHasType(connection, contactId, p.id, p.type)))
            return ChangeResult::failure("Unknown phone type \"" + p.type + "\".");
        phones->push_back(std::move(p));
    }
    if (phones->empty())
        return ChangeResult::failure("Please enter at least one phone number.");
    if (phones->size() > kMaxPhonesPerContact)
        return ChangeResult::failure("A contact may have at most 10 phone numbers.");
    return ChangeResult::success();
}

} // namespace devserver
