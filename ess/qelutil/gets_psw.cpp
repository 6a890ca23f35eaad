/* Terminal password reader: one line from standard input with echo switched off, the terminal's
 * settings restored afterwards. */
#include <termios.h>
#include <unistd.h>

#include "ess_time.h"

namespace {

constexpr char kBackspace = 8;

}  // namespace

extern "C" int gets_psw(char* buf, int size) {
    if (!buf || size < 1) return -1;
    termios saved{};
    const bool tty = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (tty) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSANOW, &quiet);
    }
    int n = 0;
    char c;
    while (read(STDIN_FILENO, &c, 1) == 1 && c != '\n' && c != '\r') {
        if (c == kBackspace) {
            if (n > 0) --n;
        } else if (n < size - 1) {
            buf[n++] = c;
        }
    }
    buf[n] = '\0';
    if (tty) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    return n;
}
