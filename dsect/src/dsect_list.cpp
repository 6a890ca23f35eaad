/* Messages of the agent protocol: starting a message (agent name and server host from the caller, the
 * configuration or the host name), appending packed records, packing the whole message, parsing a
 * received one, and the runs of records inside a buffer. Every walk stops at the text's NUL. */
#include "dsect_list.h"

#include <cstdlib>
#include <cstring>

#include "dsect_internal.h"
#include "gm_param.h"
#include "os_comm.h"
#include "os_diag.h"

namespace {

constexpr int kHostNameRoom = 2048;
constexpr unsigned kFrameLen = 10;

/* End of the readable text of a message: its size, or its first NUL when that comes sooner. */
unsigned text_end(const DSECT_MSG_typ* msg) { return static_cast<unsigned>(strnlen(msg->message, msg->size)); }

/* Walks the records of a message; `each` gets every record with its length (the header first). */
template <typename F>
CM_RC walk_message(DSECT_MSG_typ* msg, F&& each) {
    const unsigned end = text_end(msg);
    unsigned pos = 0;
    bool first = true;
    while (end - pos > 1) {
        int length = 0;
        if (!dsect::record_length(msg->message + pos, length) || static_cast<unsigned>(length) > end - pos) {
            DIAG_ERROR("DSECT_LIST: unreadable record at offset %u of %u", pos, end);
            return CM_RC_FAIL;
        }
        if (!each(msg->message + pos, length, first)) return CM_RC_FAIL;
        pos += static_cast<unsigned>(length);
        first = false;
    }
    return CM_RC_OK;
}

/* Parses a message into a list: the header decoded into the list's header (decode_header) or kept as
 * the first record like the others. A failure leaves the list empty. */
CM_RC parse_message(DSECT_LIST_handle_typ* list, DSECT_MSG_typ* in_msg, const char* null_text, bool decode_header) {
    if (!in_msg || !in_msg->message) {
        DIAG_ERROR("%s", null_text);
        return CM_RC_FAIL;
    }
    if (DSECT_LIST_init(list) != CM_RC_OK) return CM_RC_FAIL;
    zpalist::Builder records(&list->handle);
    const CM_RC rc = walk_message(in_msg, [&](char* record, int length, bool first) {
        if (first && decode_header) return DSECT_ONE_unpack_header(&list->header, record) == CM_RC_OK;
        return records.append(record, static_cast<unsigned>(length)) == CM_RC_OK;
    });
    if (rc != CM_RC_OK) {
        ZPALIST_clear(&list->handle);
        return CM_RC_FAIL;
    }
    ZPALIST_reset(&list->handle);
    return CM_RC_OK;
}

CM_RC decode_first(char* text, DSECT_HEADER_typ* header, DSECT_ONE_handle_typ* record) {
    if (DSECT_ONE_init(record) != CM_RC_OK) return CM_RC_FAIL;
    std::memset(header, 0, sizeof *header);
    if (DSECT_ONE_unpack_header(header, text) != CM_RC_OK) return CM_RC_FAIL;
    if (DIAG_debug_level() >= 4 || DIAG_buffered_level() >= 4) {
        DIAG_set_active_level(4);
        DSECT_ONE_print_header(header);
        DIAG_set_active_level(0);
    }
    int length = 0;
    if (!dsect::record_length(text, length)) return CM_RC_FAIL;
    char* next = text + length;
    if (next[0] == '\0') return CM_RC_OK; /* a header alone: nothing more to decode */
    return DSECT_ONE_unpack(header->version, record, next);
}

}  // namespace

namespace dsect {

CM_RC append_record(DSECT_LIST_handle_typ* list, DSECT_ONE_handle_typ* record, zpalist::Builder* records) {
    if (!list || !record) return CM_RC_FAIL;
    int length = 0;
    if (DSECT_ONE_evallen(record, &length) != CM_RC_OK) return CM_RC_FAIL;
    char* scratch = static_cast<char*>(std::calloc(static_cast<std::size_t>(length) + 1, 1));
    if (!scratch) {
        DIAG_ERROR("calloc failed");
        return CM_RC_FAIL;
    }
    CM_RC rc = DSECT_ONE_pack(record, scratch, length + 1);
    if (rc == CM_RC_OK) {
        const auto packed_length = static_cast<unsigned>(std::strlen(scratch));
        rc = records ? records->append(scratch, packed_length) : ZPALIST_append(&list->handle, scratch, packed_length);
    }
    std::free(scratch);
    return rc;
}

}  // namespace dsect

