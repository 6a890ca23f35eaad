/* One record of the agent protocol: its fields in wire order, packing to text with the type and size
 * prefix, and unpacking through the dispatch by record type. Owns the record prefix (decimal or base
 * 26 size) and the bounds every record walk keeps: no record is taken past the text's NUL. */
#include "dsect_one.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dsect_internal.h"
#include "gm_36.h"
#include "gm_param.h"
#include "os_diag.h"

namespace {

constexpr std::size_t kFieldHead = offsetof(DSECT_VAR_LONG_typ, Value);
constexpr int kEmptyValueMax = 4096;

DSECT_VAR_LONG_typ* as_field(void* entry) { return static_cast<DSECT_VAR_LONG_typ*>(entry); }

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

/* Appends one field: the name (cut to 64), the type and value_size bytes of value + a terminator;
 * through `fields` when given (a builder of the record's fields). */
CM_RC append_entry(DSECT_ONE_handle_typ* record, const char* name, const char* value, int value_size,
                   DSECT_FLD_typ type, zpalist::Builder* fields = nullptr) {
    std::string entry(kFieldHead + static_cast<std::size_t>(value_size) + 1, '\0');
    auto* field = reinterpret_cast<DSECT_VAR_LONG_typ*>(entry.data());
    std::strncpy(field->Name, name ? name : "", sizeof field->Name - 1);
    field->Type = type;
    field->ValueSize = static_cast<unsigned short>(value_size + 1);
    if (value && value_size > 0) std::memcpy(field->Value, value, static_cast<std::size_t>(value_size));
    if (fields) return fields->append(entry.data(), static_cast<unsigned>(entry.size()));
    return ZPALIST_append(&record->handle, entry.data(), static_cast<unsigned>(entry.size()));
}

/* The first field of that name, with the list's cursor on it. */
DSECT_VAR_LONG_typ* find_field(DSECT_ONE_handle_typ* record, const char* name, bool move_cursor) {
    ZPALIST_handle_typ walker = record->handle;
    ZPALIST_handle_typ* list = move_cursor ? &record->handle : &walker;
    ZPALIST_reset(list);
    void* entry = nullptr;
    unsigned size = 0;
    while (ZPALIST_next_ptr(list, &entry, &size) == CM_RC_OK)
        if (std::strcmp(as_field(entry)->Name, name) == 0) return as_field(entry);
    return nullptr;
}

bool prefix_readable(const char* buffer) { return buffer && strnlen(buffer, DSECT_PREFIX_LEN) == DSECT_PREFIX_LEN; }

}  // namespace

namespace dsect {

bool write_size_field(int size, char* out) {
    if (size < 0 || size > kSizeFieldMax) return false;
    if (size <= kSizeDecimalMax)
        GM_36_int_to_base_10(size, out, 4);
    else
        GM_36_int_to_base_26(static_cast<unsigned long>(size), out, 4);
    return true;
}

bool record_length(const char* pos, int& length) {
    if (!prefix_readable(pos)) return false;
    const char* size = pos + 2;
    unsigned value = 0;
    if (is_digit(size[1]) && is_digit(size[2]) && is_digit(size[3])) {
        if (!is_digit(size[0])) return false;
        value = static_cast<unsigned>(std::atoi(std::string(size, 4).c_str()));
    } else {
        for (int i = 0; i < 4; ++i)
            if (!is_letter(size[i]) && size[i] != ' ') return false;
        GM_36_base_26_to_int(size, 4, &value);
    }
    length = static_cast<int>(value) + DSECT_PREFIX_LEN;
    return strnlen(pos, static_cast<std::size_t>(length)) == static_cast<std::size_t>(length);
}

bool run_length(const char* pos, int count, int& length, int& taken) {
    length = 0;
    taken = 0;
    while (taken < count && pos[length] != '\0') {
        int one = 0;
        if (!record_length(pos + length, one)) return false;
        length += one;
        ++taken;
    }
    return true;
}

CM_RC append_field(DSECT_ONE_handle_typ* record, const char* name, const char* value, int value_size,
                   DSECT_FLD_typ type, zpalist::Builder* fields) {
    if (!record) return CM_RC_FAIL;
    if (value_size < 0) value_size = static_cast<int>(strnlen(value ? value : "", DSECT_VALUE_LONG_MAX));
    if (value_size > DSECT_VALUE_LONG_MAX) {
        DIAG_ERROR("DSECT_ONE_append_dsect_var_size: value of '%s' too long (%d)", name ? name : "", value_size);
        return CM_RC_FAIL;
    }
    return append_entry(record, name, value, value_size, type, fields);
}

const char* shown_value(const char* name, const char* value) {
    return GM_PARAM_is_printable(name, GM_PARAM_get_keysToRemove_list()) == CM_RC_OK ? value : "Private Data";
}

std::string configured_version() {
    GM_PARAM_VALUE_typ value = {};
    if (GM_PARAM_get("CONFIG", "PROTOCOL_VERSION", value) != CM_RC_OK) return "01";
    return std::string(value, strnlen(value, 2));
}

}  // namespace dsect

