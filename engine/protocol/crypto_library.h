// OpenSSL's libcrypto, opened the first time a digest, a cipher or random
// bytes are needed rather than loaded with the program: a program that only
// shows its login window has no use for it, and loading and relocating it
// is a measurable part of such a start.
#pragma once

#include <openssl/evp.h>
#include <openssl/rand.h>

namespace iax2::crypto {

struct Library {
    decltype(&EVP_md5) md5 = nullptr;
    decltype(&EVP_Digest) digest = nullptr;
    decltype(&EVP_aes_128_cbc) aes128Cbc = nullptr;
    decltype(&EVP_CIPHER_CTX_new) newContext = nullptr;
    decltype(&EVP_CIPHER_CTX_free) freeContext = nullptr;
    decltype(&EVP_CIPHER_CTX_set_padding) setPadding = nullptr;
    decltype(&EVP_EncryptInit_ex) encryptInit = nullptr;
    decltype(&EVP_EncryptUpdate) encryptUpdate = nullptr;
    decltype(&EVP_DecryptInit_ex) decryptInit = nullptr;
    decltype(&EVP_DecryptUpdate) decryptUpdate = nullptr;
    decltype(&RAND_bytes) randomBytes = nullptr;
};

// The library, opened once and kept for the life of the process; null
// where it cannot be opened, which makes every digest and cipher fail.
const Library *library();

} // namespace iax2::crypto
