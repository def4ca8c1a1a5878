#include "phonebook.h"

#include "contact_rules.h"
#include "database.h"
#include "test_numbers.h"

#include <algorithm>
#include <map>

namespace devserver {

namespace {

std::int64_t insertGroup(Connection &connection, std::int64_t accountId, const std::string &name, int position)
{
    Statement st(connection, "INSERT INTO contact_groups (account_id, name, position) VALUES (?, ?, ?)");
    st.bind(1, accountId).bind(2, name).bind(3, position);
    st.run();
    return connection.lastInsertId();
}

void insertPhone(Connection &connection, std::int64_t contactId, int position, const Phone &phone)
{
    Statement st(connection, "INSERT INTO phones (contact_id, position, country_code, number, type) "
                             "VALUES (?, ?, ?, ?, ?)");
    st.bind(1, contactId).bind(2, position).bind(3, phone.countryCode).bind(4, phone.number).bind(5, phone.type);
    st.run();
}

bool contactBelongs(Connection &connection, std::int64_t accountId, std::int64_t contactId)
{
    Statement st(connection, "SELECT 1 FROM contacts WHERE id = ? AND account_id = ?");
    st.bind(1, contactId).bind(2, accountId);
    return st.step();
}

} // namespace

std::vector<ContactGroup> Phonebook::groups(std::int64_t accountId)
{
    auto db = database_.lock();
    std::vector<ContactGroup> groups;
    std::map<std::int64_t, std::size_t> groupIndex;
    Statement gs(db, "SELECT id, name FROM contact_groups WHERE account_id = ? ORDER BY position, id");
    gs.bind(1, accountId);
    while (gs.step()) {
        groupIndex[gs.integer(0)] = groups.size();
        groups.push_back({gs.integer(0), gs.text(1), {}});
    }

    std::map<std::int64_t, std::pair<std::size_t, std::size_t>> contactIndex;
    Statement cs(db, "SELECT id, group_id, name, title, company, photo IS NOT NULL FROM contacts "
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

    Statement ps(db, "SELECT p.id, p.contact_id, p.country_code, p.number, p.type FROM phones p "
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

ChangeResult Phonebook::addContact(std::int64_t accountId, const ContactInput &input)
{
    auto db = database_.lock();
    Transaction tx(db);
    std::int64_t groupId = 0;
    std::vector<Phone> phones;
    ChangeResult checked = checkContact(db, accountId, 0, input, &groupId, &phones);
    if (!checked.ok)
        return checked;
    const auto contactId = insertContact(db, accountId, groupId, trimmed(input.name), trimmed(input.title),
                                         trimmed(input.company), phones);
    tx.commit();
    return ChangeResult::success(contactId);
}

ChangeResult Phonebook::editContact(std::int64_t accountId, std::int64_t contactId, const ContactInput &input)
{
    auto db = database_.lock();
    Transaction tx(db);
    if (!contactBelongs(db, accountId, contactId))
        return ChangeResult::failure("Unknown contact.");
    std::int64_t groupId = 0;
    std::vector<Phone> phones;
    ChangeResult checked = checkContact(db, accountId, contactId, input, &groupId, &phones);
    if (!checked.ok)
        return checked;

    std::vector<std::int64_t> existing;
    Statement own(db, "SELECT id FROM phones WHERE contact_id = ?");
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

    Statement update(db, "UPDATE contacts SET group_id = ?, name = ?, title = ?, company = ? WHERE id = ?");
    update.bind(1, groupId).bind(2, trimmed(input.name)).bind(3, trimmed(input.title))
        .bind(4, trimmed(input.company)).bind(5, contactId);
    update.run();

    Statement remove(db, "DELETE FROM phones WHERE id = ?");
    for (const auto id : existing) {
        if (std::find(kept.begin(), kept.end(), id) != kept.end())
            continue;
        remove.bind(1, id);
        remove.run();
        remove.reset();
    }
    Statement change(db, "UPDATE phones SET position = ?, country_code = ?, number = ?, type = ? WHERE id = ?");
    for (std::size_t i = 0; i < phones.size(); ++i) {
        const Phone &p = phones[i];
        if (p.id == 0) {
            insertPhone(db, contactId, static_cast<int>(i), p);
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

ChangeResult Phonebook::deleteContact(std::int64_t accountId, std::int64_t contactId)
{
    auto db = database_.lock();
    Statement st(db, "DELETE FROM contacts WHERE id = ? AND account_id = ?");
    st.bind(1, contactId).bind(2, accountId);
    st.run();
    if (db.changes() == 0)
        return ChangeResult::failure("Unknown contact.");
    return ChangeResult::success(contactId);
}

std::optional<std::string> Phonebook::contactName(std::int64_t accountId, std::int64_t contactId)
{
    auto db = database_.lock();
    Statement st(db, "SELECT name FROM contacts WHERE id = ? AND account_id = ?");
    st.bind(1, contactId).bind(2, accountId);
    if (!st.step())
        return std::nullopt;
    return st.text(0);
}

std::string Phonebook::contactPhoto(std::int64_t accountId, std::int64_t contactId)
{
    auto db = database_.lock();
    Statement st(db, "SELECT photo FROM contacts WHERE id = ? AND account_id = ?");
    st.bind(1, contactId).bind(2, accountId);
    if (!st.step() || st.isNull(0))
        return {};
    return st.blob(0);
}

bool Phonebook::setContactPhoto(std::int64_t accountId, std::int64_t contactId, const std::string &png)
{
    auto db = database_.lock();
    Statement st(db, "UPDATE contacts SET photo = ? WHERE id = ? AND account_id = ?");
    if (png.empty())
        st.bindNull(1);
    else
        st.bindBlob(1, png);
    st.bind(2, contactId).bind(3, accountId);
    st.run();
    return db.changes() > 0;
}

std::optional<std::string> Phonebook::nameForNumber(std::int64_t accountId, const std::string &number)
{
    // Phonebook numbers are kept without the international "00".
    const std::string whole = number.rfind("00", 0) == 0 ? number.substr(2) : number;
    auto db = database_.lock();
    Statement st(db, "SELECT c.name FROM phones p JOIN contacts c ON c.id = p.contact_id "
                     "WHERE c.account_id = ? AND p.country_code || p.number = ? "
                     "ORDER BY c.id, p.position LIMIT 1");
    st.bind(1, accountId).bind(2, whole);
    if (!st.step())
        return std::nullopt;
    return st.text(0);
}
Phonebook::DefaultGroups Phonebook::insertDefaultGroups(Connection &connection, std::int64_t accountId)
{
    DefaultGroups groups;
    groups.family = insertGroup(connection, accountId, "Family", 0);
    groups.work = insertGroup(connection, accountId, "Work", 1);
    groups.friends = insertGroup(connection, accountId, "Friends", 2);
    return groups;
}

std::int64_t Phonebook::insertContact(Connection &connection, std::int64_t accountId, std::int64_t groupId,
                                      const std::string &name, const std::string &title,
                                      const std::string &company, const std::vector<Phone> &phones)
{
    Statement st(connection, "INSERT INTO contacts (account_id, group_id, name, title, company) "
                             "VALUES (?, ?, ?, ?, ?)");
    st.bind(1, accountId).bind(2, groupId).bind(3, name).bind(4, title).bind(5, company);
    st.run();
    const auto contactId = connection.lastInsertId();
    for (std::size_t i = 0; i < phones.size(); ++i)
        insertPhone(connection, contactId, static_cast<int>(i), phones[i]);
    return contactId;
}

void Phonebook::insertEchoTest(Connection &connection, std::int64_t accountId, std::int64_t groupId)
{
    insertContact(connection, accountId, groupId, "Echo test", "Sound check", "Ondavox",
                  {{0, "", std::string(kEchoTestNumber), "Other"}});
}

} // namespace devserver