extern "C" {

CM_RC DSECT_ONE_init(DSECT_ONE_handle_typ* record) {
    if (!record) {
        DIAG_ERROR("in_dsect is NULL");
        return CM_RC_FAIL;
    }
    record->type = DSECT_TYP_UNKNOWN;
    std::memset(record->version, 0, sizeof record->version);
    const std::string version = dsect::configured_version();
    std::memcpy(record->version, version.c_str(), version.size());
    record->size = 0;
    ZPALIST_init(&record->handle);
    return CM_RC_OK;
}

CM_RC DSECT_ONE_append_dsect_var(DSECT_ONE_handle_typ* record, const char* name, const char* value,
                                 DSECT_FLD_typ type) {
    return dsect::append_field(record, name, value, -1, type);
}

CM_RC DSECT_ONE_append_dsect_var_size(DSECT_ONE_handle_typ* record, const char* name, const char* value, int value_size,
                                      DSECT_FLD_typ type) {
    if (value_size < 0) return CM_RC_FAIL;
    return dsect::append_field(record, name, value, value_size, type);
}

CM_RC DSECT_ONE_append_dsect_var_empty(DSECT_ONE_handle_typ* record, const char* name, int maxsize,
                                       DSECT_FLD_typ type) {
    if (!record) return CM_RC_FAIL;
    int room = maxsize < 0 ? 1 : maxsize + 1;
    if (room > kEmptyValueMax) room = kEmptyValueMax;
    /* An empty value with room behind it: the terminator first, then zero bytes. */
    if (append_entry(record, name, nullptr, room - 1, type) != CM_RC_OK) return CM_RC_FAIL;
    return CM_RC_OK;
}

CM_RC DSECT_ONE_update_dsect_var(DSECT_ONE_handle_typ* record, const char* name, const char* value,
                                 DSECT_FLD_typ type) {
    if (!record || !name) return CM_RC_FAIL;
    DSECT_ONE_delete_dsect_var(record, name);
    return DSECT_ONE_append_dsect_var(record, name, value, type);
}

CM_RC DSECT_ONE_param2dsect(ZPALIST_handle_typ* param_list, DSECT_ONE_handle_typ* record) {
    if (!param_list || DSECT_ONE_init(record) != CM_RC_OK) return CM_RC_FAIL;
    zpalist::Builder fields(&record->handle);
    ZPALIST_handle_typ walker = *param_list;
    ZPALIST_reset(&walker);
    void* entry = nullptr;
    unsigned size = 0;
    while (ZPALIST_next_ptr(&walker, &entry, &size) == CM_RC_OK) {
        const auto* row = static_cast<GM_PARAM_table_row*>(entry);
        if (dsect::append_field(record, row->key, row->val, -1, DF_VAR4, &fields) != CM_RC_OK) {
            ZPALIST_clear(&record->handle);
            return CM_RC_FAIL;
        }
    }
    return CM_RC_OK;
}

CM_RC DSECT_ONE_delete_dsect_var(DSECT_ONE_handle_typ* record, const char* name) {
    if (!record || !name) return CM_RC_FAIL;
    if (!find_field(record, name, true)) return CM_RC_END;
    return ZPALIST_delete(&record->handle);
}

CM_RC DSECT_ONE_delete_dsect_var_prefix(DSECT_ONE_handle_typ* record, const char* prefix) {
    if (!record || !prefix) return CM_RC_FAIL;
    const std::size_t n = std::strlen(prefix);
    ZPALIST_reset(&record->handle);
    void* entry = nullptr;
    unsigned size = 0;
    while (ZPALIST_next_ptr(&record->handle, &entry, &size) == CM_RC_OK)
        if (std::strncmp(as_field(entry)->Name, prefix, n) == 0) ZPALIST_delete(&record->handle);
    return CM_RC_END;
}

CM_RC DSECT_ONE_get_key_value(DSECT_ONE_handle_typ* record, const char* name, char** value) {
    if (!record || !name || !value) return CM_RC_FAIL;
    DSECT_VAR_LONG_typ* field = find_field(record, name, false);
    if (!field) return CM_RC_END;
    *value = field->Value;
    return CM_RC_OK;
}

CM_RC DSECT_ONE_reset(DSECT_ONE_handle_typ* record) {
    if (!record) return CM_RC_FAIL;
    return ZPALIST_reset(&record->handle);
}

CM_RC DSECT_ONE_get_next_var(DSECT_ONE_handle_typ* record, char** name, char** value) {
    DSECT_VAR_typ* field = nullptr;
    const CM_RC rc = DSECT_ONE_get_next_rec(record, &field);
    if (rc != CM_RC_OK) return rc;
    if (name) *name = field->Name;
    if (value) *value = field->Value;
    return CM_RC_OK;
}

CM_RC DSECT_ONE_get_next_rec(DSECT_ONE_handle_typ* record, DSECT_VAR_typ** field) {
    if (!record || !field) return CM_RC_FAIL;
    void* entry = nullptr;
    unsigned size = 0;
    const CM_RC rc = ZPALIST_next_ptr(&record->handle, &entry, &size);
    if (rc != CM_RC_OK) return rc;
    *field = static_cast<DSECT_VAR_typ*>(entry);
    return CM_RC_OK;
}

int DSECT_ONE_count(DSECT_ONE_handle_typ* record) { return record ? ZPALIST_count(&record->handle) : 0; }

DSECT_TYPE_typ DSECT_ONE_get_type(DSECT_ONE_handle_typ* record) { return record ? record->type : DSECT_TYP_UNKNOWN; }

CM_RC DSECT_ONE_evallen(DSECT_ONE_handle_typ* record, int* len) {
    if (!record || !len) return CM_RC_FAIL;
    long total = DSECT_PREFIX_LEN;
    ZPALIST_handle_typ walker = record->handle;
    ZPALIST_reset(&walker);
    void* entry = nullptr;
    unsigned size = 0;
    while (ZPALIST_next_ptr(&walker, &entry, &size) == CM_RC_OK) {
        int one = 0;
        if (DSECT_FLD_eval_len(as_field(entry)->Type, as_field(entry)->Value, &one) != CM_RC_OK) return CM_RC_FAIL;
        total += one;
        if (total > dsect::kSizeFieldMax + DSECT_PREFIX_LEN) {
            DIAG_ERROR("DSECT_ONE_evallen: the record is too long (%ld)", total);
            return CM_RC_FAIL;
        }
    }
    *len = static_cast<int>(total);
    return CM_RC_OK;
}

CM_RC DSECT_ONE_set(DSECT_ONE_handle_typ* record, char** pos) {
    if (!record || !pos || !*pos) return CM_RC_FAIL;
    ZPALIST_handle_typ walker = record->handle;
    ZPALIST_reset(&walker);
    void* entry = nullptr;
    unsigned size = 0;
    while (ZPALIST_next_ptr(&walker, &entry, &size) == CM_RC_OK)
        if (DSECT_FLD_set(pos, as_field(entry)->Value, as_field(entry)->Type) != CM_RC_OK) return CM_RC_FAIL;
    return CM_RC_OK;
}

CM_RC DSECT_ONE_pack(DSECT_ONE_handle_typ* record, char* buffer, int size) {
    if (!record) {
        DIAG_ERROR("DSECT is NULL");
        return CM_RC_FAIL;
    }
    int length = 0;
    if (!buffer || DSECT_ONE_evallen(record, &length) != CM_RC_OK) return CM_RC_FAIL;
    if (length + 1 > size) {
        DIAG_ERROR("Buffer is too small (%d) to fit the DSECT (%d)", size, length);
        return CM_RC_FAIL;
    }
    std::memset(buffer, 0, static_cast<std::size_t>(length));
    char* pos = buffer;
    if (DSECT_FLD_set_int(&pos, record->type, DF_I2) != CM_RC_OK) return CM_RC_FAIL;
    if (!dsect::write_size_field(length - DSECT_PREFIX_LEN, pos)) return CM_RC_FAIL;
    pos += 4;
    *pos = '\0';
    if (DSECT_ONE_set(record, &pos) != CM_RC_OK) return CM_RC_FAIL;
    buffer[length] = '\0';
    return CM_RC_OK;
}

CM_RC DSECT_ONE_parse_dsect_type(DSECT_ONE_handle_typ* record, char* buffer) {
    if (!record || !prefix_readable(buffer)) {
        DIAG_ERROR("no dsect data");
        return CM_RC_FAIL;
    }
    char* pos = buffer;
    int type = 0;
    if (DSECT_FLD_get_int(&type, &pos, DF_I2) != CM_RC_OK) {
        DIAG_ERROR("error from DSECT_FLD_get_int");
        return CM_RC_FAIL;
    }
    record->type = static_cast<DSECT_TYPE_typ>(type);
    return CM_RC_OK;
}

CM_RC DSECT_ONE_parse_dsect_size(const char* buffer, int* size) {
    if (!size || !prefix_readable(buffer)) {
        DIAG_ERROR("no dsect data");
        return CM_RC_FAIL;
    }
    int length = 0;
    if (!dsect::record_length(buffer, length)) {
        DIAG_ERROR("DSECT_ONE_parse_dsect_size: unreadable dsect size '%.4s'", buffer + 2);
        return CM_RC_FAIL;
    }
    *size = length;
    return CM_RC_OK;
}

CM_RC DSECT_ONE_unpack(const char* version, DSECT_ONE_handle_typ* record, char* buffer) {
    if (DSECT_ONE_init(record) != CM_RC_OK) return CM_RC_FAIL;
    if (!prefix_readable(buffer)) {
        DIAG_ERROR("GDS type unknown");
        return CM_RC_FAIL;
    }
    int length = 0;
    if (DSECT_ONE_parse_dsect_size(buffer, &length) != CM_RC_OK) return CM_RC_FAIL;
    record->size = length;
    std::memset(record->version, 0, sizeof record->version);
    std::strncpy(record->version, version ? version : "", 2);
    int type = 0;
    char* pos = buffer;
    if (DSECT_FLD_get_int(&type, &pos, DF_I2) != CM_RC_OK) {
        DIAG_ERROR("GDS type unknown");
        return CM_RC_FAIL;
    }
    const dsect::Reader reader = dsect::reader_for(type);
    if (!reader) {
        DIAG_ERROR("GDS type unknown");
        return CM_RC_FAIL;
    }
    record->type = static_cast<DSECT_TYPE_typ>(type);
    const CM_RC rc = reader(record->version, record, buffer);
    return rc;
}

CM_RC DSECT_ONE_parse_dsect_var(DSECT_ONE_handle_typ* record, char** pos, const char* name, DSECT_FLD_typ type) {
    if (!record || !pos || !*pos) return CM_RC_FAIL;
    char value[DSECT_VALUE_MAX + 1];
    if (DSECT_FLD_get_char(value, pos, type, sizeof value) != CM_RC_OK) {
        DIAG_ERROR("error from DSECT_FLD_get_char");
        return CM_RC_FAIL;
    }
    return append_entry(record, name, value, static_cast<int>(std::strlen(value)), type);
}

CM_RC DSECT_ONE_delete(DSECT_ONE_handle_typ* record) {
    if (!record) {
        DIAG_ERROR("dsect pointer is NULL");
        return CM_RC_FAIL;
    }
    ZPALIST_clear(&record->handle);
    return CM_RC_OK;
}

CM_RC DSECT_ONE_print(DSECT_ONE_handle_typ* record) {
    if (!record) return CM_RC_FAIL;
    DIAG_printf("Dsect BEGIN");
    DIAG_printf("\tDSECT TYPE = '%02d'", static_cast<int>(record->type));
    ZPALIST_handle_typ walker = record->handle;
    ZPALIST_reset(&walker);
    void* entry = nullptr;
    unsigned size = 0;
    while (ZPALIST_next_ptr(&walker, &entry, &size) == CM_RC_OK) {
        const DSECT_VAR_LONG_typ* field = as_field(entry);
        const int length = field->ValueSize > 0 ? field->ValueSize - 1 : 0;
        const char* value = dsect::shown_value(field->Name, field->Value);
        DIAG_printf("\t%s = '%-.*s'", field->Name, value == field->Value ? length : 12, value);
    }
    DIAG_printf("Dsect END");
    return CM_RC_OK;
}

const char* print_type(DSECT_FLD_typ type) {
    static const char* const kNames[DF_NOMORETYPES] = {
        "DF_VAR1", "DF_VAR2", "DF_VAR3", "DF_VAR4", "DF_VAR5", "DF_IVAR1", "DF_C1",        "DF_C2",
        "DF_C3",   "DF_C4",   "DF_C5",   "DF_C6",   "DF_C10",  "DF_C12",   "DF_C14",       "DF_I1",
        "DF_I2",   "DF_I3",   "DF_I4",   "DF_I5",   "DF_I6",   "DF_B5",    "DF_DSECT_LIST"};
    const int t = static_cast<int>(type);
    return t >= 0 && t < DF_NOMORETYPES ? kNames[t] : "unknown";
}

}  // extern "C"
