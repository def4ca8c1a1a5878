#include "json_writer.h"

#include <cstdio>

namespace devserver::web {

namespace {

void appendEscape(std::string &out, unsigned int unit)
{
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\u%04x", unit & 0xFFFFu);
    out += buf;
}

// Reads one code point at i, advancing i; invalid sequences give U+FFFD.
unsigned int nextCodePoint(const std::string &s, std::size_t &i)
{
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t extra = 0;
    unsigned int cp = 0;
    unsigned int min = 0;
    if (c < 0x80) {
        ++i;
        return c;
    }
    if ((c & 0xE0) == 0xC0)
        extra = 1, cp = c & 0x1F, min = 0x80;
    else if ((c & 0xF0) == 0xE0)
        extra = 2, cp = c & 0x0F, min = 0x800;
    else if ((c & 0xF8) == 0xF0)
        extra = 3, cp = c & 0x07, min = 0x10000;
    else {
        ++i;
        return 0xFFFD;
    }
    if (i + extra >= s.size()) {
        ++i;
        return 0xFFFD;
    }
    for (std::size_t k = 1; k <= extra; ++k) {
        const auto cc = static_cast<unsigned char>(s[i + k]);
        if ((cc & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (cc & 0x3F);
    }
    i += extra + 1;
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0xFFFD;
    return cp;
}

} // namespace

std::string jsonString(const std::string &utf8)
{
    std::string out = "\"";
    std::size_t i = 0;
    while (i < utf8.size()) {
        const unsigned int cp = nextCodePoint(utf8, i);
        switch (cp) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (cp < 0x20 || cp == 0x7F) {
                appendEscape(out, cp);
            } else if (cp < 0x80) {
                out += static_cast<char>(cp);
            } else if (cp < 0x10000) {
                appendEscape(out, cp);
            } else {
                const unsigned int v = cp - 0x10000;
                appendEscape(out, 0xD800 + (v >> 10));
                appendEscape(out, 0xDC00 + (v & 0x3FF));
            }
        }
    }
    out += '"';
    return out;
}

void JsonObject::key(const std::string &k)
{
    if (body_.size() > 1)
        body_ += ',';
    body_ += jsonString(k);
    body_ += ':';
}

JsonObject &JsonObject::add(const std::string &k, const std::string &text)
{
    key(k);
    body_ += jsonString(text);
    return *this;
}

JsonObject &JsonObject::add(const std::string &k, std::int64_t number)
{
    key(k);
    body_ += std::to_string(number);
    return *this;
}

JsonObject &JsonObject::add(const std::string &k, bool value)
{
    key(k);
    body_ += value ? "true" : "false";
    return *this;
}

JsonObject &JsonObject::addRaw(const std::string &k, const std::string &json)
{
    key(k);
    body_ += json;
    return *this;
}

} // namespace devserver::web
