/* Text functions of the agent library: blanks, comparisons, case, number checks, splitting and
 * trimming of NUL-terminated texts. Owns the per-thread result buffers of GM_STR_substr and
 * GM_STR_get_word. */
#include "gm_str.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "os_diag.h"

namespace {

constexpr char kBlank = ' ';
/* Room of each word GM_STR_math reads, and of one field GM_STR_bckslsh_2double copies. */
constexpr int kMathWordMax = 99;
constexpr int kBackslashFieldRoom = 2048;
/* Operands above this make a multiplication overflow. */
constexpr double kMathMulLimit = 9e18;

/* Result buffers handed back to the caller: one per thread, so that two threads never overwrite
 * each other's result. */
thread_local char gm_msg_st[GM_STR_SUBSTR_ROOM];
thread_local char temparea[GM_STR_WORD_ROOM];

size_t unpadded_length(const char* text) {
    size_t len = std::strlen(text);
    while (len > 0 && text[len - 1] == kBlank) --len;
    return len;
}

bool is_digit(char c) { return c >= '0' && c <= '9'; }

/* The start of field `field` (from 1) of `line`, or null; `reached` receives the number of fields
 * the line has when the field is missing. */
const char* nth_field_start(const char* line, int field, char delimiter, int* reached) {
    const char* p = line;
    for (int i = 1; i < field; ++i) {
        p = std::strchr(p, delimiter);
        if (p == nullptr || delimiter == '\0') {
            *reached = i;
            return nullptr;
        }
        while (*p == delimiter) ++p;
    }
    return p;
}

}  // namespace

