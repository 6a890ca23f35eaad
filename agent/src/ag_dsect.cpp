/* Framed agent-protocol messages: the 10-byte frame, framed reads and writes on a session or in a
 * file (every announced length checked before anything is allocated), sending with a confirmation,
 * and the builders of the utility request, the ping and the replies. */
#include "ag_dsect.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dsect_appl.h"
#include "gm_param.h"
#include "gm_str.h"
#include "gm_time.h"
#include "os_diag.h"
#include "os_file.h"
#include "os_proc.h"

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

bool write_file_all(FILE* file, const char* data, int length) {
    return length == 0 || OS_FILE_fwrite(data, length, file) == CM_RC_OK;
}

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
        if (blocks > kJunkBlocksMax ||
            OS_COMM_sess_read(sess_id, frame, AG_DSECT_FRAME_LEN) != AG_DSECT_FRAME_LEN) {
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
    FILE* file = nullptr;
    if (OS_FILE_fopen(filename, &file, OS_FILE_WRITE) != CM_RC_OK || !file) return CM_RC_FAIL;
    char frame[AG_DSECT_FRAME_LEN + 1];
    AG_DSECT_build_gds(frame, msg->size);
    const bool ok = write_file_all(file, frame, AG_DSECT_FRAME_LEN) &&
                    write_file_all(file, msg->message, static_cast<int>(msg->size));
    const bool closed = OS_FILE_fclose(file) == CM_RC_OK;
    return ok && closed ? CM_RC_OK : CM_RC_FAIL;
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
    if (AG_DSECT_comm_message_write(sess_id, msg) != CM_RC_OK) {
        DIAG_TRACE(2, "Send message failed.");
        return CM_RC_FAIL;
    }
    if (!confirm) return CM_RC_OK;
    DSECT_MSG_typ reply{};
    if (AG_DSECT_comm_message_read(sess_id, &reply) != CM_RC_OK) {
        DIAG_TRACE(2, "Confirmation receive failed.");
        return CM_RC_FAIL;
    }
    return check_confirmation(&reply, false, "AG_DSECT_send_message");
}

CM_RC AG_DSECT_send_message_all(OS_COMM_sess_typ* sess_id, DSECT_MSG_typ* msg, int confirm) {
    static const char* op = "AG_DSECT_send_message_all";
    if (AG_DSECT_comm_message_write_all(sess_id, msg) != CM_RC_OK) {
        DIAG_TRACE(2, "Send message failed.");
        return CM_RC_FAIL;
    }
    if (!confirm) return CM_RC_OK;
    DSECT_MSG_typ reply{};
    if (AG_DSECT_comm_message_read_all(sess_id, &reply) != CM_RC_OK) {
        DIAG_TRACE(2, "Confirmation receive failed.");
        return CM_RC_FAIL;
    }
    return check_confirmation(&reply, true, op);
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
    if (DSECT_LIST_create(&list, 1, version.c_str(), "CM", "P ", "R", "T", "", 1, "", host, "", "", "") !=
        CM_RC_OK) {
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

CM_RC AG_DSECT_pack_orvlog_dsect(DSECT_HEADER_typ* header, const char* orderno, const char* msgid,
                                 const char* message, DSECT_MSG_typ* out_msg) {
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

}  // extern "C"
