/* The globalization wrapper: the library's start and end for the process, the multi-byte mode
 * test that the XML writer uses to choose its declared encoding, the pair of locales of the
 * scheduler's and the application's text, and conversion of strings and text files between them. */
#include "gc_wrapper.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "gc.h"
#include "gccp_internal.h"

#include "gm_param.h"
#include "os_diag.h"
#include "os_file_nofollow.h"

extern "C" int isI18nDefined(void) {
    DIAG_TRACE(4, "isI18nDefined");
    char table[] = "CONFIG";
    char key[] = "I18N";
    char value[2048] = "";
    return GM_PARAM_get(table, key, value) == CM_RC_OK && std::strcmp(value, "CJK") == 0 ? 1 : 0;
}

extern "C" CM_RC GC_init(char* prod_dir) {
    DIAG_TRACE(4, "GC_init");
    char dir[1024];
    std::snprintf(dir, sizeof dir, "%s/exe/locale", prod_dir ? prod_dir : "");
    if (GCInit(dir, nullptr, nullptr, nullptr, GC_INIT_STRICT) != GC_OK) {
        DIAG_ERROR("GC_init: Failed to initialize GC library. searched for locales at: '%s'", dir);
        return CM_RC_FAIL;
    }
    DIAG_TRACE(4, "GC_init: GC library was initialized");
    return CM_RC_OK;
}

extern "C" void GC_release(void) {
    DIAG_TRACE(4, "GC_release");
    GCTerm();
}

namespace {

constexpr int kLogTextSize = 4096;

// UTF-16 text shown in a log line as UTF-8 (at most the first few thousand units).
std::string utf16_for_log(const void* text, size_t max_units = kLogTextSize) {
    std::string out;
    const auto* bytes = static_cast<const unsigned char*>(text);
    for (size_t i = 0; i < max_units; ++i) {
        GCUchar u;
        std::memcpy(&u, bytes + 2 * i, 2);
        if (u == 0) break;
        uint32_t value = u;
        if (u >= 0xD800 && u <= 0xDBFF) {
            GCUchar low;
            std::memcpy(&low, bytes + 2 * (i + 1), 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                value = (value << 16) | low;
                ++i;
            }
        }
        unsigned char utf8[4];
        out.append(reinterpret_cast<char*>(utf8), GCUnicodeToUTF8(value, utf8));
    }
    return out;
}

size_t utf16_units(const char* text) {
    size_t n = 0;
    for (GCUchar u;; ++n) {
        std::memcpy(&u, text + 2 * n, 2);
        if (u == 0) return n;
    }
}

}  // namespace

extern "C" GCLocale* createLocaleByName(char* localeName) {
    static const char* kFn = "createLocaleByName";
    const char* name = localeName ? localeName : "";
    DIAG_TRACE(4, "%s: '%s'", kFn, name);
    uint32_t rc = static_cast<uint32_t>(-1);
    GCLocale* locale = GCGetLocale(name, 0, &rc);
    switch (rc) {
    case GC_OK: DIAG_TRACE(4, "%s: Locale '%s' was created.", kFn, name); break;
    case GC_ERR_OPTION: DIAG_ERROR("%s: GCGetLocale failed - Invalid option specified.", kFn); break;
    case GC_ERR_DATA: DIAG_ERROR("%s: GCGetLocale failed - Fatal data loading error.", kFn); break;
    case GC_ERR_NOMEM: DIAG_ERROR("%s: GCGetLocale failed - Memory allocation error.", kFn); break;
    case GC_ERR_CODEPAGE: DIAG_ERROR("%s: GCGetLocale failed - Invalid  code page specified.", kFn); break;
    case GC_ERR_LANGUAGE: DIAG_ERROR("%s: GCGetLocale failed - Invalid language specified.", kFn); break;
    case GC_ERR_SORT: DIAG_ERROR("%s: GCGetLocale failed - Invalid sort specified.", kFn); break;
    case GC_ERR_TERRITORY: DIAG_ERROR("%s: GCGetLocale failed - Invalid territory specified.", kFn); break;
    default: break;
    }
    if (!locale) DIAG_ERROR("%s: ERROR: Locale - '%s' has not been created", kFn, name);
    return locale;
}

