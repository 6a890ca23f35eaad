// Wildcard patterns: matching, checked against a plain dynamic-programming matcher over every short
// pattern and name, and the translation to and from the SQL LIKE form.
#include "gm_wild.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Reference: "*" any run, "?" and "$" one character; an empty pattern matches everything.
bool reference_match(const std::string& s, const std::string& p) {
    if (p.empty()) return true;
    std::vector<std::vector<bool>> m(s.size() + 1, std::vector<bool>(p.size() + 1, false));
    m[0][0] = true;
    for (size_t j = 1; j <= p.size(); ++j) m[0][j] = m[0][j - 1] && p[j - 1] == '*';
    for (size_t i = 1; i <= s.size(); ++i)
        for (size_t j = 1; j <= p.size(); ++j) {
            char c = p[j - 1];
            if (c == '*')
                m[i][j] = m[i][j - 1] || m[i - 1][j];
            else
                m[i][j] = m[i - 1][j - 1] && (c == '?' || c == '$' || c == s[i - 1]);
        }
    return m[s.size()][p.size()];
}

void all_texts(const std::string& alphabet, size_t max_len, std::vector<std::string>& out) {
    std::vector<std::string> level{""};
    out.push_back("");
    for (size_t len = 1; len <= max_len; ++len) {
        std::vector<std::string> next;
        for (const auto& t : level)
            for (char c : alphabet) next.push_back(t + c);
        out.insert(out.end(), next.begin(), next.end());
        level.swap(next);
    }
}

}  // namespace

TEST(GmWild, MatchesWholeNamesAgainstWholePatterns) {
    struct Case {
        const char* source;
        const char* pattern;
        CM_RC rc;
    };
    const Case cases[] = {
        {"abc", "abc", 1},     {"abc", "a*", 1},
        {"abc", "*c", 1},      {"abc", "a?c", 1},
        {"abc", "a$c", 1},     {"abc", "*", 1},
        {"abc", "*b*", 1},     {"abc", "", 1},
        {"abcde", "a*c*e", 1}, {"ace", "a*c*e", 1},
        {"abc", "ab", 2},      {"abc", "abcd", 2},
        {"abc", "a?", 2},      {"abc", "*b", 2},
        {"abc", "??", 2},      {"abc", "ABC", 2},
        {"", "*", 1},          {"", "?", 2},
        {"", "", 1},           {"abab", "*ab", 1},
        {"aXbXb", "a*b", 1},   {"ORVCM_X", "ORV*_?", 1},
    };
    for (const auto& c : cases) EXPECT_EQ(GM_WILD_match(c.source, c.pattern), c.rc) << c.source << " ~ " << c.pattern;
    EXPECT_EQ(GM_WILD_match(nullptr, "*"), CM_RC_FAIL);
    EXPECT_EQ(GM_WILD_match("a", nullptr), CM_RC_FAIL);
}

TEST(GmWild, AgreesWithAReferenceMatcherOnEveryShortPatternAndName) {
    std::vector<std::string> sources, patterns;
    all_texts("ab", 5, sources);
    all_texts("ab*?", 4, patterns);
    for (const auto& p : patterns)
        for (const auto& s : sources)
            ASSERT_EQ(GM_WILD_match(s.c_str(), p.c_str()) == CM_RC_OK, reference_match(s, p)) << s << " ~ " << p;
}

TEST(GmWild, PrefixLengthStopsAtTheFirstStar) {
    EXPECT_EQ(GM_wild_subsrtlen("abc*d*"), 3);
    EXPECT_EQ(GM_wild_subsrtlen("*abc"), 0);
    EXPECT_EQ(GM_wild_subsrtlen("a?c"), 3);
    EXPECT_EQ(GM_wild_subsrtlen(""), 0);
}

TEST(GmWild, TranslatesPatternsToAndFromSqlInPlace) {
    struct Case {
        CM_RC (*fn)(char*);
        const char* in;
        CM_RC rc;
        const char* out;
    };
    const Case cases[] = {
        {GM_WILD_translate_to_sql, "a*b?c", 1, "a%b_c"}, {GM_WILD_translate_to_sql, "abc", 2, "abc"},
        {GM_WILD_translate_to_sql, "a$c", 2, "a$c"},     {GM_WILD_translate_from_sql, "a%b_c", 1, "a*b?c"},
        {GM_WILD_translate_from_sql, "abc", 2, "abc"},
    };
    for (const auto& c : cases) {
        std::string text = c.in;
        EXPECT_EQ(c.fn(text.data()), c.rc) << c.in;
        EXPECT_EQ(text, c.out) << c.in;
    }
    EXPECT_EQ(GM_WILD_translate_to_sql(nullptr), CM_RC_FAIL);
}
