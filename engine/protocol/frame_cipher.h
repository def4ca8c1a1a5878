// AES-128 encryption of a dialog's datagrams, in the form Asterisk's
// chan_iax2 uses: the call numbers stay readable, everything after them is
// encrypted behind 16 to 31 bytes of padding, blocks chained with a zero IV.
#pragma once

#include "frame.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace iax2 {

using AesKey = std::array<std::uint8_t, 16>;

// The key both ends derive from an MD5 challenge: MD5 of the challenge text
// followed by the secret (the digest whose hex is the MD5 result).
AesKey challengeKey(const std::string &challenge, const std::string &secret);

// What a frame that opened must look like to be taken for one a peer sent.
// Without a key anyone can send bytes of a length that opens; what they
// open to is noise, which these checks turn away nearly always: a frame
// type that exists (1 to 12), and GSM voice in whole 33-byte frames, each
// with the 0xD signature nibble of GSM 06.10.
bool plausibleOpenedFrame(const FullFrame &frame);
bool plausibleOpenedVoice(std::uint32_t format, const Bytes &payload);

class FrameCipher {
public:
    explicit FrameCipher(const AesKey &key);
    ~FrameCipher();
    FrameCipher(const FrameCipher &) = delete;
    FrameCipher &operator=(const FrameCipher &) = delete;

    // A full or mini frame, encoded, made into what goes on the wire. Empty
    // for something that is neither (too short, a meta frame).
    Bytes seal(const Bytes &datagram) const;
    // The encoded frame back from the wire; nothing when the datagram cannot
    // be one of ours: wrong size, or padding that leaves too little frame.
    std::optional<Bytes> open(const std::uint8_t *data, std::size_t size) const;

private:
    struct Contexts;
    std::unique_ptr<Contexts> contexts_;
};

} // namespace iax2
