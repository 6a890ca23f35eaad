// Feeds arbitrary text to the Blowfish value decryption: it must refuse or decrypt, never read or
// write outside the buffer, and leave the buffer as it was when it refuses.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "gm_blowf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 10000) return 0;
    // The first byte picks the buffer size relative to the text, the rest is the text.
    const int slack = data[0] % 8;
    std::vector<char> buf(size - 1 + static_cast<size_t>(slack));
    if (buf.empty()) return 0;
    std::memcpy(buf.data(), data + 1, size - 1);
    const std::vector<char> before = buf;
    if (GM_BLOWF_decrypt(buf.data(), static_cast<int>(buf.size())) != CM_RC_OK && buf != before) __builtin_trap();
    return 0;
}