extern "C" int GC_getEncodingInfo(ENCODING_INFO* encInfo, char* tableName) {
    static const char* kFn = "GC_getEncodingInfo";
    const char* table = tableName ? tableName : "";
    DIAG_TRACE(4, "%s: table name - '%s'", kFn, table);
    if (!encInfo) return 0;
    *encInfo = ENCODING_INFO{};
    int result = 1;
    if (!isI18nDefined()) {
        DIAG_TRACE(4, "%s: Using Latin1 mode, no encoding will be applied", kFn);
        DIAG_TRACE(4, "%s: exit with: '%d'", kFn, result);
        return result;
    }
    DIAG_TRACE(4, "%s: Using CJK mode, the encoding will be applied", kFn);
    char orv_name[2048] = "";
    if (GM_PARAM_get("CONFIG", "ORV_LOCALE", orv_name) != CM_RC_OK) {
        std::snprintf(orv_name, sizeof orv_name, ".UTF-8");
        DIAG_TRACE(4, "%s: Cannot read string for ORV Locale, '.UTF-8' will be used.", kFn);
    }
    char app_name[2048] = "";
    char value[2048] = "";
    if (GM_PARAM_get(table, "APPLICATION_LOCALE", value) != CM_RC_OK) {
        std::snprintf(app_name, sizeof app_name, ".UTF-8");
        DIAG_TRACE(4, "%s: Cannot read string for Application Locale, '.UTF-8' will be used.", kFn);
    } else if (GM_PARAM_get("GC_LOCALE", value, app_name) == CM_RC_OK) {
        DIAG_TRACE(4, "%s: Found key '%s' in table '%s', locale '%s' will be used", kFn, value, "GC_LOCALE", app_name);
    } else {
        std::snprintf(app_name, sizeof app_name, "%s", value);
        DIAG_ERROR("%s: Failed to find key '%s' in table '%s', locale '%s' will be used", kFn, value, "GC_LOCALE",
                   value);
    }
    encInfo->orvLocale = createLocaleByName(orv_name);
    if (!encInfo->orvLocale) {
        DIAG_ERROR("%s: Cannot create globalC locale for '%s'.", kFn, orv_name);
        result = 0;
    } else {
        DIAG_TRACE(4, "%s: globalC locale for '%s' created.", kFn, orv_name);
        if (std::strstr(app_name, "UTF-16")) {
            DIAG_TRACE(4, "%s: application uses '%s' locale.", kFn, app_name);
        } else {
            DIAG_TRACE(4, "%s: create globalC locale for '%s'.", kFn, app_name);
            encInfo->appLocale = createLocaleByName(app_name);
            if (!encInfo->appLocale) {
                DIAG_ERROR("%s: Cannot create globalC locale for '%s'.", kFn, app_name);
                result = 0;
            }
        }
        uint32_t rc = 0;
        encInfo->currLocale = GCGetLocale("", 6, &rc);
        if (!encInfo->currLocale) {
            DIAG_ERROR("%s: Cannot create CURRENT locale.", kFn);
            result = 0;
        }
    }
    DIAG_TRACE(4, "%s: exit with: '%d'", kFn, result);
    return result;
}

extern "C" void GC_releaseEncodingInfo(ENCODING_INFO* encInfo) {
    DIAG_TRACE(4, "GC_releaseLocales");
    if (!encInfo) {
        DIAG_TRACE(4, "GC_releaseLocales: Nothing to release");
        return;
    }
    // Each field is cleared as it is released, so a second release finds nothing.
    if (encInfo->appToOrvCnv) {
        if (GCCloseConversion(encInfo->appToOrvCnv) != GC_OK)
            DIAG_TRACE(2, "GC_releaseLocales: Cannot close  Current to UTF8 conversion");
        encInfo->appToOrvCnv = nullptr;
    }
    if (encInfo->orvToAppCnv) {
        if (GCCloseConversion(encInfo->orvToAppCnv) != GC_OK)
            DIAG_TRACE(2, "GC_releaseLocales: Cannot close  UTF8 to Current conversion");
        encInfo->orvToAppCnv = nullptr;
    }
    if (encInfo->orvLocale) {
        if (GCReleaseLocale(encInfo->orvLocale) != 0) DIAG_TRACE(2, "GC_releaseLocales: Cannot release UTF8 locale");
        encInfo->orvLocale = nullptr;
    }
    if (encInfo->appLocale) {
        if (GCReleaseLocale(encInfo->appLocale) != 0)
            DIAG_TRACE(2, "GC_releaseLocales: Cannot release Application locale");
        encInfo->appLocale = nullptr;
    }
    if (encInfo->currLocale) {
        if (GCReleaseLocale(encInfo->currLocale) != 0)
            DIAG_TRACE(2, "GC_releaseLocales: Cannot release Current locale");
        encInfo->currLocale = nullptr;
    }
}