extern "C" {

CM_RC DSECT_LIST_init(DSECT_LIST_handle_typ* list) {
    if (!list) return CM_RC_FAIL;
    std::memset(&list->header, 0, sizeof list->header);
    return ZPALIST_init(&list->handle);
}

CM_RC DSECT_LIST_reset(DSECT_LIST_handle_typ* list) {
    if (!list) return CM_RC_FAIL;
    return ZPALIST_reset(&list->handle);
}

CM_RC DSECT_LIST_delete(DSECT_LIST_handle_typ* list) {
    if (!list) return CM_RC_FAIL;
    ZPALIST_clear(&list->handle);
    return CM_RC_OK;
}

CM_RC DSECT_LIST_delete_entry(DSECT_LIST_handle_typ* list) {
    if (!list) return CM_RC_FAIL;
    return ZPALIST_delete(&list->handle);
}

CM_RC DSECT_LIST_count(DSECT_LIST_handle_typ* list, int* count) {
    if (!list || !count) return CM_RC_FAIL;
    *count = ZPALIST_count(&list->handle);
    return CM_RC_OK;
}

CM_RC DSECT_LIST_print(DSECT_LIST_handle_typ* list) {
    if (!list) return CM_RC_FAIL;
    ZPALIST_handle_typ walker = list->handle;
    ZPALIST_reset(&walker);
    void* entry = nullptr;
    unsigned size = 0;
    while (ZPALIST_next_ptr(&walker, &entry, &size) == CM_RC_OK)
        DIAG_printf("DSECT: '%.*s'", static_cast<int>(size), static_cast<const char*>(entry));
    return CM_RC_OK;
}

CM_RC DSECT_LIST_create(DSECT_LIST_handle_typ* list, int generate_new_siid, const char* version, const char* appid,
                        const char* sid, const char* mid, const char* last, const char* siid, int seq,
                        const char* agent_name, const char* orvhost, const char* task_class, const char* appl_type,
                        const char* appl_version) {
    static const char* op = "DSECT_LIST_create";
    if (!list) return CM_RC_FAIL;
    char name[kHostNameRoom] = {};
    if (agent_name && *agent_name) {
        dsect::copy_cut(name, sizeof name, agent_name);
    } else {
        GM_PARAM_VALUE_typ value = {};
        if (GM_PARAM_get("CONFIG", "LOGICAL_AGENT_NAME", value) == CM_RC_OK && value[0]) {
            dsect::copy_cut(name, sizeof name, value);
        } else if (OS_COMM_hostname(name, sizeof name) != CM_RC_OK) {
            DIAG_ERROR("OS_COMM_hostname failed.");
            return CM_RC_FAIL;
        }
    }
    DIAG_TRACE(4, "%s: using agent name - '%s'", op, name);
    GM_PARAM_VALUE_typ host = {};
    if (orvhost && *orvhost)
        dsect::copy_cut(host, sizeof host, orvhost);
    else if (GM_PARAM_get("CONFIG", "ORVSHOST", host) != CM_RC_OK)
        dsect::copy_cut(host, sizeof host, name);
    DSECT_LIST_init(list);
    DSECT_HEADER_SIID_typ new_siid = {};
    if (generate_new_siid) DSECT_ONE_generate_siid(new_siid);
    return DSECT_ONE_init_header(&list->header, version, appid, sid, mid, last, generate_new_siid ? new_siid : siid,
                                 seq, name, host, task_class, appl_type, appl_version);
}

CM_RC DSECT_LIST_append(DSECT_LIST_handle_typ* list, DSECT_ONE_handle_typ* record) {
    return dsect::append_record(list, record);
}

CM_RC DSECT_LIST_append_msg(DSECT_LIST_handle_typ* list, const char* data, int size) {
    if (!list || !data || size < 0) return CM_RC_FAIL;
    return ZPALIST_append(&list->handle, const_cast<char*>(data), static_cast<unsigned>(size));
}

CM_RC DSECT_LIST_evallen(DSECT_LIST_handle_typ* list, int* len) {
    if (!list || !len) return CM_RC_FAIL;
    int total = 0;
    if (DSECT_ONE_evallen_header(&list->header, &total) != CM_RC_OK) return CM_RC_FAIL;
    ZPALIST_handle_typ walker = list->handle;
    ZPALIST_reset(&walker);
    void* entry = nullptr;
    unsigned size = 0;
    while (ZPALIST_next_ptr(&walker, &entry, &size) == CM_RC_OK) total += static_cast<int>(size);
    *len = total;
    return CM_RC_OK;
}

CM_RC DSECT_LIST_mk_msg(DSECT_LIST_handle_typ* list, DSECT_MSG_typ* out_msg) {
    if (!out_msg) {
        DIAG_ERROR("out_msg is NULL");
        return CM_RC_FAIL;
    }
    out_msg->message = nullptr;
    out_msg->size = 0;
    int total = 0;
    if (DSECT_LIST_evallen(list, &total) != CM_RC_OK) return CM_RC_FAIL;
    char* text = static_cast<char*>(std::malloc(static_cast<std::size_t>(total) + 1));
    if (!text) {
        DIAG_ERROR("malloc failed in DSECT_LIST_mk_msg.");
        return CM_RC_FAIL;
    }
    int header_len = 0;
    if (DSECT_ONE_pack_header(&list->header, text, &header_len) != CM_RC_OK) {
        std::free(text);
        return CM_RC_FAIL;
    }
    char* pos = text + header_len;
    ZPALIST_handle_typ walker = list->handle;
    ZPALIST_reset(&walker);
    void* entry = nullptr;
    unsigned size = 0;
    while (ZPALIST_next_ptr(&walker, &entry, &size) == CM_RC_OK) {
        std::memcpy(pos, entry, size);
        pos += size;
    }
    *pos = '\0';
    out_msg->message = text;
    out_msg->size = static_cast<unsigned>(total);
    return CM_RC_OK;
}

CM_RC DSECT_LIST_delete_message(DSECT_MSG_typ* msg) {
    if (!msg || !msg->message) {
        DIAG_ERROR("The pointer is NULL can not free");
        return CM_RC_FAIL;
    }
    std::free(msg->message);
    msg->message = nullptr;
    msg->size = 0;
    return CM_RC_OK;
}

CM_RC DSECT_LIST_mk_from_msg(DSECT_LIST_handle_typ* list, DSECT_MSG_typ* in_msg) {
    return parse_message(list, in_msg, "in_,sg is NULL", true);
}

CM_RC DSECT_LIST_unpack_msg(DSECT_LIST_handle_typ* list, DSECT_MSG_typ* in_msg) {
    return parse_message(list, in_msg, "in_msg is NULL", false);
}

CM_RC DSECT_LIST_msg_get_dsect(DSECT_MSG_typ* in_msg, DSECT_HEADER_typ* header, DSECT_ONE_handle_typ* record) {
    if (!in_msg || !in_msg->message) {
        DIAG_ERROR("in_msg is NULL");
        return CM_RC_FAIL;
    }
    if (!header || !record) return CM_RC_FAIL;
    return decode_first(in_msg->message, header, record);
}

CM_RC DSECT_LIST_msg_get_dsect_all(DSECT_MSG_typ* in_msg, DSECT_HEADER_typ* header, DSECT_ONE_handle_typ* record) {
    if (!in_msg || !in_msg->message) {
        DIAG_ERROR("in_msg is NULL");
        return CM_RC_FAIL;
    }
    if (!header || !record || in_msg->size < kFrameLen) return CM_RC_FAIL;
    return decode_first(in_msg->message + kFrameLen, header, record);
}

CM_RC DSECT_LIST_get_header(DSECT_LIST_handle_typ* list, DSECT_HEADER_typ* header) {
    if (!list || !header) return CM_RC_FAIL;
    std::memcpy(header, &list->header, sizeof *header);
    return CM_RC_OK;
}

CM_RC DSECT_LIST_getnext(DSECT_LIST_handle_typ* list, DSECT_ONE_handle_typ* record) {
    if (!list || !record) return CM_RC_FAIL;
    void* entry = nullptr;
    unsigned size = 0;
    const CM_RC rc = ZPALIST_next_ptr(&list->handle, &entry, &size);
    if (rc != CM_RC_OK) return rc;
    return DSECT_ONE_unpack(list->header.version, record, static_cast<char*>(entry));
}

CM_RC DSECT_LIST_unpack(const char* version, char** pos, DSECT_LIST_handle_typ* list, int count) {
    if (!pos || !*pos || DSECT_LIST_init(list) != CM_RC_OK) return CM_RC_FAIL;
    std::strncpy(list->header.version, version ? version : "", 2);
    char* p = *pos;
    zpalist::Builder records(&list->handle);
    for (int taken = 0; taken < count && *p != '\0'; ++taken) {
        int length = 0;
        if (!dsect::record_length(p, length) || records.append(p, static_cast<unsigned>(length)) != CM_RC_OK) {
            ZPALIST_clear(&list->handle);
            return CM_RC_FAIL;
        }
        p += length;
    }
    ZPALIST_reset(&list->handle);
    *pos = p;
    return CM_RC_OK;
}

CM_RC DSECT_LIST_msg_get_size(char* pos, int count, int* size) {
    if (!pos || !size) return CM_RC_FAIL;
    int length = 0, taken = 0;
    if (!dsect::run_length(pos, count, length, taken)) return CM_RC_FAIL;
    *size = length;
    return CM_RC_OK;
}

}  // extern "C"
