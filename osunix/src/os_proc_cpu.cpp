/* Processor load from the sar utility: "sar <interval> <samples>" read through a pipe, the idle
 * percentage of its "Average" summary, and the load as 100 minus that. */
#include <sys/wait.h>

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gm_param.h"
#include "os_diag.h"
#include "os_proc.h"
#include "os_proc_internal.h"
#include "os_spv_internal.h"

namespace {

constexpr size_t kLinePiece = 1023;  // characters of one read line
constexpr char kFailureText[] =
    "Unable to calculate CPU usage from sar utility. For more information check the Agent logs and run "
    "command line utility orv/toolbox/wkl_cpu";

// A line to the log, and to standard output as well when the run is interactive.
void say(bool interactive, bool error, const char* format, ...) __attribute__((format(printf, 3, 4)));
void say(bool interactive, bool error, const char* format, ...) {
    char text[1200];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (error)
        DIAG_ERROR("%s", text);
    else
        DIAG_TRACE(4, "%s", text);
    if (interactive) std::printf("%s\n", text);
}

}  // namespace

namespace os_proc {

std::vector<std::string_view> read_lines(std::string_view output, size_t max_chars) {
    std::vector<std::string_view> lines;
    size_t at = 0;
    while (at < output.size() && max_chars > 0) {
        size_t end = output.find('\n', at);
        end = end == std::string_view::npos ? output.size() : end + 1;
        if (end - at > max_chars) end = at + max_chars;
        std::string_view line = output.substr(at, end - at);
        at = end;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
        lines.push_back(line);
    }
    return lines;
}

std::optional<int> sar_idle(std::string_view output, bool interactive) {
    std::optional<size_t> column;
    std::optional<int> idle;
    for (std::string_view line : read_lines(output, kLinePiece)) {
        if (line.empty()) continue;
        if (!column) {
            const size_t heading = line.find("%idle");
            if (heading != std::string_view::npos) column = heading;
            continue;
        }
        if (!line.starts_with("Average")) continue;
        size_t c = *column;
        if (c >= line.size()) {
            say(interactive, true, "Invalid idle cpu value: summary line shorter than the %%idle column");
            continue;
        }
        while (c > 0 && std::isdigit(static_cast<unsigned char>(line[c - 1]))) --c;
        while (c < line.size() && !std::isdigit(static_cast<unsigned char>(line[c]))) ++c;
        if (c == line.size()) {
            say(interactive, true, "Invalid idle cpu value: no number in the %%idle column");
            continue;
        }
        long value = 0;
        for (; c < line.size() && std::isdigit(static_cast<unsigned char>(line[c])) && value <= 1000; ++c)
            value = value * 10 + (line[c] - '0');
        if (value >= 0 && value <= 100) {
            idle = static_cast<int>(value);
            say(interactive, false, "Idle cpu numeric value: %d", idle.value());
        } else {
            say(interactive, true, "Invalid idle cpu value: %ld", value);
        }
    }
    return idle;
}

}  // namespace os_proc

extern "C" {

CM_RC OS_PROC_collect_cpu_sar(int* cpu_usage, int interval, int samples, int interactive) {
    static const char* const fn = "OS_PROC_collect_cpu_sar";
    const bool loud = interactive != 0;
    std::string output;
    const std::optional<int> status =
        os_spv::run_capture({"sar", std::to_string(interval), std::to_string(samples)}, true, output);
    if (!status) {
        say(loud, true, "%s: Error calling popen, %s", fn, std::strerror(errno));
        return CM_RC_FAIL;
    }
    const std::optional<int> idle = os_proc::sar_idle(output, loud);
    if (WIFSIGNALED(*status)) {
        say(loud, true, "Command aborted. Unable to calculate CPU usage");
        return CM_RC_FAIL;
    }
    if (!idle || !WIFEXITED(*status) || WEXITSTATUS(*status) != 0) {
        say(loud, true, "Unable to calculate CPU usage from sar utility");
        return CM_RC_FAIL;
    }
    if (cpu_usage) *cpu_usage = 100 - *idle;
    say(loud, false, "Successfully calculated CPU usage = %d", 100 - *idle);
    return CM_RC_OK;
}

CM_RC OS_PROC_collect_workload_cpu(int* cpu_usage, char* err_msg, int err_msg_size) {
    const int interval = GM_PARAM_get_int_by_name("CONFIG", "WKL_CPU_SAMPLE_INTERVAL", 5);
    const int samples = GM_PARAM_get_int_by_name("CONFIG", "WKL_CPU_SAMPLE_NUM", 3);
    const CM_RC rc = OS_PROC_collect_cpu_sar(cpu_usage, interval, samples, 0);
    if (rc != CM_RC_OK && err_msg && err_msg_size > 0)
        std::snprintf(err_msg, static_cast<size_t>(err_msg_size), "%s", kFailureText);
    return rc;
}

}  // extern "C"
