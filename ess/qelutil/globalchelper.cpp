/* Text layer of the security library: its process-wide state (globalization table, UTF-8 and
 * native locales, catalog, the three streams of the table and the C output stream), messages by
 * catalog id, printing, streams and the password prompt. Conversions are in globalchelper_utf.cpp. */
#include "globalchelper.h"

#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "ess_str_utils.h"
#include "ess_time.h"

namespace {

constexpr int kInitWarning = 10;  // initialised in the table's fallback mode: still success
constexpr int kNativeItemLanguage = 2;
constexpr int kNativeItemTerritory = 6;
constexpr int kCatalogItemLanguage = 3;
constexpr int kCatalogItemTerritory = 7;
constexpr int kInfoRoom = 64;
constexpr int kPathRoom = 1024;
constexpr char kBackspace = 8;
constexpr char kDelete = 127;

std::mutex state_mutex;
std::atomic<Globalc_FunctionPtrs*> g_table{nullptr};
std::atomic<void*> g_utf8Locale{nullptr};
std::atomic<void*> g_nativeLocale{nullptr};
std::atomic<void*> g_catalog{nullptr};
std::atomic<void*> g_streamIn{nullptr};
std::atomic<void*> g_streamOut{nullptr};
std::atomic<void*> g_streamErr{nullptr};
std::atomic<FILE*> g_cout{nullptr};  // the C output stream; standard output while unset
bool g_initialised = false;

FILE* c_output() {
    FILE* f = g_cout.load();
    return f ? f : stdout;
}

Globalc_FunctionPtrs* table() { return g_table.load(); }

int clamp_written(int n, int size) {
    if (n < 0) return n;
    return n >= size ? size - 1 : n;
}

/* Formats into buf with the table's formatter in `locale`, or vsnprintf. */
int vformat(char* buf, int size, void* locale, const char* format, va_list args) {
    if (!buf || size < 1 || !format) return -1;
    Globalc_FunctionPtrs* t = table();
    int n = t && t->pGCVsprintf ? t->pGCVsprintf(locale, buf, size, format, args)
                                : std::vsnprintf(buf, static_cast<size_t>(size), format, args);
    return clamp_written(n, size);
}

/* Writes len bytes character by character through a stream of the table, then flushes. */
int write_chars(Globalc_FunctionPtrs* t, void* stream, const char* buf, int len) {
    if (!stream || !t->pGCWriteChar) return -1;
    void* native = g_nativeLocale.load();
    for (int i = 0; i < len;) {
        int n = t->pGCByteLength ? t->pGCByteLength(native, buf + i) : 1;
        if (n < 1) n = 1;
        if (n > len - i) n = len - i;
        t->pGCWriteChar(stream, buf + i, n);
        i += n;
    }
    if (t->pGCFlushStream) t->pGCFlushStream(stream);
    return len;
}

int write_c(FILE* fp, const char* buf, int len) {
    if (!fp) return -1;
    const size_t n = std::fwrite(buf, 1, static_cast<size_t>(len), fp);
    std::fflush(fp);
    return n == static_cast<size_t>(len) ? len : -1;
}

void* open_stream(FILE* fp, EssGlobalcStreamProc proc, unsigned int flags) {
    Globalc_FunctionPtrs* t = table();
    if (!t || !t->pGCOpenStream || !fp) return nullptr;
    return t->pGCOpenStream(g_nativeLocale.load(), fp, proc, flags);
}

/* The stream in `slot`, opened over fp on first use. */
void* stream_over(std::atomic<void*>& slot, FILE* fp, EssGlobalcStreamProc proc, unsigned int flags) {
    std::lock_guard<std::mutex> lock(state_mutex);
    void* s = slot.load();
    if (!s) {
        s = open_stream(fp, proc, flags);
        slot.store(s);
    }
    return s;
}

void close_stream(Globalc_FunctionPtrs* t, std::atomic<void*>& slot) {
    void* s = slot.exchange(nullptr);
    if (s && t->pGCCloseStream) t->pGCCloseStream(s);
}

std::string text_info(Globalc_FunctionPtrs* t, void* locale, int item) {
    char buf[kInfoRoom] = "";
    if (t->pGCGetLocaleTextInfo) t->pGCGetLocaleTextInfo(locale, item, buf, sizeof buf);
    buf[sizeof buf - 1] = '\0';
    return buf;
}

/* Native and UTF-8 locales and the catalog; -1 when a locale cannot be had. Caller holds the mutex. */
int set_up_locales(Globalc_FunctionPtrs* t) {
    if (!t->pGCGetLocale || !t->pGCSetLocale) return -1;
    const char* home = std::getenv("KOVRAL_HOME");
    unsigned int rc = 0;
    void* native = t->pGCGetLocale(nullptr, ESS_GC_LOCALE_NATIVE, &rc);
    if (!native) return -1;
    char name[2 * kInfoRoom + 16];
    std::snprintf(name, sizeof name, "%s_%s.UTF-8", text_info(t, native, kNativeItemLanguage).c_str(),
                  text_info(t, native, kNativeItemTerritory).c_str());
    void* utf8 = nullptr;
    if (t->pGCSetLocale(name, ESS_GC_LOCALE_NAMED) == 0) utf8 = t->pGCGetLocale(name, ESS_GC_LOCALE_NAMED, &rc);
    if (!utf8) {
        if (t->pGCReleaseLocale) t->pGCReleaseLocale(native);
        return -1;
    }
    g_nativeLocale.store(native);
    g_utf8Locale.store(utf8);
    char catalog[2 * kInfoRoom + 16];
    std::snprintf(catalog, sizeof catalog, "ess_%s_%s.cat", text_info(t, native, kCatalogItemLanguage).c_str(),
                  text_info(t, native, kCatalogItemTerritory).c_str());
    char path[kPathRoom] = "";
    if (home) std::snprintf(path, sizeof path, "%s%clib%cnls%c%%N", home, '/', '/', '/');
    if (t->pGCOpenCatalog) g_catalog.store(t->pGCOpenCatalog(utf8, catalog, home ? path : nullptr, &rc));
    return 0;
}

char* cut_copy(const char* text, size_t room) {
    if (!text) return nullptr;
    const size_t n = strnlen(text, room);
    auto* out = static_cast<char*>(std::malloc(n + 1));
    if (!out) return nullptr;
    std::memcpy(out, text, n);
    out[n] = '\0';
    return out;
}

/* The catalog's text of id in UTF-16, or -1. */
int catalog_units(int id, GCUchar* units, int room) {
    Globalc_FunctionPtrs* t = table();
    void* catalog = g_catalog.load();
    if (!t || !catalog || id < 0 || !t->pGCGetMessageU) return -1;
    const int n = t->pGCGetMessageU(catalog, ESS_CATALOG_SET, id, units, room);
    units[room - 1] = 0;
    return n;
}

int vprint_to(bool err, bool utf8, const char* format, va_list args) {
    char buf[ESS_FORMAT_ROOM];
    Globalc_FunctionPtrs* t = table();
    int n;
    if (utf8 && t && t->pGCConvertString) {
        char formatted[ESS_FORMAT_ROOM];
        n = vformat(formatted, sizeof formatted, g_utf8Locale.load(), format, args);
        if (n < 0) return n;
        n = t->pGCConvertString(g_nativeLocale.load(), buf, sizeof buf, g_utf8Locale.load(), formatted, n,
                                ESS_GC_TERMINATE);
        n = clamp_written(n, sizeof buf);
    } else {
        n = vformat(buf, sizeof buf, g_nativeLocale.load(), format, args);
    }
    if (n < 0) return n;
    return err ? EssGlobalcWriteStringErr(buf, n) : EssGlobalcWriteString(buf, n);
}

/* Password prompt through the table: no echo, non-canonical, "*" per character. */
int prompt_password(char* buf, int size) {
    termios saved{};
    const bool tty = tcgetattr(STDIN_FILENO, &saved) == 0;
    if (tty) {
        termios raw = saved;
        raw.c_lflag &= ~static_cast<tcflag_t>(ECHO | ICANON);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    }
    int n = 0;
    char c;
    while (read(STDIN_FILENO, &c, 1) == 1 && c != '\n' && c != '\r') {
        if (c == kBackspace || c == kDelete) {
            if (n > 0) {
                --n;
                EssGlobalcWriteString("\b \b", 3);
            }
        } else if (n < size - 1) {
            buf[n++] = c;
            EssGlobalcWriteString("*", 1);
        }
    }
    buf[n] = '\0';
    if (tty) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    EssGlobalcWriteString("\n", 1);
    return n;
}

/* Start of character `index` of a UTF-8 text, or nullptr when the text is shorter. */
const unsigned char* utf8_char_at(const char* str, int index) {
    const auto* p = reinterpret_cast<const unsigned char*>(str);
    for (int i = 0; i < index; ++i) {
        if (!*p) return nullptr;
        int n = *p < 0x80 ? 1 : *p < 0xE0 ? 2 : *p < 0xF0 ? 3 : 4;
        for (int k = 0; k < n && *p; ++k) ++p;
    }
    return *p ? p : nullptr;
}

int utf8_code_point(const unsigned char* p) {
    if (*p < 0x80) return *p;
    if (*p < 0xE0) return p[1] ? ((*p & 0x1F) << 6) | (p[1] & 0x3F) : -1;
    if (*p < 0xF0) return p[1] && p[2] ? ((*p & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F) : -1;
    return p[1] && p[2] && p[3] ? ((*p & 0x07) << 18) | ((p[1] & 0x3F) << 12) | ((p[2] & 0x3F) << 6) | (p[3] & 0x3F)
                                : -1;
}

}  // namespace

extern "C" {

void EssGlobalcSetFunctionPtrs(Globalc_FunctionPtrs* t) { g_table.store(t); }
Globalc_FunctionPtrs* EssGlobalcGetFunctionPtrs(void) { return table(); }
void* EssGetUtf8Locale(void) { return g_utf8Locale.load(); }
void* EssGetNativeLocale(void) { return g_nativeLocale.load(); }
void* EssGetCatalog(void) { return g_catalog.load(); }

void EssGlobalcPutEnvironment(Globalc_FunctionPtrs* t, void* utf8Locale, void* nativeLocale, void* catalog) {
    std::lock_guard<std::mutex> lock(state_mutex);
    if (!g_table.load()) g_table.store(t);
    if (!g_utf8Locale.load()) g_utf8Locale.store(utf8Locale);
    if (!g_nativeLocale.load()) g_nativeLocale.store(nativeLocale);
    if (!g_catalog.load()) g_catalog.store(catalog);
}

int EssGlobalcInit(void) {
    std::lock_guard<std::mutex> lock(state_mutex);
    g_cout.store(stdout);
    Globalc_FunctionPtrs* t = table();
    if (!t) return -1;
    if (g_initialised) return 0;
    if (!t->pGCInit) return -1;
    const int rc = t->pGCInit(nullptr, nullptr, nullptr, nullptr, ESS_GC_INIT_OPTIONS);
    if (rc != 0 && rc != kInitWarning) return -1;
    if (set_up_locales(t) != 0) return -1;
    g_initialised = true;
    return 0;
}

void EssGlobalcFree(void) {
    Globalc_FunctionPtrs* t = table();
    void* catalog = g_catalog.exchange(nullptr);
    void* utf8 = g_utf8Locale.exchange(nullptr);
    void* native = g_nativeLocale.exchange(nullptr);
    if (!t) return;
    if (catalog && t->pGCCloseCatalog) t->pGCCloseCatalog(catalog);
    if (utf8 && t->pGCReleaseLocale) t->pGCReleaseLocale(utf8);
    if (native && t->pGCReleaseLocale) t->pGCReleaseLocale(native);
}

int EssGlobalcTerminate(void) {
    std::lock_guard<std::mutex> lock(state_mutex);
    if (!g_initialised) return 0;
    Globalc_FunctionPtrs* t = table();
    close_stream(t, g_streamIn);
    close_stream(t, g_streamOut);
    close_stream(t, g_streamErr);
    EssGlobalcFree();
    if (t->pGCTerm) t->pGCTerm();
    g_initialised = false;
    return 0;
}

int EssGlobalcLoad(const char*) { return 0; }

char* EssGetUtf8String(int id, const char* def) {
    Globalc_FunctionPtrs* t = table();
    void* catalog = g_catalog.load();
    if (t && catalog && id >= 0 && t->pGCGetMessage) {
        char buf[ESS_MESSAGE_ROOM + 1] = "";
        if (t->pGCGetMessage(catalog, ESS_CATALOG_SET, id, buf, sizeof buf) >= 0)
            return cut_copy(buf, ESS_MESSAGE_ROOM);
        return cut_copy(def, ESS_MESSAGE_ROOM);
    }
    return ess_strdup(def);
}

char* EssGetNativeString(int id, const char* def) {
    Globalc_FunctionPtrs* t = table();
    if (!t || !g_catalog.load() || id < 0) return ess_strdup(def);
    GCUchar units[ESS_MESSAGE_ROOM + 1];
    if (catalog_units(id, units, ESS_MESSAGE_ROOM + 1) < 0) {
        if (!def || UTF8_to_UTF16(units, ESS_MESSAGE_ROOM + 1, def, -1) < 0) return nullptr;
        units[ESS_MESSAGE_ROOM] = 0;
    }
    if (!t->pGCUnicodeToString) return nullptr;
    char buf[ESS_MESSAGE_ROOM + 1];
    if (t->pGCUnicodeToString(g_nativeLocale.load(), buf, sizeof buf, units, -1, ESS_GC_TERMINATE) < 0) return nullptr;
    return cut_copy(buf, ESS_MESSAGE_ROOM);
}

GCUchar* EssGetUnicodeString(int id, const char* def) {
    auto* units = static_cast<GCUchar*>(std::calloc(ESS_MESSAGE_ROOM, sizeof(GCUchar)));
    if (!units) return nullptr;
    if (catalog_units(id, units, ESS_MESSAGE_ROOM) < 0 && def) {
        if (EssUtf8StringToUnicode(units, ESS_MESSAGE_ROOM, def) < 0) units[0] = 0;
    }
    units[ESS_MESSAGE_ROOM - 1] = 0;
    return units;
}

char* EssGetNativeStringExt(int id, const char* def) {
    char* text = EssGetNativeString(id, def);
    if (!text || !def || !table() || !g_catalog.load() || id < 0) return text;
    const size_t have = std::strlen(text);
    const size_t want = std::strlen(def);
    if (have >= want) return text;
    auto* padded = static_cast<char*>(std::realloc(text, want + 1));
    if (!padded) return text;
    std::memset(padded + have, ' ', want - have);
    padded[want] = '\0';
    return padded;
}

int EssGlobalcVPrintf(const char* format, va_list args) { return vprint_to(false, false, format, args); }
int EssGlobalcVPrintfErr(const char* format, va_list args) { return vprint_to(true, false, format, args); }
int EssGlobalcVPrintfUtf8(const char* format, va_list args) { return vprint_to(false, true, format, args); }
int EssGlobalcVPrintfUtf8Err(const char* format, va_list args) { return vprint_to(true, true, format, args); }

#define ESS_VARARGS_CALL(call, last) \
    va_list args;                    \
    va_start(args, last);            \
    int n = call;                    \
    va_end(args);                    \
    return n

int EssGlobalcPrintf(const char* format, ...) { ESS_VARARGS_CALL(EssGlobalcVPrintf(format, args), format); }
int EssGlobalcPrintfErr(const char* format, ...) { ESS_VARARGS_CALL(EssGlobalcVPrintfErr(format, args), format); }
int EssGlobalcPrintfUtf8(const char* format, ...) { ESS_VARARGS_CALL(EssGlobalcVPrintfUtf8(format, args), format); }
int EssGlobalcPrintfUtf8Err(const char* format, ...) {
    ESS_VARARGS_CALL(EssGlobalcVPrintfUtf8Err(format, args), format);
}

int EssGlobalcSVnprintf(char* buf, int size, const char* format, va_list args) {
    return vformat(buf, size, g_nativeLocale.load(), format, args);
}
int EssGlobalcSVnprintfUtf8(char* buf, int size, const char* format, va_list args) {
    return vformat(buf, size, g_utf8Locale.load(), format, args);
}
int EssGlobalcSnprintf(char* buf, int size, const char* format, ...) {
    ESS_VARARGS_CALL(EssGlobalcSVnprintf(buf, size, format, args), format);
}
int EssGlobalcSnprintfUtf8(char* buf, int size, const char* format, ...) {
    ESS_VARARGS_CALL(EssGlobalcSVnprintfUtf8(buf, size, format, args), format);
}

/* The message of id is the format: its arguments are the caller's. */
#define ESS_MESSAGE_CALL(getter, call) \
    char* message = getter(id, def);   \
    if (!message) return -1;           \
    va_list args;                      \
    va_start(args, def);               \
    int n = call;                      \
    va_end(args);                      \
    std::free(message);                \
    return n

int EssGlobalcUtf8Printf(int id, const char* def, ...) {
    ESS_MESSAGE_CALL(EssGetUtf8String, EssGlobalcVPrintfUtf8(message, args));
}
int EssGlobalcNativePrintf(int id, const char* def, ...) {
    ESS_MESSAGE_CALL(EssGetNativeString, EssGlobalcVPrintf(message, args));
}
int EssGlobalcUtf8Sprintf(char* buf, int size, int id, const char* def, ...) {
    ESS_MESSAGE_CALL(EssGetUtf8String, EssGlobalcSVnprintfUtf8(buf, size, message, args));
}
int EssGlobalcNativeSprintf(char* buf, int size, int id, const char* def, ...) {
    ESS_MESSAGE_CALL(EssGetNativeString, EssGlobalcSVnprintf(buf, size, message, args));
}

int EssGlobalcWriteString(const char* buf, int len) {
    if (!buf || len < 0) return -1;
    Globalc_FunctionPtrs* t = table();
    if (!t) return write_c(c_output(), buf, len);
    return write_chars(t, stream_over(g_streamOut, stderr, EssGlobalcWriteOut, ESS_GC_STREAM_OUT), buf, len);
}

int EssGlobalcWriteStringErr(const char* buf, int len) {
    if (!buf || len < 0) return -1;
    Globalc_FunctionPtrs* t = table();
    if (!t) return write_c(stderr, buf, len);
    return write_chars(t, stream_over(g_streamErr, stderr, EssGlobalcWriteOut, ESS_GC_STREAM_OUT), buf, len);
}

int EssGlobalcWriteStringFile(const char* buf, int len, FILE* fp) {
    if (!buf || len < 0 || !fp) return -1;
    Globalc_FunctionPtrs* t = table();
    if (!t) return write_c(fp, buf, len);
    void* stream = open_stream(fp, EssGlobalcWriteOut, ESS_GC_STREAM_OUT);
    const int n = write_chars(t, stream, buf, len);
    if (stream && t->pGCCloseStream) t->pGCCloseStream(stream);
    return n;
}

int EssGlobalcReadIn(void* cstream, char* buf, int len) {
    auto* fp = static_cast<FILE*>(cstream);
    if (!fp || !buf || len < 0) return -2;
    const size_t n = std::fread(buf, 1, static_cast<size_t>(len), fp);
    if (n == 0 && len > 0) return std::ferror(fp) ? -2 : -1;
    return static_cast<int>(n);
}

int EssGlobalcWriteOut(void* cstream, char* buf, int len) {
    auto* fp = static_cast<FILE*>(cstream);
    if (!fp || !buf || len < 0) return -2;
    const size_t n = std::fwrite(buf, 1, static_cast<size_t>(len), fp);
    if (n < static_cast<size_t>(len) && std::ferror(fp)) return -2;
    return static_cast<int>(n);
}

void* EssGlobalcOpenStreamIn(FILE* fp) {
    void* s = open_stream(fp, EssGlobalcReadIn, ESS_GC_STREAM_IN);
    g_streamIn.store(s);
    return s;
}

void* EssGlobalcOpenStreamOut(FILE* fp) {
    if (fp) g_cout.store(fp);
    void* s = open_stream(fp, EssGlobalcWriteOut, ESS_GC_STREAM_OUT);
    g_streamOut.store(s);
    return s;
}

void* EssGlobalcOpenStreamErr(FILE* fp) {
    void* s = open_stream(fp, EssGlobalcWriteOut, ESS_GC_STREAM_OUT);
    g_streamErr.store(s);
    return s;
}

int EssGlobalcReadString(char* buf, int size) {
    if (!buf || size < 1) return 0;
    buf[0] = '\0';
    Globalc_FunctionPtrs* t = table();
    if (t && t->pGCReadString) {
        void* in = stream_over(g_streamIn, stdin, EssGlobalcReadIn, ESS_GC_STREAM_IN);
        const int n = in ? t->pGCReadString(in, buf, size, ESS_GC_READ_FLAGS) : 0;
        return n > 0 ? n : 0;
    }
    if (!std::fgets(buf, size, stdin)) {
        buf[0] = '\0';
        return 0;
    }
    size_t n = std::strlen(buf);
    if (n > 0 && buf[n - 1] == '\n') buf[--n] = '\0';
    return static_cast<int>(n);
}

int EssGlobalcGetsPsw(char* buf, int size) {
    if (!buf || size < 1) return -1;
    if (table()) return prompt_password(buf, size);
    const int n = gets_psw(buf, size);
    EssGlobalcWriteString("\n", 1);
    return n;
}

int EssUtf8ToNativeString(char* out, int size, const char* in) {
    if (!out || !in || size < 1) return -1;
    Globalc_FunctionPtrs* t = table();
    if (t && t->pGCConvertString)
        return t->pGCConvertString(g_nativeLocale.load(), out, size, g_utf8Locale.load(), in, -1, ESS_GC_TERMINATE);
    ess_strncpy(out, in, size);
    return static_cast<int>(std::strlen(out)) + 1;
}

int EssNativeStringToUtf8(char* out, int size, const char* in) {
    if (!out || !in || size < 1) return -1;
    Globalc_FunctionPtrs* t = table();
    if (t && t->pGCConvertString)
        return t->pGCConvertString(g_utf8Locale.load(), out, size, g_nativeLocale.load(), in, -1, ESS_GC_TERMINATE);
    ess_strncpy(out, in, size);
    return static_cast<int>(std::strlen(out));
}

int EssUtf8StringToUnicode(GCUchar* out, int size, const char* in) {
    Globalc_FunctionPtrs* t = table();
    if (t && t->pGCStringToUnicode) {
        if (!out || !in) return -1;
        return t->pGCStringToUnicode(out, size, g_utf8Locale.load(), in, -1, ESS_GC_TERMINATE);
    }
    return UTF8_to_UTF16(out, size, in, -1);
}

int EssUnicodeToUtf8String(char* out, int size, const GCUchar* in) {
    return EssUnicodeToUtf8StringEx(out, size, in, -1);
}

int EssUnicodeToUtf8StringEx(char* out, int size, const GCUchar* in, int length) {
    if (out && size > 0) std::memset(out, 0, static_cast<size_t>(size));
    return UTF16_to_UTF8(out, size, in, length);
}

int EssNumChars(const char* str) {
    if (!str) return 0;
    Globalc_FunctionPtrs* t = table();
    if (t && t->pGCNumChars) return t->pGCNumChars(g_nativeLocale.load(), str, -1);
    return static_cast<int>(std::strlen(str));
}

int EssIsAlpha(const char* str) {
    if (!str) return 0;
    Globalc_FunctionPtrs* t = table();
    if (t && t->pGCGetCharType) return t->pGCGetCharType(g_nativeLocale.load(), str, ESS_GC_CLASS_ALPHA) != 0;
    return std::isalpha(static_cast<unsigned char>(*str)) != 0;
}

char* EssGetNextChar(const char* str) {
    if (!str) return nullptr;
    Globalc_FunctionPtrs* t = table();
    if (t && t->pGCNextChar) return t->pGCNextChar(g_nativeLocale.load(), str);
    return const_cast<char*>(*str ? str + 1 : str);
}

char* EssStrChr(const char* text, const char* ch, int ignoreCase) {
    if (!text || !ch) return nullptr;
    Globalc_FunctionPtrs* t = table();
    if (t && t->pGCStrchr) return t->pGCStrchr(g_nativeLocale.load(), text, ch, ignoreCase);
    if (const char* hit = std::strchr(text, *ch)) return const_cast<char*>(hit);
    if (!ignoreCase) return nullptr;
    const int folded = std::tolower(static_cast<unsigned char>(*ch));
    for (const char* p = text; *p; ++p)
        if (std::tolower(static_cast<unsigned char>(*p)) == folded) return const_cast<char*>(p);
    return nullptr;
}

int EssCompareCharUtf8(const char* str, int index, int c) {
    if (!str || index < 0) return 0;
    const unsigned char* p = utf8_char_at(str, index);
    return p && utf8_code_point(p) == c ? 1 : 0;
}

int EssCompareCharNative(const char* str, int index, int c) {
    if (!str || index < 0) return 0;
    Globalc_FunctionPtrs* t = table();
    if (!t || !t->pGCNextChar) return EssCompareCharUtf8(str, index, c);
    const char* p = str;
    for (int i = 0; i < index && p && *p; ++i) p = t->pGCNextChar(g_nativeLocale.load(), p);
    return p && *p && static_cast<unsigned char>(*p) == static_cast<unsigned int>(c) ? 1 : 0;
}

}  // extern "C"
