/* Attribute-list utilities of the plug-in interface: lookups with the job-variable rule, the write
 * into result slots, appends that leave old arrays to their owner, conversions from key/value
 * lists, parameter tables and XML texts, release, printing, the one-text form and the error record. */
#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "gm_param.h"
#include "gm_param_internal.h"
#include "gm_xml.h"
#include "os_diag.h"
#include "os_diag_internal.h"
#include "zpaapi.h"
#include "zpaapi_internal.h"

namespace {

constexpr const char* kInvalidList = "Attribute list is invalid.";
constexpr const char* kJobVariablePrefix = "%%";
constexpr const char* kAttrDelim = "ATTR_DELIM";
constexpr const char* kNameValueDelim = "^#^";
constexpr const char* kPrivateData = "Private Data";
constexpr const char* kHiddenInSerializedText = "INSTREAM_SCRIPT";
constexpr const char* kVersion = "ZPA dll 8.0.00 - folders 2451, 2452 - Wed Sep 12 14:50:52 2012";
// Working texts of the error record and the formatted log write.
constexpr size_t kWorkTextMax = 4999;
// Limits of the serialized text's reader: the count text, one piece, its name and its value.
constexpr size_t kCountTextMax = 15;
constexpr size_t kPieceMax = 4159;
constexpr size_t kSerializedNameMax = 63;
constexpr size_t kSerializedValueMax = 4095;
// ValueLen is 16 bits: a value holds at most this many characters.
constexpr size_t kValueMax = USHRT_MAX - 1;

bool list_usable(const ZPAAttrList* list) {
    if (list && (list->Count <= 0 || list->Attributes)) return true;
    DIAG_TRACE(4, "%s", kInvalidList);
    return false;
}

int count_of(const ZPAAttrList* list) { return list->Count > 0 ? list->Count : 0; }

bool has_prefix(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

// The stored name as a wanted name sees it: without a leading "%%" unless the wanted name has one.
const char* as_seen_by(const char* stored, const char* wanted) {
    if (!has_prefix(wanted, kJobVariablePrefix) && has_prefix(stored, kJobVariablePrefix)) return stored + 2;
    return stored;
}

enum class Match { Exact, ExactNoJobVariable, Substring, Prefix };

bool matches(const char* stored, const char* wanted, Match how) {
    if (!stored) return false;
    switch (how) {
    case Match::Exact: return std::strcmp(as_seen_by(stored, wanted), wanted) == 0;
    case Match::ExactNoJobVariable: return std::strcmp(stored, wanted) == 0;
    case Match::Substring: return std::strstr(as_seen_by(stored, wanted), wanted) != nullptr;
    case Match::Prefix: return has_prefix(stored, wanted);
    }
    return false;
}

enum class Scan {
    FromStart,       // index 0 upward, cursor untouched
    FromEnd,         // last index downward, cursor untouched
    ResetThenStart,  // cursor := 0, then index 0 upward, cursor := index found
    AfterCursor,     // cursor + 1 upward, cursor := index found
    BeforeCursor,    // cursor - 1 downward, cursor := index found
};

// The one lookup behind every member of the family; 0 found, 1 invalid, 2 not found.
ZPARC lookup(ZPAAttrList* list, const char* wanted, Match how, Scan scan, char** name_out, char** value_out) {
    if (!list_usable(list)) return ZPA_FAIL;
    if (!wanted || !value_out) return ZPA_FAIL;
    const long long count = count_of(list);
    long long from = 0, to = count, step = 1;  // to is exclusive
    switch (scan) {
    case Scan::FromStart: break;
    case Scan::ResetThenStart: list->Curr = 0; break;
    case Scan::FromEnd: from = count - 1, to = -1, step = -1; break;
    case Scan::AfterCursor: from = std::max(0LL, static_cast<long long>(list->Curr) + 1); break;
    case Scan::BeforeCursor: from = std::min(count, static_cast<long long>(list->Curr)) - 1, to = -1, step = -1; break;
    }
    for (long long i = from; i != to && i >= 0 && i < count; i += step) {
        const ZPAAttr& attr = list->Attributes[i];
        if (!matches(attr.Name, wanted, how)) continue;
        if (name_out) *name_out = attr.Name;
        *value_out = attr.Value;
        if (scan == Scan::ResetThenStart || scan == Scan::AfterCursor || scan == Scan::BeforeCursor)
            list->Curr = static_cast<int>(i);
        return ZPA_SUCCESS;
    }
    return ZPA_EOS;
}

// The same for the members that return the stored name too.
ZPARC lookup_named(ZPAAttrList* list, const char* wanted, Match how, Scan scan, char** name_out, char** value_out) {
    if (!list_usable(list)) return ZPA_FAIL;
    if (!name_out) return ZPA_FAIL;
    return lookup(list, wanted, how, scan, name_out, value_out);
}

// One block per attribute: name, NUL, then room for value_room bytes holding the value.
char* make_block(const char* name, const char* value, size_t value_room, char** value_in_block) {
    size_t name_len = std::strlen(name);
    size_t value_len = std::strlen(value);
    value_room = std::max(value_room, value_len + 1);
    char* block = static_cast<char*>(std::calloc(name_len + 1 + value_room, 1));
    if (!block) return nullptr;
    std::memcpy(block, name, name_len);
    std::memcpy(block + name_len + 1, value, value_len);
    *value_in_block = block + name_len + 1;
    return block;
}

// Copies attributes into a new array slot by slot, each in its own block with its ValueLen kept.
bool copy_attributes(const ZPAAttrList* from, ZPAAttr* to, int* done, const char* function) {
    for (int i = 0; i < count_of(from); ++i) {
        const ZPAAttr& src = from->Attributes[i];
        char* value = nullptr;
        char* block = make_block(src.Name ? src.Name : "", src.Value ? src.Value : "", src.ValueLen, &value);
        if (!block) {
            DIAG_ERROR("Malloc Failed");
            return false;
        }
        DIAG_TRACE(6, "malloc #2 in %s : %p", function, static_cast<void*>(block));
        to[*done].Name = block;
        to[*done].ValueLen = src.ValueLen;
        to[*done].Value = value;
        ++*done;
    }
    return true;
}

void free_blocks(ZPAAttr* attrs, int count) {
    for (int i = 0; i < count; ++i) std::free(attrs[i].Name);
    std::free(attrs);
}

// The target's attributes copied into a new array, then the source's: copied too, or moved (their
// blocks taken over, the source's Names set to null). 0, or 1 with both lists unchanged.
ZPARC append_attributes(ZPAAttrList* from, ZPAAttrList* to, bool move_from) {
    if (!list_usable(from) || !list_usable(to)) return ZPA_FAIL;
    const long long total = static_cast<long long>(count_of(to)) + count_of(from);
    if (total > INT_MAX) return ZPA_FAIL;
    auto* attrs = static_cast<ZPAAttr*>(std::calloc(static_cast<size_t>(total) + 1, sizeof(ZPAAttr)));
    DIAG_TRACE(6, "malloc #1 in ZPAAPI_UTILS_AttrListAppend_Attr2Attr : %p", static_cast<void*>(attrs));
    if (!attrs) {
        DIAG_TRACE(4, "Failed to allocate space for attributes.");
        return ZPA_FAIL;
    }
    int done = 0;
    if (!copy_attributes(to, attrs, &done, "ZPAAPI_UTILS_AttrListAppend_Attr2Attr") ||
        (!move_from && !copy_attributes(from, attrs, &done, "ZPAAPI_UTILS_AttrListAppend_Attr2Attr"))) {
        free_blocks(attrs, done);
        return ZPA_FAIL;
    }
    if (move_from) {
        for (int i = 0; i < count_of(from); ++i) {
            attrs[done++] = from->Attributes[i];
            from->Attributes[i].Name = nullptr;
        }
    }
    to->Count = done;
    to->Attributes = attrs;
    to->Curr = 0;
    return ZPA_SUCCESS;
}

// Converts key/value rows into one-block attributes. The array is sized for `rows`; stops early
// on a failed block allocation. Returns the number converted.
int rows_to_attributes(ZPALIST_handle_typ* walk, int rows, ZPAAttr* attrs, bool* block_failed, const char* function,
                       bool name_in_error_line) {
    int done = 0;
    char* key = nullptr;
    void* value = nullptr;
    while (done < rows && GM_PARAM_list_next(walk, &key, &value) == CM_RC_OK) {
        const char* text = value ? static_cast<const char*>(value) : "";
        char* in_block = nullptr;
        char* block = make_block(key ? key : "", text, 0, &in_block);
        if (!block) {
            *block_failed = true;
            if (name_in_error_line)
                DIAG_ERROR("%s: Malloc Failed", function);
            else
                DIAG_ERROR("Malloc Failed");
            break;
        }
        attrs[done].Name = block;
        attrs[done].Value = in_block;
        attrs[done].ValueLen = static_cast<unsigned short>(std::min(std::strlen(text) + 1, kValueMax + 1));
        DIAG_TRACE(6, "Parameter -> Key:'%s', Value:'%s'", block, gm_param::loggable_value(block, in_block));
        ++done;
    }
    return done;
}

// One attribute's line of the dump: "\t%-*s = %.500s" with the width 8, laid out here rather than
// by the formatter, as a dump has a line for every attribute.
void add_attribute_line(os_diag::Lines& lines, const char* name, const char* value) {
    constexpr std::size_t kNameWidth = 8;
    constexpr std::size_t kValueShown = 500;
    const std::string_view shown_name(name);
    const std::string_view padding("        ", kNameWidth - std::min(shown_name.size(), kNameWidth));
    lines.add({"\t", shown_name, padding, " = ", {value, strnlen(value, kValueShown)}});
}

void print_at_level_4(ZPAAttrList* list) {
    if (DIAG_debug_level() < 4 && DIAG_buffered_level() < 4) return;
    DIAG_set_active_level(4);
    ZPAAPI_utils_print_attr(list);
    DIAG_set_active_level(0);
}

// Drops a partly read list: its attributes and its array, even when no attribute was stored yet.
void abandon_read_list(ZPAAttrList* list) {
    ZPAAPI_utils_release_whole_attr(list);
    std::free(list->Attributes);
    list->Attributes = nullptr;
    list->Count = 0;
}

char* copy_text(std::string_view text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (!copy) return nullptr;
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

}  // namespace

extern "C" {

// ---------------------------------------------------------------------------------------------
// Lookups

ZPARC ZPAAPI_UTILS_AttrListValueGet(ZPAAttrList* AttrList, char* Name, char** Value) {
    return lookup(AttrList, Name, Match::Exact, Scan::FromStart, nullptr, Value);
}
ZPARC ZPAAPI_UTILS_AttrListValueGetNoAutoedits(ZPAAttrList* AttrList, char* Name, char** Value) {
    return lookup(AttrList, Name, Match::ExactNoJobVariable, Scan::FromStart, nullptr, Value);
}
ZPARC ZPAAPI_UTILS_AttrListValueGetLast(ZPAAttrList* AttrList, char* Name, char** Value) {
    return lookup(AttrList, Name, Match::Exact, Scan::FromEnd, nullptr, Value);
}
ZPARC ZPAAPI_UTILS_AttrListResetIndex(ZPAAttrList* AttrList, char* Name, char** Value) {
    return lookup(AttrList, Name, Match::Exact, Scan::ResetThenStart, nullptr, Value);
}
ZPARC ZPAAPI_UTILS_AttrListValueGetNext(ZPAAttrList* AttrList, char* Name, char** Value) {
    return lookup(AttrList, Name, Match::Exact, Scan::AfterCursor, nullptr, Value);
}
ZPARC ZPAAPI_UTILS_AttrListValueGetPrev(ZPAAttrList* AttrList, char* Name, char** Value) {
    return lookup(AttrList, Name, Match::Exact, Scan::BeforeCursor, nullptr, Value);
}
ZPARC ZPAAPI_UTILS_AttrListValueGetSubname(ZPAAttrList* AttrList, char* Subname, char** Name, char** Value) {
    return lookup_named(AttrList, Subname, Match::Substring, Scan::FromStart, Name, Value);
}
ZPARC ZPAAPI_UTILS_AttrListResetIndexSubname(ZPAAttrList* AttrList, char* Subname, char** Name, char** Value) {
    return lookup_named(AttrList, Subname, Match::Substring, Scan::ResetThenStart, Name, Value);
}
ZPARC ZPAAPI_UTILS_AttrListValueGetNextSubname(ZPAAttrList* AttrList, char* Subname, char** Name, char** Value) {
    return lookup_named(AttrList, Subname, Match::Substring, Scan::AfterCursor, Name, Value);
}
ZPARC ZPAAPI_UTILS_AttrListValueGetPrevSubname(ZPAAttrList* AttrList, char* Subname, char** Name, char** Value) {
    return lookup_named(AttrList, Subname, Match::Substring, Scan::BeforeCursor, Name, Value);
}
ZPARC ZPAAPI_UTILS_AttrListValueGetPrefix(ZPAAttrList* AttrList, char* Prefix, char** Name, char** Value) {
    return lookup_named(AttrList, Prefix, Match::Prefix, Scan::FromStart, Name, Value);
}
ZPARC ZPAAPI_UTILS_AttrListResetIndexPrefix(ZPAAttrList* AttrList, char* Prefix, char** Name, char** Value) {
    return lookup_named(AttrList, Prefix, Match::Prefix, Scan::ResetThenStart, Name, Value);
}
ZPARC ZPAAPI_UTILS_AttrListValueGetNextPrefix(ZPAAttrList* AttrList, char* Prefix, char** Name, char** Value) {
    return lookup_named(AttrList, Prefix, Match::Prefix, Scan::AfterCursor, Name, Value);
}
ZPARC ZPAAPI_UTILS_AttrListValueGetPrevPrefix(ZPAAttrList* AttrList, char* Prefix, char** Name, char** Value) {
    return lookup_named(AttrList, Prefix, Match::Prefix, Scan::BeforeCursor, Name, Value);
}

ZPARC ZPAAPI_UTILS_AttrListValueSizeGet(ZPAAttrList* AttrList, char* Name, int* size) {
    if (!list_usable(AttrList)) return ZPA_FAIL;
    if (!Name || !size) return ZPA_FAIL;
    for (int i = 0; i < count_of(AttrList); ++i) {
        const ZPAAttr& attr = AttrList->Attributes[i];
        if (!matches(attr.Name, Name, Match::Exact)) continue;
        *size = attr.ValueLen > 0 ? attr.ValueLen - 1 : 0;
        return ZPA_SUCCESS;
    }
    return ZPA_EOS;
}

// ---------------------------------------------------------------------------------------------
// Walk and slot write

ZPARC ZPAAPI_UTILS_AttrListReset(ZPAAttrList* AttrList) {
    if (!AttrList) return ZPA_FAIL;
    AttrList->Curr = 0;
    return ZPA_SUCCESS;
}

ZPARC ZPAAPI_UTILS_AttrListNext(ZPAAttrList* AttrList, char** Name, char** Value) {
    if (!AttrList || (AttrList->Count > 0 && !AttrList->Attributes) || !Name || !Value) return ZPA_FAIL;
    ZPARC rc = ZPA_EOS;
    if (AttrList->Curr >= 0 && AttrList->Curr < AttrList->Count) {
        *Name = AttrList->Attributes[AttrList->Curr].Name;
        *Value = AttrList->Attributes[AttrList->Curr].Value;
        rc = ZPA_SUCCESS;
    }
    if (AttrList->Curr < INT_MAX) ++AttrList->Curr;
    return rc;
}

ZPARC ZPAAPI_UTILS_AttrListValueSet(ZPAAttrList* AttrList, char* Name, char* Value) {
    if (!AttrList || (AttrList->Count > 0 && !AttrList->Attributes) || !Name) return ZPA_FAIL;
    for (int i = 0; i < count_of(AttrList); ++i) {
        ZPAAttr& slot = AttrList->Attributes[i];
        if (!slot.Name || std::strcmp(slot.Name, Name) != 0) continue;
        if (slot.ValueLen == 0 || !slot.Value) return ZPA_SUCCESS;
        const size_t room = slot.ValueLen - 1u;
        std::strncpy(slot.Value, Value ? Value : "", room);
        slot.Value[room] = '\0';
        return ZPA_SUCCESS;
    }
    return ZPA_EOS;
}

// ---------------------------------------------------------------------------------------------
// Appends

ZPARC ZPAAPI_UTILS_AttrListAppend_Value2Attr(ZPAAttrList* AttrList, char* Name, char* Value) {
    if (!list_usable(AttrList)) return ZPA_FAIL;
    if (!Name) return ZPA_FAIL;
    const char* value = Value ? Value : "";
    const size_t value_len = std::strlen(value);
    if (value_len > kValueMax) {
        // ValueLen could not describe the value: refused rather than stored with a wrong room.
        DIAG_ERROR("%s: value too long: %zu", "ZPAAPI_UTILS_AttrListAppend_Value2Attr", value_len);
        return ZPA_FAIL;
    }
    if (count_of(AttrList) == INT_MAX) return ZPA_FAIL;
    const int old_count = count_of(AttrList);
    auto* attrs = static_cast<ZPAAttr*>(std::calloc(static_cast<size_t>(old_count) + 1, sizeof(ZPAAttr)));
    DIAG_TRACE(6, "malloc #1 in ZPAAPI_UTILS_AttrListAppend_Value2Attr : %p", static_cast<void*>(attrs));
    if (!attrs) {
        DIAG_TRACE(4, "Failed to allocate space for attributes.");
        return ZPA_FAIL;
    }
    int done = 0;
    if (!copy_attributes(AttrList, attrs, &done, "ZPAAPI_UTILS_AttrListAppend_Value2Attr")) {
        free_blocks(attrs, done);
        return ZPA_FAIL;
    }
    char* in_block = nullptr;
    char* block = make_block(Name, value, 0, &in_block);
    DIAG_TRACE(6, "malloc #3 in ZPAAPI_UTILS_AttrListAppend_Value2Attr : %p", static_cast<void*>(block));
    if (!block) {
        DIAG_ERROR("Malloc Failed");
        free_blocks(attrs, done);
        return ZPA_FAIL;
    }
    attrs[done].Name = block;
    attrs[done].Value = in_block;
    attrs[done].ValueLen = static_cast<unsigned short>(value_len + 1);
    AttrList->Count = done + 1;
    AttrList->Attributes = attrs;
    AttrList->Curr = 0;
    return ZPA_SUCCESS;
}

ZPARC ZPAAPI_UTILS_AttrListAppend_Attr2Attr(ZPAAttrList* AttrListFrom, ZPAAttrList* AttrListTo) {
    return append_attributes(AttrListFrom, AttrListTo, false);
}

// ---------------------------------------------------------------------------------------------
// Conversions

ZPARC ZPAAPI_UTILS_list2attr(ZPALIST_handle_typ* param_list, ZPAAttrList* AttrList) {
    DIAG_TRACE(4, "ZPAAPI_UTILS_list2attr");
    if (!AttrList || !param_list) {
        DIAG_TRACE(4, "%s", kInvalidList);
        return ZPA_FAIL;
    }
    const int rows = ZPALIST_count(param_list);
    ZPALIST_handle_typ walk = *param_list;  // a second cursor: the caller's stays where it is
    ZPALIST_reset(&walk);
    ZPAAttr* attrs = nullptr;
    if (rows > 0) {
        attrs = static_cast<ZPAAttr*>(std::calloc(static_cast<size_t>(rows), sizeof(ZPAAttr)));
        if (!attrs) {
            DIAG_ERROR("%s: malloc failed", "ZPAAPI_UTILS_list2attr");
            return ZPA_FAIL;
        }
    }
    bool block_failed = false;
    const int done =
        rows > 0 ? rows_to_attributes(&walk, rows, attrs, &block_failed, "ZPAAPI_UTILS_list2attr", true) : 0;
    AttrList->Attributes = attrs;
    AttrList->Count = done;
    if (block_failed) {
        DIAG_ERROR("Error occured");
        ZPAAPI_utils_release_attr(AttrList);
        return ZPA_FAIL;
    }
    print_at_level_4(AttrList);
    return ZPA_SUCCESS;
}

ZPARC ZPAAPI_UTILS_param2attr(char* table_name, ZPAAttrList* AttrList) {
    DIAG_TRACE(4, "ZPAAPI_UTILS_param2attr");
    if (!AttrList || !table_name) {
        DIAG_TRACE(4, "%s", kInvalidList);
        return ZPA_FAIL;
    }
    std::string file;
    try {
        file = "./data/" + std::string(table_name) + ".dat";
    } catch (...) {
        return ZPA_FAIL;
    }
    ZPALIST_handle_typ table{};
    if (GM_PARAM_load_file(&table, file.c_str()) != CM_RC_OK) return ZPA_SUCCESS;
    const int rows = ZPALIST_count(&table);
    ZPARC rc = ZPA_SUCCESS;
    ZPAAttr* attrs = nullptr;
    if (rows > 0) {
        attrs = static_cast<ZPAAttr*>(std::calloc(static_cast<size_t>(rows), sizeof(ZPAAttr)));
        if (!attrs) {
            DIAG_TRACE(4, "Failed to allocate space for attributes.");
            GM_PARAM_list_clear(&table);
            return ZPA_FAIL;
        }
        ZPALIST_reset(&table);
        bool block_failed = false;
        const int done = rows_to_attributes(&table, rows, attrs, &block_failed, "ZPAAPI_UTILS_param2attr", false);
        AttrList->Attributes = attrs;
        AttrList->Count = done;
        if (block_failed) {
            // A table that could not be converted whole is a failure, not a shorter table.
            ZPAAPI_utils_release_attr(AttrList);
            rc = ZPA_FAIL;
        }
    } else {
        AttrList->Attributes = nullptr;
        AttrList->Count = 0;
    }
    GM_PARAM_list_clear(&table);
    return rc;
}

ZPARC ZPAAPI_UTILS_xmlBuff2attr(char* xmlbuffer, char* ParentElem, ZPAAttrList* AttrList) {
    DIAG_TRACE(4, "ZPAAPI_UTILS_xmlBuff2attr");
    if (!AttrList) {
        DIAG_TRACE(4, "%s", kInvalidList);
        return ZPA_FAIL;
    }
    AttrList->Count = 0;
    AttrList->Attributes = nullptr;
    ZPALIST_handle_typ rows{};
    if (GM_XML_ParseBuf2List(xmlbuffer, ParentElem, &rows) != CM_RC_OK) {
        ZPALIST_clear(&rows);
        return ZPA_FAIL;
    }
    if (ZPAAPI_UTILS_list2attr(&rows, AttrList) != ZPA_SUCCESS) {
        ZPALIST_clear(&rows);
        return ZPA_FAIL;
    }
    // A text without children under the parent gives an empty list and 1: the clear finds nothing.
    return ZPALIST_clear(&rows) == CM_RC_OK ? ZPA_SUCCESS : ZPA_FAIL;
}

// ---------------------------------------------------------------------------------------------
// Release and print

ZPARC ZPAAPI_utils_release_attr(ZPAAttrList* AttrList) {
    DIAG_TRACE(4, "ZPAAPI_utils_release_attr");
    if (!AttrList) {
        DIAG_ERROR("AttrList is NULL");
        return ZPA_FAIL;
    }
    if (AttrList->Count <= 0) return ZPA_SUCCESS;
    if (!AttrList->Attributes) {
        DIAG_ERROR("AttrList->Attributes is NULL");
        return ZPA_FAIL;
    }
    for (int i = 0; i < AttrList->Count; ++i) {
        char* block = AttrList->Attributes[i].Name;
        if (!block) continue;
        DIAG_TRACE(6, "free #1 in ZPAAPI_utils_release_attr : %p", static_cast<void*>(block));
        std::free(block);
    }
    DIAG_TRACE(6, "free #2 in ZPAAPI_utils_release_attr : %p", static_cast<void*>(AttrList->Attributes));
    std::free(AttrList->Attributes);
    AttrList->Attributes = nullptr;
    AttrList->Count = 0;
    return ZPA_SUCCESS;
}

ZPARC ZPAAPI_utils_release_whole_attr(ZPAAttrList* AttrList) {
    DIAG_TRACE(4, "ZPAAPI_utils_release_whole_attr");
    if (!AttrList) {
        DIAG_ERROR("AttrList is NULL");
        return ZPA_FAIL;
    }
    if (AttrList->Count <= 0) return ZPA_SUCCESS;
    if (!AttrList->Attributes) {
        DIAG_ERROR("AttrList->Attributes is NULL");
        return ZPA_FAIL;
    }
    for (int i = 0; i < AttrList->Count; ++i) {
        ZPAAttr& attr = AttrList->Attributes[i];
        if (attr.Name) {
            DIAG_TRACE(6, "free #1 in ZPAAPI_utils_release_whole_attr : %p", static_cast<void*>(attr.Name));
            std::free(attr.Name);
        }
        if (attr.Value) {
            DIAG_TRACE(6, "free #2 in ZPAAPI_utils_release_whole_attr : %p", static_cast<void*>(attr.Value));
            std::free(attr.Value);
        }
    }
    DIAG_TRACE(6, "free #3 in ZPAAPI_utils_release_whole_attr : %p", static_cast<void*>(AttrList->Attributes));
    std::free(AttrList->Attributes);
    AttrList->Attributes = nullptr;
    AttrList->Count = 0;
    return ZPA_SUCCESS;
}

// The dump goes to the log as one piece: its lines are the log's lines as ever, but they reach the
// file in one write rather than one a line.
ZPARC ZPAAPI_utils_print_attr(ZPAAttrList* AttrList) try {
    os_diag::Lines lines;
    lines.add("ZPAAPI_utils_print_attr");
    if (AttrList && AttrList->Attributes) {
        lines.add("Attributes begin");
        for (int i = 0; i < count_of(AttrList); ++i) {
            const ZPAAttr& attr = AttrList->Attributes[i];
            const char* name = attr.Name ? attr.Name : "";
            add_attribute_line(lines, name, gm_param::loggable_value(name, attr.Value ? attr.Value : ""));
        }
        lines.add("Attributes end");
    }
    lines.print();
    return ZPA_SUCCESS;
} catch (...) {
    return ZPA_SUCCESS;  // out of memory: the dump is lost, as a line the log cannot hold
}

// ---------------------------------------------------------------------------------------------
// Serialized text

ZPARC ZPAPI_UTILS_serialize_attr_list(ZPAAttrList* AttributesList, char** buffer) {
    if (!AttributesList || !AttributesList->Attributes || !buffer) return ZPA_FAIL;
    std::string text;
    try {
        text = std::to_string(count_of(AttributesList)) + kAttrDelim;
        for (int i = 0; i < count_of(AttributesList); ++i) {
            const ZPAAttr& attr = AttributesList->Attributes[i];
            const char* name = attr.Name ? attr.Name : "";
            if (i > 0) text += kAttrDelim;
            text += name;
            text += kNameValueDelim;
            text += std::strcmp(name, kHiddenInSerializedText) == 0 ? kPrivateData : (attr.Value ? attr.Value : "");
        }
    } catch (...) {
        DIAG_ERROR("%s: malloc failed", "ZPAPI_UTILS_serialize_attr_list");
        return ZPA_FAIL;
    }
    char* out = copy_text(text);
    if (!out) {
        DIAG_ERROR("%s: malloc failed", "ZPAPI_UTILS_serialize_attr_list");
        return ZPA_FAIL;
    }
    *buffer = out;
    AttributesList->Curr = 0;
    return ZPA_SUCCESS;
}

ZPARC ZPAPI_UTILS_deserialize_attr_list(char* buffer, ZPAAttrList* AttrList) {
    static constexpr const char* kFunction = "ZPAPI_UTILS_deserialize_attr_list";
    if (!AttrList || !buffer || !*buffer) return ZPA_FAIL;
    AttrList->Curr = 0;
    const std::string_view text(buffer);
    const size_t delim_len = std::strlen(kAttrDelim);
    const size_t first = text.find(kAttrDelim);
    if (first == std::string_view::npos) {
        DIAG_ERROR("%s: next_ptr is NULL", kFunction);
        return ZPA_FAIL;
    }
    // The count: a decimal number of at most 15 characters; anything else is no count at all.
    const std::string_view count_text = text.substr(0, first);
    long long count = 0;
    bool count_ok = !count_text.empty() && count_text.size() <= kCountTextMax;
    for (char c : count_text) {
        if (!count_ok || c < '0' || c > '9') {
            count_ok = false;
            break;
        }
        count = count * 10 + (c - '0');
    }
    if (!count_ok || count == 0) {
        DIAG_ERROR("%s: attr_count = 0", kFunction);
        return ZPA_FAIL;
    }
    // Only as many attributes as there are pieces can be stored.
    long long pieces = 1;
    for (size_t at = first + delim_len; (at = text.find(kAttrDelim, at)) != std::string_view::npos; at += delim_len)
        ++pieces;
    const long long slots = std::min(count, pieces);

    ZPAAPI_utils_release_attr(AttrList);
    AttrList->Count = 0;
    AttrList->Attributes = static_cast<ZPAAttr*>(std::calloc(static_cast<size_t>(slots), sizeof(ZPAAttr)));
    if (!AttrList->Attributes) {
        DIAG_ERROR("%s: malloc failed", kFunction);
        return ZPA_FAIL;
    }
    size_t at = first + delim_len;
    while (AttrList->Count < slots) {
        const size_t next = text.find(kAttrDelim, at);
        std::string_view piece = text.substr(at, next == std::string_view::npos ? std::string_view::npos : next - at);
        piece = piece.substr(0, kPieceMax);
        const size_t split = piece.find(kNameValueDelim);
        if (split == std::string_view::npos) {
            DIAG_ERROR("%s: name_val_delim_ptr is NULL", kFunction);
            abandon_read_list(AttrList);
            return ZPA_FAIL;
        }
        const std::string_view name = piece.substr(0, std::min(split, kSerializedNameMax));
        const std::string_view value =
            piece.substr(split + std::strlen(kNameValueDelim)).substr(0, kSerializedValueMax);
        ZPAAttr& attr = AttrList->Attributes[AttrList->Count];
        attr.Name = copy_text(name);
        attr.Value = copy_text(value);
        if (!attr.Name || !attr.Value) {
            DIAG_ERROR("%s: malloc failed", kFunction);
            ++AttrList->Count;  // so that the release frees what this slot holds
            abandon_read_list(AttrList);
            return ZPA_FAIL;
        }
        attr.ValueLen = static_cast<unsigned short>(value.size() + 1);
        ++AttrList->Count;
        if (next == std::string_view::npos) break;
        at = next + delim_len;
    }
    return ZPA_SUCCESS;
}

// ---------------------------------------------------------------------------------------------
// Error record, formatted log write, version

ZPARC ZPAAPI_UTILS_ErrorSet(ZPAError* Error, ZPAErrorCode code, const char* format, ...) {
    if (!Error) return ZPA_SUCCESS;
    Error->code = code;
    char work[kWorkTextMax + 1] = "";
    if (format) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(work, sizeof work, format, args);
        va_end(args);
    }
    // At most 998 characters and the terminator reach the record.
    const size_t n = strnlen(work, sizeof Error->text - 1);
    std::memcpy(Error->text, work, n);
    Error->text[n] = '\0';
    DIAG_TRACE(4, "ErrorSet: %s", Error->text);
    return ZPA_SUCCESS;
}

ZPAErrorCode ZPAAPI_UTILS_ErrorCodeGet(ZPAError* Error) { return Error ? Error->code : 0; }

ZPARC ZPAAPI_UTILS_DiagPrintf(int DiagLevel, const char* format, ...) {
    if (!format || DIAG_debug_level() < DiagLevel) return ZPA_SUCCESS;
    char work[kWorkTextMax + 1];
    va_list args;
    va_start(args, format);
    std::vsnprintf(work, sizeof work, format, args);
    va_end(args);
    DIAG_print_text(work);
    return ZPA_SUCCESS;
}

void ZPA_version(char* ver, int size) {
    if (!ver || size <= 0) return;
    std::snprintf(ver, static_cast<size_t>(size), "%s", kVersion);
}

}  // extern "C"

ZPARC zpaapi::append_moving(ZPAAttrList* source, ZPAAttrList* target) {
    return append_attributes(source, target, true);
}
