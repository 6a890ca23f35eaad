// Feeds arbitrary text to the profile-text splitter of the list form: every pair has a name
// without '.', and skipping empty values leaves exactly the pairs with a value.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "be_list_profile_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    using be_list::EmptyValues;
    const std::vector<be_list::ProfilePair> all = be_list::split_profile_text(text, EmptyValues::Apply);
    const std::vector<be_list::ProfilePair> valued = be_list::split_profile_text(text, EmptyValues::Skip);
    std::size_t with_value = 0;
    for (const auto& pair : all) {
        if (pair.name.empty() || pair.name.find('.') != std::string::npos) std::abort();
        if (pair.name.size() + pair.value.size() + 1 > text.size()) std::abort();
        if (!pair.value.empty()) ++with_value;
    }
    if (valued.size() != with_value) std::abort();
    for (const auto& pair : valued)
        if (pair.value.empty()) std::abort();
    return 0;
}
