// Feeds arbitrary texts to the reader of the serialized attribute list, then writes the list read
// back out and releases it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "zpaapi.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    ZPAAttrList list{};
    if (ZPAPI_UTILS_deserialize_attr_list(text.data(), &list) == 0) {
        char* again = nullptr;
        if (ZPAPI_UTILS_serialize_attr_list(&list, &again) == 0) std::free(again);
        ZPAAPI_utils_release_whole_attr(&list);
    }
    return 0;
}
