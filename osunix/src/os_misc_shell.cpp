/* Shell-script scanning: interpreter lines, tokens, the zone scan that keeps replacements out of
 * embedded awk programs, and ksh function starts. Owns the process-wide zone texts and zone state
 * (one script scan at a time; a mutex keeps concurrent calls from tearing them). */
#include "os_misc.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

#include "os_diag.h"
#include "os_fork_internal.h"

namespace {

constexpr int kZoneTextMax = OS_MISC_ZONE_STR_ROOM - 1;

struct ShellPath {
    int type;
    const char* path;
};

// Candidates in the order they are tried.
constexpr ShellPath kShellCandidates[] = {
    {OS_MISC_SH, "/bin/sh"},
    {OS_MISC_KSH, "/bin/ksh"},
    {OS_MISC_CSH, "/bin/csh"},
    {OS_MISC_TCSH, "/bin/tcsh"},
    {OS_MISC_BASH, "/bin/bash"},
    {OS_MISC_RKSH, "/bin/rksh"},
    {OS_MISC_RXX, "/bin/rxx"},
    {OS_MISC_NCRX, "/bin/ncrx"},
    {OS_MISC_POSIX_SH, "/bin/posix/sh"},
    {OS_MISC_POSIX_KSH, "/bin/posix/ksh"},
};

bool is_white(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f'; }

// An end of line: a line feed, the end of the text, or a backslash before either.
bool at_line_end(std::string_view line, size_t i) {
    if (i >= line.size() || line[i] == '\n') return true;
    return line[i] == '\\' && (i + 1 >= line.size() || line[i + 1] == '\n');
}

std::string swapped_case(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool only_white_before(std::string_view line, size_t position) {
    for (size_t i = 0; i < position; ++i)
        if (!is_white(line[i])) return false;
    return true;
}

CM_RC first_token_at(const char* line, int position) {
    const std::string_view text(line);
    const bool first = position >= 0 && static_cast<size_t>(position) <= text.size() &&
                       only_white_before(text, static_cast<size_t>(position));
    DIAG_TRACE(4,
               first ? "%s: line: %s .loc: %d. Is the first token." : "%s: line: %s .loc: %d. Is not the first token.",
               "OS_MISC_does_the_first_token", line, position);
    return first ? CM_RC_OK : CM_RC_FAIL;
}

CM_RC look_for(const char* line, const char* token, int first_token) {
    if (!line || !token || !*token) return CM_RC_FAIL;
    const char* found = std::strstr(line, token);
    if (!found) return CM_RC_FAIL;
    if (!first_token) return CM_RC_OK;
    return first_token_at(line, static_cast<int>(found - line));
}

/* ---- zones ---- */

struct ZonePair {
    std::string first, second, optional;
    bool set() const { return !first.empty() && !second.empty(); }
};

struct ZoneState {
    ZonePair opening{"awk", "'", ""};
    ZonePair closing{"}", "'", ""};
    int state = OS_MISC_NOT_FOUND;  // -5 outside, -6 inside, -3 waiting for a second text
    int start = OS_MISC_ZONE_EDGE;
    int end = OS_MISC_ZONE_EDGE;
    int next_pair = OS_MISC_ZONE_OPENING;
};

std::mutex zone_mutex;
[[maybe_unused]] const bool zone_fork_safe = os_fork::hold_across_fork(os_fork::Rank::script_zone, zone_mutex);
ZoneState zone;

std::string cut_zone_text(const char* text) { return std::string(text ? text : "").substr(0, kZoneTextMax); }

const ZonePair* pair_of(const ZoneState& z, int act) {
    if (act == OS_MISC_ZONE_OPENING) return &z.opening;
    if (act == OS_MISC_ZONE_CLOSING) return &z.closing;
    return nullptr;
}

// A zone still open from the line before covers the new line; a line waiting for the closing
// pair's second text is inside the zone up to it.
void start_line(ZoneState& z) {
    const bool open =
        z.state == OS_MISC_INSIDE || (z.state == OS_MISC_NEXT_LINE && z.next_pair == OS_MISC_ZONE_CLOSING);
    z.start = open ? 0 : OS_MISC_ZONE_EDGE;
    z.end = OS_MISC_ZONE_EDGE;
}

// After a first text: white space and optional texts are skipped.
size_t skip_gap(std::string_view line, size_t i, const std::string& optional) {
    for (;;) {
        while (i < line.size() && is_white(line[i]) && line[i] != '\n') ++i;
        if (!optional.empty() && line.compare(i, optional.size(), optional) == 0) {
            i += optional.size();
            continue;
        }
        return i;
    }
}

int recognize(const ZoneState& z, std::string_view line, int act, int from_loc) {
    const ZonePair* pair = pair_of(z, act);
    if (!pair || !pair->set() || from_loc < 0 || static_cast<size_t>(from_loc) >= line.size()) return OS_MISC_NOT_FOUND;
    const size_t from = static_cast<size_t>(from_loc);
    bool blank = true;
    for (size_t i = from; i < line.size() && blank; ++i) blank = is_white(line[i]);
    if (blank) return OS_MISC_NOT_FOUND;

    if (z.state == OS_MISC_NEXT_LINE) {
        for (size_t i = from;;) {
            if (at_line_end(line, i)) return OS_MISC_NEXT_LINE;
            if (is_white(line[i])) {
                ++i;
                continue;
            }
            if (line.compare(i, pair->second.size(), pair->second) == 0) return static_cast<int>(i);
            if (!pair->optional.empty() && line.compare(i, pair->optional.size(), pair->optional) == 0) {
                i += pair->optional.size();
                continue;
            }
            break;  // the wait is over; the normal search follows
        }
    }

    for (size_t search = from;;) {
        const size_t first = line.find(pair->first, search);
        if (first == std::string_view::npos) return OS_MISC_NOT_FOUND;
        const size_t after = first + pair->first.size();
        const size_t i = skip_gap(line, after, pair->optional);
        if (at_line_end(line, i)) return OS_MISC_NEXT_LINE;
        if (line.compare(i, pair->second.size(), pair->second) == 0) return static_cast<int>(i);
        search = after;
    }
}

void handle_line(ZoneState& z, std::string_view line, int line_num) {
    if (line_num == 1) z.state = OS_MISC_NOT_FOUND;
    start_line(z);
    for (int from = 0;;) {
        const int found = recognize(z, line, z.next_pair, from);
        if (found >= 0) {
            if (z.next_pair == OS_MISC_ZONE_OPENING) {
                z.start = found;
                z.end = OS_MISC_ZONE_EDGE;
                z.state = OS_MISC_INSIDE;
                z.next_pair = OS_MISC_ZONE_CLOSING;
            } else {
                z.end = found;
                z.state = OS_MISC_NOT_FOUND;
                z.next_pair = OS_MISC_ZONE_OPENING;
            }
            from = found;
            continue;
        }
        if (found == OS_MISC_NEXT_LINE) {
            z.state = OS_MISC_NEXT_LINE;
        } else if (z.state == OS_MISC_NEXT_LINE) {
            // The awaited text never came: back to where the pair left the scan.
            z.state = z.next_pair == OS_MISC_ZONE_CLOSING ? OS_MISC_INSIDE : OS_MISC_NOT_FOUND;
        }
        return;
    }
}

int inside(const ZoneState& z, int loc) {
    const bool in = loc >= 0 && z.start != OS_MISC_ZONE_EDGE &&
                    ((z.start == 0 && z.end == OS_MISC_ZONE_EDGE) || (z.start <= loc && loc <= z.end));
    DIAG_TRACE(5, "%s: loc %d zone %d-%d: %s", "OS_MISC_decide_if_inside_zone", loc, z.start, z.end,
               in ? "inside" : "outside");
    return in ? OS_MISC_INSIDE : OS_MISC_NOT_FOUND;
}

int last_occurrence(std::string_view line, std::string_view token, long till) {
    if (token.empty() || till < 0 || token.size() > line.size()) return OS_MISC_NOT_FOUND;
    // The occurrence's last character lies at or before `till`.
    const long last_start =
        std::min<long>(till - static_cast<long>(token.size()) + 1, static_cast<long>(line.size() - token.size()));
    if (last_start < 0) return OS_MISC_NOT_FOUND;
    const size_t at = line.rfind(token, static_cast<size_t>(last_start));
    return at == std::string_view::npos ? OS_MISC_NOT_FOUND : static_cast<int>(at);
}

/* ---- ksh functions ---- */

// The name part holds exactly one word of letters, digits, '_' and '-', white space around it.
bool one_name(std::string_view part) {
    size_t i = 0;
    while (i < part.size() && is_white(part[i])) ++i;
    const size_t begin = i;
    while (i < part.size() && (std::isalnum(static_cast<unsigned char>(part[i])) || part[i] == '_' || part[i] == '-'))
        ++i;
    if (i == begin) return false;
    while (i < part.size() && is_white(part[i])) ++i;
    return i == part.size();
}

int scan_for_brace(std::string_view line, size_t i, int* start) {
    for (;; ++i) {
        if (i >= line.size() || line[i] == '#' || line[i] == '\\') return OS_MISC_NEXT_LINE;
        if (line[i] == '{') {
            if (start) *start = static_cast<int>(i);
            return OS_MISC_INSIDE;
        }
        if (!is_white(line[i])) return OS_MISC_NOT_FOUND;
    }
}

}  // namespace

extern "C" {

int OS_MISC_determine_shell(const char* liner, char* shell_token) {
    static const char* const fn = "OS_MISC_determine_shell";
    if (shell_token) shell_token[0] = '\0';
    if (!liner) return OS_MISC_NOT_INTERPRETER;
    const std::string_view line(liner);
    int type = OS_MISC_SH;
    if (line.starts_with(":")) {
        type = OS_MISC_SH;
    } else if (!line.starts_with("#!")) {
        type = OS_MISC_NOT_INTERPRETER;
    } else {
        const size_t slash = line.find('/');
        const std::string_view from_slash = slash == std::string_view::npos ? std::string_view() : line.substr(slash);
        const std::string_view last_part =
            slash == std::string_view::npos ? std::string_view() : line.substr(line.rfind('/'));
        for (const ShellPath& candidate : kShellCandidates) {
            const std::string_view path(candidate.path);
            if (path.size() > from_slash.size()) break;
            if (last_part.starts_with(path.substr(path.rfind('/')))) {
                type = candidate.type == OS_MISC_NCRX ? OS_MISC_RXX : candidate.type;
                if (shell_token) {
                    const size_t end = from_slash.find_first_of(" \t\r\n");
                    const std::string_view token = from_slash.substr(0, end);
                    std::snprintf(shell_token, OS_MISC_SHELL_TOKEN_ROOM, "%.*s", static_cast<int>(token.size()),
                                  token.data());
                    DIAG_TRACE(4, "%s: save the first token as is : %s ", fn, shell_token);
                }
                break;
            }
        }
    }
    DIAG_TRACE(4, "%s: shell type - '%d'", fn, type);
    return type;
}

const char* OS_MISC_get_shell_path(int shell_type) {
    for (const ShellPath& candidate : kShellCandidates)
        if (candidate.type == shell_type) return candidate.path;
    return nullptr;
}

int OS_MISC_shell_x_option(const char* liner) {
    if (!liner || std::strncmp(liner, "#!", 2) != 0) return CM_RC_FAIL;
    const char* shell = std::strstr(liner, "/ksh");
    size_t length = 4;
    if (!shell) {
        shell = std::strstr(liner, "/sh");
        length = 3;
    }
    return shell && std::strstr(shell + length, "-x") ? CM_RC_OK : CM_RC_FAIL;
}

CM_RC OS_MISC_look_for_token(const char* line, const char* token, int first_token) {
    return look_for(line, token, first_token);
}

CM_RC OS_MISC_find_token(const char* line, const char* token, int switch_case_also, int first_token) {
    if (look_for(line, token, first_token) == CM_RC_OK) return CM_RC_OK;
    if (!switch_case_also || !line) return CM_RC_FAIL;
    return look_for(swapped_case(line).c_str(), token, first_token);
}

CM_RC OS_MISC_does_the_first_token(const char* line, int position) {
    if (!line) return CM_RC_FAIL;
    return first_token_at(line, position);
}

int OS_MISC_find_last_str(const char* line, const char* token, int till_location) {
    if (!line || !token) return OS_MISC_NOT_FOUND;
    return last_occurrence(line, token, till_location);
}

int OS_MISC_find_str_loc(const char* line, const char* token, int from_location) {
    if (!line || !token || !*token || from_location < 0) return OS_MISC_NOT_FOUND;
    const std::string_view text(line);
    if (static_cast<size_t>(from_location) > text.size()) return OS_MISC_NOT_FOUND;
    const size_t at = text.find(token, static_cast<size_t>(from_location));
    return at == std::string_view::npos ? OS_MISC_NOT_FOUND : static_cast<int>(at);
}

CM_RC OS_MISC_replace_token(char* line, const char* token, const char* repl) {
    if (!line || !token || !*token || !repl) return CM_RC_FAIL;
    const std::string_view tok(token);
    const bool dollar_zero = tok.starts_with("$0");
    std::string copy(line);
    {
        std::lock_guard<std::mutex> lock(zone_mutex);
        for (long limit = static_cast<long>(copy.size()); limit >= 0;) {
            const int at = last_occurrence(copy, tok, limit);
            if (at < 0) break;
            const bool escaped = dollar_zero && at > 0 && copy[static_cast<size_t>(at) - 1] == '\\';
            if (!escaped && inside(zone, at) == OS_MISC_NOT_FOUND)
                copy.replace(static_cast<size_t>(at), tok.size(), repl);
            limit = at - 1L;
        }
    }
    if (copy.size() >= OS_MISC_LINE_ROOM) return CM_RC_FAIL;
    std::memcpy(line, copy.c_str(), copy.size() + 1);
    DIAG_TRACE(4, "%s : Replaced line : %s\n", "OS_MISC_replace_token", line);
    return CM_RC_OK;
}

void OS_MISC_zone_handle_line(const char* line, int line_num) {
    std::lock_guard<std::mutex> lock(zone_mutex);
    handle_line(zone, line ? line : "", line_num);
}

void OS_MISC_set_zone(int zone_state) {
    std::lock_guard<std::mutex> lock(zone_mutex);
    zone.state = zone_state;
}

int OS_MISC_get_zone(void) {
    std::lock_guard<std::mutex> lock(zone_mutex);
    return zone.state;
}

void OS_MISC_mark_zone_range(int start, int end) {
    std::lock_guard<std::mutex> lock(zone_mutex);
    zone.start = start;
    zone.end = end;
}

void OS_MISC_new_line(void) {
    std::lock_guard<std::mutex> lock(zone_mutex);
    start_line(zone);
}

int OS_MISC_decide_if_inside_zone(int loc) {
    std::lock_guard<std::mutex> lock(zone_mutex);
    return inside(zone, loc);
}

int OS_MISC_recogniz_tokens(const char* line, int act, int from_loc) {
    if (!line) return OS_MISC_NOT_FOUND;
    std::lock_guard<std::mutex> lock(zone_mutex);
    return recognize(zone, line, act, from_loc);
}

void OS_MISC_set_zone_str(const char* open_first, const char* open_second, const char* open_optional,
                          const char* close_first, const char* close_second, const char* close_optional) {
    std::lock_guard<std::mutex> lock(zone_mutex);
    zone.opening = {cut_zone_text(open_first), cut_zone_text(open_second), cut_zone_text(open_optional)};
    zone.closing = {cut_zone_text(close_first), cut_zone_text(close_second), cut_zone_text(close_optional)};
}

CM_RC OS_MISC_get_zone_str(int act, char* first, char* second, char* optional) {
    std::lock_guard<std::mutex> lock(zone_mutex);
    const ZonePair* pair = pair_of(zone, act);
    if (!pair || !pair->set()) return CM_RC_FAIL;
    if (first) std::snprintf(first, OS_MISC_ZONE_STR_ROOM, "%s", pair->first.c_str());
    if (second) std::snprintf(second, OS_MISC_ZONE_STR_ROOM, "%s", pair->second.c_str());
    if (optional) std::snprintf(optional, OS_MISC_ZONE_STR_ROOM, "%s", pair->optional.c_str());
    return CM_RC_OK;
}

int OS_MISC_in_ksh_func(const char* line, int status, int* start) {
    if (!line) return OS_MISC_NOT_FOUND;
    const std::string_view text(line);
    if (status == OS_MISC_NEXT_LINE) return scan_for_brace(text, 0, start);
    if (status != OS_MISC_NOT_FOUND) return OS_MISC_NEXT_LINE;

    constexpr std::string_view kKeyword = "function";
    const size_t keyword = text.find(kKeyword);
    const size_t after = keyword + kKeyword.size();
    // "function" as a word of its own: a name such as function_x() is a POSIX definition.
    if (keyword != std::string_view::npos && only_white_before(text, keyword) && after < text.size() &&
        is_white(text[after])) {
        size_t end = text.find_first_of("{#", after);
        if (end == std::string_view::npos) end = text.find('\\', after);
        if (end == std::string_view::npos) end = text.size();
        if (!one_name(text.substr(after, end - after))) return OS_MISC_NOT_FOUND;
        return scan_for_brace(text, end, start);
    }
    const size_t parens = text.find("()");
    if (parens == std::string_view::npos || !one_name(text.substr(0, parens))) return OS_MISC_NOT_FOUND;
    return scan_for_brace(text, parens + 2, start);
}

int OS_MISC_is_newline(const char* c) {
    if (!c) return CM_RC_FAIL;
    if (*c == '\n' || *c == '\0') return CM_RC_OK;
    return *c == '\\' && (c[1] == '\n' || c[1] == '\0') ? CM_RC_OK : CM_RC_FAIL;
}

int OS_MISC_empty_line(const char* str) {
    if (!str) return CM_RC_FAIL;
    for (const char* c = str; *c; ++c) {
        if (is_white(*c)) continue;
        if (*c == '\\' && (c[1] == '\n' || c[1] == '\0')) continue;
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

void OS_MISC_switch_case(char* text) {
    if (!text) return;
    const std::string swapped = swapped_case(text);
    std::memcpy(text, swapped.data(), swapped.size());
}

}  // extern "C"
