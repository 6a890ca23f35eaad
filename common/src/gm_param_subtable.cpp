/* Parameter tables, sectioned form: files divided by [NAME] headers (the accounts file is one),
 * their reader and writer, and the operations on a list of sections (GM_PARAM_subtable_row
 * elements, each owning its rows). */
#include "gm_param.h"
#include "gm_param_internal.h"
#include "os_diag.h"

#include <cstring>

namespace gm_param {

std::string sectioned_text(ZPALIST_handle_typ* list) {
    std::string text;
    ZPALIST_handle_typ sections = *list;
    ZPALIST_reset(&sections);
    void* element = nullptr;
    unsigned int size = 0;
    while (ZPALIST_next_ptr(&sections, &element, &size) == CM_RC_OK) {
        auto* section = static_cast<GM_PARAM_subtable_row*>(element);
        text += '[';
        text += section->key;
        text += "]\n\n";  // every written line is followed by an empty one
        ZPALIST_handle_typ rows = section->list;
        ZPALIST_reset(&rows);
        void* row = nullptr;
        while (ZPALIST_next_ptr(&rows, &row, &size) == CM_RC_OK) {
            std::string key = row_key(row);
            if (key.size() < static_cast<std::size_t>(kSectionKeyField)) key.resize(kSectionKeyField, ' ');
            text += key;
            text += "  ";
            text += std::string_view(row_value(row)).substr(0, kSavedValueMax);
            text += "\n\n";
        }
    }
    return text;
}

bool writable_sections(ZPALIST_handle_typ* list, const char* file_name) {
    ZPALIST_handle_typ sections = *list;
    ZPALIST_reset(&sections);
    void* element = nullptr;
    unsigned int size = 0;
    for (int n = 1; ZPALIST_next_ptr(&sections, &element, &size) == CM_RC_OK; ++n) {
        auto* section = static_cast<GM_PARAM_subtable_row*>(element);
        if (const char* flaw = section_name_flaw(section->key)) {
            DIAG_ERROR("%s not written: section %d holds %s", file_name, n, flaw);
            return false;
        }
        int at = 0;
        if (const char* flaw = rows_flaw(&section->list, &at)) {
            DIAG_ERROR("%s not written: row %d of section %d holds %s", file_name, at, n, flaw);
            return false;
        }
    }
    return true;
}

void free_sections(ZPALIST_handle_typ* list) {
    ZPALIST_handle_typ walker = *list;
    ZPALIST_reset(&walker);
    void* element = nullptr;
    unsigned int size = 0;
    while (ZPALIST_next_ptr(&walker, &element, &size) == CM_RC_OK)
        ZPALIST_clear(&static_cast<GM_PARAM_subtable_row*>(element)->list);
    ZPALIST_clear(list);
}

namespace {

CM_RC append_section(zpalist::Builder& sections, GM_PARAM_subtable_row& section) {
    const CM_RC rc = sections.append(&section, sizeof section);
    if (rc != CM_RC_OK) ZPALIST_clear(&section.list);
    return rc;
}

}  // namespace

CM_RC parse_sectioned(ZPALIST_handle_typ* list, const std::string& content) {
    ZPALIST_init(list);
    zpalist::Builder sections(list);
    GM_PARAM_subtable_row open{};
    zpalist::Builder open_rows(&open.list);
    bool have_open = false;
    // Whole lines are read, however long: a row written with the longest value (key field, two
    // blanks, 2048 characters) comes back as one row.
    std::size_t pos = 0;
    while (pos < content.size()) {
        std::size_t end = content.find('\n', pos);
        if (end == std::string::npos) end = content.size();
        std::string_view line(content.data() + pos, end - pos);
        pos = end + 1;
        if (std::size_t nul = line.find('\0'); nul != std::string_view::npos) line = line.substr(0, nul);
        ParsedLine parsed = split_line(line);
        trace_line(line, parsed);
        if (parsed.comment) continue;
        if (parsed.key.size() > static_cast<std::size_t>(kKeyMax)) {
            DIAG_ERROR("key too long: %d", static_cast<int>(parsed.key.size()));
            if (have_open) ZPALIST_clear(&open.list);
            return CM_RC_FAIL;
        }
        if (parsed.key.empty()) continue;
        DIAG_TRACE(6, "value: (%d)'%.100s'", static_cast<int>(parsed.value.size()),
                   loggable_value(parsed.key.c_str(), parsed.value.c_str()));
        if (GM_PARAM_IsSubtable(parsed.key.c_str()) == CM_RC_OK) {
            if (have_open && append_section(sections, open) != CM_RC_OK) return CM_RC_FAIL;
            open = GM_PARAM_subtable_row{};
            open_rows = zpalist::Builder(&open.list);
            std::string name = GM_PARAM_Get_SubtableName(parsed.key.data());
            if (name.size() > static_cast<std::size_t>(kKeyMax)) name.resize(kKeyMax);
            to_upper(name);
            std::memcpy(open.key, name.c_str(), name.size() + 1);
            have_open = true;
            continue;
        }
        if (!have_open) continue;  // rows before the first header belong to no section
        std::vector<char> row = make_row(parsed.key, parsed.value);
        if (open_rows.append(row.data(), static_cast<unsigned int>(row.size())) != CM_RC_OK) {
            ZPALIST_clear(&open.list);
            return CM_RC_FAIL;
        }
    }
    if (have_open && append_section(sections, open) != CM_RC_OK) return CM_RC_FAIL;
    return CM_RC_OK;
}

}  // namespace gm_param

