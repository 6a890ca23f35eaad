/* Fields of the agent protocol. One descriptor per field type (its width, its length prefix and its
 * kind of content) drives the writer, the readers and the encoded length, so that what a writer
 * writes is exactly what the length function announced. Readers never pass the text's NUL. */
#include "dsect_fld.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dsect_internal.h"
#include "gm_36.h"
#include "os_diag.h"

namespace {

enum class Kind {
    counted_text,   /* DF_VAR1..DF_VAR5: length prefix, then the text */
    counted_number, /* DF_IVAR1: digit count, then the decimal text */
    fixed_text,     /* DF_C*: left-aligned, blank-padded */
    fixed_decimal,  /* DF_I*: zero-padded decimal */
    base36,         /* DF_B5: base-36 number, written as text by DSECT_FLD_set */
    raw             /* DF_DSECT_LIST: the text taken whole */
};

struct Descriptor {
    int maxlen;
    int headertype;
    Kind kind;
};

constexpr Descriptor kFields[DF_NOMORETYPES] = {
    {9, DF_I1, Kind::counted_text},           {99, DF_I2, Kind::counted_text},
    {999, DF_I3, Kind::counted_text},         {9999, DF_I4, Kind::counted_text},
    {99999, DF_I5, Kind::counted_text},       {9, DF_I1, Kind::counted_number},
    {1, DF_NOMORETYPES, Kind::fixed_text},    {2, DF_NOMORETYPES, Kind::fixed_text},
    {3, DF_NOMORETYPES, Kind::fixed_text},    {4, DF_NOMORETYPES, Kind::fixed_text},
    {5, DF_NOMORETYPES, Kind::fixed_text},    {6, DF_NOMORETYPES, Kind::fixed_text},
    {10, DF_NOMORETYPES, Kind::fixed_text},   {12, DF_NOMORETYPES, Kind::fixed_text},
    {14, DF_NOMORETYPES, Kind::fixed_text},   {1, DF_NOMORETYPES, Kind::fixed_decimal},
    {2, DF_NOMORETYPES, Kind::fixed_decimal}, {3, DF_NOMORETYPES, Kind::fixed_decimal},
    {4, DF_NOMORETYPES, Kind::fixed_decimal}, {5, DF_NOMORETYPES, Kind::fixed_decimal},
    {6, DF_NOMORETYPES, Kind::fixed_decimal}, {5, DF_NOMORETYPES, Kind::base36},
    {9999, DF_NOMORETYPES, Kind::raw},
};

constexpr int kIvarDigitsMax = 9;

const Descriptor* descriptor(DSECT_FLD_typ type) {
    const int t = static_cast<int>(type);
    return t >= 0 && t < DF_NOMORETYPES ? &kFields[t] : nullptr;
}

int prefix_width(const Descriptor& d) { return kFields[d.headertype].maxlen; }

bool is_text(Kind k) { return k == Kind::counted_text || k == Kind::fixed_text; }

/* One field as it goes on the wire: `head` (a length prefix, or the whole text of a number), then
 * `body_len` bytes of the caller's text, then `blanks` blanks. */
struct Encoding {
    char head[24] = {};
    int head_len = 0;
    const char* body = nullptr;
    int body_len = 0;
    int blanks = 0;
    int length() const { return head_len + body_len + blanks; }
};

/* The leading decimal number of a text, read the way C atoi reads it (leading blanks and a sign,
 * no digits gives 0). False when the digits run past what any field can hold. */
bool leading_number(const char* text, long long& n) {
    const char* p = text ? text : "";
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    long long value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (value > 99999999999LL) return false;
        value = value * 10 + (*p - '0');
    }
    n = negative ? -value : value;
    return true;
}

bool too_wide(const char* op, long long n, int width) {
    DIAG_ERROR("%s: number %lld is wider than its field (%d)", op, n, width);
    return false;
}

