#include "form_codec.h"

namespace devserver::web {

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isValidUtf8(const std::string &s)
{
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        std::size_t extra;
        unsigned int min;
        unsigned int cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1, min = 0x80, cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, min = 0x800, cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, min = 0x10000, cp = c & 0x07;
        } else {
            return false;
        }
        if (i + extra >= s.size())
            return false;
        for (std::size_t k = 1; k <= extra; ++k) {
            const auto cc = static_cast<unsigned char>(s[i + k]);
            if ((cc & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += extra + 1;
    }
    return true;
}

} // namespace

std::string percentDecode(const std::string &text, bool plusIsSpace)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '%' && i + 2 < text.size()) {
            const int hi = hexValue(text[i + 1]);
            const int lo = hexValue(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += (plusIsSpace && c == '+') ? ' ' : c;
    }
    return out;
}

std::string latin1ToUtf8(const std::string &bytes)
{
    std::string out;
    out.reserve(bytes.size());
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string utf8OrLatin1(const std::string &bytes)
{
    return isValidUtf8(bytes) ? bytes : latin1ToUtf8(bytes);
}

FormFields FormFields::parse(const std::string &text, bool plusIsSpace, Charset charset)
{
    FormFields fields;
    std::size_t start = 0;
    while (start <= text.size()) {
        std::size_t end = text.find('&', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string pair = text.substr(start, end - start);
        if (!pair.empty()) {
            const auto eq = pair.find('=');
            const std::string rawKey = pair.substr(0, eq);
            const std::string rawValue = eq == std::string::npos ? std::string() : pair.substr(eq + 1);
            auto decode = [&](const std::string &raw) {
                const std::string bytes = percentDecode(raw, plusIsSpace);
                return charset == Charset::Latin1 ? latin1ToUtf8(bytes) : utf8OrLatin1(bytes);
            };
            fields.pairs_.emplace_back(decode(rawKey), decode(rawValue));
        }
        start = end + 1;
    }
    return fields;
}

std::string FormFields::value(const std::string &key) const
{
    for (const auto &p : pairs_) {
        if (p.first == key)
            return p.second;
    }
    return {};
}

bool FormFields::has(const std::string &key) const
{
    for (const auto &p : pairs_) {
        if (p.first == key)
            return true;
    }
    return false;
}

void FormFields::append(const FormFields &other)
{
    pairs_.insert(pairs_.end(), other.pairs_.begin(), other.pairs_.end());
}

} // namespace devserver::web