namespace {

// The conversion of GC_convertString with the source length given (bytes, or units of UTF-16).
int convert(GCLocale* dst_locale, char* dst, int dst_size, const char* src, int src_len, GCLocale* src_locale) {
    static const char* kFn = "GC_convertString";
    if (dst_locale && src_locale) {
        if (GCConvertString(dst_locale, dst, dst_size, src_locale, src, src_len, GC_STR_TERMINATE) == -1) {
            DIAG_ERROR("%s: GCConvertString has failed", kFn);
            return 0;
        }
        return 1;
    }
    if (!dst_locale) {
        // UTF-16 output: the size in bytes gives dst_size / 2 units; written through an aligned copy.
        std::vector<GCUchar> units(static_cast<size_t>(dst_size / 2) + 1);
        const int n = GCStringToUnicode(units.data(), dst_size / 2, src_locale, src, src_len, GC_STR_TERMINATE);
        if (n == -1) {
            DIAG_ERROR("%s: GCStringToUnicode has failed", kFn);
            return 0;
        }
        std::memcpy(dst, units.data(), 2 * static_cast<size_t>(n));
        return 1;
    }
    std::vector<GCUchar> units(static_cast<size_t>(src_len) + 1);
    std::memcpy(units.data(), src, 2 * static_cast<size_t>(src_len));
    if (GCUnicodeToString(dst_locale, dst, dst_size, units.data(), src_len, GC_STR_TERMINATE) == -1) {
        DIAG_ERROR("%s: GCUnicodeToString has failed", kFn);
        return 0;
    }
    return 1;
}

}  // namespace

extern "C" int GC_convertString(GCLocale* dstLocale, char* dst, int dstSize, char* src, GCLocale* srcLocale) {
    static const char* kFn = "GC_convertString";
    if (!dst || !src || dstSize <= 0) return 0;
    if (!dstLocale && !srcLocale) {
        // Copied unchanged, cut to the room there is.
        const size_t n = std::strlen(src);
        const size_t room = static_cast<size_t>(dstSize) - 1;
        std::memmove(dst, src, std::min(n, room));
        dst[std::min(n, room)] = '\0';
        DIAG_TRACE(5, "%s: both locales are NULL. The string does not need any coverting", kFn);
        return n > room ? 0 : 1;
    }
    if (srcLocale)
        DIAG_TRACE(5, "%s: source string - '%s'", kFn, src);
    else
        DIAG_TRACE(5, "%s: UTF-16 source string - '%s'", kFn, utf16_for_log(src).c_str());
    const int src_len = srcLocale ? static_cast<int>(std::strlen(src)) : static_cast<int>(utf16_units(src));
    const int result = convert(dstLocale, dst, dstSize, src, src_len, srcLocale);
    if (!dstLocale)
        DIAG_TRACE(5, "%s: UTF-16 converted string - '%s'", kFn,
                   utf16_for_log(dst, static_cast<size_t>(dstSize) / 2).c_str());
    else
        DIAG_TRACE(5, "%s: converted string - '%s'", kFn, dst);
    return result;
}

namespace {

constexpr size_t kPiece = 1023;

// One line of at most kPiece bytes (its line feed included), NUL bytes kept.
size_t read_piece(FILE* in, std::string& piece) {
    piece.clear();
    for (int c; piece.size() < kPiece && (c = std::fgetc(in)) != EOF;) {
        piece.push_back(static_cast<char>(c));
        if (c == '\n') break;
    }
    return piece.size();
}

// Bytes at the end of a piece that begin a character the piece does not finish.
size_t unfinished_tail(const GCLocale* locale, const std::string& piece) {
    if (!locale) {
        size_t tail = piece.size() % 2;
        if (piece.size() >= 2 + tail) {
            GCUchar last;
            std::memcpy(&last, piece.data() + piece.size() - tail - 2, 2);
            if (last >= 0xD800 && last <= 0xDBFF) tail += 2;
        }
        return tail;
    }
    const gc::CodePage cp(locale->codepage);
    if (!cp.ok() || (locale->flags & GC_LOC_SINGLEBYTE)) return 0;
    const auto* p = reinterpret_cast<const uint8_t*>(piece.data());
    const size_t whole = gc::chars_to_bytes(cp, p, piece.size(), false, static_cast<uint32_t>(piece.size()));
    return piece.size() - whole;
}

}  // namespace

