// Splits arbitrary lines into fields: the field number, the delimiter and the room of the result
// buffer come from the first three bytes, the line from the rest. The result buffer is allocated
// at exactly its room so that any write past it is caught.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gm_str.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    int field = static_cast<int>(data[0] % 20) - 1;
    char delimiter = static_cast<char>(data[1]);
    int room = data[2] % 40;
    std::string line(reinterpret_cast<const char*>(data + 3), size - 3);

    std::vector<char> result(room > 0 ? room : 1);
    CM_RC rc = GM_STR_get_nth_field(line.c_str(), field, delimiter, room > 0 ? result.data() : nullptr, room);
    if (rc == CM_RC_OK && std::memchr(result.data(), '\0', result.size()) == nullptr) std::abort();
    if (rc != CM_RC_OK && rc != CM_RC_FAIL) std::abort();
    return 0;
}
