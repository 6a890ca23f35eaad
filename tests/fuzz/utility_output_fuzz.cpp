// Feeds arbitrary bytes as an agent utility's output, in the pieces the reader takes (a line, or
// 1022 characters of a longer one): the value of a piece holding the key is the text after its
// first ':' without leading blanks and colons and without the final newline; nothing the profile
// utility prints is loggable, nor a line labelled as a password.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "be_def.h"
#include "be_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string output(reinterpret_cast<const char*>(data), size);
    std::size_t pos = 0;
    while (pos < output.size()) {
        // fgets with BE_DUZ_UTIL_LINE_SIZE: up to and including a newline, at most size - 1 bytes.
        std::size_t end = pos;
        while (end < output.size() && end - pos < BE_DUZ_UTIL_LINE_SIZE - 1)
            if (output[end++] == '\n') break;
        std::string piece = output.substr(pos, end - pos);
        pos = end;
        piece.resize(std::strlen(piece.c_str()));  // the reader sees a C text
        if (piece.empty()) continue;
        for (const char* key : {"Encryption type", "data", ":", ""}) {
            std::string value;
            if (!be_utility_output_value(piece.c_str(), key, value)) {
                if (std::strstr(piece.c_str(), key)) std::abort();
                continue;
            }
            // The value is the piece's tail: no leading blank or colon, no newline.
            const std::string body = piece.back() == '\n' ? piece.substr(0, piece.size() - 1) : piece;
            if (!std::strchr(piece.c_str(), ':') && !value.empty()) std::abort();
            if (value.size() > body.size() || body.compare(body.size() - value.size(), value.size(), value) != 0)
                std::abort();
            if (!value.empty() && (value.front() == ' ' || value.front() == ':' || value.back() == '\n')) std::abort();
        }
        if (be_utility_output_loggable("orvgetccp", piece.c_str())) std::abort();
        const bool loggable = be_utility_output_loggable("/agent/bin/orvagcpk", piece.c_str());
        if (loggable && std::strstr(piece.c_str(), "Password :") == piece.c_str()) std::abort();
    }
    return 0;
}
