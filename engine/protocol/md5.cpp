#include "md5.h"

#include "crypto_library.h"

namespace iax2 {

bool md5Digest(const std::string &text, std::array<std::uint8_t, 16> &digest)
{
    const crypto::Library *lib = crypto::library();
    unsigned int len = 0;
    return lib && lib->digest(text.data(), text.size(), digest.data(), &len, lib->md5(), nullptr) == 1
           && len == digest.size();
}

std::string md5Hex(const std::string &text)
{
    std::array<std::uint8_t, 16> digest{};
    if (!md5Digest(text, digest))
        return {};
    static const char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(digest.size() * 2);
    for (const std::uint8_t byte : digest) {
        out.push_back(hex[byte >> 4]);
        out.push_back(hex[byte & 0xf]);
    }
    return out;
}

} // namespace iax2