using namespace gm_param;

namespace {

GM_PARAM_subtable_row* find_section(ZPALIST_handle_typ* list, const char* name) {
    ZPALIST_reset(list);
    void* element = nullptr;
    unsigned int size = 0;
    while (ZPALIST_next_ptr(list, &element, &size) == CM_RC_OK) {
        auto* section = static_cast<GM_PARAM_subtable_row*>(element);
        if (std::strcmp(section->key, name) == 0) return section;
    }
    return nullptr;
}

}  // namespace

extern "C" {

CM_RC GM_PARAM_subtable_load_file(ZPALIST_handle_typ* list, const char* file_name) {
    if (!list || !file_name) return CM_RC_FAIL;
    try {
        DIAG_TRACE(4, "GM_PARAM_subtable_load_file");
        DIAG_TRACE(4, "File:%s", file_name);
        FileImage image;
        if (read_file(file_name, image) != CM_RC_OK) {
            DIAG_TRACE(4, "Failed to load file %s.", file_name);
            return CM_RC_FAIL;
        }
        return parse_sectioned(list, image.content);
    } catch (...) {
        return CM_RC_FAIL;
    }
}

CM_RC GM_PARAM_subtable_list_save(ZPALIST_handle_typ* list, const char* file_name) {
    DIAG_TRACE(4, "GM_PARAM_subtable_list_save");
    if (!list || !file_name) return CM_RC_FAIL;
    try {
        if (!writable_sections(list, file_name)) return CM_RC_FAIL;
        return write_file(file_name, sectioned_text(list), nullptr, nullptr);
    } catch (...) {
        return CM_RC_FAIL;
    }
}

CM_RC GM_PARAM_subtable_list_find(ZPALIST_handle_typ* list, const char* subtable_name, ZPALIST_handle_typ** sub_list) {
    DIAG_TRACE(4, "GM_PARAM_subtable_list_find");
    if (!list || !subtable_name || !sub_list) return CM_RC_FAIL;
    GM_PARAM_subtable_row* section = find_section(list, subtable_name);
    if (!section) return CM_RC_END;
    *sub_list = &section->list;
    ZPALIST_reset(*sub_list);
    return CM_RC_OK;
}

CM_RC GM_PARAM_subtable_list_get(ZPALIST_handle_typ* list, const char* subtable_name, const char* key, char* value,
                                 int size) {
    DIAG_TRACE(4, "GM_PARAM_subtable_list_get");
    ZPALIST_handle_typ* rows = nullptr;
    const CM_RC rc = GM_PARAM_subtable_list_find(list, subtable_name, &rows);
    return rc == CM_RC_OK ? GM_PARAM_list_get(rows, key, value, size) : rc;
}

CM_RC GM_PARAM_subtable_list_set(ZPALIST_handle_typ* list, const char* subtable_name, const char* key,
                                 const char* value) {
    DIAG_TRACE(4, "GM_PARAM_subtable_list_set");
    if (!list || !subtable_name || !key) return CM_RC_FAIL;
    GM_PARAM_subtable_row* section = find_section(list, subtable_name);
    if (!section) {
        const std::size_t length = std::strlen(subtable_name);
        if (length > static_cast<std::size_t>(kTableNameMax)) {
            DIAG_TRACE(4, "subtable_name too long: %d", static_cast<int>(length));
            return CM_RC_FAIL;
        }
        GM_PARAM_subtable_row fresh{};
        try {
            const std::string name = cut_name(subtable_name);
            std::memcpy(fresh.key, name.c_str(), name.size() + 1);
        } catch (...) {
            return CM_RC_FAIL;
        }
        zpalist::Builder sections(list);
        const CM_RC rc = sections.append(&fresh, sizeof fresh);
        if (rc != CM_RC_OK) return rc;
        section = static_cast<GM_PARAM_subtable_row*>(sections.last()->ptr);
    }
    return GM_PARAM_list_set(&section->list, key, value);
}

CM_RC GM_PARAM_subtable_list_delete(ZPALIST_handle_typ* list, const char* subtable_name) {
    DIAG_TRACE(4, "GM_PARAM_subtable_list_delete");
    if (!list || !subtable_name) return CM_RC_FAIL;
    GM_PARAM_subtable_row* section = find_section(list, subtable_name);
    if (!section) return CM_RC_END;
    ZPALIST_clear(&section->list);
    ZPALIST_delete(list);  // the cursor stands on the section found
    return CM_RC_OK;
}

CM_RC GM_PARAM_subtable_list_delete_entry(ZPALIST_handle_typ* sub_list, const char* subtable_name, const char* key) {
    (void)subtable_name;
    DIAG_TRACE(4, "GM_PARAM_subtable_list_delete_entry");
    if (!sub_list || !key) return CM_RC_FAIL;
    void* element = nullptr;
    unsigned int size = 0;
    while (ZPALIST_next_ptr(sub_list, &element, &size) == CM_RC_OK) {
        if (std::strcmp(row_key(element), key) == 0) {
            ZPALIST_delete(sub_list);
            return CM_RC_OK;
        }
    }
    return CM_RC_END;
}

CM_RC GM_PARAM_subtable_list_clear(ZPALIST_handle_typ* list) {
    DIAG_TRACE(4, "GM_PARAM_subtable_list_clear");
    if (!list) return CM_RC_FAIL;
    const bool empty = list->first == nullptr;
    free_sections(list);
    return empty ? CM_RC_END : CM_RC_OK;
}

CM_RC GM_PARAM_subtable_list_print(ZPALIST_handle_typ* list) {
    DIAG_TRACE(4, "GM_PARAM_subtable_list_print");
    if (!list) return CM_RC_FAIL;
    DIAG_printf("Dsect BEGIN");
    ZPALIST_handle_typ sections = *list;
    ZPALIST_reset(&sections);
    void* element = nullptr;
    unsigned int size = 0;
    while (ZPALIST_next_ptr(&sections, &element, &size) == CM_RC_OK) {
        auto* section = static_cast<GM_PARAM_subtable_row*>(element);
        DIAG_printf("    [%s]", section->key);
        ZPALIST_handle_typ rows = section->list;
        ZPALIST_reset(&rows);
        void* row = nullptr;
        while (ZPALIST_next_ptr(&rows, &row, &size) == CM_RC_OK)
            DIAG_printf("\t%s = '%s'", row_key(row), loggable_value(row_key(row), row_value(row)));
    }
    DIAG_printf("Dsect END");
    return CM_RC_OK;
}

CM_RC GM_PARAM_IsSubtable(const char* text) {
    if (!text) return CM_RC_FAIL;
    const char* open = std::strchr(text, '[');
    return open && std::strchr(open, ']') ? CM_RC_OK : CM_RC_FAIL;
}

char* GM_PARAM_Get_SubtableName(char* text) {
    if (!text) return nullptr;
    char* open = std::strchr(text, '[');
    char* close = std::strrchr(text, ']');
    if (!open || !close || close < open) return nullptr;
    *close = '\0';
    return open + 1;
}

}  // extern "C"
