// The service's web side: the softphone's web API and the account pages.
#pragma once

#include "faults.h"
#include "form_codec.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>

namespace httplib {
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace devserver {
class Store;
}

namespace devserver::web {

struct WebConfig {
    // The update reply: "false" without a version.
    std::optional<int> updateVersion;
    std::string updateUrlWin;
    std::string updateUrlMac;
    FaultTable faults;
    bool logRequests = false;
    // The most recent calls the history reply lists.
    std::size_t historyLimit = 200;
    // Where billing pages offer to pay by card (https://host:port), empty
    // for no card processor.
    std::string cardProcessor;
};

class WebServer {
public:
    WebServer(Store &store, WebConfig config);
    ~WebServer();
    WebServer(const WebServer &) = delete;
    WebServer &operator=(const WebServer &) = delete;

    // Binds the address and starts serving on a thread of its own. Port 0
    // takes any free port; port() then tells which.
    bool start(const std::string &address, int port, std::string *errorText);
    int port() const { return port_; }
    void stop();

private:
    using Request = httplib::Request;
    using Response = httplib::Response;

    void installRoutes();

    // The request's fields: body first, then the query.
    static FormFields fields(const Request &req, Charset charset);

    // Who calls a route of an account: the request's fields and the account
    // that its login key ("login", also as a multipart field) belongs to.
    struct Caller {
        std::int64_t accountId = 0;
        std::string key;
        FormFields fields;
    };
    using AccountHandler = void (WebServer::*)(const Request &, Response &, const Caller &);
    // What a route of an account answers without a valid login key.
    enum class LoggedOut { False, NoImage, LoginPage };
    // Serves pattern (GET and POST) to logged-in callers only.
    void accountRoute(const char *pattern, Charset charset, LoggedOut loggedOut, AccountHandler handler);
    static void replyLoginRequired(Response &res);

    // Web API of the softphone.
    void login(const Request &req, Response &res);
    void contacts(const Request &req, Response &res, const Caller &caller);
    void addContact(const Request &req, Response &res, const Caller &caller);
    void editContact(const Request &req, Response &res, const Caller &caller);
    void deleteContact(const Request &req, Response &res, const Caller &caller);
    void contactPhoto(const Request &req, Response &res, const Caller &caller);
    void placedCalls(const Request &req, Response &res, const Caller &caller);
    void credit(const Request &req, Response &res, const Caller &caller);
    void text(const Request &req, Response &res, const Caller &caller);
    void update(const Request &req, Response &res);

    // Pages.
    void accountRates(const Request &req, Response &res, const Caller &caller);
    void publicRates(const Request &req, Response &res);
    void webPhonebook(const Request &req, Response &res, const Caller &caller);
    void uploadPhoto(const Request &req, Response &res, const Caller &caller);
    void billing(const Request &req, Response &res, const Caller &caller);
    void pay(const Request &req, Response &res, const Caller &caller);
    void cardReturn(const Request &req, Response &res);
    void registerForm(const Request &req, Response &res);
    void registerAccount(const Request &req, Response &res);
    void home(const Request &req, Response &res);

    void showPhonebookPage(std::int64_t accountId, const std::string &key,
                           const std::string &notice, bool noticeIsError, Response &res);
    std::string ratesTable();

    Store &store_;
    WebConfig config_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
};

} // namespace devserver::web
