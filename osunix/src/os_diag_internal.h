// The diagnostic log's C++ side (not exported): lines logged together, for dumps of many lines.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace os_diag {

// Lines that are logged as one: each is a line of the log as DIAG_print_text would make it, with
// the same levels, ring, critical-error report, reset and rotation, one after the other; but those
// that reach the file go out in one write (a few when the size check falls among them), not in one
// write a line. A line is cut to 32767 characters, as a formatted one is.
class Lines {
public:
    // Adds a line made of the pieces, one after the other.
    void add(std::initializer_list<std::string_view> pieces);
    void add(std::string_view text) { add({text}); }
    // Logs the lines added (the calling thread's active level applies to all of them) and forgets them.
    void print();

private:
    std::string text_;
    std::vector<std::size_t> ends_;  // where each line ends in text_
};

}  // namespace os_diag