/* A number in a numeric field. */
bool encode_number(const char* op, const Descriptor& d, long long n, Encoding& e) {
    char digits[24];
    const int len = std::snprintf(digits, sizeof digits, "%lld", n);
    switch (d.kind) {
    case Kind::counted_number:
        if (len > kIvarDigitsMax) return too_wide(op, n, kIvarDigitsMax);
        e.head_len = std::snprintf(e.head, sizeof e.head, "%d%s", len, digits);
        return true;
    case Kind::fixed_decimal:
        if (len > d.maxlen) return too_wide(op, n, d.maxlen);
        GM_36_int_to_base_10(static_cast<long>(n), e.head, d.maxlen);
        e.head_len = d.maxlen;
        return true;
    case Kind::base36:
        GM_36_long_to_base_36(static_cast<long>(n), e.head, d.maxlen, 0);
        e.head_len = d.maxlen;
        return true;
    default: return false;
    }
}

/* A field written from its value text (DSECT_FLD_set); the caller has checked the type. */
bool encode_text(const char* op, const Descriptor& d, const char* value, Encoding& e) {
    const char* text = value ? value : "";
    switch (d.kind) {
    case Kind::counted_text:
        e.body = text;
        e.body_len = static_cast<int>(strnlen(text, static_cast<std::size_t>(d.maxlen)));
        e.head_len = prefix_width(d);
        GM_36_int_to_base_10(e.body_len, e.head, e.head_len);
        return true;
    case Kind::fixed_text:
    case Kind::base36:
        e.body = text;
        e.body_len = static_cast<int>(strnlen(text, static_cast<std::size_t>(d.maxlen)));
        e.blanks = d.maxlen - e.body_len;
        return true;
    case Kind::raw:
        e.body = text;
        e.body_len = static_cast<int>(std::strlen(text));
        return true;
    case Kind::counted_number:
    case Kind::fixed_decimal: {
        long long n = 0;
        if (!leading_number(text, n)) {
            DIAG_ERROR("%s: number '%.40s' is wider than its field", op, text);
            return false;
        }
        return encode_number(op, d, n, e);
    }
    }
    return false;
}

void put(char** pos, const Encoding& e) {
    char* p = *pos;
    std::memcpy(p, e.head, static_cast<std::size_t>(e.head_len));
    p += e.head_len;
    if (e.body_len) std::memcpy(p, e.body, static_cast<std::size_t>(e.body_len));
    p += e.body_len;
    std::memset(p, ' ', static_cast<std::size_t>(e.blanks));
    p += e.blanks;
    *p = '\0';
    *pos = p;
}

/* Where the field at pos lies: `head` bytes of prefix, then `n` bytes of content. False when the
 * prefix is not a number or the field would pass the text's terminating NUL. */
bool measure(const Descriptor& d, const char* pos, int& head, int& n) {
    head = 0;
    n = d.maxlen;
    if (d.kind == Kind::counted_text || d.kind == Kind::counted_number) {
        head = prefix_width(d);
        n = 0;
        for (int i = 0; i < head; ++i) {
            if (pos[i] < '0' || pos[i] > '9') return false;
            n = n * 10 + (pos[i] - '0');
        }
    }
    return strnlen(pos + head, static_cast<std::size_t>(n)) == static_cast<std::size_t>(n);
}

bool readable(const Descriptor& d) { return d.kind != Kind::raw; }

}  // namespace

namespace dsect {

bool number_fits(DSECT_FLD_typ type, const char* value) {
    const Descriptor* d = descriptor(type);
    if (!d || (d->kind != Kind::counted_number && d->kind != Kind::fixed_decimal)) return true;
    long long n = 0;
    if (!leading_number(value, n)) return false;
    char digits[24];
    const int len = std::snprintf(digits, sizeof digits, "%lld", n);
    return len <= (d->kind == Kind::counted_number ? kIvarDigitsMax : d->maxlen);
}

}  // namespace dsect

