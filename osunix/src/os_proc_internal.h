// Helpers of the process layer (not exported): start-up's records of the process state, reading
// a command's output line by line and the reading of sar's output.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cmpltfrm.h"

namespace os_proc {

// The process name that start-up records: the first "%s" of p_proc (if any) replaced by the
// decimal pid, nothing else interpreted, cut to 32 characters.
std::string name_with_pid(const char* p_proc, long pid);

// Start-up's records: the ids (made afresh), the name and the arguments (the array itself).
void record_start(const char* p_proc, int argc, char** argv);
// The user the process runs as; false when the real user id has no passwd entry.
bool record_user();
// The working directory before start-up changes it, and what was recorded ("" when unknown).
void record_start_dir();
const char* start_directory();
void clear_main_mtrack();

// An agent process type with a lock of its own: its lock file ./locks/<lock_name>.lock and its
// pid-file stem. Null for the other types.
struct ProcessType {
    int type;
    const char* lock_name;
    const char* pid_stem;
};
const ProcessType* process_type(int proc_type);

// OS_PROC_check_lock. When the lock file itself cannot be used (its folder reached through a
// refused link, a link, FIFO or other kind of file at its name, an invalid name), the result is
// 24 as for a lock held elsewhere, and `refusal` (when given) says what was refused.
CM_RC check_lock(int proc_type, bool create_lock, const char* proc_name, std::string* refusal);

// The lines of a command's output as a reader with a buffer of max_chars + 1 bytes gets them: a
// line longer than max_chars characters comes in pieces. Each is given without its line end.
std::vector<std::string_view> read_lines(std::string_view output, size_t max_chars);

// The idle percentage (0 to 100) of the "Average" summary of sar's output: the column where
// "%idle" starts in the first heading, read on the summary line. Nothing when there is no heading
// or no summary, the summary is too short for the column or has no digit from there on, or the
// value is out of range. Each finding is logged, and also printed when interactive.
std::optional<int> sar_idle(std::string_view output, bool interactive);

}  // namespace os_proc
