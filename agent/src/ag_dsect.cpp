/* Framed agent-protocol messages: the 10-byte frame, framed reads and writes on a session or in a
 * file (every announced length checked before anything is allocated), sending with a confirmation,
 * the builders of the utility request, the ping, the replies and the job-end message with its
 * unavailability records, and the conversions between records, key/value lists and attributes. */
#include "ag_dsect.h"
#include "ag_dsect_internal.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dsect_appl.h"
#include "dsect_internal.h"
#include "gm_avstat.h"
#include "gm_param.h"
#include "gm_param_internal.h"
#include "gm_str.h"
#include "gm_time.h"
#include "os_diag.h"
#include "os_file.h"
#include "os_proc.h"
#include "os_shared_file_internal.h"

namespace {

constexpr char kConfig[] = "CONFIG";
constexpr int kHexDigitsMax = 8;
constexpr int kHostNameRoom = 2048;
constexpr int kChunkMax = 32767;
/* Blocks without a frame that a read passes over before it gives up on the peer. */
constexpr int kJunkBlocksMax = 1024;

bool is_hex(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

std::string config_text(const char* key, bool* found = nullptr) {
    GM_PARAM_VALUE_typ value = {};
    const bool ok = GM_PARAM_get(kConfig, key, value) == CM_RC_OK;
    if (found) *found = ok;
    return ok ? value : "";
}

std::string protocol_version() {
    bool found = false;
    const std::string value = config_text("PROTOCOL_VERSION", &found);
    return found ? value.substr(0, 2) : "01";
}

/* The agent name of the utility record: LOGICAL_AGENT_NAME, else the host name. */
bool record_agent_name(std::string& name) {
    name = config_text("LOGICAL_AGENT_NAME");
    if (!name.empty()) return true;
    char host[kHostNameRoom] = {};
    if (OS_COMM_hostname(host, sizeof host) != CM_RC_OK) {
        DIAG_ERROR("OS_COMM_hostname failed.");
        return false;
    }
    name = host;
    return true;
}

void clear(DSECT_MSG_typ* msg) {
    msg->message = nullptr;
    msg->size = 0;
}

/* Appends one record made by `make`, packs the message into out_msg and frees the list. */
template <typename... Makers>
CM_RC finish(DSECT_LIST_handle_typ& list, DSECT_MSG_typ* out_msg, Makers&&... makers) {
    bool ok = true;
    auto append = [&](auto&& make) {
        if (!ok) return;
        DSECT_ONE_handle_typ record;
        ok = make(record) == CM_RC_OK && DSECT_LIST_append(&list, &record) == CM_RC_OK;
        DSECT_ONE_delete(&record);
    };
    (append(makers), ...);
    (void)append; /* a message without records has no maker */
    const CM_RC rc = ok ? DSECT_LIST_mk_msg(&list, out_msg) : CM_RC_FAIL;
    DSECT_LIST_delete(&list);
    return rc;
}

/* Starts a reply to the header h: its seq raised by one, no new session instance id. */
CM_RC start_reply(DSECT_LIST_handle_typ& list, DSECT_HEADER_typ* h, const char* mid, const char* last,
                  const char* task_class) {
    ++h->seq;
    return DSECT_LIST_create(&list, 0, h->version, h->appid, h->sid, mid, last, h->siid, h->seq, h->agent_name,
                             h->orvhost, task_class, h->appl_type, h->appl_version);
}

/* A stream read that gave what was there: success or the end of the file. */
bool read_ok(CM_RC rc) { return rc == CM_RC_OK || rc == CM_RC_EOF; }

/* Reads a frame's length; refuses one above `limit`. */
bool frame_length(const char* frame, unsigned limit, unsigned& length, const char* op) {
    if (AG_dsect_parse_gds(frame, &length) != CM_RC_OK) return false;
    if (length > limit) {
        DIAG_ERROR("%s: announced message length %u is above %u", op, length, limit);
        return false;
    }
    return true;
}

/* Confirmation of a sent message: the header's mid must be "C". */
CM_RC check_confirmation(DSECT_MSG_typ* reply, bool framed, const char* op) {
    DSECT_HEADER_typ header;
    DSECT_ONE_handle_typ record;
    const CM_RC decoded = framed ? DSECT_LIST_msg_get_dsect_all(reply, &header, &record)
                                 : DSECT_LIST_msg_get_dsect(reply, &header, &record);
    DSECT_ONE_delete(&record);
    AG_DSECT_message_delete(reply);
    if (decoded != CM_RC_OK) {
        DIAG_TRACE(2, "%s: confirmation DSECT is Invalid", op);
        return CM_RC_FAIL;
    }
    if (std::strcmp(header.mid, "C") != 0) {
        if (framed)
            DIAG_TRACE(2, "%s: DSECT header MID is not confirmation", op);
        else
            DIAG_TRACE(2, "DSECT header MID is not confirmation");
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

/* Sends a message and, when confirm is set, reads and checks the peer's confirmation; framed
 * picks the transfers that move every byte of the frame. */
CM_RC send_confirmed(OS_COMM_sess_typ* sess_id, DSECT_MSG_typ* msg, int confirm, bool framed, const char* op) {
    const CM_RC sent =
        framed ? AG_DSECT_comm_message_write_all(sess_id, msg) : AG_DSECT_comm_message_write(sess_id, msg);
    if (sent != CM_RC_OK) {
        DIAG_TRACE(2, "Send message failed.");
        return CM_RC_FAIL;
    }
    if (!confirm) return CM_RC_OK;
    DSECT_MSG_typ reply{};
    const CM_RC received =
        framed ? AG_DSECT_comm_message_read_all(sess_id, &reply) : AG_DSECT_comm_message_read(sess_id, &reply);
    if (received != CM_RC_OK) {
        DIAG_TRACE(2, "Confirmation receive failed.");
        return CM_RC_FAIL;
    }
    return check_confirmation(&reply, framed, op);
}

template <typename Pack>
CM_RC pack_and_send(OS_COMM_sess_typ* sess_id, Pack&& pack) {
    DSECT_MSG_typ msg{};
    CM_RC rc = pack(&msg);
    if (rc != CM_RC_OK) return rc;
    rc = AG_DSECT_comm_message_write(sess_id, &msg);
    DSECT_LIST_delete_message(&msg);
    return rc;
}

std::string vformat(const char* format, va_list args) {
    char text[AG_DSECT_FORMATTED_MSG_ROOM] = {};
    if (format) std::vsnprintf(text, sizeof text, format, args);
    return text;
}

constexpr char kReservedPrefix[] = "DSECT_";
constexpr char kJobVariablePrefix[] = "%%";
constexpr char kDefaultCodeVersion[] = "225";

bool reserved(const char* name) { return std::strncmp(name, kReservedPrefix, sizeof kReservedPrefix - 1) == 0; }

/* Builds an attribute list of one-block attributes (name, NUL, value) from (name, value, room)
 * triples; `each` calls `add` for every candidate. On failure nothing is left allocated. */
template <typename Each>
CM_RC build_attributes(ZPAAttrList* attr_list, int most, Each&& each) {
    static const char* op = "AG_DSECT_dsect2attr";
    attr_list->Count = 0;
    attr_list->Curr = 0;
    attr_list->Attributes = nullptr;
    if (most > 0) {
        attr_list->Attributes = static_cast<ZPAAttr*>(std::calloc(static_cast<std::size_t>(most), sizeof(ZPAAttr)));
        if (!attr_list->Attributes) {
            DIAG_ERROR("%s: malloc failed", op);
            return CM_RC_FAIL;
        }
    }
    bool ok = true;
    each([&](const char* name, const char* value, std::size_t length, unsigned short room) {
        if (!ok || attr_list->Count >= most) return;
        const std::size_t name_len = std::strlen(name);
        const std::size_t value_room = room > length ? room : length + 1;
        char* block = static_cast<char*>(std::calloc(name_len + 1 + value_room, 1));
        if (!block) {
            DIAG_ERROR("%s: Malloc Failed", op);
            ok = false;
            return;
        }
        std::memcpy(block, name, name_len);
        std::memcpy(block + name_len + 1, value, length);
        ZPAAttr& attr = attr_list->Attributes[attr_list->Count++];
        attr.Name = block;
        attr.Value = block + name_len + 1;
        attr.ValueLen = room;
    });
    if (!ok) {
        DIAG_ERROR("Error occured");
        AG_DSECT_release_attr(attr_list);
        return CM_RC_FAIL;
    }
    if (attr_list->Count == 0) {
        std::free(attr_list->Attributes);
        attr_list->Attributes = nullptr;
    }
    if (DIAG_debug_level() >= 4 || DIAG_buffered_level() >= 4) {
        DIAG_set_active_level(4);
        AG_DSECT_print_attr(attr_list);
        DIAG_set_active_level(0);
    }
    return CM_RC_OK;
}

/* Walks the fields of a record through a copy of its handle; `f` returns false to stop. */
template <typename F>
void each_field(DSECT_ONE_handle_typ* record, F&& f) {
    ZPALIST_handle_typ walker = record->handle;
    ZPALIST_reset(&walker);
    void* entry = nullptr;
    unsigned size = 0;
    while (ZPALIST_next_ptr(&walker, &entry, &size) == CM_RC_OK)
        if (!f(static_cast<const DSECT_VAR_typ*>(entry))) return;
}

using ag_dsect::each_row;

std::string list_value(ZPALIST_handle_typ* list, const char* key, const char* fallback) {
    GM_PARAM_ROW_VALUE_typ value = {};
    return GM_PARAM_list_get(list, key, value, sizeof value) == CM_RC_OK ? value : fallback;
}

/* A back-end name names the file ./data/<name>.dat: it must be a plain file name. */
bool plain_file_name(const char* name) { return name && *name && !std::strchr(name, '/'); }

/* Drops the records appended after the first n, so a half-made group leaves nothing behind. */
void truncate_records(DSECT_LIST_handle_typ* list, int n) {
    while (ZPALIST_count(&list->handle) > n) {
        ZPALIST_reset(&list->handle);
        void* entry = nullptr;
        unsigned size = 0;
        while (ZPALIST_next_ptr(&list->handle, &entry, &size) == CM_RC_OK) {
        }
        ZPALIST_delete(&list->handle);
    }
}

}  // namespace

extern "C" {

CM_RC AG_DSECT_build_gds(char* buffer, unsigned int size) {
    if (!buffer) return CM_RC_FAIL;
    std::memset(buffer, ' ', AG_DSECT_FRAME_LEN);
    char digits[16];
    const int n = std::snprintf(digits, sizeof digits, "%04x", size);
    buffer[0] = 'a';
    std::memcpy(buffer + 2, digits, static_cast<std::size_t>(n));
    buffer[2 + n] = '\0';
    buffer[AG_DSECT_FRAME_LEN] = '\0';
    return CM_RC_OK;
}

CM_RC AG_dsect_parse_gds(const char* buffer, unsigned int* size) {
    if (!buffer || !size) return CM_RC_FAIL;
    unsigned value = 0;
    int digits = 0;
    for (const char* p = buffer + 2; digits < kHexDigitsMax && is_hex(*p); ++p, ++digits)
        value = value * 16 + static_cast<unsigned>(*p <= '9' ? *p - '0' : (*p | 0x20) - 'a' + 10);
    if (digits == 0) {
        DIAG_ERROR("AG_dsect_parse_gds: no message length in the frame");
        return CM_RC_FAIL;
    }
    *size = value;
    return CM_RC_OK;
}

CM_RC AG_DSECT_comm_message_write(OS_COMM_sess_typ* sess_id, DSECT_MSG_typ* msg) {
    if (!sess_id || !msg || (!msg->message && msg->size > 0)) return CM_RC_FAIL;
    char frame[AG_DSECT_FRAME_LEN + 1];
    AG_DSECT_build_gds(frame, msg->size);
    const CM_RC sent = OS_COMM_sess_write(sess_id, frame, AG_DSECT_FRAME_LEN);
    if (sent != CM_RC_OK) {
        DIAG_TRACE(1, "Failed to send header '%s'", frame);
        return sent;
    }
    OS_COMM_trace_write(sess_id, "SIZE: %s", frame);
    const CM_RC rc = OS_COMM_sess_write(sess_id, msg->message, static_cast<int>(msg->size));
    OS_COMM_trace_write(sess_id, "DATA: <<<%s>>>", msg->message ? msg->message : "");
    return rc;
}

CM_RC AG_DSECT_comm_message_read(OS_COMM_sess_typ* sess_id, DSECT_MSG_typ* msg) {
    static const char* op = "AG_DSECT_comm_message_read";
    if (!sess_id || !msg) return CM_RC_FAIL;
    clear(msg);
    char frame[AG_DSECT_FRAME_LEN + 1] = {};
    for (int blocks = 0;; ++blocks) {
        if (blocks > kJunkBlocksMax || OS_COMM_sess_read(sess_id, frame, AG_DSECT_FRAME_LEN) != AG_DSECT_FRAME_LEN) {
            DIAG_TRACE(2, "%s: no message frame received", op);
            return CM_RC_FAIL;
        }
        OS_COMM_trace_write(sess_id, "SIZE: %s", frame);
        if (frame[0] == 'a' && frame[1] == ' ') break;
    }
    unsigned length = 0;
    if (!frame_length(frame, AG_DSECT_MESSAGE_MAX, length, op)) return CM_RC_FAIL;
    char* body = static_cast<char*>(std::malloc(static_cast<std::size_t>(length) + 1));
    if (!body) {
        DIAG_ERROR("%s: malloc failed", op);
        return CM_RC_FAIL;
    }
    const int got = length ? OS_COMM_sess_read(sess_id, body, static_cast<int>(length)) : 0;
    if (got != static_cast<int>(length)) {
        std::free(body);
        return CM_RC_FAIL;
    }
    body[length] = '\0';
    msg->message = body;
    msg->size = length;
    OS_COMM_trace_write(sess_id, "DATA: <<<%s>>>", body);
    return CM_RC_OK;
}

CM_RC AG_DSECT_comm_message_write_all(OS_COMM_sess_typ* sess_id, DSECT_MSG_typ* msg) {
    if (!sess_id || !msg || !msg->message) return CM_RC_FAIL;
    return OS_COMM_sess_write(sess_id, msg->message, static_cast<int>(msg->size));
}

CM_RC AG_DSECT_comm_message_read_all(OS_COMM_sess_typ* sess_id, DSECT_MSG_typ* msg) {
    static const char* op = "AG_DSECT_comm_message_read_all";
    if (!sess_id || !msg) return CM_RC_FAIL;
    clear(msg);
    std::string buffer(AG_DSECT_READ_ALL_ROOM, '\0');
    int got = 0;
    unsigned wanted = AG_DSECT_FRAME_LEN;
    bool framed = false;
    while (got < static_cast<int>(wanted)) {
        const int n = OS_COMM_sess_read_all(sess_id, buffer.data() + got, AG_DSECT_READ_ALL_ROOM - got);
        if (n <= 0) {
            DIAG_TRACE(2, "%s: read failed after %d bytes", op, got);
            return CM_RC_FAIL;
        }
        got += n;
        if (!framed && got >= AG_DSECT_FRAME_LEN) {
            unsigned length = 0;
            /* The whole message must fit the buffer: a longer one is refused before reading on. */
            if (!frame_length(buffer.data(), AG_DSECT_READ_ALL_ROOM - AG_DSECT_FRAME_LEN, length, op))
                return CM_RC_FAIL;
            wanted = length + AG_DSECT_FRAME_LEN;
            framed = true;
        }
    }
    char* copy = static_cast<char*>(std::malloc(static_cast<std::size_t>(got) + 1));
    if (!copy) {
        DIAG_ERROR("%s: malloc failed", op);
        return CM_RC_FAIL;
    }
    std::memcpy(copy, buffer.data(), static_cast<std::size_t>(got));
    copy[got] = '\0';
    msg->message = copy;
    msg->size = static_cast<unsigned>(got);
    return CM_RC_OK;
}

CM_RC AG_DSECT_file_write(const char* filename, DSECT_MSG_typ* msg) {
    if (!filename || !msg || (!msg->message && msg->size > 0)) return CM_RC_FAIL;
    char frame[AG_DSECT_FRAME_LEN + 1];
    AG_DSECT_build_gds(frame, msg->size);
    /* The frame and the body replace the file whole (a temporary file renamed over it, never through
     * a link at its name), with the bits a written stream gets: a write cut short keeps the old file
     * and a reader never finds a message cut short. */
    os_shared::Options options;
    options.add_bits = 0644;
    try {
        std::string content(frame, AG_DSECT_FRAME_LEN);
        content.append(msg->message ? msg->message : "", msg->size);
        return os_shared::write_file(filename, content, options) == CM_RC_OK ? CM_RC_OK : CM_RC_FAIL;
    } catch (...) {
        return CM_RC_FAIL;
    }
}

CM_RC AG_DSECT_file_read(const char* filename, DSECT_MSG_typ* msg) {
    static const char* op = "AG_DSECT_file_read";
    if (!filename || !msg) return CM_RC_FAIL;
    clear(msg);
    FILE* file = nullptr;
    if (OS_FILE_fopen(filename, &file, OS_FILE_READ) != CM_RC_OK || !file) return CM_RC_FAIL;
    char frame[AG_DSECT_FRAME_LEN + 1] = {};
    int got = 0;
    unsigned length = 0;
    CM_RC rc = CM_RC_FAIL;
    if (read_ok(OS_FILE_fread(frame, AG_DSECT_FRAME_LEN, &got, file)) && got == AG_DSECT_FRAME_LEN &&
        frame_length(frame, AG_DSECT_MESSAGE_MAX, length, op)) {
        char* body = static_cast<char*>(std::malloc(static_cast<std::size_t>(length) + 1));
        int read = 0;
        if (!body) {
            DIAG_ERROR("%s: malloc failed", op);
        } else if (length > 0 && !read_ok(OS_FILE_fread(body, static_cast<int>(length), &read, file))) {
            std::free(body);
        } else {
            body[read] = '\0';
            msg->message = body;
            msg->size = static_cast<unsigned>(read);
            rc = CM_RC_OK;
        }
    }
    OS_FILE_fclose(file);
    return rc;
}

CM_RC AG_DSECT_message_delete(DSECT_MSG_typ* msg) { return DSECT_LIST_delete_message(msg); }

CM_RC AG_DSECT_send_message(OS_COMM_sess_typ* sess_id, DSECT_MSG_typ* msg, int confirm) {
    return send_confirmed(sess_id, msg, confirm, false, "AG_DSECT_send_message");
}

CM_RC AG_DSECT_send_message_all(OS_COMM_sess_typ* sess_id, DSECT_MSG_typ* msg, int confirm) {
    return send_confirmed(sess_id, msg, confirm, true, "AG_DSECT_send_message_all");
}

CM_RC AG_DSECT_pack_util_dsect(DSECT_HEADER_typ* header, const char* last, int* seq, int generate_new_siid,
                               const char* text, DSECT_MSG_typ* out_msg) {
    GM_PARAM_VALUE_typ host = {};
    const CM_RC found = GM_PARAM_get(kConfig, "ORVSHOST", host);
    if (found != CM_RC_OK) return found;
    return AG_DSECT_pack_spec_util_dsect(header, last, seq, generate_new_siid, text, out_msg, host,
                                         protocol_version().c_str(), OS_PROC_get_curr_user());
}

CM_RC AG_DSECT_pack_spec_util_dsect(DSECT_HEADER_typ* header, const char* last, int* seq, int generate_new_siid,
                                    const char* text, DSECT_MSG_typ* out_msg, const char* server_host,
                                    const char* dsect_version, const char* user) {
    if (!header || !seq || !out_msg) return CM_RC_FAIL;
    clear(out_msg);
    header->seq = 1;
    DSECT_LIST_handle_typ list;
    if (DSECT_LIST_create(&list, generate_new_siid, dsect_version, "CM", "U ", "R", last, header->siid, 1, "",
                          server_host, "", "", "") != CM_RC_OK) {
        DIAG_ERROR("Can not initialize the utily request");
        return CM_RC_FAIL;
    }
    std::memcpy(header, &list.header, sizeof *header);
    std::string agent;
    if (!record_agent_name(agent)) {
        DSECT_LIST_delete(&list);
        return CM_RC_FAIL;
    }
    ++*seq;
    return finish(list, out_msg, [&](DSECT_ONE_handle_typ& r) {
        return DSECT_APPL_create_utilact(dsect_version, &r, user ? user : "", text ? text : "", agent.c_str());
    });
}

CM_RC AG_DSECT_pack_ping_dsect(DSECT_HEADER_typ* header, DSECT_MSG_typ* out_msg) {
    static const char* op = "AG_DSECT_pack_ping_dsect";
    bool fix_found = false, fd_found = false;
    const std::string fix = config_text("FIX_NUMBER", &fix_found);
    std::string number = fix;
    if (!fix_found || fix == "0") number = config_text("FD_NUMBER", &fd_found);
    std::string version;
    if (!fix_found && !fd_found) {
        DIAG_TRACE(1, "%s Cannot obtain agent version", op);
    } else if (number.find('.') == std::string::npos) {
        DIAG_TRACE(1, "%s Wrong agent version format: '%s'", op, number.c_str());
    } else {
        version = number.substr(number.find('.') + 1);
    }
    GM_PARAM_VALUE_typ host = {};
    const CM_RC found = GM_PARAM_get(kConfig, "ORVSHOST", host);
    if (found != CM_RC_OK) return found;
    return AG_DSECT_pack_spec_ping_dsect(header, out_msg, host, version.c_str(), protocol_version().c_str());
}

CM_RC AG_DSECT_pack_spec_ping_dsect(DSECT_HEADER_typ* header, DSECT_MSG_typ* out_msg, const char* server_host,
                                    const char* agent_version, const char* dsect_version) {
    static const char* op = "AG_DSECT_pack_spec_ping_dsect";
    if (!header || !out_msg) return CM_RC_FAIL;
    clear(out_msg);
    header->seq = 1;
    DSECT_LIST_handle_typ list;
    if (DSECT_LIST_create(&list, 1, dsect_version, "CM", "P ", "R", "T", "", 1, "", server_host, "", "", "") !=
        CM_RC_OK) {
        DIAG_ERROR("Can not initialize the ping request");
        return CM_RC_FAIL;
    }
    const std::string version = agent_version ? agent_version : "";
    return finish(
        list, out_msg, [&](DSECT_ONE_handle_typ& r) { return DSECT_APPL_create_ping(dsect_version, &r); },
        [&](DSECT_ONE_handle_typ& r) {
            DIAG_TRACE(4, "%s Appended agent version: '%s'", op, version.c_str());
            return DSECT_APPL_create_general_param(dsect_version, &r, "Agent version", version.c_str());
        });
}

CM_RC AG_DSECT_pack_text_dsect(DSECT_HEADER_typ* header, int is_last, int* seq, const char* text,
                               DSECT_MSG_typ* out_msg) {
    if (!header || !seq || !out_msg) return CM_RC_FAIL;
    clear(out_msg);
    DSECT_LIST_handle_typ list;
    if (start_reply(list, header, "D", is_last ? "L" : " ", header->task_class) != CM_RC_OK) return CM_RC_FAIL;
    ++*seq;
    const std::string version = header->version;
    return finish(list, out_msg, [&](DSECT_ONE_handle_typ& r) {
        return DSECT_APPL_create_text(version.c_str(), &r, text ? text : "");
    });
}

CM_RC AG_DSECT_pack_confirm_dsect(DSECT_HEADER_typ* header, DSECT_MSG_typ* out_msg) {
    if (!header || !out_msg) return CM_RC_FAIL;
    clear(out_msg);
    DSECT_LIST_handle_typ list;
    if (start_reply(list, header, "C", "L", header->task_class) != CM_RC_OK) return CM_RC_FAIL;
    return finish(list, out_msg);
}

CM_RC AG_DSECT_pack_error_dsect(DSECT_HEADER_typ* header, DSECT_MSG_typ* out_msg, int err_code, const char* format,
                                ...) {
    if (!header || !out_msg) return CM_RC_FAIL;
    clear(out_msg);
    va_list args;
    va_start(args, format);
    const std::string text = vformat(format, args);
    va_end(args);
    DSECT_LIST_handle_typ list;
    if (start_reply(list, header, "E", "L", header->task_class) != CM_RC_OK) {
        DIAG_ERROR("Can not initialize the response");
        return CM_RC_FAIL;
    }
    const std::string version = header->version;
    return finish(list, out_msg, [&](DSECT_ONE_handle_typ& r) {
        return DSECT_APPL_create_errcd(version.c_str(), &r, err_code, text.c_str());
    });
}

CM_RC AG_DSECT_pack_utilresp_dsect(DSECT_HEADER_typ* header, DSECT_MSG_typ* out_msg, const char* exit_status,
                                   int exit_code, const char* response) {
    if (!header || !out_msg) return CM_RC_FAIL;
    clear(out_msg);
    GM_PARAM_VALUE_typ host = {};
    const CM_RC found = GM_PARAM_get(kConfig, "ORVSHOST", host);
    if (found != CM_RC_OK) return found;
    const std::string version = protocol_version();
    header->seq = 1;
    DSECT_LIST_handle_typ list;
    if (DSECT_LIST_create(&list, 1, version.c_str(), "CM", "P ", "R", "T", "", 1, "", host, "", "", "") != CM_RC_OK) {
        DIAG_ERROR("Can not initialize the utility response");
        return CM_RC_FAIL;
    }
    return finish(
        list, out_msg,
        [&](DSECT_ONE_handle_typ& r) {
            return DSECT_APPL_create_utilresp(version.c_str(), &r, exit_status ? exit_status : "", exit_code);
        },
        [&](DSECT_ONE_handle_typ& r) { return DSECT_APPL_create_text(version.c_str(), &r, response ? response : ""); });
}

CM_RC AG_DSECT_pack_orvlog_dsect(DSECT_HEADER_typ* header, const char* orderno, const char* msgid, const char* message,
                                 DSECT_MSG_typ* out_msg) {
    if (!header || !out_msg) return CM_RC_FAIL;
    clear(out_msg);
    DSECT_LIST_handle_typ list;
    if (start_reply(list, header, "D", "L", "") != CM_RC_OK) return CM_RC_FAIL;
    DATETIME_D_typ date = {}, time = {};
    GM_TIME_fmt_get_time(GM_TIME_FMT_YYYYMMDD, date);
    GM_TIME_fmt_get_time(GM_TIME_FMT_HHMMSS, time);
    const std::string version = header->version;
    return finish(list, out_msg, [&](DSECT_ONE_handle_typ& r) {
        return DSECT_APPL_create_orvlog(version.c_str(), &r, date, time, OS_PROC_name(), orderno ? orderno : "",
                                        msgid ? msgid : "", message ? message : "");
    });
}

CM_RC AG_DSECT_send_text_dsect(OS_COMM_sess_typ* sess_id, DSECT_HEADER_typ* header, int is_last, int* seq,
                               const char* text) {
    return pack_and_send(sess_id,
                         [&](DSECT_MSG_typ* msg) { return AG_DSECT_pack_text_dsect(header, is_last, seq, text, msg); });
}

CM_RC AG_DSECT_send_text_dsect_in_chunks(OS_COMM_sess_typ* sess_id, DSECT_HEADER_typ* header, int* seq,
                                         const char* text, int chunk_size) {
    if (!text || chunk_size < 1 || chunk_size > kChunkMax) return CM_RC_FAIL;
    const std::string whole = text;
    for (std::size_t at = 0; at < whole.size(); at += static_cast<std::size_t>(chunk_size)) {
        const std::string piece = whole.substr(at, static_cast<std::size_t>(chunk_size));
        const bool last = at + static_cast<std::size_t>(chunk_size) >= whole.size();
        const CM_RC rc = AG_DSECT_send_text_dsect(sess_id, header, last ? 1 : 0, seq, piece.c_str());
        if (rc != CM_RC_OK) return rc;
    }
    return CM_RC_OK;
}

CM_RC AG_DSECT_send_confirm_dsect(OS_COMM_sess_typ* sess_id, DSECT_HEADER_typ* header) {
    return pack_and_send(sess_id, [&](DSECT_MSG_typ* msg) { return AG_DSECT_pack_confirm_dsect(header, msg); });
}

CM_RC AG_DSECT_send_error_dsect(OS_COMM_sess_typ* sess_id, DSECT_HEADER_typ* header, int err_code,
                                const char* err_msg) {
    return pack_and_send(sess_id, [&](DSECT_MSG_typ* msg) {
        return AG_DSECT_pack_error_dsect(header, msg, err_code, "%s", err_msg ? err_msg : "");
    });
}

CM_RC AG_DSECT_formated_msg(char* out_msg, const char* msg_id, ...) {
    if (!out_msg || !msg_id) return CM_RC_FAIL;
    GM_PARAM_VALUE_typ format = {};
    if (GM_PARAM_get("MSGTBL", msg_id, format) != CM_RC_OK) {
        DIAG_TRACE(1, "Read Message Failed. msgid: %s", msg_id);
        std::snprintf(out_msg, AG_DSECT_FORMATTED_MSG_ROOM, "Read Message Failed. msgid: %s", msg_id);
        return CM_RC_FAIL;
    }
    GM_STR_unpad(format);
    va_list args;
    va_start(args, msg_id);
    std::vsnprintf(out_msg, AG_DSECT_FORMATTED_MSG_ROOM, format, args);
    va_end(args);
    return CM_RC_OK;
}

CM_RC AG_DSECT_dsect2attr(DSECT_ONE_handle_typ* record, ZPAAttrList* attr_list) {
    if (!record || !attr_list) return CM_RC_FAIL;
    return build_attributes(attr_list, DSECT_ONE_count(record), [&](auto add) {
        each_field(record, [&](const DSECT_VAR_typ* field) {
            if (reserved(field->Name)) return true;
            const std::size_t length = field->ValueSize > 0 ? field->ValueSize - 1u : 0u;
            add(field->Name, field->Value, length, field->ValueSize);
            return true;
        });
    });
}

CM_RC AG_DSECT_list2attr(ZPALIST_handle_typ* param_list, ZPAAttrList* attr_list) {
    if (!param_list || !attr_list) return CM_RC_FAIL;
    return build_attributes(attr_list, ZPALIST_count(param_list), [&](auto add) {
        each_row(param_list, [&](const char* key, const char* value) {
            if (!reserved(key)) {
                const std::size_t length = std::strlen(value);
                add(key, value, length, static_cast<unsigned short>(length + 1));
            }
            return true;
        });
    });
}

CM_RC AG_DSECT_attr2list(ZPAAttrList* attr_list, ZPALIST_handle_typ* param_list) {
    if (!attr_list || !param_list || (attr_list->Count > 0 && !attr_list->Attributes)) return CM_RC_FAIL;
    try {
        gm_param::KeyedRows rows(param_list);  // a set per attribute without a walk of the list each
        for (int i = 0; i < attr_list->Count; ++i) {
            const ZPAAttr& attr = attr_list->Attributes[i];
            if (!attr.Name) continue;
            if (rows.set(attr.Name, attr.Value ? attr.Value : "") != CM_RC_OK) return CM_RC_FAIL;
        }
    } catch (...) {
        return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

CM_RC AG_DSECT_dsect2list(DSECT_ONE_handle_typ* record, ZPALIST_handle_typ* param_list) {
    if (!record || !param_list) return CM_RC_FAIL;
    if (AG_DSECT_set_dsect_type(param_list, record->type) != CM_RC_OK) return CM_RC_FAIL;
    try {
        gm_param::KeyedRows rows(param_list);  // sets and appends without a walk of the list per field
        CM_RC rc = CM_RC_OK;
        each_field(record, [&](const DSECT_VAR_typ* field) {
            if (field->Type == DF_DSECT_LIST) return true;
            const bool job_variable = std::strncmp(field->Name, kJobVariablePrefix, 2) == 0;
            rc = job_variable ? rows.append(field->Name, field->Value) : rows.set(field->Name, field->Value);
            return rc == CM_RC_OK;
        });
        return rc == CM_RC_OK ? CM_RC_OK : CM_RC_FAIL;
    } catch (...) {
        return CM_RC_FAIL;
    }
}

CM_RC AG_DSECT_param2attr(const char* be_name, ZPAAttrList* attr_list) {
    static const char* op = "AG_DSECT_param2attr";
    if (!attr_list) return CM_RC_FAIL;
    if (!plain_file_name(be_name)) {
        DIAG_ERROR("%s: invalid back-end name '%s'", op, be_name ? be_name : "");
        return CM_RC_FAIL;
    }
    const std::string path = std::string("./data/") + be_name + ".dat";
    ZPALIST_handle_typ list{};
    if (GM_PARAM_load_file(&list, path.c_str()) != CM_RC_OK) {
        DIAG_ERROR("%s: Failed to load file '%s'", op, path.c_str());
        return CM_RC_FAIL;
    }
    GM_PARAM_ROW_VALUE_typ present = {};
    CM_RC rc = CM_RC_OK;
    if (GM_PARAM_list_get(&list, "CODE_VERSION", present, sizeof present) != CM_RC_OK) {
        bool found = false;
        const std::string configured = config_text("CODE_VERSION", &found);
        rc = GM_PARAM_list_set(&list, "CODE_VERSION", found ? configured.c_str() : kDefaultCodeVersion);
    }
    if (rc == CM_RC_OK) rc = AG_DSECT_list2attr(&list, attr_list);
    GM_PARAM_list_clear(&list);
    return rc;
}

CM_RC AG_DSECT_release_attr(ZPAAttrList* attr_list) {
    return ZPAAPI_utils_release_attr(attr_list) == ZPA_SUCCESS ? CM_RC_OK : CM_RC_FAIL;
}

CM_RC AG_DSECT_print_attr(ZPAAttrList* attr_list) {
    if (!attr_list) return CM_RC_FAIL;
    DIAG_printf("Attributes begin");
    for (int i = 0; attr_list->Attributes && i < attr_list->Count; ++i) {
        const ZPAAttr& attr = attr_list->Attributes[i];
        const char* name = attr.Name ? attr.Name : "";
        DIAG_printf("\t'%-*s' = '%.500s'", 8, name, gm_param::loggable_value(name, attr.Value ? attr.Value : ""));
    }
    DIAG_printf("Attributes end");
    return CM_RC_OK;
}

CM_RC AG_DSECT_set_dsect_type(ZPALIST_handle_typ* list, int type) {
    if (!list) return CM_RC_FAIL;
    return GM_PARAM_list_set(list, DSECT_KEY_DSECT_TYPE, std::to_string(type).c_str());
}

int AG_DSECT_get_dsect_type(ZPALIST_handle_typ* list) {
    if (!list) return 0;
    return std::atoi(list_value(list, DSECT_KEY_DSECT_TYPE, "0").c_str());
}

CM_RC AG_DSECT_delete_entry_prefix(ZPALIST_handle_typ* in_list, ZPALIST_handle_typ* out_list, const char* prefix,
                                   int prefix_size) {
    if (!in_list || !out_list || !prefix) return CM_RC_FAIL;
    std::size_t n = prefix_size > 0 ? static_cast<std::size_t>(prefix_size) : 0;
    n = std::min(n, std::strlen(prefix));
    CM_RC rc = CM_RC_OK;
    gm_param::RowBuilder kept(out_list);
    each_row(in_list, [&](const char* key, const char* value) {
        if (std::strncmp(key, prefix, n) == 0) return true;
        rc = kept.append(key, value);
        return rc == CM_RC_OK;
    });
    return rc;
}

CM_RC AG_dsect_create_and_append_general_param(const char* version, DSECT_LIST_handle_typ* out_list,
                                               DSECT_ONE_handle_typ* record, const char* name, const char* value,
                                               const char* func_name) {
    return ag_dsect::append_general_param(version, out_list, nullptr, record, name, value, func_name);
}

CM_RC AG_dsect_create_gnrldta_unav_RJXRH(const char* version, ZPALIST_handle_typ* job_list,
                                         DSECT_LIST_handle_typ* out_list) {
    static const char* op = "AG_dsect_create_gnrldta_unav_RJXRH";
    if (!job_list || !out_list) return CM_RC_FAIL;
    const std::string host = list_value(job_list, "TARGET_MACHINE", "");
    if (host.empty()) {
        DIAG_ERROR("%s: failed to retrieve RJX remote host", op);
        return CM_RC_FAIL;
    }
    DSECT_ONE_handle_typ record;
    CM_RC rc = DSECT_APPL_create_gnrldta(version, &record, "RH_AV_STAT", 2);
    if (rc == CM_RC_OK) rc = DSECT_LIST_append(out_list, &record);
    DSECT_ONE_delete(&record);
    if (rc == CM_RC_OK)
        rc = AG_dsect_create_and_append_general_param(version, out_list, nullptr, "NAME", host.c_str(), op);
    if (rc == CM_RC_OK) rc = AG_dsect_create_and_append_general_param(version, out_list, nullptr, "AV_STAT", "U", op);
    return rc;
}

CM_RC AG_dsect_create_gnrldta_unav_CMACC(const char* version, ZPALIST_handle_typ* job_list,
                                         DSECT_LIST_handle_typ* out_list, const char* appl_type,
                                         ZPAUnavError* unav_error) {
    static const char* op = "AG_dsect_create_gnrldta_unav_CMACC";
    if (!job_list || !out_list || !unav_error) return CM_RC_FAIL;
    const std::string owner = list_value(job_list, "OWNER", "");
    if (owner.empty()) {
        DIAG_ERROR("%s: failed to retrieve job owner needed for cm account", op);
        return CM_RC_FAIL;
    }
    const std::string type = appl_type ? appl_type : "";
    const std::string code = std::to_string(unav_error->errcode);
    const std::string text(unav_error->errtext, strnlen(unav_error->errtext, sizeof unav_error->errtext));
    CM_ACCOUNT_INFO_typ info{};
    std::snprintf(info.applType, sizeof info.applType, "%s", type.c_str());
    std::snprintf(info.account, sizeof info.account, "%s", owner.c_str());
    std::snprintf(info.errorCode, sizeof info.errorCode, "%s", code.c_str());
    std::snprintf(info.errorMsg, sizeof info.errorMsg, "%s", text.c_str());
    if (GM_AVSTAT_set_account_status(&info, GM_ACCOUNT_UNAVAILABLE) != CM_RC_OK)
        DIAG_ERROR("%s: Failed to write unavailability file for application type %s, account %s", op, type.c_str(),
                   owner.c_str());
    DSECT_ONE_handle_typ record;
    CM_RC rc = DSECT_APPL_create_gnrldta(version, &record, "CM_AV_STAT", 5);
    if (rc == CM_RC_OK) rc = DSECT_LIST_append(out_list, &record);
    DSECT_ONE_delete(&record);
    const std::pair<const char*, std::string> params[] = {
        {"APPLIC_TYPE", type}, {"ACC_NAME", owner}, {"AV_STAT", "U"}, {"ERRID", code}, {"ERRMSG", text}};
    for (const auto& [name, value] : params)
        if (rc == CM_RC_OK)
            rc = AG_dsect_create_and_append_general_param(version, out_list, nullptr, name, value.c_str(), op);
    return rc;
}

CM_RC AG_DSECT_pack_dsect(ZPALIST_handle_typ* param_list, DSECT_MSG_typ* out_msg, int generate_new_siid,
                          ZPAUnavError* unav_error) {
    static const char* op = "AG_DSECT_pack_dsect";
    if (!param_list || !out_msg) return CM_RC_FAIL;
    clear(out_msg);
    auto key = [&](const char* name) { return list_value(param_list, name, ""); };
    const std::string version = key(DSECT_HEADER_KEY_VERSION);
    const std::string appl_type = key(DSECT_HEADER_KEY_APPL_TYPE);
    const int seq = std::atoi(list_value(param_list, DSECT_HEADER_KEY_SEQ, "0").c_str()) + 1;
    DSECT_LIST_handle_typ list;
    if (DSECT_LIST_create(&list, generate_new_siid, version.c_str(), key(DSECT_HEADER_KEY_APPID).c_str(),
                          key(DSECT_HEADER_KEY_SID).c_str(), key(DSECT_HEADER_KEY_MID).c_str(),
                          key(DSECT_HEADER_KEY_LAST).c_str(), key(DSECT_HEADER_KEY_SIID).c_str(), seq,
                          key(DSECT_HEADER_KEY_AGENT_NAME).c_str(), key(DSECT_HEADER_KEY_ORVS_HOSTNAME).c_str(),
                          key(DSECT_HEADER_KEY_TASK_CLASS).c_str(), appl_type.c_str(),
                          key(DSECT_HEADER_KEY_APPL_VERSION).c_str()) != CM_RC_OK)
        return CM_RC_FAIL;
    const int type = AG_DSECT_get_dsect_type(param_list);
    if (type != DSECT_TYP_LONGEX && type != DSECT_TYP_SHEXIT) {
        DIAG_ERROR("%s: unsupported dsect type %d", op, type);
        DSECT_LIST_delete(&list);
        return CM_RC_FAIL;
    }
    DSECT_ONE_handle_typ record;
    CM_RC rc = DSECT_APPL_create(version.c_str(), param_list, &record);
    if (rc == CM_RC_OK) rc = DSECT_LIST_append(&list, &record);
    DSECT_ONE_delete(&record);
    if (rc == CM_RC_OK && type == DSECT_TYP_SHEXIT && unav_error) {
        /* The unavailability records travel when they can be made; the message goes either way. */
        switch (unav_error->unavContext) {
        case 1:
        case 2: {
            const int before = ZPALIST_count(&list.handle);
            if (AG_dsect_create_gnrldta_unav_RJXRH(version.c_str(), param_list, &list) != CM_RC_OK)
                truncate_records(&list, before);
            break;
        }
        case 3:
        case 4: {
            const int before = ZPALIST_count(&list.handle);
            if (AG_dsect_create_gnrldta_unav_CMACC(version.c_str(), param_list, &list, appl_type.c_str(), unav_error) !=
                CM_RC_OK)
                truncate_records(&list, before);
            break;
        }
        default: DIAG_ERROR("Invalid value for UnavError->unavContext: %d", unav_error->unavContext);
        }
    }
    if (rc == CM_RC_OK) rc = DSECT_LIST_mk_msg(&list, out_msg);
    DSECT_LIST_delete(&list);
    return rc;
}

}  // extern "C"

namespace ag_dsect {

CM_RC append_general_param(const char* version, DSECT_LIST_handle_typ* out_list, zpalist::Builder* records,
                           DSECT_ONE_handle_typ* record, const char* name, const char* value, const char* func_name) {
    DSECT_ONE_handle_typ scratch;
    DSECT_ONE_handle_typ* r = record ? record : &scratch;
    CM_RC rc = DSECT_APPL_create_general_param(version, r, name, value);
    if (rc == CM_RC_OK) rc = dsect::append_record(out_list, r, records);
    DSECT_ONE_delete(r);
    if (rc != CM_RC_OK)
        DIAG_ERROR("%s: failed to create general_param dsect with name='%s' and value='%s'", func_name ? func_name : "",
                   name ? name : "", value ? value : "");
    return rc;
}

}  // namespace ag_dsect
