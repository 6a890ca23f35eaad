/* Internals of the module loader shared inside the security library: the start count kept with
 * the module cache, and the pieces of the signature check (SHA-0 digest, DSA verification with the
 * built-in key). Not exported. */
#ifndef QEL_MODULE_INTERNAL_H
#define QEL_MODULE_INTERNAL_H

#include <cstddef>
#include <cstdint>

namespace qel_module {

/* How many starts of the library are not yet ended. */
int start_count();

/* SHA-0, the first Secure Hash Algorithm (no rotation in the message schedule). Written here: no
 * current libcrypto has it, and an old one would export SHA_Init under its own name. */
class Sha0 {
public:
    static constexpr std::size_t kDigestSize = 20;
    Sha0();
    void update(const void* data, std::size_t size);
    void final(unsigned char digest[kDigestSize]);

private:
    void block(const unsigned char* p);
    std::uint32_t h_[5];
    unsigned char buffer_[64];
    std::size_t buffered_ = 0;
    std::uint64_t length_ = 0;
};

/* True when signature (DER) verifies the 20-byte digest with the built-in public key. */
bool verify_digest(const unsigned char* digest, const unsigned char* signature, int length);

}  // namespace qel_module

#endif
