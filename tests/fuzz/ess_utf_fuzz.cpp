// Feeds arbitrary bytes to the security library's UTF-8 functions: the length functions, UTF-8 to
// UTF-16 (a size query, then that size) and back, and the wildcard matcher with the input split
// into text and pattern. Nothing may read past the input or write past the output.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "ess_str_utils.h"
#include "globalchelper.h"
#include "quiet_output.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 4096) return 0;
    // Exactly the input's bytes, without a terminator, for the counted forms.
    std::vector<char> bytes(data, data + size);
    const int len = static_cast<int>(size);
    const int needed = UTF8_to_UTF16(nullptr, 0, bytes.data(), len);
    if (needed < 0) __builtin_trap();
    std::vector<GCUchar> units(static_cast<size_t>(needed) + 1);
    const int n = UTF8_to_UTF16(units.data(), needed + 1, bytes.data(), len);
    if (n < 0 || n > needed) __builtin_trap();
    const int out_needed = UTF16_to_UTF8(nullptr, 0, units.data(), n);
    std::vector<char> back(static_cast<size_t>(out_needed) + 1);
    if (UTF16_to_UTF8(back.data(), out_needed + 1, units.data(), n) != out_needed) __builtin_trap();

    // The terminated forms.
    std::string text(reinterpret_cast<const char*>(data), size);
    const char* c = text.c_str();
    if (UTF8_mbslen_bytes(c) != static_cast<int>(std::strlen(c)) + 1) __builtin_trap();
    const int tneeded = UTF8_to_UTF16(nullptr, 0, c, -1);
    std::vector<GCUchar> tunits(static_cast<size_t>(tneeded) + 1);
    UTF8_to_UTF16(tunits.data(), tneeded + 1, c, -1);

    const size_t cut = size == 0 ? 0 : data[0] % (size + 1);
    std::string subject = text.substr(0, cut);
    std::string pattern = cut < size ? text.substr(cut) : std::string();
    ESS_WILD_match(subject.c_str(), pattern.c_str());
    return 0;
}