extern "C" {

/* The exported width table is the descriptor table without its kinds. */
const DF_FIELDS_DESC_typ df_fields_desc_array[DF_NOMORETYPES] = {
#define DSECT_FLD_ROW(i) \
    { kFields[i].maxlen, kFields[i].headertype }
    DSECT_FLD_ROW(0),  DSECT_FLD_ROW(1),  DSECT_FLD_ROW(2),  DSECT_FLD_ROW(3),  DSECT_FLD_ROW(4),  DSECT_FLD_ROW(5),
    DSECT_FLD_ROW(6),  DSECT_FLD_ROW(7),  DSECT_FLD_ROW(8),  DSECT_FLD_ROW(9),  DSECT_FLD_ROW(10), DSECT_FLD_ROW(11),
    DSECT_FLD_ROW(12), DSECT_FLD_ROW(13), DSECT_FLD_ROW(14), DSECT_FLD_ROW(15), DSECT_FLD_ROW(16), DSECT_FLD_ROW(17),
    DSECT_FLD_ROW(18), DSECT_FLD_ROW(19), DSECT_FLD_ROW(20), DSECT_FLD_ROW(21), DSECT_FLD_ROW(22),
#undef DSECT_FLD_ROW
};

int DSECT_FLD_maxlen(DSECT_FLD_typ type) {
    const Descriptor* d = descriptor(type);
    return d ? d->maxlen : -1;
}

int DSECT_FLD_varfld_hd(DSECT_FLD_typ type) {
    const Descriptor* d = descriptor(type);
    return d ? d->headertype : DF_NOMORETYPES;
}

CM_RC DSECT_FLD_set(char** pos, const char* value, DSECT_FLD_typ type) {
    const Descriptor* d = descriptor(type);
    if (!d) {
        DIAG_ERROR("DSECT_FLD_set: unknown type.");
        return CM_RC_FAIL;
    }
    Encoding e;
    if (!pos || !*pos || !encode_text("DSECT_FLD_set", *d, value, e)) return CM_RC_FAIL;
    put(pos, e);
    return CM_RC_OK;
}

CM_RC DSECT_FLD_set_char(char** pos, const char* text, DSECT_FLD_typ type) {
    const Descriptor* d = descriptor(type);
    if (!d || !is_text(d->kind)) {
        DIAG_ERROR("DSECT_FLD_set_char: unknown type.");
        return CM_RC_FAIL;
    }
    Encoding e;
    if (!pos || !*pos || !encode_text("DSECT_FLD_set_char", *d, text, e)) return CM_RC_FAIL;
    put(pos, e);
    return CM_RC_OK;
}

CM_RC DSECT_FLD_set_int(char** pos, int value, DSECT_FLD_typ type) {
    const Descriptor* d = descriptor(type);
    if (!d || (d->kind != Kind::counted_number && d->kind != Kind::fixed_decimal && d->kind != Kind::base36)) {
        DIAG_ERROR("DSECT_FLD_set_int: unknown type.");
        return CM_RC_FAIL;
    }
    Encoding e;
    if (!pos || !*pos || !encode_number("DSECT_FLD_set_int", *d, value, e)) return CM_RC_FAIL;
    put(pos, e);
    return CM_RC_OK;
}

CM_RC DSECT_FLD_get_char(char* target, char** pos, DSECT_FLD_typ type, int max_length) {
    const Descriptor* d = descriptor(type);
    if (!d || !readable(*d)) {
        DIAG_ERROR("DSECT_FLD_get_char: unknown type.");
        return CM_RC_FAIL;
    }
    int head = 0, n = 0;
    if (!target || max_length < 1 || !pos || !*pos || !measure(*d, *pos, head, n)) return CM_RC_FAIL;
    const int copied = n < max_length - 1 ? n : max_length - 1;
    std::memcpy(target, *pos + head, static_cast<std::size_t>(copied));
    target[copied] = '\0';
    *pos += head + n;
    return CM_RC_OK;
}

CM_RC DSECT_FLD_get_char_with_malloc(char** target, char** pos, DSECT_FLD_typ type) {
    const Descriptor* d = descriptor(type);
    if (!d || !is_text(d->kind)) {
        DIAG_ERROR("DSECT_FLD_get_char_with_malloc: unknown type.");
        return CM_RC_FAIL;
    }
    int head = 0, n = 0;
    if (!target || !pos || !*pos || !measure(*d, *pos, head, n)) return CM_RC_FAIL;
    char* copy = static_cast<char*>(std::malloc(static_cast<std::size_t>(n) + 1));
    if (!copy) {
        DIAG_ERROR("DSECT_FLD_get_char_with_malloc: malloc failed");
        return CM_RC_FAIL;
    }
    std::memcpy(copy, *pos + head, static_cast<std::size_t>(n));
    copy[n] = '\0';
    *target = copy;
    *pos += head + n;
    return CM_RC_OK;
}

CM_RC DSECT_FLD_get_int(int* value, char** pos, DSECT_FLD_typ type) {
    const Descriptor* d = descriptor(type);
    if (!d || (d->kind != Kind::counted_number && d->kind != Kind::fixed_decimal && d->kind != Kind::base36)) {
        DIAG_ERROR("DSECT_FLD_get_int: unknown type.");
        return CM_RC_FAIL;
    }
    int head = 0, n = 0;
    if (!value || !pos || !*pos || !measure(*d, *pos, head, n)) return CM_RC_FAIL;
    if (d->kind == Kind::base36) {
        GM_36_base_36_to_int(*pos, n, value, 0);
    } else {
        char digits[16] = {};
        std::memcpy(digits, *pos + head, static_cast<std::size_t>(n));
        *value = std::atoi(digits);
    }
    *pos += head + n;
    return CM_RC_OK;
}

CM_RC DSECT_FLD_eval_len(DSECT_FLD_typ type, const char* value, int* len) {
    const Descriptor* d = descriptor(type);
    if (!d) {
        DIAG_ERROR("DSECT_FLD_eval_varchar_len: unknown type.");
        return CM_RC_FAIL;
    }
    Encoding e;
    if (!len || !encode_text("DSECT_FLD_eval_len", *d, value, e)) return CM_RC_FAIL;
    *len = e.length();
    return CM_RC_OK;
}

CM_RC DSECT_FLD_eval_varchar_len(DSECT_FLD_typ type, const char* text, int* len) {
    const Descriptor* d = descriptor(type);
    if (!d || !(is_text(d->kind) || d->kind == Kind::base36 || d->kind == Kind::raw)) {
        DIAG_ERROR("DSECT_FLD_eval_varchar_len: unknown type.");
        return CM_RC_FAIL;
    }
    Encoding e;
    if (!len || !encode_text("DSECT_FLD_eval_varchar_len", *d, text, e)) return CM_RC_FAIL;
    *len = e.length();
    return CM_RC_OK;
}

CM_RC DSECT_FLD_eval_int_len(DSECT_FLD_typ type, int* len) {
    const Descriptor* d = descriptor(type);
    if (!d || (d->kind != Kind::fixed_decimal && d->kind != Kind::base36)) {
        DIAG_ERROR("DSECT_FLD_eval_int_len: unknown type.");
        return CM_RC_FAIL;
    }
    if (!len) return CM_RC_FAIL;
    *len = d->maxlen;
    return CM_RC_OK;
}

CM_RC DSECT_FLD_eval_varint_len(DSECT_FLD_typ type, int value, int* len) {
    const Descriptor* d = descriptor(type);
    if (!d || d->kind != Kind::counted_number) {
        DIAG_ERROR("DSECT_FLD_eval_varint_len: unknown type.");
        return CM_RC_FAIL;
    }
    Encoding e;
    if (!len || !encode_number("DSECT_FLD_eval_varint_len", *d, value, e)) return CM_RC_FAIL;
    *len = e.length();
    return CM_RC_OK;
}

CM_RC DSECT_FLD_eval_varint_len_noheader(DSECT_FLD_typ type, int value, int* len) {
    const Descriptor* d = descriptor(type);
    if (!d || d->kind != Kind::counted_number) {
        DIAG_ERROR("DSECT_FLD_eval_varint_len_noheader: unknown type.");
        return CM_RC_FAIL;
    }
    Encoding e;
    if (!len || !encode_number("DSECT_FLD_eval_varint_len_noheader", *d, value, e)) return CM_RC_FAIL;
    *len = e.length() - prefix_width(*d);
    return CM_RC_OK;
}

}  // extern "C"
