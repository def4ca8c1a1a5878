// What the store's parts share: the outcome of a change, and the rules for
// the texts that forms send.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace devserver {

// Outcome of a change: on failure, error holds the text shown to the user.
struct ChangeResult {
    bool ok = false;
    std::string error;
    std::int64_t id = 0;  // the new contact's or account's id, when there is one

    static ChangeResult failure(std::string text) { return {false, std::move(text), 0}; }
    static ChangeResult success(std::int64_t newId = 0) { return {true, {}, newId}; }
};

// An id or a position as a form sends it: 1 to 18 decimal digits, blanks
// around them allowed; nothing for anything else.
std::optional<std::int64_t> parseDecimal(const std::string &text);

// Money as the service shows it: "10.00".
std::string formatCents(std::int64_t cents);

// Without blanks and line ends at either end.
std::string trimmed(const std::string &s);
// True for the empty text too.
bool allDigits(const std::string &s);
// Characters, not bytes, of UTF-8 text.
std::size_t utf8Length(const std::string &s);
// length characters drawn from alphabet by the system's random source.
std::string randomText(int length, const char *alphabet);
// A login key or payment token: 32 lower-case hex digits.
std::string newKey();

} // namespace devserver
