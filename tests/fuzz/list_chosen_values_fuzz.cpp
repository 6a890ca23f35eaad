// Reads arbitrary text as the values a form chose for the displayed parameters: the number of
// displayed parameters and the longest value come from the first two bytes, the text from the
// rest. Whatever is accepted fits the parameters and their values.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "be_list_data_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const std::size_t count = data[0] % 8;
    const std::size_t max_length = data[1] % 64;
    const std::string_view text(reinterpret_cast<const char*>(data + 2), size - 2);
    std::vector<std::string> values;
    std::string bad;
    const bool ok = be_list::parse_chosen_values(text, count, max_length, values, bad);
    if (values.size() != count) std::abort();
    if (ok) {
        for (const std::string& value : values)
            if (value.size() > max_length) std::abort();
    } else if (bad.empty()) {
        std::abort();
    }
    return 0;
}
