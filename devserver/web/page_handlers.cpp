// The account pages the softphone opens in its browser windows, and the
// public registration and rates pages.
#include "web_server.h"

#include "avatar.h"
#include "card_processor.h"
#include "html.h"

#include "../store.h"

#include <httplib.h>

#include <algorithm>
#include <ctime>

namespace devserver::web {

namespace {

const char *const kHtml = "text/html; charset=utf-8";
constexpr std::int64_t kMinPaymentCents = 100;
constexpr std::int64_t kMaxPaymentCents = 100000;
constexpr std::size_t kRecentRows = 20;

std::int64_t now()
{
    return static_cast<std::int64_t>(std::time(nullptr));
}

std::string localTime(std::int64_t epochSeconds)
{
    const std::time_t t = static_cast<std::time_t>(epochSeconds);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &tm);
    return buf;
}

std::string notice(const std::string &text, bool isError)
{
    if (text.empty())
        return {};
    return std::string("<div class=\"notice ") + (isError ? "error" : "ok") + "\">" + htmlEscape(text) + "</div>\n";
}

std::string hiddenLogin(const std::string &key)
{
    return "<input type=\"hidden\" name=\"login\" value=\"" + htmlEscape(key) + "\">";
}

// "+49 15112345678"; the echo test keeps its short number.
std::string shownNumber(const Phone &phone)
{
    return phone.countryCode.empty() ? phone.number : "+" + phone.countryCode + " " + phone.number;
}

std::string shownDialled(const std::string &number)
{
    return number.rfind("00", 0) == 0 ? "+" + number.substr(2) : number;
}

} // namespace

void WebServer::replyLoginRequired(Response &res)
{
    res.status = 403;
    res.set_content(renderPage("Login required",
                               "<h1>Login required</h1>\n"
                               "<p>This page belongs to an Ondavox account. Open it from the Ondavox "
                               "softphone after you have logged in.</p>\n"
                               "<p>No account yet? <a href=\"/Account/Register.html\">Register here</a>. "
                               "Our <a href=\"/Home/Rates.html\">rates</a> are public.</p>"),
                    kHtml);
}