extern "C" {

char* GM_STR_unpad(char* text) {
    if (text == nullptr || *text == '\0') return text;
    text[unpadded_length(text)] = '\0';
    return text;
}

int GM_STRlen(const char* text) {
    if (text == nullptr) return 0;
    return static_cast<int>(unpadded_length(text));
}

int GM_STRcmp(const char* text1, const char* text2) {
    const char* a = text1 != nullptr ? text1 : "";
    const char* b = text2 != nullptr ? text2 : "";
    size_t la = unpadded_length(a);
    size_t lb = unpadded_length(b);
    int cmp = std::memcmp(a, b, la < lb ? la : lb);
    if (cmp != 0) return cmp;
    if (la == lb) return 0;
    return la > lb ? 1 : -1;
}

flag GM_STR_all_blanks(const char* text) {
    if (text == nullptr) return 0;
    for (const char* p = text; *p != '\0'; ++p)
        if (*p != kBlank) return 0;
    return 1;
}

flag GM_STR_contain_blank(const char* text) {
    if (text == nullptr) return 0;
    return std::strchr(text, kBlank) != nullptr ? 1 : 0;
}

char* GM_STR_toupper(char* text) {
    if (text == nullptr) return text;
    for (char* p = text; *p != '\0'; ++p) *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
    return text;
}

char* GM_STR_tolower(char* text) {
    if (text == nullptr) return text;
    for (char* p = text; *p != '\0'; ++p) *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
    return text;
}

CM_RC GM_STR_isnumber(const char* text) {
    const char* t = text != nullptr ? text : "";
    bool ok = is_digit(t[0]) || t[0] == '+' || t[0] == '-';
    for (const char* p = t + 1; ok && *p != '\0'; ++p) ok = is_digit(*p);
    if (ok) return CM_RC_OK;
    OS_MSGERR_display("%s is not valid number", t);
    return CM_RC_FAIL;
}

CM_RC GM_STR_isunsignednumber(const char* text) {
    const char* t = text != nullptr ? text : "";
    CM_RC rc = GM_STR_isnumber(t);
    /* Negative means a minus sign before a non-zero digit; judged on the digits so that a number
     * too large for any integer type is still judged by its sign. */
    if (rc == CM_RC_OK && t[0] == '-' && std::strspn(t + 1, "0") != std::strlen(t + 1)) rc = CM_RC_FAIL;
    if (rc != CM_RC_OK) OS_MSGERR_display("%s is not a positive number", t);
    return rc;
}

char* GM_STR_substr(const char* source, unsigned int start, unsigned int end) {
    gm_msg_st[0] = '\0';
    if (source == nullptr) return gm_msg_st;
    size_t len = std::strlen(source);
    size_t stop = end < len ? end : len;
    if (start > len || stop <= start) return gm_msg_st;
    size_t n = stop - start;
    if (n > GM_STR_SUBSTR_MAX) n = GM_STR_SUBSTR_MAX;
    std::memcpy(gm_msg_st, source + start, n);
    gm_msg_st[n] = '\0';
    return gm_msg_st;
}

CM_RC GM_STR_fgets_line(FILE* stream, char* buffer, int size) {
    /* fgets with room for fewer than two bytes reads nothing and would never reach the end. */
    if (stream == nullptr || buffer == nullptr || size < 2) return CM_RC_FAIL;
    if (std::fgets(buffer, size, stream) == nullptr) return CM_RC_FAIL;
    for (char* p = buffer; *p != '\0'; ++p)
        if (*p == '\n') *p = '\0';
    return CM_RC_OK;
}

char* GM_STR_get_word(const char* text, int count, const char* separators) {
    temparea[0] = '\0';
    if (text == nullptr || separators == nullptr || count < 1) return temparea;
    std::string_view copy(text, std::min(std::strlen(text), sizeof temparea - 1));
    int word = 0;
    size_t pos = 0;
    while (pos < copy.size()) {
        size_t begin = copy.find_first_not_of(separators, pos);
        if (begin == std::string_view::npos) break;
        size_t stop = copy.find_first_of(separators, begin);
        if (stop == std::string_view::npos) stop = copy.size();
        if (++word == count) {
            copy.substr(begin, stop - begin).copy(temparea, stop - begin);
            temparea[stop - begin] = '\0';
            return temparea;
        }
        pos = stop;
    }
    return temparea; /* fewer words than asked: an empty text */
}

CM_RC GM_STR_get_nth_field(const char* line, int field, char delimiter, char* result, int result_len) {
    if (line == nullptr || result == nullptr || result_len <= 0) return CM_RC_FAIL;
    result[0] = '\0';
    int reached = 0;
    const char* start = field >= 1 ? nth_field_start(line, field, delimiter, &reached) : nullptr;
    if (start == nullptr) {
        DIAG_TRACE(4, "field %d doesn't exist. there are only %d fields\n\tLine - '%s'", field, reached, line);
        return CM_RC_FAIL;
    }
    const char* stop = std::strchr(start, delimiter);
    size_t len = stop != nullptr ? static_cast<size_t>(stop - start) : std::strlen(start);
    if (len >= static_cast<size_t>(result_len)) return CM_RC_FAIL;
    std::memcpy(result, start, len);
    result[len] = '\0';
    return CM_RC_OK;
}

void GM_STR_get_extention(const char* file_name, char* extension, unsigned int size) {
    if (extension == nullptr || size == 0) return;
    extension[0] = '\0';
    if (file_name == nullptr) return;
    const char* dot = std::strrchr(file_name, '.');
    if (dot == nullptr) return;
    size_t n = std::strlen(dot + 1);
    if (n > size - 1) n = size - 1;
    std::memcpy(extension, dot + 1, n);
    extension[n] = '\0';
}

char* GM_STR_bckslsh_blnk(const char* source, char* target) {
    if (source == nullptr || target == nullptr) return nullptr;
    size_t len = unpadded_length(source);
    char* out = target;
    for (size_t i = 0; i < len; ++i) {
        if (source[i] == kBlank) *out++ = '\\';
        *out++ = source[i];
    }
    *out = '\0';
    return target;
}

char* GM_STR_bckslsh_2double(const char* source, char* target) {
    if (source == nullptr || target == nullptr) return target;
    char field[kBackslashFieldRoom];
    for (int n = 1; GM_STR_get_nth_field(source, n, '\\', field, sizeof field) == CM_RC_OK; ++n) {
        std::strcat(target, field);
        std::strcat(target, "\\\\");
    }
    if (target[0] == '\0') std::strcpy(target, source);
    return target;
}

double GM_STR_math(char* text) {
    if (text == nullptr) return 0.0;
    DIAG_TRACE(3, "GM_STR_math:'%s'", text);
    char word1[kMathWordMax + 1] = "";
    char op[kMathWordMax + 1] = "";
    char word2[kMathWordMax + 1] = "";
    if (std::sscanf(text, "%99s %99s %99s", word1, op, word2) != 3) {
        DIAG_TRACE(3, "GM_STR_math: '%s' is not <number> <operator> <number>", text);
        return 0.0;
    }
    double a = std::strtod(word1, nullptr);
    double b = std::strtod(word2, nullptr);
    DIAG_TRACE(3, "GM_STR_math:'%s' '%s' '%s', a=%f, b=%f", word1, op, word2, a, b);

    double result = 0.0;
    const char* error = "";
    switch (op[0]) {
    case '+': result = a + b; break;
    case '-': result = a - b; break;
    case '*':
        if (a > kMathMulLimit || b > kMathMulLimit)
            error = "OVER FLOW";
        else
            result = a * b;
        break;
    case '/':
        if (b == 0.0)
            error = "DIV BY ZERO";
        else
            result = a / b;
        break;
    default: DIAG_TRACE(3, "GM_STR_math: unknown operator '%s', text left as it is", op); return 0.0;
    }
    DIAG_TRACE(3, "GM_STR_math: Result = %f , error:'%s'", result, error);

    char out[512];
    if (*error != '\0') {
        std::snprintf(out, sizeof out, "%s", error);
    } else if (std::isfinite(result) && result == std::floor(result) && std::fabs(result) < 9.2e18) {
        std::snprintf(out, sizeof out, "%0ld", static_cast<long>(result));
    } else {
        /* A result whose text would not fit the room the caller's text is promised is an
         * overflow, not a cut number. */
        int n = std::snprintf(out, sizeof out, "%f", result);
        if (n < 0 || n > GM_STR_MATH_MAX) std::snprintf(out, sizeof out, "%s", "OVER FLOW");
    }
    size_t len = std::min(std::strlen(out), static_cast<size_t>(GM_STR_MATH_MAX));
    std::memcpy(text, out, len);
    text[len] = '\0';
    DIAG_TRACE(3, "GM_STR_math: Result = %s", text);
    return 0.0;
}

CM_RC GM_STR_trim_leading_spaces(char* text) {
    static const char* const fn = "GM_STR_trim_leading_spaces";
    if (text == nullptr) {
        DIAG_TRACE(3, "<<< %s: cannot process null pointer", fn);
        return CM_RC_FAIL;
    }
    DIAG_TRACE(5, ">>> %s enter: original string %s", fn, text);
    size_t skip = 0;
    while (text[skip] != '\0' && std::isspace(static_cast<unsigned char>(text[skip]))) ++skip;
    if (skip > 0) std::memmove(text, text + skip, std::strlen(text + skip) + 1);
    DIAG_TRACE(5, "<<< %s exit: trimmed string %s", fn, text);
    return CM_RC_OK;
}

CM_RC GM_STR_trim_leading_until_char(char* to_trim, const char* stop) {
    static const char* const fn = "GM_STR_trim_leading_until_char";
    if (to_trim == nullptr || stop == nullptr) {
        DIAG_TRACE(3, "<<< %s exit: cannot process null pointer %s", fn, to_trim == nullptr ? "to_trim" : "stop");
        return CM_RC_FAIL;
    }
    DIAG_TRACE(5, ">>> %s enter: original string %s", fn, to_trim);
    if (*stop == '\0') {
        DIAG_TRACE(3, "<<< %s exit: will not process empty string", fn);
        return CM_RC_OK;
    }
    char* from = std::strpbrk(to_trim, stop);
    if (from == nullptr) {
        DIAG_TRACE(5, "<<<%s exit: no occurences of %s found in %s", fn, stop, to_trim);
        return CM_RC_OK; /* no stop character: the text stays as it is */
    }
    DIAG_TRACE(5, "%s: will start copying from %s", fn, from);
    std::memmove(to_trim, from, std::strlen(from) + 1);
    DIAG_TRACE(5, "<<< %s exit: trimmed string %s", fn, to_trim);
    return CM_RC_OK;
}

CM_RC GM_STR_trim_trailing_until_char(char* to_trim, const char* stop) {
    static const char* const fn = "GM_STR_trim_trailing_until_char";
    if (to_trim == nullptr || stop == nullptr) {
        DIAG_TRACE(3, "<<< %s exit: cannot process null pointer %s", fn, to_trim == nullptr ? "to_trim" : "stop");
        return CM_RC_FAIL;
    }
    DIAG_TRACE(5, ">>> %s: original string %s", fn, to_trim);
    if (*stop == '\0') {
        DIAG_TRACE(3, "<<< %s exit: will not process empty string", fn);
        return CM_RC_OK;
    }
    char* last = nullptr;
    for (char* p = to_trim; *p != '\0'; ++p)
        if (std::strchr(stop, *p) != nullptr) last = p;
    if (last == nullptr) {
        DIAG_TRACE(5, "<<<%s exit: no occurences of %s found in %s", fn, stop, to_trim);
        return CM_RC_OK;
    }
    last[1] = '\0'; /* the text ends with its last stop character, as its twin starts with one */
    DIAG_TRACE(5, "<<< %s exit: trimmed string %s", fn, to_trim);
    return CM_RC_OK;
}

}  // extern "C"
