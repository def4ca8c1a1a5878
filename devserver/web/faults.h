// Faults to inject on chosen paths, so that tests (and people) can see how
// the softphone copes with a service that misbehaves.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace devserver::web {

struct Fault {
    enum class Kind {
        False,      // the reply is the text "false"
        Malformed,  // the reply is a cut-off JSON document
        Status,     // the reply has the HTTP status `argument` and no useful body
        Delay,      // the real reply, `argument` milliseconds late
        Drop,       // the connection closes after the headers, before any body byte
    };
    Kind kind = Kind::False;
    int argument = 0;
};

// Path ("/Credit/GetCredit.html", or "*" for every path) to fault.
using FaultTable = std::map<std::string, Fault>;

// Parses "<path>=<kind>[:<arg>]" into the table; returns an error text on failure.
std::optional<std::string> addFault(FaultTable &table, const std::string &spec);

// The fault for a request path, if any.
const Fault *faultFor(const FaultTable &table, const std::string &path);

// The body a malformed reply carries: neither "false" nor valid JSON.
extern const char *const kMalformedBody;

} // namespace devserver::web
