// The softphone's web API. Every reply is either the text "false" or one
// JSON object in pure ASCII.
#include "web_server.h"

#include "avatar.h"
#include "json_writer.h"

#include "../store.h"

#include <httplib.h>

#include <QByteArray>
#include <QCryptographicHash>

#include <algorithm>
#include <ctime>
#include <map>

namespace devserver::web {

namespace {

const char *const kJson = "application/json";

void replyFalse(httplib::Response &res)
{
    res.set_content("false", kJson);
}

void replyJson(httplib::Response &res, const JsonObject &object)
{
    res.set_content(object.str(), kJson);
}

void replyChange(httplib::Response &res, const ChangeResult &result)
{
    replyJson(res, JsonObject().add("Success", result.ok).add("Error", result.error));
}

// A photo's entity tag: a digest of its bytes, so that a client that
// already holds them is answered "not modified" and gets no body.
std::string photoTag(const std::string &png)
{
    const QByteArray digest = QCryptographicHash::hash(
        QByteArray::fromRawData(png.data(), static_cast<qsizetype>(png.size())), QCryptographicHash::Sha256);
    return '"' + digest.left(16).toHex().toStdString() + '"';
}

// Whether an If-None-Match header names the tag (or every tag).
bool tagMatches(const std::string &header, const std::string &tag)
{
    std::size_t start = 0;
    while (start < header.size()) {
        std::size_t end = header.find(',', start);
        if (end == std::string::npos)
            end = header.size();
        std::string item = header.substr(start, end - start);
        item.erase(0, item.find_first_not_of(" \t"));
        item.erase(item.find_last_not_of(" \t") + 1);
        if (item.rfind("W/", 0) == 0)
            item.erase(0, 2);
        if (item == "*" || item == tag)
            return true;
        start = end + 1;
    }
    return false;
}

std::int64_t now()
{
    return static_cast<std::int64_t>(std::time(nullptr));
}

// Phones come as AddContactCountryCode_<suffix>, Phone_<suffix> and
// PhoneType_<suffix>, where the suffix is the position ("2") when adding and
// the phone ID and position ("77_2") when editing. Rows are returned in
// position order, each with its phone ID (0 when the suffix has none).
std::vector<Phone> phoneRows(const FormFields &fields)
{
    std::map<std::pair<std::int64_t, std::int64_t>, Phone> rows;  // (position, id)
    static const std::pair<const char *, std::string Phone::*> prefixes[] = {
        {"AddContactCountryCode_", &Phone::countryCode},
        {"PhoneType_", &Phone::type},
        {"Phone_", &Phone::number},
    };
    for (const auto &[key, value] : fields.pairs()) {
        for (const auto &[prefix, member] : prefixes) {
            const std::string p(prefix);
            if (key.compare(0, p.size(), p) != 0)
                continue;
            const std::string suffix = key.substr(p.size());
            const auto underscore = suffix.find('_');
            const auto id = underscore == std::string::npos ? std::optional<std::int64_t>(0)
                                                            : parseDecimal(suffix.substr(0, underscore));
            const auto position = parseDecimal(underscore == std::string::npos ? suffix : suffix.substr(underscore + 1));
            if (id && position) {
                Phone &phone = rows[{*position, *id}];
                phone.id = *id;
                phone.*member = value;
            }
            break;
        }
    }
    std::vector<Phone> phones;
    for (auto &entry : rows)
        phones.push_back(std::move(entry.second));
    return phones;
}

ContactInput contactInput(const FormFields &fields)
{
    ContactInput input;
    input.groupId = fields.value("GroupID");
    input.name = fields.value("Name");
    input.title = fields.value("Title");
    input.company = fields.value("Company");
    input.phones = phoneRows(fields);
    return input;
}

std::string twoDigits(std::int64_t v)
{
    return v < 10 ? "0" + std::to_string(v) : std::to_string(v);
}

std::string durationText(std::int64_t seconds)
{
    seconds = std::max<std::int64_t>(seconds, 0);
    return twoDigits(seconds / 3600) + ":" + twoDigits(seconds / 60 % 60) + ":" + twoDigits(seconds % 60);
}

// Local wall-clock time, as the subscriber placed the call.
std::string localTimeText(std::int64_t epochSeconds)
{
    const std::time_t t = static_cast<std::time_t>(epochSeconds);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

} // namespace

void WebServer::login(const Request &req, Response &res)
{
    const FormFields f = fields(req, Charset::Latin1);
    const auto key = store_.accounts().login(f.value("email"), f.value("password"));
    const auto accountId = key ? store_.accounts().accountForKey(*key) : std::nullopt;
    const auto account = accountId ? store_.accounts().find(*accountId) : std::nullopt;
    if (!account)
        return replyFalse(res);
    replyJson(res, JsonObject()
                       .add("Username", account->iaxUsername)
                       .add("Password", account->iaxPassword)
                       .add("Key", *key));
}

void WebServer::contacts(const Request &, Response &res, const Caller &caller)
{
    std::string groups = "[";
    for (const ContactGroup &group : store_.phonebook().groups(caller.accountId)) {
        std::string contacts = "[";
        for (const Contact &contact : group.contacts) {
            std::string phones = "[";
            for (const Phone &phone : contact.phones) {
                if (phones.size() > 1)
                    phones += ',';
                phones += JsonObject()
                              .add("id", std::to_string(phone.id))
                              .add("countryCode", phone.countryCode)
                              .add("phone", phone.number)
                              .add("type", phone.type)
                              .add("wholePhone", phone.wholePhone())
                              .str();
            }
            phones += ']';
            if (contacts.size() > 1)
                contacts += ',';
            contacts += JsonObject()
                            .add("id", std::to_string(contact.id))
                            .add("name", contact.name)
                            .add("title", contact.title)
                            .add("company", contact.company)
                            .addRaw("phones", phones)
                            .str();
        }
        contacts += ']';
        if (groups.size() > 1)
            groups += ',';
        groups += JsonObject()
                      .add("id", std::to_string(group.id))
                      .add("name", group.name)
                      .addRaw("contacts", contacts)
                      .str();
    }
    groups += ']';
    replyJson(res, JsonObject().addRaw("result", groups));
}

void WebServer::addContact(const Request &, Response &res, const Caller &caller)
{
    const FormFields &f = caller.fields;
    ContactInput input = contactInput(f);
    for (Phone &phone : input.phones)
        phone.id = 0;  // a new contact has only new phones
    const ChangeResult result = store_.phonebook().addContact(caller.accountId, input);
    replyJson(res, JsonObject()
                       .add("Success", result.ok)
                       .add("Error", result.error)
                       .add("ContactID", result.ok ? result.id : 0));
}

namespace {

// The contact an edit or delete names, if "ContactID" is a number.
std::optional<std::int64_t> contactIdOf(const FormFields &f)
{
    return parseDecimal(f.value("ContactID"));
}

} // namespace

void WebServer::editContact(const Request &, Response &res, const Caller &caller)
{
    const FormFields &f = caller.fields;
    const auto contactId = contactIdOf(f);
    replyChange(res, contactId ? store_.phonebook().editContact(caller.accountId, *contactId, contactInput(f))
                               : ChangeResult::failure("Unknown contact."));
}

void WebServer::deleteContact(const Request &, Response &res, const Caller &caller)
{
    const FormFields &f = caller.fields;
    const auto contactId = contactIdOf(f);
    replyChange(res, contactId ? store_.phonebook().deleteContact(caller.accountId, *contactId)
                               : ChangeResult::failure("Unknown contact."));
}

void WebServer::contactPhoto(const Request &req, Response &res, const Caller &caller)
{
    const auto contactId = contactIdOf(caller.fields);
    const auto name = contactId ? store_.phonebook().contactName(caller.accountId, *contactId) : std::nullopt;
    if (!name) {
        res.status = 404;
        res.set_content("", "image/png");
        return;
    }
    std::string png = store_.phonebook().contactPhoto(caller.accountId, *contactId);
    if (png.empty())
        png = drawAvatarPng(*name);
    const std::string tag = photoTag(png);
    res.set_header("ETag", tag);
    // Asked again on every use, so that a new photo is seen at once.
    res.set_header("Cache-Control", "no-cache");
    if (tagMatches(req.get_header_value("If-None-Match"), tag)) {
        res.status = 304;
        return;
    }
    res.set_content(png, "image/png");
}

void WebServer::placedCalls(const Request &, Response &res, const Caller &caller)
{
    const std::int64_t current = now();
    std::map<std::string, std::string> names;
    std::string calls = "[";
    const auto records = store_.usage().calls(caller.accountId);
    for (std::size_t i = 0; i < records.size() && i < config_.historyLimit; ++i) {
        const CallRecord &call = records[i];
        auto known = names.find(call.number);
        if (known == names.end())
            known = names.emplace(call.number, store_.phonebook().nameForNumber(caller.accountId, call.number).value_or("")).first;
        // The number as the phonebook and the number field show it: without "00".
        const std::string whole = call.number.rfind("00", 0) == 0 ? call.number.substr(2) : call.number;
        const std::int64_t talk = call.answerTime ? call.endTime.value_or(current) - *call.answerTime : 0;
        if (calls.size() > 1)
            calls += ',';
        calls += JsonObject()
                     .add("Name", known->second)
                     .add("WholeNumber", whole)
                     .add("CleanPhone", call.number)
                     .add("Duration", durationText(talk))
                     .add("starttime", localTimeText(call.startTime))
                     .str();
    }
    calls += ']';
    replyJson(res, JsonObject().addRaw("result", calls));
}

void WebServer::credit(const Request &, Response &res, const Caller &caller)
{
    const auto cents = store_.accounts().credit(caller.accountId);
    if (!cents)
        return replyFalse(res);
    replyJson(res, JsonObject().add("Credit", formatCents(*cents)));
}

void WebServer::text(const Request &, Response &res, const Caller &caller)
{
    const FormFields &f = caller.fields;
    replyChange(res, store_.usage().sendText(caller.accountId, f.value("TextCountryCode"), f.value("TextPhone"),
                                     f.value("SMSText"), now()));
}

void WebServer::update(const Request &, Response &res)
{
    if (!config_.updateVersion)
        return replyFalse(res);
    replyJson(res, JsonObject()
                       .add("Version", *config_.updateVersion)
                       .add("DownloadUrlWin", config_.updateUrlWin)
                       .add("DownloadUrlMac", config_.updateUrlMac));
}

} // namespace devserver::web
