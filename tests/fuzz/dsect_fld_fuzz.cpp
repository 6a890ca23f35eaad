// Reads one field of every type from arbitrary text: the first byte picks the type (the table's 23
// and one outside it), the rest is the text, copied into a buffer of exactly its length and a NUL so
// that a read past the terminator is caught. A field that reads must stay inside the text; a text
// field written and read back gives the value as the writer cut it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dsect_fld.h"
#include "quiet_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const auto type = static_cast<DSECT_FLD_typ>(data[0] % (DF_NOMORETYPES + 1));
    std::vector<char> text(data + 1, data + size);
    text.push_back('\0');
    const std::size_t length = std::strlen(text.data());

    for (int room : {1, 5, 4095}) {
        std::vector<char> target(static_cast<std::size_t>(room));
        char* pos = text.data();
        if (DSECT_FLD_get_char(target.data(), &pos, type, room) == CM_RC_OK) {
            if (static_cast<std::size_t>(pos - text.data()) > length) std::abort();
            if (!std::memchr(target.data(), '\0', target.size())) std::abort();
        } else if (pos != text.data()) {
            std::abort();
        }
    }
    char* pos = text.data();
    char* copy = nullptr;
    if (DSECT_FLD_get_char_with_malloc(&copy, &pos, type) == CM_RC_OK) {
        if (static_cast<std::size_t>(pos - text.data()) > length) std::abort();
        std::free(copy);
    }
    pos = text.data();
    int value = 0;
    if (DSECT_FLD_get_int(&value, &pos, type) == CM_RC_OK && static_cast<std::size_t>(pos - text.data()) > length)
        std::abort();

    int announced = 0;
    if (DSECT_FLD_eval_len(type, text.data(), &announced) == CM_RC_OK) {
        std::vector<char> out(static_cast<std::size_t>(announced) + 1);
        char* w = out.data();
        if (DSECT_FLD_set(&w, text.data(), type) != CM_RC_OK || w - out.data() != announced) std::abort();
        if (type <= DF_VAR5 && std::memchr(text.data(), '\0', length + 1)) {
            char* r = out.data();
            std::vector<char> back(100000);
            if (DSECT_FLD_get_char(back.data(), &r, type, static_cast<int>(back.size())) != CM_RC_OK) std::abort();
            const std::size_t kept = std::min<std::size_t>(length, static_cast<std::size_t>(DSECT_FLD_maxlen(type)));
            if (std::string(back.data()) != std::string(text.data(), kept)) std::abort();
        }
    }
    return 0;
}
