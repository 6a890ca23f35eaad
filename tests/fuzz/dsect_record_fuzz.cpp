// Arbitrary text as a header record, and as the fields of a record of any type under any protocol
// version "01" to "10": the first byte picks the type (0 to 33), the second the version, the rest is
// the record's fields. The record gets a prefix of that type and the fields' length (a base-26 size
// above 9999) and is copied into a buffer of exactly its length and a NUL.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "dsect_one.h"
#include "gm_36.h"
#include "quiet_log.h"

namespace {

std::vector<char> with_prefix(int type, const std::string& body) {
    char prefix[7] = {};
    std::snprintf(prefix, sizeof prefix, "%02d", type);
    if (body.size() <= 9999)
        std::snprintf(prefix + 2, 5, "%04zu", body.size());
    else
        GM_36_int_to_base_26(body.size(), prefix + 2, 4);
    std::vector<char> text(prefix, prefix + 6);
    text.insert(text.end(), body.begin(), body.end());
    text.push_back('\0');
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<char> raw(data, data + size);
    raw.push_back('\0');
    DSECT_HEADER_typ header;
    DSECT_ONE_unpack_header(&header, raw.data());
    if (size < 2) return 0;

    static const char* const versions[] = {"01", "02", "03", "04", "05", "06", "07", "08", "09", "10"};
    const int type = data[0] % 34;
    const char* version = versions[data[1] % 10];
    std::vector<char> text = with_prefix(type, std::string(reinterpret_cast<const char*>(data + 2), size - 2));
    DSECT_ONE_handle_typ record;
    DSECT_ONE_unpack(version, &record, text.data());
    DSECT_ONE_delete(&record);
    return 0;
}
