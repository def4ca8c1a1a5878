#include "frame_cipher.h"

#include "iax2_constants.h"

#include "crypto_library.h"
#include "md5.h"

#include <cstring>

namespace iax2 {

namespace {

constexpr std::size_t kBlock = 16;
constexpr std::size_t kMinPadding = 16; // the padding always holds the length nibble's block

// How many leading bytes stay in the clear: the call numbers of a full
// frame, the source call number of a mini frame.
std::optional<std::size_t> clearBytes(const std::uint8_t *data, std::size_t size)
{
    switch (classifyDatagram(data, size)) {
    case DatagramKind::Full: return 4;
    case DatagramKind::Mini: return 2;
    default: return std::nullopt;
    }
}

// The smallest frame that may be left once the padding is gone: a full
// frame's timestamp, sequence numbers, type and subclass; a mini frame's timestamp.
std::size_t minimumBody(std::size_t clear)
{
    return clear == 4 ? kFullHeaderSize - 4 : kMiniHeaderSize - 2;
}

struct CipherContext {
    explicit CipherContext(const crypto::Library *library) : lib(library), ctx(library ? library->newContext() : nullptr) {}
    ~CipherContext()
    {
        if (ctx)
            lib->freeContext(ctx);
    }
    CipherContext(const CipherContext &) = delete;
    CipherContext &operator=(const CipherContext &) = delete;
    const crypto::Library *lib;
    EVP_CIPHER_CTX *ctx;
};

} // namespace

struct FrameCipher::Contexts {
    const crypto::Library *lib = crypto::library();
    CipherContext encrypt{lib};
    CipherContext decrypt{lib};
    bool ready = false;
};

bool plausibleOpenedVoice(std::uint32_t format, const Bytes &payload)
{
    constexpr std::size_t kGsmFrameBytes = 33;
    if (payload.empty())
        return false;
    if (format != format::Gsm)
        return true;
    if (payload.size() % kGsmFrameBytes != 0)
        return false;
    // Each GSM 06.10 frame begins with the signature nibble 0xD.
    for (std::size_t at = 0; at < payload.size(); at += kGsmFrameBytes)
        if ((payload[at] >> 4) != 0xd)
            return false;
    return true;
}

bool plausibleOpenedFrame(const FullFrame &f)
{
    if (f.type < frametype::DtmfEnd || f.type > frametype::DtmfBegin)
        return false;
    return f.type != frametype::Voice || plausibleOpenedVoice(f.subclass, f.payload);
}

AesKey challengeKey(const std::string &challenge, const std::string &secret)
{
    AesKey key{};
    if (!md5Digest(challenge + secret, key))
        key.fill(0);
    return key;
}

FrameCipher::FrameCipher(const AesKey &key) : contexts_(std::make_unique<Contexts>())
{
    // The chaining starts from a zero IV for every frame, so the contexts
    // keep the key schedule and only the IV is set again per frame.
    const unsigned char zero[kBlock] = {};
    Contexts &c = *contexts_;
    const crypto::Library *lib = c.lib;
    c.ready = c.encrypt.ctx && c.decrypt.ctx
              && lib->encryptInit(c.encrypt.ctx, lib->aes128Cbc(), nullptr, key.data(), zero) == 1
              && lib->decryptInit(c.decrypt.ctx, lib->aes128Cbc(), nullptr, key.data(), zero) == 1
              && lib->setPadding(c.encrypt.ctx, 0) == 1 && lib->setPadding(c.decrypt.ctx, 0) == 1;
}

FrameCipher::~FrameCipher() = default;

Bytes FrameCipher::seal(const Bytes &datagram) const
{
    const auto clear = clearBytes(datagram.data(), datagram.size());
    if (!clear || !contexts_->ready)
        return {};
    const std::size_t body = datagram.size() - *clear;
    const std::size_t padding = kMinPadding + (kBlock - body % kBlock) % kBlock;
    Bytes plain(padding + body);
    // The padding leads the first block: fresh random bytes there make equal
    // frames differ on the wire, as an IV would.
    const crypto::Library *lib = contexts_->lib;
    if (lib->randomBytes(plain.data(), static_cast<int>(padding)) != 1)
        return {};
    plain[15] = static_cast<std::uint8_t>((plain[15] & 0xf0) | (padding - kMinPadding));
    std::memcpy(plain.data() + padding, datagram.data() + *clear, body);

    Bytes out(*clear + plain.size());
    std::memcpy(out.data(), datagram.data(), *clear);
    EVP_CIPHER_CTX *ctx = contexts_->encrypt.ctx;
    int written = 0;
    if (lib->encryptInit(ctx, nullptr, nullptr, nullptr, std::array<std::uint8_t, kBlock>{}.data()) != 1
        || lib->encryptUpdate(ctx, out.data() + *clear, &written, plain.data(), static_cast<int>(plain.size())) != 1
        || static_cast<std::size_t>(written) != plain.size())
        return {};
    return out;
}

std::optional<Bytes> FrameCipher::open(const std::uint8_t *data, std::size_t size) const
{
    const auto clear = clearBytes(data, size);
    if (!clear || !contexts_->ready)
        return std::nullopt;
    const std::size_t body = size - *clear;
    if (body < 2 * kBlock || body % kBlock != 0 || body > 0xffff)
        return std::nullopt;
    Bytes plain(body);
    const crypto::Library *lib = contexts_->lib;
    EVP_CIPHER_CTX *ctx = contexts_->decrypt.ctx;
    int written = 0;
    if (lib->decryptInit(ctx, nullptr, nullptr, nullptr, std::array<std::uint8_t, kBlock>{}.data()) != 1
        || lib->decryptUpdate(ctx, plain.data(), &written, data + *clear, static_cast<int>(body)) != 1
        || static_cast<std::size_t>(written) != body)
        return std::nullopt;
    const std::size_t padding = kMinPadding + (plain[15] & 0x0f);
    if (body < padding + minimumBody(*clear))
        return std::nullopt;
    Bytes out(*clear + body - padding);
    std::memcpy(out.data(), data, *clear);
    std::memcpy(out.data() + *clear, plain.data() + padding, body - padding);
    return out;
}

} // namespace iax2
