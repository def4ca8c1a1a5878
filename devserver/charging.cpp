#include "charging.h"

#include <algorithm>

namespace devserver::charging {

std::optional<Rate> rateFor(const std::vector<Rate> &rates, const std::string &number)
{
    if (number.empty())
        return std::nullopt;
    const Rate *best = nullptr;
    for (const Rate &rate : rates) {
        const bool international = rate.prefix.compare(0, 2, "00") == 0;
        const bool matches = international ? number.compare(0, rate.prefix.size(), rate.prefix) == 0
                                           : number == rate.prefix;
        if (matches && (!best || rate.prefix.size() > best->prefix.size()))
            best = &rate;
    }
    return best ? std::optional<Rate>(*best) : std::nullopt;
}

std::int64_t callCost(std::int64_t answerTime, std::int64_t endTime, std::int64_t perMinuteCents,
                      std::int64_t creditCents)
{
    const std::int64_t seconds = std::max<std::int64_t>(endTime - answerTime, 0);
    const std::int64_t startedMinutes = (seconds + 59) / 60;
    return std::min(startedMinutes * perMinuteCents, std::max<std::int64_t>(creditCents, 0));
}

bool mayCall(const std::optional<Rate> &rate, std::int64_t creditCents)
{
    return rate.has_value() && creditCents > 0;
}

TextCharge textCharge(const std::optional<Rate> &rate, std::int64_t creditCents)
{
    if (!rate || !rate->perTextCents)
        return TextCharge::NotToThisNumber;
    return creditCents < *rate->perTextCents ? TextCharge::CreditTooLow : TextCharge::Ok;
}

} // namespace devserver::charging
