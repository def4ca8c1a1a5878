#include "crypto_library.h"

#include <dlfcn.h>

namespace iax2::crypto {

namespace {

template <typename Function>
bool resolve(void *handle, const char *name, Function &into)
{
    into = reinterpret_cast<Function>(::dlsym(handle, name));
    return into != nullptr;
}

} // namespace

const Library *library()
{
    static const Library *const opened = []() -> const Library * {
        static Library lib;
        void *handle = ::dlopen("libcrypto.so.3", RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        if (!handle)
            return nullptr;
        const bool complete = resolve(handle, "EVP_md5", lib.md5) && resolve(handle, "EVP_Digest", lib.digest)
                              && resolve(handle, "EVP_aes_128_cbc", lib.aes128Cbc)
                              && resolve(handle, "EVP_CIPHER_CTX_new", lib.newContext)
                              && resolve(handle, "EVP_CIPHER_CTX_free", lib.freeContext)
                              && resolve(handle, "EVP_CIPHER_CTX_set_padding", lib.setPadding)
                              && resolve(handle, "EVP_EncryptInit_ex", lib.encryptInit)
                              && resolve(handle, "EVP_EncryptUpdate", lib.encryptUpdate)
                              && resolve(handle, "EVP_DecryptInit_ex", lib.decryptInit)
                              && resolve(handle, "EVP_DecryptUpdate", lib.decryptUpdate)
                              && resolve(handle, "RAND_bytes", lib.randomBytes);
        return complete ? &lib : nullptr;
    }();
    return opened;
}

} // namespace iax2::crypto
