// The MD5 answer to an IAX2 challenge.
#pragma once

#include <string>

namespace iax2 {

// Lower-case hex of MD5(text).
std::string md5Hex(const std::string &text);

// What both sides compute for MD5 authentication: the challenge followed by the secret.
inline std::string md5ChallengeAnswer(const std::string &challenge, const std::string &secret)
{
    return md5Hex(challenge + secret);
}

} // namespace iax2
