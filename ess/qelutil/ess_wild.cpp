/* Wildcard matcher of the security library: '*' any run of characters, '?' and '$' any one
 * character, everything else itself (case matters). */
#include <cstring>
#include <string_view>

#include "ess_str_utils.h"

namespace {

bool char_matches(char p, char t) { return p == '?' || p == '$' || p == t; }

bool part_matches_at(std::string_view text, size_t at, std::string_view part) {
    if (at + part.size() > text.size()) return false;
    for (size_t i = 0; i < part.size(); ++i)
        if (!char_matches(part[i], text[at + i])) return false;
    return true;
}

}  // namespace

extern "C" int ESS_WILD_match(const char* text, const char* pattern) {
    if (!text || !pattern) return -1;
    const std::string_view t(text);
    const std::string_view p(pattern);
    const size_t star = p.find('*');
    if (star == std::string_view::npos) return t.size() == p.size() && part_matches_at(t, 0, p) ? 0 : -1;

    /* The part before the first '*' matches the start of the text. */
    if (!part_matches_at(t, 0, p.substr(0, star))) return -1;
    size_t pos = star;  // where the rest of the text starts
    size_t pi = star;   // at a '*' in the pattern
    const size_t lastStar = p.rfind('*');
    while (pi < lastStar) {
        size_t next = p.find('*', pi + 1);
        std::string_view part = p.substr(pi + 1, next - pi - 1);
        pi = next;
        if (part.empty()) continue;  // consecutive '*' count as one
        /* Each middle part takes the leftmost place where it matches. */
        size_t at = pos;
        while (at + part.size() <= t.size() && !part_matches_at(t, at, part)) ++at;
        if (at + part.size() > t.size()) return -1;
        pos = at + part.size();
    }
    /* The last part matches the end of what remains. */
    std::string_view last = p.substr(lastStar + 1);
    if (last.size() > t.size() - pos) return -1;
    return part_matches_at(t, t.size() - last.size(), last) ? 0 : -1;
}
