// Helpers of the child-process functions (not exported): reading a command's output line by
// line and the reading of sar's output.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

namespace os_proc {

// The lines of a command's output as a reader with a buffer of max_chars + 1 bytes gets them: a
// line longer than max_chars characters comes in pieces. Each is given without its line end.
std::vector<std::string_view> read_lines(std::string_view output, size_t max_chars);

// The idle percentage (0 to 100) of the "Average" summary of sar's output: the column where
// "%idle" starts in the first heading, read on the summary line. Nothing when there is no heading
// or no summary, the summary is too short for the column or has no digit from there on, or the
// value is out of range. Each finding is logged, and also printed when interactive.
std::optional<int> sar_idle(std::string_view output, bool interactive);

}  // namespace os_proc
