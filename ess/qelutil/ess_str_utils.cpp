/* String helpers of the security library: NULL-safe copies and lengths, trimming, splitting,
 * case-insensitive compares, character and pattern replacement, bounded formatting. */
#include "ess_str_utils.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool is_blank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

/* Trims white space at both ends of [begin, end) and returns a new text. */
char* trimmed_copy(const char* begin, const char* end) {
    while (begin < end && is_blank(*begin)) ++begin;
    while (end > begin && is_blank(end[-1])) --end;
    const size_t n = static_cast<size_t>(end - begin);
    auto* out = static_cast<char*>(std::malloc(n + 1));
    if (!out) return nullptr;
    std::memcpy(out, begin, n);
    out[n] = '\0';
    return out;
}

}  // namespace

extern "C" {

char* ess_strncpy(char* target, const char* source, int len) {
    if (!target || !source) return nullptr;
    if (len < 1) return target;
    const size_t n = strnlen(source, static_cast<size_t>(len) - 1);
    std::memcpy(target, source, n);
    target[n] = '\0';
    return target;
}

char* ess_strdup(const char* str) { return str ? strdup(str) : nullptr; }

int ess_strlen(const char* str) { return str ? static_cast<int>(std::strlen(str)) : 0; }

int ess_strIsDigit(const char* str) {
    if (!str || !*str) return 0;
    for (const char* p = str; *p; ++p)
        if (*p < '0' || *p > '9') return 0;
    return 1;
}

char* ess_strUnpad(char* str) {
    if (!str || !*str) return str;
    size_t n = std::strlen(str);
    while (n > 1 && is_blank(str[n - 1])) --n;  // the first character always stays
    str[n] = '\0';
    return str;
}

char* ess_strLeftRight_Unpad(char* str) {
    if (!str) return str;
    size_t n = std::strlen(str);
    while (n > 0 && is_blank(str[n - 1])) --n;
    str[n] = '\0';
    size_t lead = 0;
    while (lead < n && is_blank(str[lead])) ++lead;
    std::memmove(str, str + lead, n - lead + 1);
    return str;
}

char* ess_strToupper(char* str) {
    if (!str) return str;
    for (char* p = str; *p; ++p) *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    return str;
}

char* ess_strSplit2Name_Value(const char* text, char** value) {
    if (!text || !value) return nullptr;
    const char* eq = std::strchr(text, '=');
    if (!eq) return nullptr;
    /* One block: the trimmed name, its terminator, then the trimmed value. */
    const size_t len = std::strlen(text);
    auto* block = static_cast<char*>(std::malloc(len + 2));
    if (!block) return nullptr;
    const char* nb = text;
    const char* ne = eq;
    while (nb < ne && is_blank(*nb)) ++nb;
    while (ne > nb && is_blank(ne[-1])) --ne;
    const char* vb = eq + 1;
    const char* ve = text + len;
    while (vb < ve && is_blank(*vb)) ++vb;
    while (ve > vb && is_blank(ve[-1])) --ve;
    const size_t nn = static_cast<size_t>(ne - nb);
    const size_t vn = static_cast<size_t>(ve - vb);
    std::memcpy(block, nb, nn);
    block[nn] = '\0';
    std::memcpy(block + nn + 1, vb, vn);
    block[nn + 1 + vn] = '\0';
    *value = block + nn + 1;
    return block;
}

int ess_stricmp(const char* a, const char* b) {
    if (!a) return -1;
    if (!b) return 1;
    return strcasecmp(a, b);
}

int ess_strincmp(const char* a, const char* b, int n) {
    if (!a) return -1;
    if (!b) return 1;
    if (n <= 0) return 0;
    return strncasecmp(a, b, static_cast<size_t>(n));
}

int ess_strSplitItems(const char* text, int* count, char*** items, char separator) {
    if (!text || !count || !items) return -1;
    std::vector<char*> out;
    const char* start = text;
    for (;;) {
        const char* end = std::strchr(start, separator);
        if (separator == '\0' || !end) end = start + std::strlen(start);
        char* item = trimmed_copy(start, end);
        if (!item) {
            for (char* p : out) std::free(p);
            return -1;
        }
        out.push_back(item);
        if (*end == '\0') break;
        start = end + 1;
    }
    auto* array = static_cast<char**>(std::calloc(out.size() + 1, sizeof(char*)));
    if (!array) {
        for (char* p : out) std::free(p);
        return -1;
    }
    for (size_t i = 0; i < out.size(); ++i) array[i] = out[i];
    *count = static_cast<int>(out.size());
    *items = array;
    return 0;
}

void ess_strFreeArgv(int count, char** items) {
    if (!items) return;
    for (int i = 0; i < count; ++i) std::free(items[i]);
    std::free(items);
}

int ess_strWhichAttribute(const char* name, const char* const* table, int size) {
    if (!name || !table) return -1;
    for (int i = 0; i < size; ++i)
        if (table[i] && strcasecmp(name, table[i]) == 0) return i;
    return -1;
}

int ess_bufdup(const void* buf, int len, void** out) {
    if (!buf || len < 1 || !out) return -1;
    void* copy = std::malloc(static_cast<size_t>(len));
    if (!copy) return -1;
    std::memcpy(copy, buf, static_cast<size_t>(len));
    *out = copy;
    return 0;
}

char* ess_strRemoveChar(char* str, char ch) {
    if (!str) return str;
    char* w = str;
    for (const char* r = str; *r; ++r)
        if (*r != ch) *w++ = *r;
    *w = '\0';
    return str;
}

char* ess_strReplaceChar(char* str, char oldCh, char newCh) {
    if (!str) return str;
    for (char* p = str; *p; ++p)
        if (*p == oldCh) *p = newCh;
    return str;
}

int ess_strReplacePattern(const char* input, const char* oldPattern, const char* newPattern, char* output,
                          int outputSize) {
    if (!input || !output || outputSize < 1) return -1;
    std::string result;
    const bool replace = oldPattern && *oldPattern && newPattern && *newPattern;
    if (!replace) {
        result = input;
    } else {
        const size_t oldLen = std::strlen(oldPattern);
        for (const char* p = input; *p;) {
            if (std::strncmp(p, oldPattern, oldLen) == 0) {
                result += newPattern;
                p += oldLen;
            } else {
                result += *p++;
            }
        }
    }
    /* The output holds at most outputSize-1 characters and its terminator; a text that does not fit
     * is cut there and reported. */
    const bool fits = result.size() < static_cast<size_t>(outputSize);
    ess_strncpy(output, result.c_str(), outputSize);
    return fits ? 0 : -1;
}

int ess_vsnprintf(char* buf, size_t size, const char* format, va_list args) {
    return std::vsnprintf(buf, size, format, args);
}

int ess_snprintf(char* buf, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(buf, size, format, args);
    va_end(args);
    return n;
}

}  // extern "C"
