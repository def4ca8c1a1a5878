#include "common.h"

#include <QRandomGenerator>

#include <algorithm>

namespace devserver {

std::string trimmed(const std::string &s)
{
    const auto first = s.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r\n");
    return s.substr(first, last - first + 1);
}

bool allDigits(const std::string &s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::size_t utf8Length(const std::string &s)
{
    return static_cast<std::size_t>(
        std::count_if(s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string randomText(int length, const char *alphabet)
{
    const int n = static_cast<int>(std::char_traits<char>::length(alphabet));
    std::string out;
    out.reserve(length);
    for (int i = 0; i < length; ++i)
        out += alphabet[QRandomGenerator::system()->bounded(n)];
    return out;
}

std::string newKey() { return randomText(32, "0123456789abcdef"); }

std::optional<std::int64_t> parseDecimal(const std::string &text)
{
    const std::string t = trimmed(text);
    if (t.empty() || t.size() > 18 || !allDigits(t))
        return std::nullopt;
    return std::stoll(t);
}

std::string formatCents(std::int64_t cents)
{
    const bool negative = cents < 0;
    const std::uint64_t abs = negative ? static_cast<std::uint64_t>(-(cents + 1)) + 1
                                       : static_cast<std::uint64_t>(cents);
    std::string frac = std::to_string(abs % 100);
    if (frac.size() < 2)
        frac.insert(0, "0");
    return (negative ? "-" : "") + std::to_string(abs / 100) + "." + frac;
}

} // namespace devserver
