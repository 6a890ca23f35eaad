// Base64 decoding of central-profile data: any text, any length.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "be_def.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    int n = -1;
    unsigned char* out = base64_decode(text.data(), static_cast<int>(text.size()), &n);
    std::free(out);
    return 0;
}
