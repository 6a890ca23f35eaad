// Scans arbitrary job scripts: the first line is the token, the second its replacement, the rest
// the script, handed line by line to the shell-line, zone, replace, ksh-function and token
// operations. Buffers are allocated at exactly their documented room so that any write past
// them is caught.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "os_misc.h"

namespace {

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, end - start + 1));  // with its line end, as read
        start = end + 1;
    }
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> lines = split_lines(input.c_str());  // up to the first NUL, as C text
    if (lines.size() < 3) return 0;
    std::string token = lines[0], repl = lines[1];
    if (!token.empty() && token.back() == '\n') token.pop_back();
    if (!repl.empty() && repl.back() == '\n') repl.pop_back();

    int function_status = OS_MISC_NOT_FOUND;
    for (size_t i = 2; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const int number = static_cast<int>(i - 1);

        std::vector<char> shell_token(OS_MISC_SHELL_TOKEN_ROOM);
        const int type = OS_MISC_determine_shell(line.c_str(), shell_token.data());
        if (type < 0 || type > OS_MISC_RKSH || !std::memchr(shell_token.data(), '\0', shell_token.size())) std::abort();
        OS_MISC_shell_x_option(line.c_str());

        OS_MISC_zone_handle_line(line.c_str(), number);
        std::vector<char> buffer(OS_MISC_LINE_ROOM);
        std::snprintf(buffer.data(), buffer.size(), "%s", line.c_str());
        const std::string before = buffer.data();
        const CM_RC replaced = OS_MISC_replace_token(buffer.data(), token.c_str(), repl.c_str());
        if (!std::memchr(buffer.data(), '\0', buffer.size())) std::abort();
        if (replaced != CM_RC_OK && before != buffer.data()) std::abort();

        int start = -1;
        function_status = OS_MISC_in_ksh_func(line.c_str(), function_status, &start);
        if (function_status == OS_MISC_INSIDE &&
            (start < 0 || static_cast<size_t>(start) >= line.size() || line[static_cast<size_t>(start)] != '{'))
            std::abort();
        if (function_status != OS_MISC_NEXT_LINE) function_status = OS_MISC_NOT_FOUND;

        OS_MISC_find_token(line.c_str(), token.c_str(), 1, number % 2);
        const int last = OS_MISC_find_last_str(line.c_str(), token.c_str(), static_cast<int>(line.size()));
        const int first = OS_MISC_find_str_loc(line.c_str(), token.c_str(), 0);
        if ((last < 0) != (first < 0) || (last >= 0 && last < first)) std::abort();
        OS_MISC_decide_if_inside_zone(first);
        OS_MISC_empty_line(line.c_str());
        for (size_t at = 0; at <= line.size(); ++at) OS_MISC_is_newline(line.c_str() + at);

        std::string swapped = line;
        OS_MISC_switch_case(swapped.data());
        OS_MISC_switch_case(swapped.data());
        if (swapped != line) std::abort();
    }
    return 0;
}
