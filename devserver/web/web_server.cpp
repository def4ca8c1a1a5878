#include "web_server.h"

#include "html.h"
#include "http_setup.h"

#include "../store.h"

#include <httplib.h>

#include <chrono>
#include <cstdio>
#include <exception>

namespace devserver::web {

namespace {

// The softphone opens a connection per request and keeps each alive for a
// while; enough workers that idle connections never starve new ones.
constexpr std::size_t kWorkerThreads = 32;
constexpr std::size_t kMaxRequestBytes = 8 * 1024 * 1024;

} // namespace

WebServer::WebServer(Store &store, WebConfig config)
    : store_(store), config_(std::move(config)), server_(std::make_unique<httplib::Server>())
{
    setUpServer(*server_, kWorkerThreads, kMaxRequestBytes);
    installRoutes();
}

WebServer::~WebServer()
{
    stop();
}

bool WebServer::start(const std::string &address, int port, std::string *errorText)
{
    if (port == 0) {
        port_ = server_->bind_to_any_port(address);
        if (port_ <= 0) {
            if (errorText)
                *errorText = "cannot bind to " + address;
            return false;
        }
    } else {
        if (!server_->bind_to_port(address, port)) {
            if (errorText)
                *errorText = "cannot bind to " + address + ":" + std::to_string(port);
            return false;
        }
        port_ = port;
    }
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    return true;
}

void WebServer::stop()
{
    if (thread_.joinable()) {
        server_->stop();
        thread_.join();
    }
}

FormFields WebServer::fields(const Request &req, Charset charset)
{
    FormFields result;
    if (!req.is_multipart_form_data())
        result = FormFields::parse(req.body, true, charset);
    const auto question = req.target.find('?');
    if (question != std::string::npos) {
        // A query keeps "+" as it is: the softphone encodes a plus as %2B
        // and an unencoded plus was meant as a plus.
        result.append(FormFields::parse(req.target.substr(question + 1), false, charset));
    }
    return result;
}

void WebServer::accountRoute(const char *pattern, Charset charset, LoggedOut loggedOut, AccountHandler handler)
{
    auto call = [this, charset, loggedOut, handler](const Request &req, Response &res) {
        Caller caller;
        caller.fields = fields(req, charset);
        caller.key = caller.fields.value("login");
        if (caller.key.empty() && req.has_file("login"))
            caller.key = req.get_file_value("login").content;
        const auto accountId = store_.accounts().accountForKey(caller.key);
        if (!accountId) {
            switch (loggedOut) {
            case LoggedOut::False:
                res.set_content("false", "application/json");
                break;
            case LoggedOut::NoImage:
                res.status = 404;
                res.set_content("", "image/png");
                break;
            case LoggedOut::LoginPage:
                replyLoginRequired(res);
                break;
            }
            return;
        }
        caller.accountId = *accountId;
        (this->*handler)(req, res, caller);
    };
    server_->Get(pattern, call);
    server_->Post(pattern, call);
}

void WebServer::installRoutes()
{
    auto &s = *server_;
    auto route = [&s, this](const char *pattern, void (WebServer::*handler)(const Request &, Response &)) {
        auto call = [this, handler](const Request &req, Response &res) { (this->*handler)(req, res); };
        s.Get(pattern, call);
        s.Post(pattern, call);
    };

    // The softphone's API speaks Latin-1; the pages UTF-8.
    const auto api = [this](const char *pattern, AccountHandler handler) {
        accountRoute(pattern, Charset::Latin1, LoggedOut::False, handler);
    };
    const auto page = [this](const char *pattern, AccountHandler handler) {
        accountRoute(pattern, Charset::Utf8, LoggedOut::LoginPage, handler);
    };
    route(R"(/Webservices/login\.php)", &WebServer::login);
    api(R"(/Webservices/contacts\.php)", &WebServer::contacts);
    api(R"(/Phonebook/AddContactAPI\.html)", &WebServer::addContact);
    api(R"(/Phonebook/EditContactAPI\.html)", &WebServer::editContact);
    api(R"(/Phonebook/DeleteContact\.html)", &WebServer::deleteContact);
    accountRoute(R"(/Phonebook/GetContactPhoto\.html)", Charset::Latin1, LoggedOut::NoImage, &WebServer::contactPhoto);
    api(R"(/History/PlacedCallsDataAPI\.html)", &WebServer::placedCalls);
    api(R"(/Credit/GetCredit\.html)", &WebServer::credit);
    api(R"(/Phonebook/Text\.html)", &WebServer::text);
    route(R"(/update\.php)", &WebServer::update);

    page(R"(/Rates/ViewRates\.html)", &WebServer::accountRates);
    route(R"(/Home/Rates\.html)", &WebServer::publicRates);
    page(R"(/Phonebook/Phonebook\.html)", &WebServer::webPhonebook);
    page(R"(/Phonebook/UploadPhoto\.html)", &WebServer::uploadPhoto);
    page(R"(/Account/BillingInfo\.html)", &WebServer::billing);
    page(R"(/Account/Pay\.html)", &WebServer::pay);
    route(R"(/Account/CardReturn\.html)", &WebServer::cardReturn);
    s.Get(R"(/Account/Register\.html)", [this](const Request &req, Response &res) { registerForm(req, res); });
    s.Post(R"(/Account/Register\.html)", [this](const Request &req, Response &res) { registerAccount(req, res); });
    route(R"(/)", &WebServer::home);

    s.set_pre_routing_handler([this](const Request &req, Response &res) {
        const Fault *fault = faultFor(config_.faults, req.path);
        if (!fault)
            return httplib::Server::HandlerResponse::Unhandled;
        switch (fault->kind) {
        case Fault::Kind::False:
            res.set_content("false", "application/json");
            break;
        case Fault::Kind::Malformed:
            res.set_content(kMalformedBody, "application/json");
            break;
        case Fault::Kind::Status:
            res.status = fault->argument;
            res.set_content("<html><body>Error " + std::to_string(fault->argument) + "</body></html>",
                            "text/html");
            break;
        case Fault::Kind::Delay:
            std::this_thread::sleep_for(std::chrono::milliseconds(fault->argument));
            return httplib::Server::HandlerResponse::Unhandled;
        case Fault::Kind::Drop:
            // Announces a body and closes the connection before sending any of it.
            res.set_content_provider(
                64, "application/json",
                [](std::size_t, std::size_t, httplib::DataSink &) { return false; });
            break;
        }
        return httplib::Server::HandlerResponse::Handled;
    });

    s.set_exception_handler([](const Request &req, Response &res, std::exception_ptr ep) {
        std::string what = "unknown error";
        try {
            std::rethrow_exception(ep);
        } catch (const std::exception &e) {
            what = e.what();
        } catch (...) {
        }
        std::fprintf(stderr, "ondavox-devserver: %s %s failed: %s\n", req.method.c_str(),
                     req.path.c_str(), what.c_str());
        res.status = 500;
        res.set_content("false", "application/json");
    });

    s.set_error_handler(httplib::Server::HandlerWithResponse([](const Request &, Response &res) {
        // Only for replies that no handler wrote (unknown paths, bad requests).
        if (!res.body.empty() || res.has_header("Content-Type"))
            return httplib::Server::HandlerResponse::Unhandled;
        const bool notFound = res.status == 404;
        const std::string title = notFound ? "Page not found" : "Error " + std::to_string(res.status);
        res.set_content(renderPage(title, "<h1>" + title + "</h1><p>" +
                                              (notFound ? "There is no page at this address."
                                                        : "The request could not be handled.") +
                                              "</p>"),
                        "text/html; charset=utf-8");
        return httplib::Server::HandlerResponse::Handled;
    }));

    if (config_.logRequests) {
        s.set_logger([](const Request &req, const Response &res) {
            std::fprintf(stderr, "%s %s %d\n", req.method.c_str(), req.path.c_str(), res.status);
        });
    }
}

} // namespace devserver::web
