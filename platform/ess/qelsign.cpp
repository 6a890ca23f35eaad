// qelsign: the project's module-signing tool.
//   qelsign keygen <private-key.der> <public-key.inc>
//       makes a 512-bit DSA key (160-bit q); the private key (DER, mode 0600) stays where the build
//       puts it, the public values P (65 bytes), Q (21), G (64) and Y (64) go into an include for
//       the module loader.
//   qelsign sign <private-key.der> <library> <signed-library>
//       appends the DER signature of the library's SHA-0 digest and one byte of its length.
#define OPENSSL_SUPPRESS_DEPRECATED 1
#include <openssl/bn.h>
#include <openssl/dsa.h>
#include <openssl/err.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "qel_module_internal.h"

namespace {

constexpr int kKeyBits = 512;

int fail(const std::string& what) {
    std::fprintf(stderr, "qelsign: %s\n", what.c_str());
    ERR_print_errors_fp(stderr);
    return 1;
}

bool read_file(const std::string& path, std::vector<unsigned char>& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

/* Writes through a temporary file renamed over the target. */
bool write_file(const std::string& path, const void* data, size_t size, mode_t mode) {
    const std::string tmp = path + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) != 0 || !ok || chmod(tmp.c_str(), mode) != 0) return false;
    return std::rename(tmp.c_str(), path.c_str()) == 0;
}

std::string c_array(const char* name, const BIGNUM* value, int size) {
    std::vector<unsigned char> bytes(static_cast<size_t>(size));
    BN_bn2binpad(value, bytes.data(), size);
    std::ostringstream out;
    out << "static const unsigned char " << name << "[" << size << "] = {";
    for (int i = 0; i < size; ++i) {
        if (i % 12 == 0) out << "\n    ";
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02x,", bytes[static_cast<size_t>(i)]);
        out << hex << (i % 12 == 11 ? "" : " ");
    }
    out << "\n};\n";
    return out.str();
}

int keygen(const std::string& private_path, const std::string& include_path) {
    DSA* dsa = DSA_new();
    if (!dsa || DSA_generate_parameters_ex(dsa, kKeyBits, nullptr, 0, nullptr, nullptr, nullptr) != 1 ||
        DSA_generate_key(dsa) != 1)
        return fail("cannot make a DSA key");
    const BIGNUM *p, *q, *g, *y;
    DSA_get0_pqg(dsa, &p, &q, &g);
    DSA_get0_key(dsa, &y, nullptr);
    unsigned char* der = nullptr;
    const int der_len = i2d_DSAPrivateKey(dsa, &der);
    if (der_len <= 0) return fail("cannot encode the private key");
    const bool saved = write_file(private_path, der, static_cast<size_t>(der_len), 0600);
    OPENSSL_free(der);
    if (!saved) return fail("cannot write " + private_path);
    const std::string include = "/* Written by qelsign keygen: the public half of the module-signing key. */\n" +
                                c_array("kModuleKeyP", p, 65) + c_array("kModuleKeyQ", q, 21) +
                                c_array("kModuleKeyG", g, 64) + c_array("kModuleKeyY", y, 64);
    DSA_free(dsa);
    if (!write_file(include_path, include.data(), include.size(), 0644)) return fail("cannot write " + include_path);
    return 0;
}

int sign(const std::string& private_path, const std::string& in_path, const std::string& out_path) {
    std::vector<unsigned char> key;
    if (!read_file(private_path, key)) return fail("cannot read " + private_path);
    const unsigned char* k = key.data();
    DSA* dsa = d2i_DSAPrivateKey(nullptr, &k, static_cast<long>(key.size()));
    if (!dsa) return fail("not a DSA private key: " + private_path);
    std::vector<unsigned char> body;
    if (!read_file(in_path, body)) return fail("cannot read " + in_path);
    qel_module::Sha0 sha;
    sha.update(body.data(), body.size());
    unsigned char digest[qel_module::Sha0::kDigestSize];
    sha.final(digest);
    std::vector<unsigned char> signature(static_cast<size_t>(DSA_size(dsa)));
    unsigned int length = 0;
    if (DSA_sign(0, digest, sizeof digest, signature.data(), &length, dsa) != 1 || length == 0 || length > 255)
        return fail("cannot sign " + in_path);
    DSA_free(dsa);
    body.insert(body.end(), signature.begin(), signature.begin() + length);
    body.push_back(static_cast<unsigned char>(length));
    struct stat st;
    const mode_t mode = stat(in_path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0755;
    if (!write_file(out_path, body.data(), body.size(), mode)) return fail("cannot write " + out_path);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "keygen") == 0) return keygen(argv[2], argv[3]);
    if (argc == 5 && std::strcmp(argv[1], "sign") == 0) return sign(argv[2], argv[3], argv[4]);
    std::fprintf(stderr,
                 "usage: qelsign keygen <private-key.der> <public-key.inc>\n"
                 "       qelsign sign <private-key.der> <library> <signed-library>\n");
    return 2;
}
