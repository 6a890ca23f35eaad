// Reads arbitrary bytes as a sysout the way line mode hands it out: every line comes back in pieces
// of at most 4095 characters that put together give the file's text without its line feeds, and
// each piece splits into a statement and a code that put together (with the '|' between them) give
// the piece again.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "be_def.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
    if (size == 0 || file == nullptr) {
        if (file != nullptr) std::fclose(file);
        return 0;
    }
    std::string expected;
    for (size_t i = 0; i < size; ++i)
        if (data[i] != '\n') expected += static_cast<char>(data[i]);
    std::string joined;
    char line[BE_DUZ_LINE_SIZE];
    for (;;) {
        std::memset(line, 'z', sizeof line);
        const int rc = BE_DUZ_file_read_line(file, line);
        const size_t length = strnlen(line, sizeof line);
        if (length >= sizeof line) std::abort();  // always terminated
        // Bytes after an embedded NUL are the reader's own to drop; compare up to it.
        joined.append(line, length);
        const std::string piece(line, length);
        char* statement = nullptr;
        char* code = nullptr;
        BE_SYSOUT_parse_sysout_line(line, &statement, &code);
        if (code == nullptr) std::abort();
        const std::string rebuilt = statement != nullptr ? std::string(statement) + "|" + code : std::string(code);
        if (rebuilt != piece) std::abort();
        if (rc == 2) break;
    }
    std::fclose(file);
    if (std::memchr(data, '\0', size) == nullptr && joined != expected) std::abort();
    return 0;
}