namespace {

FILE* open_stream(const char* name, int flags, const char* mode) {
    const int fd = os_file::open_regular(name, flags, 0666);
    FILE* stream = fd >= 0 ? fdopen(fd, mode) : nullptr;
    if (!stream && fd >= 0) close(fd);
    return stream;
}

}  // namespace

extern "C" CM_RC GC_convertFile(ENCODING_INFO* encInfo, char* input_file, char* output_file, GC_CONV_typ conv_type) {
    static const char* kFn = "GC_convertFile";
    const char* in_name = input_file ? input_file : "";
    const char* out_name = output_file ? output_file : "";
    DIAG_TRACE(4, "%s: input file - '%s'    output file - '%s'", kFn, in_name, out_name);
    // Both files are regular files opened without following a link at their names and without
    // waiting on a FIFO; the output is emptied only once it is known to be one.
    FILE* in = open_stream(in_name, O_RDONLY, "r");
    if (!in) {
        DIAG_ERROR("%s: failed to open input file '%s'", kFn, in_name);
        return CM_RC_FAIL;
    }
    FILE* out = open_stream(out_name, O_WRONLY | O_CREAT | O_TRUNC, "w");
    if (!out) {
        DIAG_ERROR("%s: failed to open output file '%s'", kFn, out_name);
        std::fclose(in);
        return CM_RC_FAIL;
    }
    DIAG_TRACE(4, "%s : converting original script '%s' to '%s' in user encoding", kFn, in_name, out_name);
    CM_RC result = CM_RC_OK;
    const bool valid = encInfo && (conv_type == GC_ORV_TO_APP || conv_type == GC_APP_TO_ORV);
    GCLocale* from = !encInfo ? nullptr : conv_type == GC_ORV_TO_APP ? encInfo->orvLocale : encInfo->appLocale;
    GCLocale* to = !encInfo ? nullptr : conv_type == GC_ORV_TO_APP ? encInfo->appLocale : encInfo->orvLocale;
    std::string carry;
    std::string piece;
    while (read_piece(in, piece) > 0 || !carry.empty()) {
        if (!valid) {
            DIAG_ERROR("%s: Invalid conversion type '%d'", kFn, static_cast<int>(conv_type));
            result = CM_RC_FAIL;
            carry.clear();
            continue;
        }
        std::string text = carry + piece;
        const bool last = piece.empty();
        const size_t tail = last ? 0 : unfinished_tail(from, text);
        carry = text.substr(text.size() - tail);
        text.resize(text.size() - tail);
        if (text.empty()) {
            if (last) break;
            continue;
        }
        // Room for the piece grown to its largest: four bytes (two units) per source byte.
        const size_t source_len = from ? text.size() : text.size() / 2;
        std::vector<char> converted(4 * text.size() + 8);
        int written = -1;
        if (from && to) {
            written = GCConvertString(to, converted.data(), static_cast<int>(converted.size()), from, text.data(),
                                      static_cast<int>(source_len), 0);
        } else if (from) {
            std::vector<GCUchar> units(converted.size() / 2);
            written = GCStringToUnicode(units.data(), static_cast<int>(units.size()), from, text.data(),
                                        static_cast<int>(source_len), 0);
            if (written >= 0) {
                std::memcpy(converted.data(), units.data(), 2 * static_cast<size_t>(written));
                written *= 2;
            }
        } else if (to) {
            std::vector<GCUchar> units(source_len + 1);
            std::memcpy(units.data(), text.data(), 2 * source_len);
            written = GCUnicodeToString(to, converted.data(), static_cast<int>(converted.size()), units.data(),
                                        static_cast<int>(source_len), 0);
        } else {
            written = static_cast<int>(text.size());
            std::memcpy(converted.data(), text.data(), text.size());
        }
        if (written < 0) {
            DIAG_ERROR("%s: conversion of a line failed", kFn);
            result = CM_RC_FAIL;
            continue;
        }
        if (std::fwrite(converted.data(), 1, static_cast<size_t>(written), out) != static_cast<size_t>(written))
            result = CM_RC_FAIL;
        if (last) break;
    }
    if (std::fclose(in) != 0) {
        DIAG_ERROR("%s: Unable to close input file.", kFn);
        result = CM_RC_FAIL;
    }
    if (std::fclose(out) != 0) {
        DIAG_ERROR("%s: Unable to close output file.", kFn);
        result = CM_RC_FAIL;
    }
    DIAG_TRACE(4, "%s: input and output file closed", kFn);
    return result;
}
