/* Typed parameter list on the hash set of 17 buckets: entries keyed by name (without regard to
 * case) and type, each an owned deep copy of the caller's value. */
#include "ess_paramlist.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

#include "ess_str_utils.h"

namespace {

constexpr int kBuckets = 17;

using Entry = ParamListEntry_typ;

void free_contents(Entry* e) {
    std::free(e->m_szLabel);
    std::free(e->m_pData);
    if (e->m_StringListParamValue) {
        for (int i = 0; i < e->m_nSize; ++i) std::free(e->m_StringListParamValue[i]);
        std::free(e->m_StringListParamValue);
    }
    if (e->m_ObjectListParamValue) {
        for (int i = 0; i < e->m_nSize; ++i) std::free(e->m_ObjectListParamValue[i]);
        std::free(e->m_ObjectListParamValue);
    }
    *e = Entry{};
}

int entry_cmp(const void* a, const void* b) {
    auto* x = static_cast<const Entry*>(a);
    auto* y = static_cast<const Entry*>(b);
    if (x->m_nType != y->m_nType) return 1;
    return ess_stricmp(x->m_szLabel, y->m_szLabel);
}

/* Deep copy of an entry; the source's pointers belong to its owner. */
bool copy_contents(const Entry* src, Entry* dst) {
    *dst = Entry{};
    dst->m_nType = src->m_nType;
    dst->m_nSize = src->m_nSize;
    dst->m_nSizeOfEach = src->m_nSizeOfEach;
    dst->m_szLabel = ess_strdup(src->m_szLabel);
    if (!dst->m_szLabel) return false;
    switch (src->m_nType) {
    case ESS_PARAM_INT:
    case ESS_PARAM_OBJECT:
        if (src->m_nSize > 0) {
            dst->m_pData = std::malloc(static_cast<size_t>(src->m_nSize));
            if (!dst->m_pData) return false;
            std::memcpy(dst->m_pData, src->m_pData, static_cast<size_t>(src->m_nSize));
        }
        return true;
    case ESS_PARAM_STRING:
        dst->m_pData = ess_strdup(static_cast<const char*>(src->m_pData));
        return dst->m_pData != nullptr;
    case ESS_PARAM_STRING_LIST: {
        dst->m_StringListParamValue =
            static_cast<char**>(std::calloc(static_cast<size_t>(src->m_nSize) + 1, sizeof(char*)));
        if (!dst->m_StringListParamValue) return false;
        for (int i = 0; i < src->m_nSize; ++i)
            if (!(dst->m_StringListParamValue[i] = ess_strdup(src->m_StringListParamValue[i]))) return false;
        return true;
    }
    case ESS_PARAM_OBJECT_LIST: {
        dst->m_ObjectListParamValue =
            static_cast<void**>(std::calloc(static_cast<size_t>(src->m_nSize) + 1, sizeof(void*)));
        if (!dst->m_ObjectListParamValue) return false;
        for (int i = 0; i < src->m_nSize; ++i)
            if (ess_bufdup(src->m_ObjectListParamValue[i], src->m_nSizeOfEach, &dst->m_ObjectListParamValue[i]) != 0)
                return false;
        return true;
    }
    default: return false;
    }
}

void* entry_cpy(const void* elem) {
    auto* copy = static_cast<Entry*>(std::calloc(1, sizeof(Entry)));
    if (!copy) return nullptr;
    if (!copy_contents(static_cast<const Entry*>(elem), copy)) {
        free_contents(copy);
        std::free(copy);
        return nullptr;
    }
    return copy;
}

/* Names differing only in case fall into one bucket. */
char* entry_lbl(const void* elem) {
    char* label = ess_strdup(static_cast<const Entry*>(elem)->m_szLabel);
    if (label)
        for (char* p = label; *p; ++p) *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
    return label;
}

void entry_fre(void* elem) {
    free_contents(static_cast<Entry*>(elem));
    std::free(elem);
}

bool usable(ESS_ParamList* list, const char* name) { return list && list->m_pEss_Set && name && *name; }

/* Stores a copy of `value` (whose pointers belong to the caller): replaces the stored entry of the
 * same name and type, or adds one. */
int put(ESS_ParamList* list, const Entry& value) {
    auto* stored = static_cast<Entry*>(ESS_SET_Find_Ptr(list->m_pEss_Set, &value));
    if (!stored) return ESS_SET_Add(list->m_pEss_Set, &value) == 0 ? 0 : -1;
    Entry fresh;
    if (!copy_contents(&value, &fresh)) {
        free_contents(&fresh);
        return -1;
    }
    free_contents(stored);
    *stored = fresh;
    return 0;
}

Entry* lookup(ESS_ParamList* list, const char* name, int type) {
    if (!usable(list, name)) return nullptr;
    Entry key{};
    key.m_szLabel = const_cast<char*>(name);
    key.m_nType = type;
    return static_cast<Entry*>(ESS_SET_Find_Ptr(list->m_pEss_Set, &key));
}

Entry named(const char* name, int type) {
    Entry e{};
    e.m_szLabel = const_cast<char*>(name);
    e.m_nType = type;
    return e;
}

int copy_out(Entry* e, char* name, int nameSize, void* value, int* valueSize) {
    if (!e) return ESS_END_OF_WALK;
    if (name && nameSize > 0) ess_strncpy(name, e->m_szLabel, nameSize);
    if (e->m_nType == ESS_PARAM_STRING_LIST || e->m_nType == ESS_PARAM_OBJECT_LIST) return -1;
    if (!value || !valueSize) return -1;
    int n = e->m_nSize < *valueSize ? e->m_nSize : *valueSize;
    if (n < 0) n = 0;
    if (n > 0) std::memcpy(value, e->m_pData, static_cast<size_t>(n));
    *valueSize = n;
    return 0;
}

}  // namespace

