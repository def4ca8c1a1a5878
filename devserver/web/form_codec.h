// Decoding of query strings and application/x-www-form-urlencoded bodies.
//
// The softphone percent-encodes the Latin-1 bytes of each value; the pages'
// own forms are sent by a browser as UTF-8. Both end up as UTF-8 here.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace devserver::web {

enum class Charset { Latin1, Utf8 };

// Percent-decodes; malformed escapes are kept as they are.
std::string percentDecode(const std::string &text, bool plusIsSpace);
std::string latin1ToUtf8(const std::string &bytes);
// UTF-8 when the bytes are valid UTF-8, otherwise taken as Latin-1.
std::string utf8OrLatin1(const std::string &bytes);

class FormFields {
public:
    // key=value pairs separated by "&"; a pair without "=" has an empty value.
    static FormFields parse(const std::string &text, bool plusIsSpace, Charset charset);

    // The first value given for the key, or empty text.
    std::string value(const std::string &key) const;
    bool has(const std::string &key) const;
    const std::vector<std::pair<std::string, std::string>> &pairs() const { return pairs_; }
    void append(const FormFields &other);

private:
    std::vector<std::pair<std::string, std::string>> pairs_;
};

} // namespace devserver::web