namespace {

// Dollars with at most two decimals ("10", "12.5", "12.50") as cents.
bool parseAmount(const std::string &text, std::int64_t *cents)
{
    const auto dot = text.find('.');
    const std::string whole = text.substr(0, dot);
    std::string frac = dot == std::string::npos ? std::string() : text.substr(dot + 1);
    auto digits = [](const std::string &s) {
        return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    if (whole.empty() || whole.size() > 6 || !digits(whole) || frac.size() > 2 || !digits(frac) ||
        (dot != std::string::npos && frac.empty()))
        return false;
    while (frac.size() < 2)
        frac += '0';
    *cents = std::stoll(whole) * 100 + std::stoll(frac);
    return *cents >= kMinPaymentCents && *cents <= kMaxPaymentCents;
}

std::string amountButtons(const std::string &key)
{
    std::string html = "<p>";
    for (const char *amount : {"10", "20", "50"}) {
        html += "<form class=\"inline\" method=\"post\" action=\"/Account/BillingInfo.html?amount=";
        html += amount;
        html += "\">" + hiddenLogin(key) + "<button type=\"submit\">Add $" + amount + "</button></form> ";
    }
    return html + "</p>";
}

// A field of a multipart or url-encoded form.
std::string formValue(const httplib::Request &req, const FormFields &fields, const std::string &name)
{
    if (req.has_file(name))
        return utf8OrLatin1(req.get_file_value(name).content);
    return fields.value(name);
}

} // namespace

std::string WebServer::ratesTable()
{
    std::string html = "<table>\n<tr><th>Destination</th><th>Dialled prefix</th>"
                       "<th class=\"num\">Per minute</th><th class=\"num\">Per text message</th></tr>\n";
    for (const Rate &rate : store_.usage().rates()) {
        html += "<tr><td>" + htmlEscape(rate.description) + "</td><td>" + htmlEscape(rate.prefix) +
                "</td><td class=\"num\">" +
                (rate.perMinuteCents == 0 ? std::string("free") : dollars(rate.perMinuteCents)) +
                "</td><td class=\"num\">" +
                (rate.perTextCents ? dollars(*rate.perTextCents) : std::string("&mdash;")) + "</td></tr>\n";
    }
    html += "</table>\n<p class=\"muted\">Calls are charged per started minute from the moment they are "
            "answered, at the rate of the longest matching prefix. Numbers are dialled with the "
            "international prefix 00 (the softphone adds it).</p>\n";
    return html;
}

void WebServer::publicRates(const Request &, Response &res)
{
    res.set_content(renderPage("Rates", "<h1>Ondavox rates</h1>\n" + ratesTable() +
                                            "<p><a href=\"/Account/Register.html\">Create an account</a></p>"),
                    kHtml);
}

void WebServer::accountRates(const Request &, Response &res, const Caller &caller)
{
    const auto account = store_.accounts().find(caller.accountId);
    if (!account)
        return replyLoginRequired(res);

    std::string html = "<h1>Rates and charges</h1>\n<p>Your balance: <span class=\"balance\" id=\"balance\">" +
                       dollars(account->creditCents) + "</span></p>\n" + amountButtons(caller.key) +
                       "<h2>Rates</h2>\n" + ratesTable();

    html += "<h2>Recent calls</h2>\n";
    const auto calls = store_.usage().calls(account->id);
    if (calls.empty()) {
        html += "<p class=\"muted\">No calls yet.</p>\n";
    } else {
        html += "<table>\n<tr><th>Started</th><th>Number</th><th class=\"num\">Minutes</th>"
                "<th class=\"num\">Cost</th></tr>\n";
        for (std::size_t i = 0; i < calls.size() && i < kRecentRows; ++i) {
            const CallRecord &c = calls[i];
            std::string minutes = "not answered";
            if (c.answerTime && c.endTime)
                minutes = std::to_string((*c.endTime - *c.answerTime + 59) / 60);
            else if (c.answerTime)
                minutes = "in progress";
            html += "<tr><td>" + localTime(c.startTime) + "</td><td>" + htmlEscape(shownDialled(c.number)) +
                    "</td><td class=\"num\">" + minutes + "</td><td class=\"num\">" + dollars(c.costCents) +
                    "</td></tr>\n";
        }
        html += "</table>\n";
    }

    html += "<h2>Recent text messages</h2>\n";
    const auto texts = store_.usage().texts(account->id);
    if (texts.empty()) {
        html += "<p class=\"muted\">No text messages yet.</p>\n";
    } else {
        html += "<table>\n<tr><th>Sent</th><th>Number</th><th>Message</th><th class=\"num\">Cost</th></tr>\n";
        for (std::size_t i = 0; i < texts.size() && i < kRecentRows; ++i) {
            const TextRecord &t = texts[i];
            html += "<tr><td>" + localTime(t.sentTime) + "</td><td>" + htmlEscape(shownDialled(t.number)) +
                    "</td><td>" + htmlEscape(t.body) + "</td><td class=\"num\">" + dollars(t.costCents) +
                    "</td></tr>\n";
        }
        html += "</table>\n";
    }
    res.set_content(renderPage("Rates and charges", html, account->email), kHtml);
}

void WebServer::webPhonebook(const Request &, Response &res, const Caller &caller)
{
    showPhonebookPage(caller.accountId, caller.key, {}, false, res);
}

void WebServer::showPhonebookPage(std::int64_t accountId, const std::string &key,
                                  const std::string &message, bool messageIsError, Response &res)
{
    const auto account = store_.accounts().find(accountId);
    if (!account)
        return replyLoginRequired(res);
    std::string html = "<h1>Your phonebook</h1>\n" + notice(message, messageIsError) +
                       "<p class=\"muted\">Add, change and remove contacts in the softphone. Here you "
                       "can give a contact a photo; without one, the softphone shows the initials.</p>\n";
    for (const ContactGroup &group : store_.phonebook().groups(accountId)) {
        html += "<h2>" + htmlEscape(group.name) + "</h2>\n";
        if (group.contacts.empty()) {
            html += "<p class=\"muted\">No contacts in this group.</p>\n";
            continue;
        }
        html += "<table>\n";
        for (const Contact &c : group.contacts) {
            const std::string id = std::to_string(c.id);
            html += "<tr><td><img class=\"photo\" alt=\"\" src=\"/Phonebook/GetContactPhoto.html?ContactID=" +
                    id + "&amp;login=" + htmlEscape(key) + "\"></td><td><strong>" + htmlEscape(c.name) +
                    "</strong>";
            std::string detail = c.title;
            if (!c.company.empty())
                detail += (detail.empty() ? "" : ", ") + c.company;
            if (!detail.empty())
                html += "<br><span class=\"muted\">" + htmlEscape(detail) + "</span>";
            html += "</td><td class=\"phones\">";
            for (const Phone &p : c.phones)
                html += htmlEscape(p.type) + ": " + htmlEscape(shownNumber(p)) + "<br>";
            html += "</td><td><form method=\"post\" enctype=\"multipart/form-data\" "
                    "action=\"/Phonebook/UploadPhoto.html\">" +
                    hiddenLogin(key) + "<input type=\"hidden\" name=\"ContactID\" value=\"" + id +
                    "\"><input type=\"file\" name=\"photo\" accept=\"image/*\"> "
                    "<button class=\"small\" type=\"submit\">Upload photo</button></form>";
            if (c.hasPhoto) {
                html += "<form method=\"post\" enctype=\"multipart/form-data\" "
                        "action=\"/Phonebook/UploadPhoto.html\">" +
                        hiddenLogin(key) + "<input type=\"hidden\" name=\"ContactID\" value=\"" + id +
                        "\"><input type=\"hidden\" name=\"remove\" value=\"1\">"
                        "<button class=\"small secondary\" type=\"submit\">Remove photo</button></form>";
            }
            html += "</td></tr>\n";
        }
        html += "</table>\n";
    }
    res.set_content(renderPage("Phonebook", html, account->email), kHtml);
}

void WebServer::uploadPhoto(const Request &req, Response &res, const Caller &caller)
{
    const FormFields &f = caller.fields;
    const std::string &key = caller.key;
    const auto id = parseDecimal(formValue(req, f, "ContactID"));
    const std::int64_t contactId = id.value_or(0);
    const auto name = id ? store_.phonebook().contactName(caller.accountId, contactId) : std::nullopt;
    if (!name)
        return showPhonebookPage(caller.accountId, key, "Unknown contact.", true, res);

    if (formValue(req, f, "remove") == "1") {
        store_.phonebook().setContactPhoto(caller.accountId, contactId, {});
        return showPhonebookPage(caller.accountId, key, "The photo of " + *name + " was removed.", false, res);
    }
    const auto png = req.has_file("photo") ? normalisedPhotoPng(req.get_file_value("photo").content)
                                           : std::nullopt;
    if (!png)
        return showPhonebookPage(caller.accountId, key,
                                 "Please choose a picture file (PNG, JPEG, GIF or BMP) of at most "
                                 "4096 by 4096 pixels.", true, res);
    store_.phonebook().setContactPhoto(caller.accountId, contactId, *png);
    showPhonebookPage(caller.accountId, key, "The photo of " + *name + " was saved.", false, res);
}

void WebServer::billing(const Request &, Response &res, const Caller &caller)
{
    const FormFields &f = caller.fields;
    const auto account = store_.accounts().find(caller.accountId);
    if (!account)
        return replyLoginRequired(res);
    const std::string &key = caller.key;
    std::string html = "<h1>Add credit</h1>\n<p>Your balance: <span class=\"balance\" id=\"balance\">" +
                       dollars(account->creditCents) + "</span></p>\n";
    std::int64_t cents = 0;
    if (!parseAmount(f.value("amount"), &cents)) {
        html += notice("Please choose an amount from $1.00 to $1000.00.", true) + amountButtons(key);
        res.set_content(renderPage("Add credit", html, account->email), kHtml);
        return;
    }
    const PendingPayment payment = store_.payments().createPending(account->id, cents, now());
    html += "<p>Amount to add: <span class=\"balance\" id=\"amount\">" + dollars(cents) + "</span></p>\n"
            "<form method=\"post\" action=\"/Account/Pay.html\" accept-charset=\"UTF-8\">" +
            hiddenLogin(key) + "<input type=\"hidden\" name=\"token\" value=\"" + payment.token +
            "\"><input type=\"hidden\" name=\"amount\" value=\"" + htmlEscape(f.value("amount")) +
            "\">\n<label for=\"holder\">Card holder</label><input type=\"text\" id=\"holder\" name=\"holder\" "
            "value=\"\" placeholder=\"Name on the card\">\n"
            "<label for=\"card\">Card number</label><input type=\"text\" id=\"card\" name=\"card\" "
            "value=\"4242 4242 4242 4242\">\n"
            "<label for=\"expiry\">Valid until (MM/YY)</label><input type=\"text\" id=\"expiry\" name=\"expiry\" "
            "value=\"12/30\">\n<br><button type=\"submit\">Pay " +
            dollars(cents) + "</button></form>\n"
            "<p class=\"muted\">This is the Ondavox development server: the payment is simulated and no "
            "card is charged.</p>\n";
    if (!config_.cardProcessor.empty()) {
        // The processor gets the payment's token, never the login key.
        html += "<h2>Or with a card processor</h2>\n<form method=\"post\" action=\"" +
                htmlEscape(config_.cardProcessor) + "/checkout\"><input type=\"hidden\" name=\"token\" value=\"" +
                payment.token + "\"><button type=\"submit\" id=\"payByCard\">Pay by card</button></form>\n";
    }
    res.set_content(renderPage("Add credit", html, account->email), kHtml);
}

void WebServer::cardReturn(const Request &req, Response &res)
{
    // Where the card processor sends the browser back. The token stands for
    // the payment only: the page tells its outcome and the balance, and
    // offers nothing that would need the login key.
    const FormFields f = fields(req, Charset::Utf8);
    const auto payment = store_.payments().find(f.value("token"));
    const auto account = payment ? store_.accounts().find(payment->accountId) : std::nullopt;
    constexpr std::int64_t kReceiptSeconds = 3600;
    if (!account || !payment->paidTime || *payment->paidTime < now() - kReceiptSeconds) {
        res.status = 404;
        res.set_content(renderPage("Add credit", "<h1>Add credit</h1>\n" +
                                                     notice("This payment is not known, or was not made.", true)),
                        kHtml);
        return;
    }
    const std::string html = "<h1>Add credit</h1>\n" +
                             notice("Thank you! " + dollars(payment->amountCents) + " was added to your credit.",
                                    false) +
                             "<p>Your balance: <span class=\"balance\" id=\"balance\">" +
                             dollars(account->creditCents) + "</span></p>\n";
    res.set_content(renderPage("Add credit", html, account->email), kHtml);
}

void WebServer::pay(const Request &, Response &res, const Caller &caller)
{
    const FormFields &f = caller.fields;
    const std::string &key = caller.key;
    std::string html = "<h1>Add credit</h1>\n";
    if (!validCardNumber(f.value("card"))) {
        html += notice("The card number is not valid. Nothing was charged.", true) +
                "<form method=\"post\" action=\"/Account/BillingInfo.html?amount=" +
                htmlEscape(f.value("amount")) + "\">" + hiddenLogin(key) +
                "<button type=\"submit\">Try again</button></form>";
    } else {
        std::int64_t amount = 0;
        switch (store_.payments().complete(caller.accountId, f.value("token"), now(), &amount)) {
        case PaymentOutcome::Paid:
            html += notice("Thank you! " + dollars(amount) + " was added to your credit.", false);
            break;
        case PaymentOutcome::AlreadyPaid:
            html += notice("This payment of " + dollars(amount) + " was already made; nothing more was charged.",
                           false);
            break;
        case PaymentOutcome::Unknown:
            html += notice("This payment form is not valid any more. Please start again.", true) +
                    amountButtons(key);
            break;
        }
    }
    const auto account = store_.accounts().find(caller.accountId);
    if (!account)
        return replyLoginRequired(res);
    html += "<p>Your balance: <span class=\"balance\" id=\"balance\">" + dollars(account->creditCents) +
            "</span></p>\n";
    res.set_content(renderPage("Add credit", html, account->email), kHtml);
}

namespace {

std::string registrationForm(const std::string &email, const std::string &error)
{
    return "<h1>Create your Ondavox account</h1>\n" + notice(error, true) +
           "<form method=\"post\" action=\"/Account/Register.html\" accept-charset=\"UTF-8\">\n"
           "<label for=\"email\">E-mail</label><input type=\"email\" id=\"email\" name=\"email\" value=\"" +
           htmlEscape(email) +
           "\" required>\n"
           "<label for=\"password\">Password</label><input type=\"password\" id=\"password\" name=\"password\" "
           "required>\n"
           "<label for=\"password2\">Password again</label><input type=\"password\" id=\"password2\" "
           "name=\"password2\" required>\n"
           "<br><button type=\"submit\">Create account</button>\n</form>\n"
           "<p class=\"muted\">New accounts start with $1.00 of credit. See our "
           "<a href=\"/Home/Rates.html\">rates</a>.</p>";
}

} // namespace

void WebServer::registerForm(const Request &, Response &res)
{
    res.set_content(renderPage("Register", registrationForm({}, {})), kHtml);
}

void WebServer::registerAccount(const Request &req, Response &res)
{
    const FormFields f = fields(req, Charset::Utf8);
    const std::string email = f.value("email");
    const std::string password = f.value("password");
    if (password != f.value("password2")) {
        res.set_content(renderPage("Register", registrationForm(email, "The two passwords differ.")), kHtml);
        return;
    }
    const ChangeResult created = store_.accounts().create(email, password);
    const auto account = created.ok ? store_.accounts().find(created.id) : std::nullopt;
    if (!account) {
        res.set_content(renderPage("Register", registrationForm(email, created.error)), kHtml);
        return;
    }
    const std::string html =
        "<h1>Your account is ready</h1>\n"
        "<p>Log in to the Ondavox softphone with your e-mail address <strong id=\"email\">" +
        htmlEscape(account->email) +
        "</strong> and your password. It registers with the IAX2 server by itself.</p>\n"
        "<table>\n<tr><th>IAX2 user name</th><td><code id=\"iax-username\">" + htmlEscape(account->iaxUsername) +
        "</code></td></tr>\n<tr><th>IAX2 password</th><td><code id=\"iax-password\">" +
        htmlEscape(account->iaxPassword) + "</code></td></tr>\n<tr><th>Credit</th><td id=\"balance\">" +
        dollars(account->creditCents) +
        "</td></tr>\n</table>\n<p class=\"muted\">Keep the IAX2 credentials if you want to use another "
        "IAX2 phone. Dial 999 for the free echo test.</p>";
    res.set_content(renderPage("Account created", html, account->email), kHtml);
}

void WebServer::home(const Request &, Response &res)
{
    res.set_content(renderPage("Welcome",
                               "<h1>Ondavox</h1>\n<p>Prepaid calls and text messages from your desktop.</p>\n"
                               "<ul><li><a href=\"/Account/Register.html\">Create an account</a></li>\n"
                               "<li><a href=\"/Home/Rates.html\">Rates</a></li></ul>"),
                    kHtml);
}

} // namespace devserver::web
