#include "card_processor.h"

#include "form_codec.h"
#include "html.h"
#include "http_setup.h"

#include "../store.h"

#include <httplib.h>

#include <algorithm>
#include <ctime>

namespace devserver::web {

namespace {

constexpr std::size_t kWorkerThreads = 4;
constexpr std::size_t kMaxRequestBytes = 64 * 1024;

// The processor's own look: it is not the service.
std::string processorPage(const std::string &title, const std::string &content)
{
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>" + htmlEscape(title) +
           "</title>\n<style>\nbody { margin: 0; font-family: \"DejaVu Sans\", Arial, sans-serif; background: "
           "#f4f1ea; color: #222; }\nheader { background: #2f2a24; color: #f4d58d; padding: 12px 28px; "
           "font-weight: bold; }\nmain { max-width: 520px; margin: 32px auto; background: #fff; padding: 20px "
           "28px; border: 1px solid #ddd3c2; border-radius: 6px; }\nlabel { display: block; margin: 10px 0 4px; "
           "}\ninput { width: 280px; padding: 6px; }\nbutton { margin-top: 14px; padding: 7px 16px; }\n"
           ".error { color: #a32020; }\n</style>\n</head>\n<body>\n<header>DevPay card processor "
           "(development)</header>\n<main>\n" +
           content + "\n</main>\n</body>\n</html>\n";
}

const char *const kHtml = "text/html; charset=utf-8";

} // namespace

bool validCardNumber(const std::string &typed)
{
    std::string digits;
    for (char c : typed) {
        if (c != ' ' && c != '-')
            digits += c;
    }
    if (digits.size() < 12 || digits.size() > 19
        || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    int sum = 0;
    bool twice = false;
    for (auto it = digits.rbegin(); it != digits.rend(); ++it) {
        int d = *it - '0';
        if (twice) {
            d *= 2;
            if (d > 9)
                d -= 9;
        }
        sum += d;
        twice = !twice;
    }
    return sum % 10 == 0;
}

CardProcessor::CardProcessor(Store &store)
    : store_(store)
{
}

CardProcessor::~CardProcessor()
{
    stop();
}

bool CardProcessor::bind(const std::string &address, int port, const std::string &certificate,
                         const std::string &key, std::string *errorText)
{
    server_ = std::make_unique<httplib::SSLServer>(certificate.c_str(), key.c_str());
    if (!server_->is_valid()) {
        if (errorText)
            *errorText = "cannot use the certificate " + certificate + " with the key " + key;
        return false;
    }
    setUpServer(*server_, kWorkerThreads, kMaxRequestBytes);
    server_->Post("/checkout", [this](const httplib::Request &req, httplib::Response &res) { checkout(req, res); });
    server_->Post("/charge", [this](const httplib::Request &req, httplib::Response &res) { charge(req, res); });
    if (port == 0) {
        port_ = server_->bind_to_any_port(address);
    } else {
        port_ = server_->bind_to_port(address, port) ? port : -1;
    }
    if (port_ <= 0) {
        if (errorText)
            *errorText = "cannot bind the card processor to " + address + ":" + std::to_string(port);
        return false;
    }
    return true;
}

void CardProcessor::serve(const std::string &serviceBase)
{
    serviceBase_ = serviceBase;
    thread_ = std::thread([this] { server_->listen_after_bind(); });
}

void CardProcessor::stop()
{
    if (thread_.joinable()) {
        server_->stop();
        thread_.join();
    }
}

namespace {

std::string cardForm(const std::string &token, const std::string &amount, const std::string &error)
{
    return "<h1>Pay " + amount + " to Ondavox</h1>\n" +
           (error.empty() ? std::string() : "<p class=\"error\" id=\"error\">" + htmlEscape(error) + "</p>\n") +
           "<form method=\"post\" action=\"/charge\">\n<input type=\"hidden\" name=\"token\" value=\"" +
           htmlEscape(token) +
           "\">\n<label for=\"holder\">Card holder</label><input id=\"holder\" name=\"holder\">\n"
           "<label for=\"card\">Card number</label><input id=\"card\" name=\"card\" value=\"4242 4242 4242 4242\">\n"
           "<label for=\"expiry\">Valid until (MM/YY)</label><input id=\"expiry\" name=\"expiry\" value=\"12/30\">\n"
           "<br><button type=\"submit\" id=\"confirm\">Pay " +
           amount + "</button>\n</form>\n<p>No card is charged: this processor is part of the development server.</p>";
}

} // namespace

void CardProcessor::checkout(const httplib::Request &req, httplib::Response &res)
{
    const FormFields f = FormFields::parse(req.body, true, Charset::Utf8);
    const auto payment = store_.payments().find(f.value("token"));
    if (!payment || payment->paidTime) {
        res.status = 404;
        res.set_content(processorPage("Card payment", "<h1>Unknown payment</h1>\n<p class=\"error\">This payment "
                                                      "is not open. Please start again from the Ondavox billing "
                                                      "page.</p>"),
                        kHtml);
        return;
    }
    res.set_content(processorPage("Card payment", cardForm(f.value("token"), dollars(payment->amountCents), {})),
                    kHtml);
}

void CardProcessor::charge(const httplib::Request &req, httplib::Response &res)
{
    const FormFields f = FormFields::parse(req.body, true, Charset::Utf8);
    const std::string token = f.value("token");
    const auto payment = store_.payments().find(token);
    if (!payment) {
        res.status = 404;
        res.set_content(processorPage("Card payment", "<h1>Unknown payment</h1>"), kHtml);
        return;
    }
    if (!validCardNumber(f.value("card"))) {
        res.set_content(processorPage("Card payment", cardForm(token, dollars(payment->amountCents),
                                                               "The card number is not valid. Nothing was charged.")),
                        kHtml);
        return;
    }
    store_.payments().complete(payment->accountId, token, static_cast<std::int64_t>(std::time(nullptr)));
    // Back to the service, which shows the outcome from its own records.
    res.set_redirect(serviceBase_ + "/Account/CardReturn.html?token=" + token, 303);
}

} // namespace devserver::web