extern "C" {

ESS_ParamList* ESS_ParamList_New(void) {
    auto* list = static_cast<ESS_ParamList*>(std::calloc(1, sizeof(ESS_ParamList)));
    if (!list) return nullptr;
    list->m_pEss_Set = ESS_SET_Create(entry_cmp, entry_cpy, entry_lbl, entry_fre, kBuckets, sizeof(Entry));
    if (!list->m_pEss_Set) {
        std::free(list);
        return nullptr;
    }
    return list;
}

int ESS_ParamList_Delete(ESS_ParamList** list) {
    if (!list || !*list) return -1;
    ESS_SET_Destroy(&(*list)->m_pEss_Set);
    std::free(*list);
    *list = nullptr;
    return 0;
}

int ESS_ParamList_Clear(ESS_ParamList* list) {
    if (!list || !list->m_pEss_Set) return -1;
    ESS_SET_ClearContents(list->m_pEss_Set);
    return 0;
}

int ESS_ParamList_SetInt(ESS_ParamList* list, const char* name, int value) {
    if (!usable(list, name)) return -1;
    Entry e = named(name, ESS_PARAM_INT);
    e.m_nSize = sizeof(int);
    e.m_pData = &value;
    return put(list, e);
}

int ESS_ParamList_SetString(ESS_ParamList* list, const char* name, const char* value) {
    if (!usable(list, name) || !value) return -1;
    Entry e = named(name, ESS_PARAM_STRING);
    e.m_nSize = static_cast<int>(std::strlen(value));
    e.m_pData = const_cast<char*>(value);
    return put(list, e);
}

int ESS_ParamList_SetObject(ESS_ParamList* list, const char* name, const void* block, int size) {
    if (!usable(list, name) || !block || size < 1) return -1;
    Entry e = named(name, ESS_PARAM_OBJECT);
    e.m_nSize = size;
    e.m_pData = const_cast<void*>(block);
    return put(list, e);
}

int ESS_ParamList_SetStringList(ESS_ParamList* list, const char* name, char** texts, int count) {
    if (!usable(list, name) || !texts || count < 1) return -1;
    Entry e = named(name, ESS_PARAM_STRING_LIST);
    int n = 0;
    while (n < count && texts[n]) ++n;  // copying stops at the first NULL text
    e.m_nSize = n;
    e.m_StringListParamValue = texts;
    return put(list, e);
}

int ESS_ParamList_SetObjectList(ESS_ParamList* list, const char* name, void** blocks, int count, int sizeOfEach) {
    if (!usable(list, name) || !blocks || count < 1 || sizeOfEach < 1) return -1;
    for (int i = 0; i < count; ++i)
        if (!blocks[i]) return -1;
    Entry e = named(name, ESS_PARAM_OBJECT_LIST);
    e.m_nSize = count;
    e.m_nSizeOfEach = sizeOfEach;
    e.m_ObjectListParamValue = blocks;
    return put(list, e);
}

int ESS_ParamList_GetInt(ESS_ParamList* list, const char* name, int* value) {
    Entry* e = lookup(list, name, ESS_PARAM_INT);
    if (!e || !value) return -1;
    std::memcpy(value, e->m_pData, sizeof(int));
    return 0;
}

int ESS_ParamList_GetString(ESS_ParamList* list, const char* name, char** value) {
    Entry* e = lookup(list, name, ESS_PARAM_STRING);
    if (!e || !value) return -1;
    *value = static_cast<char*>(e->m_pData);
    return 0;
}

int ESS_ParamList_GetObject(ESS_ParamList* list, const char* name, void** block, int* size) {
    Entry* e = lookup(list, name, ESS_PARAM_OBJECT);
    if (!e || !block) return -1;
    *block = e->m_pData;
    if (size) *size = e->m_nSize;
    return 0;
}

int ESS_ParamList_GetStringList(ESS_ParamList* list, const char* name, char*** texts, int* count) {
    Entry* e = lookup(list, name, ESS_PARAM_STRING_LIST);
    if (!e || !texts) return -1;
    *texts = e->m_StringListParamValue;
    if (count) *count = e->m_nSize;
    return 0;
}

int ESS_ParamList_GetObjectList(ESS_ParamList* list, const char* name, void*** blocks, int* count, int* sizeOfEach) {
    Entry* e = lookup(list, name, ESS_PARAM_OBJECT_LIST);
    if (!e || !blocks) return -1;
    *blocks = e->m_ObjectListParamValue;
    if (count) *count = e->m_nSize;
    if (sizeOfEach) *sizeOfEach = e->m_nSizeOfEach;
    return 0;
}

int ESS_ParamList_GetFirst(ESS_ParamList* list, char* name, int nameSize, void* value, int* valueSize) {
    if (!list || !list->m_pEss_Set) return -1;
    return copy_out(static_cast<Entry*>(ESS_SET_First_Ptr(list->m_pEss_Set)), name, nameSize, value, valueSize);
}

int ESS_ParamList_GetNext(ESS_ParamList* list, char* name, int nameSize, void* value, int* valueSize) {
    if (!list || !list->m_pEss_Set) return -1;
    return copy_out(static_cast<Entry*>(ESS_SET_Next_Ptr(list->m_pEss_Set)), name, nameSize, value, valueSize);
}

}  // extern "C"
