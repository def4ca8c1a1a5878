// What calls and text messages cost: rules on plain values, apart from the
// database, so that each can be checked by itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace devserver {

struct Rate {
    std::string prefix;
    std::string description;
    std::int64_t perMinuteCents = 0;
    std::optional<std::int64_t> perTextCents;  // none: texts cannot go there
};

namespace charging {

// The rate for a number as dialled: the longest international prefix
// ("00...") it starts with; a service number (the echo test) only as a
// whole. Nothing when no rate applies (the number cannot be called).
std::optional<Rate> rateFor(const std::vector<Rate> &rates, const std::string &number);

// An answered call: every started minute from the answer at the rate, but
// never more than the credit left (prepaid; nothing when none is left).
std::int64_t callCost(std::int64_t answerTime, std::int64_t endTime, std::int64_t perMinuteCents,
                      std::int64_t creditCents);

// A call may start with some credit left and a rate for the number.
bool mayCall(const std::optional<Rate> &rate, std::int64_t creditCents);

// The price of a text message, when the rate takes texts and the credit
// covers it.
enum class TextCharge { Ok, NotToThisNumber, CreditTooLow };
TextCharge textCharge(const std::optional<Rate> &rate, std::int64_t creditCents);

} // namespace charging
} // namespace devserver
