// A card processor beside the service, on an origin of its own (HTTPS on
// another port): the billing page sends the subscriber there with the
// payment's one-time token, never the login key; the processor takes the
// card, adds the credit and sends the browser back to the service's receipt
// page, as a real payment provider does.
#pragma once

#include <memory>
#include <string>
#include <thread>

namespace httplib {
class SSLServer;
struct Request;
struct Response;
} // namespace httplib

namespace devserver {
class Store;
}

namespace devserver::web {

// Digits of a typed card number (spaces and dashes allowed between them)
// that pass the Luhn check.
bool validCardNumber(const std::string &typed);

class CardProcessor {
public:
    explicit CardProcessor(Store &store);
    ~CardProcessor();
    CardProcessor(const CardProcessor &) = delete;
    CardProcessor &operator=(const CardProcessor &) = delete;

    // Takes the certificate and key (PEM files) and binds address and port
    // (0: any free one), so that the service can name the processor before
    // either serves.
    bool bind(const std::string &address, int port, const std::string &certificate, const std::string &key,
              std::string *errorText);
    // Serves HTTPS on a thread of its own; receipts are at serviceBase
    // (e.g. http://127.0.0.1:8080).
    void serve(const std::string &serviceBase);
    int port() const { return port_; }
    void stop();

private:
    void checkout(const httplib::Request &req, httplib::Response &res);
    void charge(const httplib::Request &req, httplib::Response &res);

    Store &store_;
    std::string serviceBase_;
    std::unique_ptr<httplib::SSLServer> server_;
    std::thread thread_;
    int port_ = 0;
};

} // namespace devserver::web
