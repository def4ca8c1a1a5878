// The MD5 answer to an IAX2 challenge.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace iax2 {

// MD5(text) into digest; false when there is no digest to be had.
bool md5Digest(const std::string &text, std::array<std::uint8_t, 16> &digest);

// Lower-case hex of MD5(text); empty when there is no digest to be had.
std::string md5Hex(const std::string &text);

// What both sides compute for MD5 authentication: the challenge followed by the secret.
inline std::string md5ChallengeAnswer(const std::string &challenge, const std::string &secret)
{
    return md5Hex(challenge + secret);
}

} // namespace iax2
