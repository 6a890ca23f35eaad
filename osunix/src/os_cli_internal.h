// Fork-and-exec of the command layer for the library's own callers (not exported): a program run
// as OS_CLI_exec_wait_timeout runs it, with standard streams that the caller has opened.
#pragma once

#include <string>
#include <vector>

namespace os_cli {

// Descriptors a child gets as its standard streams; -1 keeps the default (input: the caller's own,
// output and error: /dev/null).
struct Streams {
    int input = -1;
    int output = -1;
    int error = -1;
};

// Runs argv (argv[0] the program, PATH searched; no argument is cut or dropped) as
// OS_CLI_exec_wait_timeout does, with `timeout` seconds (0: none, as OS_CLI_exec_wait_rc) and the
// given streams: the same results. `fn` names the call in the log.
int run_with_streams(const char* fn, const std::vector<std::string>& argv, int timeout, const Streams& streams,
                     int* exit_code);

}  // namespace os_cli
