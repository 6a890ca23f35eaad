/* The user's locale: named by GC_LANG, or mapped from the process's native locale through the
 * native-locale map, whose numeric and monetary conventions can be brought into a locale. The
 * process locale is changed only under the library mutex and always put back. */
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>

#include "gcloc_internal.h"

extern "C" const GCNativeLocale GCPlocaleMap[GC_NATIVE_MAP_ROWS] = {
#include "gcplmap.inc"
};

namespace {

const GCNativeLocale* row_of(const std::string& native) {
    for (const GCNativeLocale& row : GCPlocaleMap)
        if (native == row.native) return &row;
    return nullptr;
}

// Sets the process locale for the lifetime of the object and puts the one it found back.
class ProcessLocale {
public:
    ProcessLocale() : lock_(gc::library_mutex()) {
        const char* current = std::setlocale(LC_ALL, nullptr);
        saved_ = current ? current : "C";
    }
    ~ProcessLocale() { std::setlocale(LC_ALL, saved_.c_str()); }
    ProcessLocale(const ProcessLocale&) = delete;
    ProcessLocale& operator=(const ProcessLocale&) = delete;

private:
    std::lock_guard<std::recursive_mutex> lock_;
    std::string saved_;
};

void copy_cut(const std::string& text, char* buffer, uint32_t size) {
    if (!buffer || size == 0) return;
    const size_t n = std::min<size_t>(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

std::string mapped_name(const char* native) {
    const std::string name = native ? native : "";
    if (name.empty() || name[0] != '/') {
        const GCNativeLocale* row = row_of(name);
        if (!row) return "Unknown";
        return std::string(row->language) + "_" + row->territory + "." + row->codepage + "@" + row->sort;
    }
    // "/codepage/territory/language/sort/": each component picks its column from its own row.
    std::string parts[4];
    size_t at = 1;
    for (int i = 0; i < 4; ++i) {
        const size_t end = name.find('/', at);
        parts[i] = name.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? name.size() : end + 1;
    }
    auto column = [&](int i, const char* (*pick)(const GCNativeLocale&)) -> std::string {
        const GCNativeLocale* row = row_of(parts[i]);
        return row ? pick(*row) : "Unknown";
    };
    return column(2, [](const GCNativeLocale& r) { return r.language; }) + "_" +
           column(1, [](const GCNativeLocale& r) { return r.territory; }) + "." +
           column(0, [](const GCNativeLocale& r) { return r.codepage; }) + "@" +
           column(3, [](const GCNativeLocale& r) { return r.sort; });
}

std::string grouping_text(const char* grouping) {
    std::string text;
    for (const char* g = grouping; g && *g && *g != CHAR_MAX; ++g) text += std::to_string(static_cast<int>(*g)) + ";";
    return text + "0";
}

// A text in ASCII put into the locale's code page (through code page 1 when the page is not
// ASCII-based) and set as a text item.
void set_ascii_item(GCLocale* loc, int item, const std::string& text) {
    const gc::CodePage cp(loc->codepage);
    std::string value = text;
    if (!cp.ascii_based()) {
        const gc::CodePage ascii(GCGetObjFromID(gc::state().ocx, GC_OBJ_CODEPAGE, 1, 0, nullptr));
        if (!ascii.ok()) return;
        value = gc::convert_text(ascii, cp, text.c_str());
    }
    GCSetLocaleTextInfo(loc, item, value.c_str(), -1, 0);
}

}  // namespace

extern "C" char* GCMapNativeLocale(const char* native, char* buffer, uint32_t size) {
    copy_cut(mapped_name(native), buffer, size);
    return buffer;
}

extern "C" uint32_t GCGetUserLocale(char* buffer, uint32_t size) {
    if (const char* lang = std::getenv("GC_LANG")) {
        copy_cut(lang, buffer, size);
        return 1;
    }
    ProcessLocale keep;
    std::setlocale(LC_ALL, "");
    const char* native = std::setlocale(LC_ALL, nullptr);
    GCMapNativeLocale(native ? native : "C", buffer, size);
    return 2;
}

extern "C" GCLocale* GCMapNativeInfo(const char* native, GCLocale* loc) {
    if (!loc) return nullptr;
    ProcessLocale keep;
    const char* set = std::setlocale(LC_ALL, native ? native : "");
    if (!set) return nullptr;
    const std::string native_name = set;
    const struct lconv* lc = std::localeconv();
    auto take = [&](char value, uint32_t bit, auto apply) {
        if (value == CHAR_MAX) return;
        apply(value);
        loc->modified |= 1u << bit;
    };
    take(lc->frac_digits, gc::kModValues + 1, [&](char v) { loc->curdigits = static_cast<uint16_t>(v); });
    take(lc->int_frac_digits, gc::kModValues + 2, [&](char v) { loc->intcurdigits = static_cast<uint16_t>(v); });
    const char flags[4] = {lc->p_cs_precedes, lc->p_sep_by_space, lc->n_cs_precedes, lc->n_sep_by_space};
    for (uint32_t i = 0; i < 4; ++i)
        take(flags[i], gc::kModCurrency + i,
             [&](char v) { loc->flags = static_cast<uint16_t>(v ? loc->flags | (1u << i) : loc->flags & ~(1u << i)); });
    take(lc->p_sign_posn, gc::kModSigns, [&](char v) { loc->psignpos = static_cast<uint8_t>(v); });
    take(lc->n_sign_posn, gc::kModSigns + 1, [&](char v) { loc->nsignpos = static_cast<uint8_t>(v); });
    // Copies: the texts below are set while the process locale may still change them.
    const std::string grouping = grouping_text(lc->grouping);
    const std::string mon_grouping = grouping_text(lc->mon_grouping);
    const std::string separators[4] = {lc->decimal_point, lc->thousands_sep, lc->mon_decimal_point,
                                       lc->mon_thousands_sep};
    const std::string currency = lc->currency_symbol;
    const std::string positive = lc->positive_sign;
    const std::string negative = lc->negative_sign;
    set_ascii_item(loc, 62, grouping);
    set_ascii_item(loc, 68, mon_grouping);

    // Characters in the native locale's own encoding are taken only when it is the locale's.
    const std::string mapped = mapped_name(native_name.c_str());
    const size_t dot = mapped.find('.');
    const size_t at = mapped.find('@');
    const std::string cp_name = dot == std::string::npos ? "" : mapped.substr(dot + 1, at - dot - 1);
    if (cp_name == loc->codepage->name) {
        const gc::CodePage cp(loc->codepage);
        const int index[4] = {0, 1, 3, 4};
        for (int i = 0; i < 4; ++i) {
            if (separators[i].size() != 1) continue;
            const uint8_t b = static_cast<uint8_t>(separators[i][0]);
            loc->sep[index[i]] = b;
            loc->usep[index[i]] = static_cast<GCUchar>(cp.single(b));
            loc->modified |= 1u << (gc::kModSeparators + index[i]);
        }
        if (!currency.empty()) GCSetLocaleTextInfo(loc, 64, currency.c_str(), -1, 0);
        if (!positive.empty()) GCSetLocaleTextInfo(loc, 71, positive.c_str(), -1, 0);
        if (!negative.empty()) GCSetLocaleTextInfo(loc, 72, negative.c_str(), -1, 0);
    }
    return loc;
}
