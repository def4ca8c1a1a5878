// JSON replies in pure ASCII: the softphone reads replies as Latin-1, so
// every character beyond ASCII travels as a \u escape.
#pragma once

#include <cstdint>
#include <string>

namespace devserver::web {

// The UTF-8 text as a quoted JSON string. Invalid UTF-8 becomes U+FFFD.
std::string jsonString(const std::string &utf8);

// Builds one object, members in the order they are added.
class JsonObject {
public:
    JsonObject &add(const std::string &key, const std::string &text);
    JsonObject &add(const std::string &key, const char *text) { return add(key, std::string(text)); }
    JsonObject &add(const std::string &key, std::int64_t number);
    JsonObject &add(const std::string &key, int number) { return add(key, static_cast<std::int64_t>(number)); }
    JsonObject &add(const std::string &key, bool value);
    // value must already be JSON (an array or object made here).
    JsonObject &addRaw(const std::string &key, const std::string &json);
    std::string str() const { return body_ + "}"; }

private:
    void key(const std::string &k);
    std::string body_ = "{";
};

} // namespace devserver::web
