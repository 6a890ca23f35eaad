// Feeds arbitrary locale names and text items to the locale layer: a name (with options) makes a
// locale or fails with a code, then arbitrary texts are set as arbitrary items, the territory and
// code page changed by name, and the locale released. Nothing may be read or written out of
// bounds, and nothing may leak.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "gc.h"

namespace {

void start() {
    static const bool started = [] {
        if (GCInit(APPBRIDGE_LOCALE_DATA_DIR, nullptr, nullptr, nullptr, GC_INIT_STRICT) != GC_OK) std::abort();
        unsetenv("GC_LANG");
        return true;
    }();
    (void)started;
}

constexpr int kItems[] = {2, 6, 10, 12, 59, 60, 61, 62, 64, 66, 67, 68, 71, 72, 79, 80, 81, 0, 35, 200};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2 || size > 4096) return 0;
    start();
    const std::string input(reinterpret_cast<const char*>(data + 1), size - 1);
    // The name runs to the first newline; each further line is "<item byte><text>".
    const size_t end = input.find('\n');
    const std::string name = input.substr(0, end);
    static const uint32_t options[4] = {0, 4, 1, 6};
    uint32_t rc = 0;
    GCLocale* locale = GCGetLocale(name.c_str(), options[data[0] % 4], &rc);
    if (!locale) return 0;
    size_t at = end == std::string::npos ? input.size() : end + 1;
    while (at < input.size()) {
        size_t next = input.find('\n', at);
        if (next == std::string::npos) next = input.size();
        const std::string line = input.substr(at, next - at);
        at = next + 1;
        if (line.empty()) continue;
        const int item = kItems[static_cast<uint8_t>(line[0]) % (sizeof kItems / sizeof kItems[0])];
        const std::string text = line.substr(1);
        const long flags = (static_cast<uint8_t>(line[0]) & 0x80) ? GC_STR_CHARS : 0;
        GCSetLocaleTextInfo(locale, item, text.c_str(), (line[0] & 0x40) ? -1 : static_cast<long>(text.size()), flags);
    }
    GCReleaseLocale(locale);
    return 0;
}
