/* Locales made from names "language_territory.codepage@sort" (or from the user's environment)
 * and released again. */
#include <cstring>
#include <string>

#include "gcloc_internal.h"

namespace {

constexpr uint32_t kUserLocale = 2;
constexpr uint32_t kDefaults = 4;

// A look-up's failure as the code of the part that failed.
uint32_t part_code(uint32_t rc, uint32_t not_found) {
    if (rc == GC_ERR_NOMEM) return GC_ERR_NOMEM;
    return rc == GC_ERR_NOTFOUND ? not_found : GC_ERR_DATA;
}

GCObjEntry* by_name(uint16_t type, const std::string& name, uint32_t* rc) {
    return GCGetObjFromName(gc::state().ocx, type, name.data(), static_cast<uint32_t>(name.size()), 0, rc);
}

GCObjEntry* by_id(uint16_t type, uint16_t id, uint32_t* rc) { return GCGetObjFromID(gc::state().ocx, type, id, 0, rc); }

}  // namespace

extern "C" uint32_t GCReleaseLocale(GCLocale* loc) {
    if (!loc) return 0;
    uint32_t result = 0;
    for (int i = 0; i < 8; ++i) {
        if (!gc::release(loc->text[i])) result = 1;
        if (!gc::release(loc->utext[i])) result = 1;
    }
    if (!gc::release(loc)) result = 1;
    return result;
}

extern "C" GCLocale* GCGetLocale(const char* name, uint32_t options, uint32_t* rc) {
    uint32_t local = 0;
    if (!rc) rc = &local;
    if (options & ~(kUserLocale | kDefaults)) {
        *rc = GC_ERR_OPTION;
        return nullptr;
    }
    auto* loc = static_cast<GCLocale*>(gc::allocate(sizeof(GCLocale)));
    if (!loc) {
        *rc = GC_ERR_NOMEM;
        return nullptr;
    }
    std::memset(static_cast<void*>(loc), 0, sizeof *loc);
    auto fail = [&](uint32_t code) -> GCLocale* {
        GCReleaseLocale(loc);
        *rc = code;
        return nullptr;
    };

    std::string text = name ? name : "";
    bool native = false;
    if (options & kUserLocale) {
        char user[132];
        native = GCGetUserLocale(user, sizeof user) == 2;
        text = user;
    }
    const size_t lang_end = text.find_first_of("_.@");
    const std::string language = text.substr(0, lang_end);
    uint32_t code = GC_OK;
    loc->language = by_name(GC_OBJ_LANGUAGE, language.empty() ? "English" : language, &code);
    if (!loc->language && code == GC_ERR_NOTFOUND && (options & kDefaults))
        loc->language = by_name(GC_OBJ_LANGUAGE, "English", &code);
    if (!loc->language) return fail(part_code(code, GC_ERR_LANGUAGE));

    std::string territory;
    if (lang_end != std::string::npos && text[lang_end] == '_') {
        const size_t end = text.find_first_of(".@", lang_end + 1);
        territory = text.substr(lang_end + 1, end == std::string::npos ? std::string::npos : end - lang_end - 1);
    }
    if (!territory.empty()) {
        loc->territory = by_name(GC_OBJ_TERRITORY, territory, &code);
        if (!loc->territory && code == GC_ERR_NOTFOUND && (options & kDefaults)) territory.clear();
    }
    if (territory.empty()) loc->territory = by_id(GC_OBJ_TERRITORY, gc::section_word(loc->language, 0), &code);
    if (!loc->territory) return fail(part_code(code, GC_ERR_TERRITORY));

    const size_t dot = text.find('.');
    const size_t at = text.find('@');
    if (dot != std::string::npos && (at == std::string::npos || dot < at))
        loc->codepage = by_name(
            GC_OBJ_CODEPAGE, text.substr(dot + 1, at == std::string::npos ? std::string::npos : at - dot - 1), &code);
    else
        loc->codepage = by_id(GC_OBJ_CODEPAGE, gc::section_word(loc->language, 1), &code);
    if (!loc->codepage) return fail(part_code(code, GC_ERR_CODEPAGE));
    const gc::CodePage cp(loc->codepage);
    if (!cp.ok()) return fail(GC_ERR_DATA);
    if (cp.maxlen() == 1) loc->flags |= GC_LOC_SINGLEBYTE;
    if (cp.stateful()) loc->flags |= GC_LOC_STATEFUL;

    code = GC_OK;
    if (at != std::string::npos)
        loc->sort = by_name(GC_OBJ_SORT, text.substr(at + 1), &code);
    else
        loc->sort = by_id(GC_OBJ_SORT, gc::section_word(loc->language, 2), &code);
    if (!loc->sort && code != GC_OK) return fail(part_code(code, GC_ERR_SORT));
    if (!loc->sort) loc->flags |= GC_LOC_BINARY;

    loc->modified = 0;
    loc->setbits = 0;
    if (GCLocaleSetModifiable(loc) != GC_OK) return fail(GC_ERR_NOMEM);
    if ((options & kUserLocale) && native) GCMapNativeInfo("", loc);
    loc->lastrc = GC_OK;
    *rc = GC_OK;
    return loc;
}
