/* DSA verification of a module's digest with the public key built into the library. The key comes
 * from qel_module_key.inc, which the build writes when it makes the project's signing key; the
 * private half stays in the build tree. The DSA calls are deprecated in OpenSSL 3 but are the ones
 * that take the four key values directly, so this file alone silences that warning. */
#define OPENSSL_SUPPRESS_DEPRECATED 1
#include <openssl/bn.h>
#include <openssl/dsa.h>
#include <openssl/err.h>

#include "qel_module_internal.h"

namespace qel_module {

namespace {

#include "qel_module_key.inc"

static_assert(sizeof kModuleKeyP == 65 && sizeof kModuleKeyQ == 21 && sizeof kModuleKeyG == 64 &&
                  sizeof kModuleKeyY == 64,
              "the module key has the sizes the signed file format fixes");

BIGNUM* bn(const unsigned char* bytes, int size) { return BN_bin2bn(bytes, size, nullptr); }

}  // namespace

bool verify_digest(const unsigned char* digest, const unsigned char* signature, int length) {
    DSA* dsa = DSA_new();
    if (!dsa) return false;
    BIGNUM* p = bn(kModuleKeyP, sizeof kModuleKeyP);
    BIGNUM* q = bn(kModuleKeyQ, sizeof kModuleKeyQ);
    BIGNUM* g = bn(kModuleKeyG, sizeof kModuleKeyG);
    BIGNUM* y = bn(kModuleKeyY, sizeof kModuleKeyY);
    bool ok = false;
    if (p && q && g && y && DSA_set0_pqg(dsa, p, q, g) == 1) {
        p = q = g = nullptr;  // owned by dsa now
        if (DSA_set0_key(dsa, y, nullptr) == 1) {
            y = nullptr;
            ok = DSA_verify(0, digest, static_cast<int>(Sha0::kDigestSize), signature, length, dsa) == 1;
        }
    }
    BN_free(p);
    BN_free(q);
    BN_free(g);
    BN_free(y);
    DSA_free(dsa);
    ERR_clear_error();  // a refused signature leaves nothing for later OpenSSL users
    return ok;
}

}  // namespace qel_module
