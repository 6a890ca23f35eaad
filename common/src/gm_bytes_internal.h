// Byte copies of the hot paths (list rows, log lines, attribute blocks) whose length the compiler
// could bound: GCC compiles such a copy (a field cut to its size, a value cut to what a line
// shows) as a string instruction, which costs more than the C library's copy of a short text. The
// length is hidden from the optimiser so that the library call stays.
#pragma once

#include <cstddef>
#include <cstring>
#include <string_view>

namespace gm_bytes {

// Copies the bytes to `to` and returns the end of the copy. An empty view may have no data at all,
// which the C library's copy must not be given.
inline char* put(char* to, std::string_view bytes) {
    std::size_t size = bytes.size();
    if (size == 0) return to;
    asm("" : "+r"(size));
    std::memcpy(to, bytes.data(), size);
    return to + size;
}

}  // namespace gm_bytes
