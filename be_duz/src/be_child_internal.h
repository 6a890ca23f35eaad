/* One way for the plug-in to run a program as a child process without a shell: its arguments one
 * by one, an optional text on its standard input, its output and errors into a file (made anew or
 * appended to, never through a link at its name), variables set in its environment only, SIGCHLD
 * at its default in the child, and the wait for its end. Internal to be_duz. */
#ifndef BE_CHILD_INTERNAL_H
#define BE_CHILD_INTERNAL_H

#include <string>
#include <utility>
#include <vector>

namespace be_child {

struct Command {
    std::vector<std::string> argv;       // argv[0] as the program sees it
    std::string program;                 // the file to run; empty: argv[0], looked up on PATH without a '/'
    const std::string* input = nullptr;  // written to standard input, then closed; null: inherited
    std::string output;                  // file for standard output and error; empty: inherited
    bool append = false;                 // add to the output file instead of making it anew
    std::vector<std::pair<std::string, std::string>> environment;  // set for the child only
};

struct Result {
    bool started = false;        // false: the program could not be started (error holds errno)
    bool output_failed = false;  // the output file could not be opened (error holds errno); nothing ran
    int error = 0;
    int status = 0;  // wait status once started and waited for
    bool waited = false;
    bool exited() const;
    int exit_code() const;
    bool signalled() const;
};

Result run(const Command& command);

/* The command as text for logs: the words joined by blanks. */
std::string describe(const std::vector<std::string>& words);

}  // namespace be_child

#endif
