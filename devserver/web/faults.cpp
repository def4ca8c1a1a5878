#include "faults.h"

#include <algorithm>

namespace devserver::web {

const char *const kMalformedBody = "{\"result\":[{\"id\":\"1\",\"name\":";

namespace {

bool parseNumber(const std::string &text, int max, int *value)
{
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    *value = std::stoi(text);
    return *value <= max;
}

} // namespace

std::optional<std::string> addFault(FaultTable &table, const std::string &spec)
{
    const auto eq = spec.find('=');
    if (eq == std::string::npos || eq == 0)
        return "expected <path>=<kind>[:<arg>], got \"" + spec + "\"";
    const std::string path = spec.substr(0, eq);
    if (path != "*" && path[0] != '/')
        return "the path must start with \"/\" (or be \"*\"): \"" + path + "\"";
    const std::string rest = spec.substr(eq + 1);
    const auto colon = rest.find(':');
    const std::string kind = rest.substr(0, colon);
    const std::string arg = colon == std::string::npos ? std::string() : rest.substr(colon + 1);
    const bool hasArg = colon != std::string::npos;

    Fault fault;
    if (kind == "false" || kind == "malformed" || kind == "drop") {
        if (hasArg)
            return "the fault \"" + kind + "\" takes no argument";
        fault.kind = kind == "false" ? Fault::Kind::False
                   : kind == "malformed" ? Fault::Kind::Malformed : Fault::Kind::Drop;
    } else if (kind == "status") {
        if (!parseNumber(arg, 599, &fault.argument) || fault.argument < 200)
            return "status:<code> needs an HTTP status code from 200 to 599";
        fault.kind = Fault::Kind::Status;
    } else if (kind == "delay") {
        if (!parseNumber(arg, 600000, &fault.argument))
            return "delay:<ms> needs a number of milliseconds up to 600000";
        fault.kind = Fault::Kind::Delay;
    } else {
        return "unknown fault \"" + kind + "\" (false, malformed, status:<code>, delay:<ms>, drop)";
    }
    table[path] = fault;
    return std::nullopt;
}

const Fault *faultFor(const FaultTable &table, const std::string &path)
{
    auto it = table.find(path);
    if (it == table.end())
        it = table.find("*");
    return it == table.end() ? nullptr : &it->second;
}

} // namespace devserver::web
