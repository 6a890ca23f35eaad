/* Wildcard matching of names against the scheduler's patterns, and the translation of those
 * patterns to and from the SQL LIKE form. Owns no state. */
#include "gm_wild.h"

#include <cstring>
#include <string_view>

namespace {

constexpr char kAnyRun = '*';

bool char_matches(char source, char pattern) { return pattern == '?' || pattern == '$' || pattern == source; }

/* Does the segment match the source at position pos (without running past the source's end)? */
bool segment_at(std::string_view source, size_t pos, std::string_view segment) {
    if (pos > source.size() || segment.size() > source.size() - pos) return false;
    for (size_t i = 0; i < segment.size(); ++i)
        if (!char_matches(source[pos + i], segment[i])) return false;
    return true;
}

CM_RC replace_all(char* pattern, char from1, char to1, char from2, char to2) {
    if (pattern == nullptr) return CM_RC_FAIL;
    bool replaced = false;
    for (char* p = pattern; *p != '\0'; ++p) {
        if (*p == from1) {
            *p = to1;
            replaced = true;
        } else if (*p == from2) {
            *p = to2;
            replaced = true;
        }
    }
    return replaced ? CM_RC_OK : CM_RC_FAIL;
}

}  // namespace

extern "C" {

/* The pattern is cut at its stars into segments. A segment that follows a star is matched at the
 * first position where it fits (the leftmost fit leaves the most room for what follows); one that
 * does not must fit where the previous one ended. The last segment must end with the source. */
CM_RC GM_WILD_match(const char* source, const char* pattern) {
    if (source == nullptr || pattern == nullptr) return CM_RC_FAIL;
    const std::string_view src(source);
    std::string_view rest(pattern);
    size_t pos = 0;
    bool after_star = false;
    for (;;) {
        const size_t star = rest.find(kAnyRun);
        const std::string_view segment = rest.substr(0, star);
        if (star == std::string_view::npos) { /* the last segment */
            if (segment.empty()) return CM_RC_OK;
            if (after_star) {
                if (src.size() < pos + segment.size()) return CM_RC_FAIL;
                return segment_at(src, src.size() - segment.size(), segment) ? CM_RC_OK : CM_RC_FAIL;
            }
            return pos + segment.size() == src.size() && segment_at(src, pos, segment) ? CM_RC_OK : CM_RC_FAIL;
        }
        if (after_star) {
            size_t at = pos;
            while (at + segment.size() <= src.size() && !segment_at(src, at, segment)) ++at;
            if (at + segment.size() > src.size()) return CM_RC_FAIL;
            pos = at + segment.size();
        } else {
            if (!segment_at(src, pos, segment)) return CM_RC_FAIL;
            pos += segment.size();
        }
        rest.remove_prefix(star + 1);
        after_star = true;
    }
}

int GM_wild_subsrtlen(const char* pattern) {
    if (pattern == nullptr) return 0;
    return static_cast<int>(std::strcspn(pattern, "*"));
}

CM_RC GM_WILD_translate_to_sql(char* pattern) { return replace_all(pattern, '*', '%', '?', '_'); }

CM_RC GM_WILD_translate_from_sql(char* pattern) { return replace_all(pattern, '%', '*', '_', '?'); }

}  // extern "C"
