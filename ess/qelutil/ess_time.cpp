/* Time helpers of the security library: ctime texts, sleeping, wall-clock stamps and their
 * difference in milliseconds. */
#include "ess_time.h"

#include <unistd.h>

#include <cstring>

#include "ess_str_utils.h"

extern "C" {

char* essTime(const time_t* clock, char* buf, int len) {
    if (!clock || !buf || len < 1) return buf;
    char text[64];
    if (!ctime_r(clock, text)) text[0] = '\0';
    return ess_strncpy(buf, text, len);
}

char* ESS_Time_GetCurrentTime(char* buf, int len) {
    if (!buf || len < 1) return buf;
    const time_t now = time(nullptr);
    essTime(&now, buf, len);
    if (char* nl = std::strchr(buf, '\n')) *nl = '\0';
    return buf;
}

void ESS_Time_Sleep(int seconds) {
    if (seconds > 0) sleep(static_cast<unsigned>(seconds));
}

int ESS_Time_GetTime(ESS_TIME* t) { return t ? gettimeofday(t, nullptr) : -1; }

double ESS_Time_difftime(const ESS_TIME* end, const ESS_TIME* start) {
    if (!end || !start) return 0.0;
    return static_cast<double>(end->tv_sec - start->tv_sec) * 1000.0 +
           static_cast<double>(end->tv_usec - start->tv_usec) / 1000.0;
}

}  // extern "C"
