// Helpers of the process layer shared by supervision and command execution (not exported):
// process-id texts, shell words, the SIGCHLD disposition while a call waits for its own child,
// and the signal and descriptor state a forked child starts from.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace os_spv {

// A process id text: digits with optional blanks around them, within the range of pid_t.
// Nothing for a null text, any other character, or a number too large.
std::optional<pid_t> parse_id(const char* text);

// The text without trailing blanks and tabs; trimmed() also without leading ones (null gives "").
std::string unpad(std::string text);
std::string trimmed(const char* text);

// One word for /bin/sh: single-quoted, a quote inside written as '\''.
std::string shell_quote(std::string_view word);
// A text split at blanks and tabs into words, each quoted, joined by one blank ("" for none).
// The shell sees the same words as it would for the plain text, and nothing else of it.
std::string shell_words(std::string_view text);

// Keeps SIGCHLD at its default action while at least one such guard lives in the process, so
// that a SIGCHLD reaper cannot collect the child a call waits for; the last guard restores the
// disposition that the first one found.
class SigchldDefault {
public:
    SigchldDefault();
    ~SigchldDefault();
    SigchldDefault(const SigchldDefault&) = delete;
    SigchldDefault& operator=(const SigchldDefault&) = delete;
};

// In a forked child before exec: every signal unblocked, SIGCHLD at its default action.
void reset_child_signals();
// Writes all of a text to a descriptor, resuming interrupted writes; false on a failed write.
bool write_all(int fd, std::string_view text);
// Closes descriptors 3 to 255 except `keep` (-1 for none).
void close_fds_except(int keep);
// Waits for one child, resuming interrupted waits; the result of waitpid.
pid_t wait_child(pid_t pid, int* status, int options);

// A user and group that a child takes (its only group) before it runs its program.
struct Identity {
    uid_t uid;
    gid_t gid;
};

// Runs a program (PATH searched) with its standard output, and standard error when asked, read
// through a pipe into `output`, and waits for it: its wait status, or nothing when the pipe or
// the fork failed (errno tells why). With `as`, the program runs with that user's and group's
// rights. A program that cannot be executed, or whose rights cannot be taken, ends with status 127.
std::optional<int> run_capture(const std::vector<std::string>& argv, bool with_stderr, std::string& output,
                               const std::optional<Identity>& as = std::nullopt);

}  // namespace os_spv
