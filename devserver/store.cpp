#include "store.h"

#include "store/schema.h"
#include "test_numbers.h"

#include <algorithm>
#include <ctime>

namespace devserver {

bool Store::open(const std::string &path, std::string *errorText)
{
    return database_.open(path, errorText, upgradeSchema);
}

bool Store::seedDemoAccountIfEmpty()
{
    auto db = database_.lock();
    Transaction tx(db);
    if (Accounts::count(db) != 0)
        return false;

    const auto accountId = Accounts::insert(db, {0, "demo@ondavox.com", "1000", "s3cret-1000", 1000}, "ondavox-demo");
    const auto groups = Phonebook::insertDefaultGroups(db, accountId);
    auto contact = [&](std::int64_t group, const char *name, const char *title, const char *company,
                       std::vector<Phone> phones) {
        Phonebook::insertContact(db, accountId, group, name, title, company, phones);
    };
    contact(groups.family, "Zoë Müller", "", "",
            {{0, "49", "15112345678", "Mobile"}, {0, "49", "3012345678", "Home"}});
    contact(groups.family, "Ana García", "", "",
            {{0, "1", "2125550143", "Home"}, {0, "1", "6465550187", "Mobile"}});
    Phonebook::insertEchoTest(db, accountId, groups.work);
    contact(groups.work, "François Dubois", "Sales Director", "Brightline Ltd",
            {{0, "44", "2079460123", "Work"}, {0, "44", "2079460124", "Work Fax"},
             {0, "44", "7700900123", "Mobile"}});
    contact(groups.work, "Jens Østergård", "Engineer", "Nordlys GmbH", {{0, "49", "8912345678", "Work"}});
    contact(groups.work, "Pat Kim", "", "Kim & Partners", {{0, "1", "4155550199", "Page"}});

    // A little history, so that a first demo shows the list filled; the
    // balance above is what is left after these calls.
    const std::int64_t now = static_cast<std::int64_t>(time(nullptr));
    struct Seed { const char *number; std::int64_t agoSeconds; std::int64_t ring; std::int64_t talk; std::int64_t cost; };
    const Seed seeds[] = {
        {"004915112345678", 2 * 86400 + 3600, 6, 151, 9},
        {"00442079460123", 86400 + 7200, 25, -1, 0},
        {"999", 5400, 1, 42, 0},
    };
    for (const auto &s : seeds) {
        CallRecord call;
        call.number = s.number;
        call.startTime = now - s.agoSeconds;
        if (s.talk >= 0)
            call.answerTime = call.startTime + s.ring;
        call.endTime = call.startTime + s.ring + std::max<std::int64_t>(s.talk, 0);
        call.costCents = s.cost;
        Usage::insertCall(db, accountId, call);
    }
    tx.commit();
    return true;
}

} // namespace devserver
