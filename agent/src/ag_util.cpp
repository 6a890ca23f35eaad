/* The agent-utility client: a utility's argument vector becomes one quoted command line, packed
 * into a utility request and sent over a TCP session to the local agent's utility port (persistent
 * connection) or to the scheduling server (primary host, then one backup host, each tried
 * COMMRETCNT times); an input file follows in chunks; the reply's records give the exit status and
 * the reply text. A run against the backup host makes it the primary in CONFIG. */
#include "ag_util.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "ag_dsect.h"
#include "ag_util_internal.h"
#include "gm_param.h"
#include "gm_str.h"
#include "gm_time.h"
#include "os_diag.h"
#include "os_file_nofollow.h"
#include "os_proc.h"
#include "os_shared_file_internal.h"

namespace {

constexpr char kConfig[] = "CONFIG";
constexpr char kLoopback[] = "127.0.0.1";
constexpr char kInputFileOption[] = "INPUT_FILE";
constexpr std::size_t kLongLineHint = 1000;

constexpr char kNoResults[] = "Can not retrieve results from the server";
constexpr char kNotSentAtExit[] = "The request was not sent: the process is ending.";
constexpr char kTimeoutHint[] =
    "\nTimeout occured before Server responded.\n Check if Server performed the request.\n If so, use utility "
    "ORVAGCFG to increase 'Timeout for Agent utilities'.\n\n";
constexpr char kLongLineHintText[] =
    "Server failed to perform your request.\nIn case you passed a command line containing more then 1000 "
    "characters try to use '-input_file' option\n";

struct UtilityName {
    const char* name;
    AG_UTIL_PARAM_TYPE code;
};

constexpr UtilityName kUtilities[] = {
    {"ORVCREATE", AG_CREATE},
    {"ORVCONTB", AG_CONTB},
    {"UVACTLTB", AG_CTLTB},
    {"UVAQRTAB", AG_QRTAB},
    {"AG_PING", AG_PING},
    {"ORVLOADSET", AG_SETLOAD},
    {"ORVSHOUT", AG_SHOUT},
    {"ORVUDLY", AG_UDLY},
    {"ORVPSM", AG_PSM},
    {"ORVDEFINE", AG_DEFINE},
    {"ORVORDER", AG_ORDER},
    {"ORVKILLJOB", AG_KILLJOB},
    {"ORVVAR", AG_ORVVAR},
    {"ORVNODEGRP", AG_NODEGRP},
    {"ORVSTVAR", AG_STVAR},
    {"ORVGRPDEF", AG_GRPDEF},
    {"ORVLOG", AG_LOG},
    {"ORVWHY", AG_WHY},
    {"ORVSETOWN", AG_SETOWN},
    {"ORVDEFTAB", AG_ORVDEFTAB},
    {"ORVDEFSUBTAB", AG_ORVDEFSUBTAB},
    {"ORVDEFFOLDER", AG_ORVDEFFOLDER},
    {"ORVDEFSUBFOLDER", AG_ORVDEFSUBFOLDER},
    {"ORVHOSTGRP", AG_ORVHOSTGRP},
};

// A CONFIG value; the lookup's own result when the key is missing.
CM_RC config_value(const char* key, std::string& value) {
    GM_PARAM_VALUE_typ text = {};
    const CM_RC rc = GM_PARAM_get(kConfig, key, text);
    if (rc == CM_RC_OK) value = text;
    return rc;
}

std::string config_or(const char* key, const std::string& fallback) {
    std::string value;
    return config_value(key, value) == CM_RC_OK ? value : fallback;
}

bool unsigned_number(const std::string& text) {
    if (text.empty()) return false;
    std::size_t at = text[0] == '+' ? 1 : 0;
    if (at == text.size()) return false;
    for (; at < text.size(); ++at)
        if (!std::isdigit(static_cast<unsigned char>(text[at]))) return false;
    return true;
}

int bounded_number(const std::string& text, int low, int high) {
    errno = 0;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value < low) return low;
    if (value > high) return high;
    return static_cast<int>(value);
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The argument as the receiver splits it back: a double quote becomes \", and a run of
// backslashes right before a double quote or before the closing quote is doubled, so that it
// stands for itself; other backslashes go as they are.
std::string escaped(const std::string& argument) {
    std::string out;
    std::size_t run = 0;
    for (const char c : argument) {
        if (c == '\\') {
            ++run;
            continue;
        }
        if (c == '"') {
            out.append(run * 2, '\\');
            out += "\\\"";
        } else {
            out.append(run, '\\');
            out += c;
        }
        run = 0;
    }
    out.append(run * 2, '\\');
    return out;
}

void set_debug_level() {
    std::string value;
    int level = -1;
    for (const char* key : {"UTDBGLVL", "DBGLVL"}) {
        if (config_value(key, value) == CM_RC_OK && unsigned_number(value)) {
            level = bounded_number(value, 0, 6);
            break;
        }
    }
    if (level < 0) {
        // A daemon runs this (the watcher): the gap goes to its log, not to a terminal.
        DIAG_ERROR("Debug level will be set to %s", "0");
        level = 0;
    }
    DIAG_set_debug_level(level);
}

// The rows of an input file, packed into chunks of at most AG_UTIL_CHUNK_MAX characters; the last
// chunk (possibly empty) ends the file. A row that fits no chunk is carried on in the next one.
bool load_chunks(const std::string& path, int load_args_flag, std::vector<std::string>& chunks) {
    std::vector<std::string> rows;
    if (load_args_flag == 1) {
        ZPALIST_handle_typ list{};
        if (GM_PARAM_load_file(&list, path.c_str()) != CM_RC_OK) return false;
        GM_PARAM_list_reset(&list);
        char* key = nullptr;
        void* value = nullptr;
        while (GM_PARAM_list_next(&list, &key, &value) == CM_RC_OK)
            rows.push_back(std::string(key) + " " + static_cast<const char*>(value) + "\n");
        GM_PARAM_list_clear(&list);
    } else {
        // A regular file only, never through a link at its name and never waiting on a FIFO.
        std::string content;
        if (os_shared::read_file(path, content) != CM_RC_OK) return false;
        for (std::size_t pos = 0; pos < content.size();) {
            const std::size_t end = std::min(content.find('\n', pos), content.size());
            std::string row(1, ' ');
            row.append(content, pos, end - pos).push_back('\n');
            rows.push_back(std::move(row));
            pos = end + 1;
        }
    }
    std::string chunk;
    for (const std::string& row : rows) {
        if (chunk.size() + row.size() > AG_UTIL_CHUNK_MAX) {
            std::string rest = row;
            const std::size_t fits = AG_UTIL_CHUNK_MAX - chunk.size();
            if (row.size() > AG_UTIL_CHUNK_MAX) {
                chunk += rest.substr(0, fits);
                rest.erase(0, fits);
            }
            chunks.push_back(chunk);
            chunk.clear();
            while (rest.size() > AG_UTIL_CHUNK_MAX) {
                chunks.push_back(rest.substr(0, AG_UTIL_CHUNK_MAX));
                rest.erase(0, AG_UTIL_CHUNK_MAX);
            }
            chunk = rest;
        } else {
            chunk += row;
        }
    }
    chunks.push_back(chunk);
    return true;
}

// Hosts of a run: the primary and, for anything but a ping, the first host of ORVPERMHOSTS that
// differs from it.
std::vector<std::string> server_hosts(const std::string& primary, bool ping) {
    std::vector<std::string> hosts{primary};
    std::string listed;
    if (ping || config_value("ORVPERMHOSTS", listed) != CM_RC_OK) return hosts;
    std::string token;
    listed += '|';
    for (const char c : listed) {
        if (c == '|' || c == ' ') {
            if (!token.empty() && token != primary) {
                hosts.push_back(token);
                break;
            }
            token.clear();
        } else {
            token += c;
        }
    }
    return hosts;
}

void log_times(const DSECT_HEADER_typ& header) {
    DATETIME_D_typ now = {};
    GM_TIME_fmt_get_time(GM_TIME_FMT_YYYYMMDDHHMMSS, now);
    char delta[80] = {};
    GM_TIME_get_delta_string(now, header.timestmp, delta);
    DIAG_TRACE(2, "Agent time - %s   Server time - %s", now, header.timestmp);
    DIAG_TRACE(2, "Server/Agent time difference - %s", delta);
}

std::string field(DSECT_ONE_handle_typ& record, const char* name, bool* found) {
    char* value = nullptr;
    *found = DSECT_ONE_get_key_value(&record, name, &value) == CM_RC_OK && value;
    return *found ? std::string(value) : std::string();
}

// The first record of a further message of a continued text: appended when it is a text.
// Returns false when the walk must stop; `last` receives the message's last-flag.
bool take_continuation(DSECT_MSG_typ& message, ag_util::Reply& reply, std::string& last) {
    DSECT_LIST_handle_typ list;
    if (DSECT_LIST_mk_from_msg(&list, &message) != CM_RC_OK) {
        reply.append(kNoResults);
        return false;
    }
    last = list.header.last;
    bool go_on = true;
    DSECT_ONE_handle_typ record;
    DSECT_ONE_init(&record);
    if (DSECT_LIST_getnext(&list, &record) == CM_RC_OK && record.type == DSECT_TYP_TEXT) {
        bool found = false;
        const std::string text = field(record, "TEXT", &found);
        go_on = reply.append_growing(text);
    }
    DSECT_ONE_delete(&record);
    DSECT_LIST_delete(&list);
    return go_on;
}

// A text record; a reply whose header says more messages follow is read on to its last message.
bool handle_text(DSECT_ONE_handle_typ& record, const char* header_last, bool& continued, ag_util::Reply& reply,
                 const ag_util::NextMessage& next) {
    bool found = false;
    const std::string text = field(record, "TEXT", &found);
    reply.append(found ? text : "Can not retrieve Exit Message from the server.");
    std::string last = header_last;
    if (continued) return true;
    continued = true;
    while (last != "T" && last != "L") {
        DSECT_MSG_typ more{};
        if (!next || !next(more)) {
            reply.append(kNoResults);
            return false;
        }
        const bool go_on = take_continuation(more, reply, last);
        AG_DSECT_message_delete(&more);
        if (!go_on) return false;
    }
    return true;
}

// One record of a reply; false stops the walk.
bool handle_record(DSECT_ONE_handle_typ& record, const DSECT_HEADER_typ& header, bool& continued, ag_util::Reply& reply,
                   const ag_util::NextMessage& next) {
    bool found = false;
    switch (record.type) {
    case DSECT_TYP_ERRCD: {
        const std::string message = field(record, "DSECT_ERROR_MESSAGE", &found);
        reply.append(found ? message : kNoResults);
        DIAG_TRACE(2, "%s.", found ? message.c_str() : kNoResults);
        if (reply.result == CM_RC_OK) reply.result = CM_RC_FAIL;
        return false;
    }
    case DSECT_TYP_PING:
        reply.append("Server is alive");
        reply.exit_status = 'Y';
        reply.exit_code = 0;
        return true;
    case DSECT_TYP_TEXT: return handle_text(record, header.last, continued, reply, next);
    case DSECT_TYP_UTILRESP: {
        const std::string status = field(record, "EXITSTATUS", &found);
        if (found) {
            reply.exit_status = status.empty() ? '\0' : status[0];
        } else {
            reply.append("Can not retrieve Exit Status results from the server.");
        }
        const std::string code = field(record, "EXITCODE", &found);
        if (found) {
            reply.exit_code = bounded_number(code, INT_MIN, INT_MAX);
        } else {
            reply.append("Can not retrieve Exit Code results from the server.");
        }
        return true;
    }
    case DSECT_TYP_GENERAL_PARAM: {
        bool value_found = false;
        const std::string name = field(record, "DSECT_VARIABLE_NAME", &found);
        const std::string value = field(record, "DSECT_VARIABLE_VALUE", &value_found);
        reply.append(name + "=" + value + "\n");
        return true;
    }
    case DSECT_TYP_GNRLDTA:
        DIAG_TRACE(4, "Received confirmation from server for GNRLDTA dsect");
        reply.exit_status = 'Y';
        reply.exit_code = 0;
        return true;
    default: DIAG_TRACE(2, "unknown DSECT  type %d", static_cast<int>(record.type)); return true;
    }
}

// The result of an exchange from what the reply and the session said.
CM_RC exchange_result(const ag_util::Reply& reply, CM_RC session_error) {
    if (reply.exit_status == 'Y') return CM_RC_OK;
    CM_RC result = reply.result;
    if (session_error == OS_COMM_ERR_TIMEOUT || session_error == OS_COMM_ERR_WAITING) result = AG_UTIL_RC_TIMEOUT;
    if (result != AG_UTIL_RC_MEMORY) {
        const std::string& text = reply.text;
        if (text.find("usage:") != std::string::npos || text.find("Invalid ") != std::string::npos) {
            result = AG_UTIL_RC_USAGE;
        } else if (text.find("Open Session failed") != std::string::npos ||
                   text.find("Failed to initialize communication") != std::string::npos) {
            result = AG_UTIL_RC_NO_CONNECTION;
        }
    }
    if (result == CM_RC_OK || result == CM_RC_END) result = CM_RC_FAIL;
    return result;
}

// A missing configuration key, as the reply text says it.
CM_RC missing_key(ag_util::Reply& reply, const char* key, CM_RC rc) {
    reply.text.clear();
    reply.append(std::string("Can not retrieve value of ") + key + " parameter from " + kConfig + " table");
    return rc;
}

std::vector<char> writable(const std::string& text) { return std::vector<char>(text.begin(), text.end() + 1); }

// Sends the request (and the chunks) on an open session and reads the reply into `reply`.
void converse(OS_COMM_sess_typ& sess, DSECT_MSG_typ* out_msg, const std::vector<std::string>& chunks, int* seq,
              DSECT_HEADER_typ* header, ag_util::Reply& reply) {
    bool sent = AG_DSECT_comm_message_write(&sess, out_msg) == CM_RC_OK;
    for (std::size_t i = 0; sent && i < chunks.size(); ++i) {
        DSECT_MSG_typ chunk{};
        const char* last = i + 1 == chunks.size() ? "L" : " ";
        sent = AG_DSECT_pack_util_dsect(header, last, seq, 0, chunks[i].c_str(), &chunk) == CM_RC_OK &&
               AG_DSECT_comm_message_write(&sess, &chunk) == CM_RC_OK;
        DSECT_LIST_delete_message(&chunk);
    }
    if (!sent) {
        DIAG_TRACE(2, "Send message failed");
        return;
    }
    DSECT_MSG_typ answer{};
    if (AG_DSECT_comm_message_read(&sess, &answer) != CM_RC_OK) {
        DIAG_TRACE(2, "Confirmation receive failed");
        AG_UTIL_print_error(&sess);
        return;
    }
    const ag_util::NextMessage next = [&sess](DSECT_MSG_typ& more) {
        return AG_DSECT_comm_message_read(&sess, &more) == CM_RC_OK;
    };
    ag_util::handle_reply(answer, reply, next);
    AG_DSECT_message_delete(&answer);
}

CM_RC exchange(DSECT_MSG_typ* out_msg, ag_util::Reply& reply, const std::string& stream_file, int* seq,
               DSECT_HEADER_typ* header, int load_args_flag) {
    static const char* op = "AG_UTIL_send_utils_get";
    std::string host, port;
    const bool persistent = config_or("PERSISTENT_CONNECTION", "") == "Y";
    CM_RC rc = CM_RC_OK;
    if (persistent) {
        host = kLoopback;
        if ((rc = config_value("AR_UT_COMM_PORT", port)) != CM_RC_OK) return missing_key(reply, "AR_UT_COMM_PORT", rc);
    } else {
        if ((rc = config_value("ORVSHOST", host)) != CM_RC_OK) return missing_key(reply, "ORVSHOST", rc);
        if (config_value("UTCMNDATA", port) != CM_RC_OK && (rc = config_value("ATCMNDATA", port)) != CM_RC_OK)
            return missing_key(reply, "UTCMNDATA", rc);
    }
    std::vector<std::string> hosts{host};
    if (!persistent) {
        DSECT_TYPE_typ type = DSECT_TYP_UNKNOWN;
        if ((rc = AG_UTIL_get_msg_typ(out_msg, &type)) != CM_RC_OK) return rc;
        hosts = server_hosts(host, type == DSECT_TYP_PING);
    }
    std::vector<std::string> chunks;
    if (!stream_file.empty() && !load_chunks(stream_file, load_args_flag, chunks)) {
        reply.text.clear();
        reply.append("Failed to load or open file '" + stream_file + "'.");
        return CM_RC_FAIL;
    }
    const int attempts = bounded_number(config_or("COMMRETCNT", "1"), 1, INT_MAX);
    const int pause = bounded_number(config_or("COMMRETSLP", "1"), 0, INT_MAX);
    CM_RC session_error = CM_RC_OK;
    bool opened = false;
    std::size_t used = 0;
    for (std::size_t h = 0; h < hosts.size() && !opened; ++h) {
        for (int attempt = 1; attempt <= attempts && !opened; ++attempt) {
            OS_COMM_line_typ line{};
            line.fd = line.fd_init = -1;
            OS_COMM_sess_typ sess{};
            sess.fd = -1;
            std::vector<char> node = writable(hosts[h]);
            std::vector<char> port_text = writable(port);
            const bool last_try = h + 1 == hosts.size() && attempt == attempts;
            if (OS_PROC_exit_request_get()) {
                /* A process on its way out starts no exchange it would not wait for. */
                reply.text.clear();
                reply.append(kNotSentAtExit);
                return CM_RC_FAIL;
            }
            if (OS_COMM_init(OS_COMM_CLIENT, OS_COMM_PROC_UT, node.data(), port_text.data(), &line) != CM_RC_OK) {
                reply.text.clear();
                reply.append("Failed to initialize communication.");
                if (!last_try) OS_TIME_sleep(pause);
                continue;
            }
            if (OS_COMM_sess_open(&line, &sess) != CM_RC_OK) {
                OS_COMM_shut(&line);
                reply.append("\nOpen Session failed.");
                if (!last_try) OS_TIME_sleep(pause);
                continue;
            }
            opened = true;
            used = h;
            converse(sess, out_msg, chunks, seq, header, reply);
            session_error = OS_COMM_sess_error(&sess);
            OS_COMM_sess_close(&sess);
            OS_COMM_shut(&line);
        }
    }
    if (opened && used > 0) {
        GM_PARAM_load(kConfig, 1);
        if (GM_PARAM_set(kConfig, "ORVSHOST", hosts[used].c_str()) == CM_RC_OK && GM_PARAM_save(kConfig) == CM_RC_OK) {
            DIAG_ERROR("Primary server '%s' replaced by Backup server '%s'", hosts[0].c_str(), hosts[used].c_str());
        } else {
            DIAG_ERROR("%s: failed to record the backup server '%s' in %s", op, hosts[used].c_str(), kConfig);
        }
    }
    return exchange_result(reply, session_error);
}

// Copies the reply into a buffer of the reply's room (moving *buffer when it grew). 12 when the
// buffer cannot grow.
CM_RC give_back(const ag_util::Reply& reply, char** buffer, std::size_t had_room) {
    if (reply.room > had_room) {
        char* bigger = static_cast<char*>(std::realloc(*buffer, reply.room));
        if (!bigger) return AG_UTIL_RC_MEMORY;
        *buffer = bigger;
    }
    const std::size_t length = std::min(reply.text.size(), reply.room - 1);
    std::memcpy(*buffer, reply.text.data(), length);
    (*buffer)[length] = '\0';
    return CM_RC_OK;
}

CM_RC exec_command(const std::string& command, ag_util::Reply& reply, const std::string& stream_file,
                   int load_args_flag) {
    std::string host;
    const CM_RC found = config_value("ORVSHOST", host);
    if (found != CM_RC_OK) return missing_key(reply, "ORVSHOST", found);
    DSECT_HEADER_typ header{};
    DSECT_MSG_typ request{};
    int seq = 1;
    const char* last = stream_file.empty() ? "T" : " ";
    if (AG_DSECT_pack_util_dsect(&header, last, &seq, 1, command.c_str(), &request) != CM_RC_OK) {
        reply.text.clear();
        reply.append("Failed to build the utility request.");
        return CM_RC_FAIL;
    }
    const CM_RC rc = exchange(&request, reply, stream_file, &seq, &header, load_args_flag);
    DSECT_LIST_delete_message(&request);
    return rc;
}

CM_RC ping(ag_util::Reply& reply) {
    DSECT_HEADER_typ header{};
    DSECT_MSG_typ request{};
    const CM_RC packed = AG_DSECT_pack_ping_dsect(&header, &request);
    if (packed != CM_RC_OK) {
        DSECT_LIST_delete_message(&request);
        return missing_key(reply, "ORVSHOST", packed);
    }
    int seq = 1;
    const CM_RC rc = exchange(&request, reply, "", &seq, &header, 0);
    DSECT_LIST_delete_message(&request);
    if (rc == CM_RC_OK) {
        reply.text.clear();
        reply.append("Server is alive.");
    }
    return rc;
}

// How many values follow a keyword of a command line: a job variable's name and value, a condition
// change's name and date, else one.
int values_of(AG_UTIL_PARAM_TYPE code, const std::string& keyword) {
    return code == AG_CONTB || upper(keyword) == "-AUTOEDIT" ? 2 : 1;
}

// A command line over its room is refused whole; false for the caller to return.
bool refuse_long_line(ag_util::Reply& reply) {
    reply.append("The length of arguments exceeds " + std::to_string(AG_UTIL_LINE_MAX + 1) + " bytes\n");
    return false;
}

// The command line of an argument vector, or the short line with the input file it names. A
// keyword stands first and after the values of the keyword before it; an argument in a value's
// place is a value whatever it holds, so only a keyword "-INPUT_FILE" switches to the file. False
// (the reply text saying why) when the line would be too long or the input file does not open:
// nothing is sent then, rather than a line cut short. Every argument is walked, so a line that
// reaches its limit exactly with arguments still to come is refused, not sent without them.
bool command_line(int argc, char** argv, AG_UTIL_PARAM_TYPE code, std::string& line, std::string& stream_file,
                  ag_util::Reply& reply) {
    line = argv[0];
    if (line.size() > AG_UTIL_LINE_MAX) return refuse_long_line(reply);
    int values_due = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i] ? argv[i] : "";
        const bool keyword = values_due == 0 && argument.size() > 1 && argument[0] == '-';
        if (values_due > 0) {
            --values_due;
        } else if (keyword) {
            values_due = values_of(code, argument);
        }
        if (keyword && upper(argument.substr(1)) == kInputFileOption) {
            const char* file = i + 1 < argc && argv[i + 1] ? argv[i + 1] : "";
            const int readable = os_file::open_regular(file, O_RDONLY);
            if (readable >= 0) close(readable);
            if (readable < 0) {
                reply.append(std::string("Failed to load or open file '") + file + "'.");
                return false;
            }
            stream_file = file;
            line = std::string(argv[0]).substr(0, AG_UTIL_SHORT_NAME_MAX) + " \"-" + kInputFileOption + "\"\n";
            return true;
        }
        const std::string text = escaped(argument);
        if (text.size() > AG_UTIL_ARG_MAX) {
            reply.append("The length of argument " + std::to_string(i) + " exceeds " + std::to_string(AG_UTIL_ARG_MAX) +
                         " bytes\n");
            return false;
        }
        if (text.size() + line.size() + 3 > AG_UTIL_LINE_MAX) return refuse_long_line(reply);
        line += " \"" + text + "\"";
    }
    return true;
}

// The whole run of one argument vector.
CM_RC run(int argc, char** argv, ag_util::Reply& reply) {
    for (int i = 0; i < argc; ++i) DIAG_TRACE(3, "Parm %d:'%s'", i, argv[i] ? argv[i] : "");
    GM_PARAM_load(kConfig, 0);
    set_debug_level();
    if (argc < 1 || !argv || !argv[0]) {
        reply.append("Unsupported utility: ''.");
        return CM_RC_FAIL;
    }
    const AG_UTIL_PARAM_TYPE code = AG_UTIL_translate_param(argv[0]);
    std::string line;
    std::string stream_file;
    if (!command_line(argc, argv, code, line, stream_file, reply)) return CM_RC_FAIL;
    switch (code) {
    case AG_NONE: reply.append(std::string("Unsupported utility: '") + argv[0] + "'."); return CM_RC_FAIL;
    case AG_PING: return ping(reply);
    default: {
        const CM_RC rc = exec_command(line, reply, stream_file, 1);
        if (rc != CM_RC_OK && rc != AG_UTIL_RC_TIMEOUT && rc != OS_COMM_ERR_WAITING && line.size() > kLongLineHint)
            std::fputs(kLongLineHintText, stdout);
        return rc;
    }
    }
}

}  // namespace

namespace ag_util {

void Reply::append(std::string_view more) {
    const std::size_t free = room > text.size() + 1 ? room - text.size() - 1 : 0;
    text.append(more.substr(0, free));
}

bool Reply::append_growing(std::string_view more) {
    std::size_t needed = room;
    while (text.size() + more.size() + 1 > needed) needed += AG_UTIL_REPLY_STEP;
    try {
        if (needed > AG_UTIL_REPLY_MAX) throw std::bad_alloc();
        text.reserve(needed);
    } catch (const std::bad_alloc&) {
        DIAG_ERROR("%s: ERROR: Memory allocation failed", "AG_UTIL_send_utils_get");
        result = AG_UTIL_RC_MEMORY;
        return false;
    }
    room = needed;
    text.append(more);
    return true;
}

bool handle_reply(DSECT_MSG_typ& message, Reply& reply, const NextMessage& next) {
    DSECT_LIST_handle_typ list;
    if (DSECT_LIST_mk_from_msg(&list, &message) != CM_RC_OK) return false;
    const DSECT_HEADER_typ header = list.header;
    log_times(header);
    bool continued = false;
    DSECT_ONE_handle_typ record;
    DSECT_ONE_init(&record);
    for (;;) {
        const CM_RC rc = DSECT_LIST_getnext(&list, &record);
        if (rc == CM_RC_END) break;
        if (rc != CM_RC_OK) {
            reply.append(kNoResults);
            break;
        }
        const bool go_on = handle_record(record, header, continued, reply, next);
        DSECT_ONE_delete(&record);
        if (!go_on) break;
    }
    DSECT_ONE_delete(&record);
    DSECT_LIST_delete(&list);
    return true;
}

std::size_t room_of(const char* text) {
    const std::size_t length = text ? std::strlen(text) : 0;
    return (length / AG_UTIL_REPLY_STEP + 1) * AG_UTIL_REPLY_STEP;
}

}  // namespace ag_util

CM_EXTERN_C_BEGIN

AG_UTIL_PARAM_TYPE AG_UTIL_translate_param(char* parameter) {
    if (!parameter) return AG_NONE;
    std::string name = parameter;
    while (!name.empty() && name.back() == ' ') name.pop_back();
    name = upper(name);
    for (const UtilityName& u : kUtilities)
        if (name == u.name) return u.code;
    return AG_NONE;
}

CM_RC AG_UTIL_get_msg_typ(DSECT_MSG_typ* out_msg, DSECT_TYPE_typ* dsect_type) {
    if (!out_msg || !out_msg->message || !dsect_type) return CM_RC_FAIL;
    DSECT_HEADER_typ header{};
    DSECT_ONE_handle_typ record;
    DSECT_ONE_init(&record);
    const CM_RC rc = DSECT_LIST_msg_get_dsect(out_msg, &header, &record);
    if (rc == CM_RC_OK) *dsect_type = record.type;
    DSECT_ONE_delete(&record);
    return rc;
}

CM_RC AG_UTIL_print_error(OS_COMM_sess_typ* sess_id) {
    const CM_RC error = OS_COMM_sess_error(sess_id);
    if (error == OS_COMM_ERR_TIMEOUT || error == OS_COMM_ERR_WAITING) {
        std::fputs(kTimeoutHint, stdout);
        std::fflush(stdout);
    }
    return error;
}

CM_RC AG_UTIL_send_utils_get(DSECT_MSG_typ* out_msg, char** Text, char* stream_file, int* seq,
                             DSECT_HEADER_typ* dsect_header, int load_args_flag) {
    if (!out_msg || !Text || !*Text || !seq || !dsect_header) return CM_RC_FAIL;
    try {
        ag_util::Reply reply;
        reply.room = ag_util::room_of(*Text);
        reply.text = *Text;
        const std::size_t had = reply.room;
        const CM_RC rc = exchange(out_msg, reply, stream_file ? stream_file : "", seq, dsect_header, load_args_flag);
        const CM_RC copied = give_back(reply, Text, had);
        return copied == CM_RC_OK ? rc : copied;
    } catch (...) {
        return AG_UTIL_RC_MEMORY;
    }
}

CM_RC AG_UTIL_exec(char* Command, char** Message, char* stream_file, int load_args_flag) {
    if (!Command || !Message || !*Message) return CM_RC_FAIL;
    try {
        ag_util::Reply reply;
        reply.room = ag_util::room_of(*Message);
        reply.text = *Message;
        const std::size_t had = reply.room;
        const CM_RC rc = exec_command(Command, reply, stream_file ? stream_file : "", load_args_flag);
        const CM_RC copied = give_back(reply, Message, had);
        return copied == CM_RC_OK ? rc : copied;
    } catch (...) {
        return AG_UTIL_RC_MEMORY;
    }
}

CM_RC AG_UTIL_main_dynamic(int p_argc, char** p_argv, char** Message) {
    static const char* op = "AG_UTIL_main_dynamic";
    if (!Message) return CM_RC_FAIL;
    *Message = static_cast<char*>(std::calloc(AG_UTIL_REPLY_STEP, 1));
    if (!*Message) {
        DIAG_ERROR("%s: ERROR: Memeory allocation failed", op);
        return CM_RC_FAIL;
    }
    try {
        ag_util::Reply reply;
        const CM_RC rc = run(p_argc, p_argv, reply);
        const CM_RC copied = give_back(reply, Message, AG_UTIL_REPLY_STEP);
        return copied == CM_RC_OK ? rc : copied;
    } catch (...) {
        DIAG_ERROR("%s: ERROR: Memeory allocation failed", op);
        return AG_UTIL_RC_MEMORY;
    }
}

CM_RC AG_UTIL_main(int p_argc, char** p_argv, char* Message, unsigned long MessageSize) {
    if (Message && MessageSize > 0) std::memset(Message, 0, MessageSize);
    char* reply = nullptr;
    const CM_RC rc = AG_UTIL_main_dynamic(p_argc, p_argv, &reply);
    if (reply) {
        if (Message && MessageSize > 0) {
            const std::size_t length = std::min<std::size_t>(std::strlen(reply), MessageSize - 1);
            std::memcpy(Message, reply, length);
            Message[length] = '\0';
        }
        std::free(reply);
    }
    return rc;
}

CM_RC AG_UTIL_main_2(char* fileName, char* sectionName, char* commandName, ZPAAttrList* inListAttr, char* p_message,
                     ZPAError* Error) {
    if (!commandName || !p_message) return CM_RC_FAIL;
    std::vector<std::string> arguments;
    const auto add = [&arguments](const char* name, const char* value) {
        const std::string key = name ? name : "";
        if (key.size() >= 3 && key.compare(0, 2, "%%") == 0) {
            arguments.insert(arguments.end(), {"-AUTOEDIT", key, value ? value : ""});
        } else {
            arguments.insert(arguments.end(), {"-" + key, value ? value : ""});
        }
    };
    try {
        arguments.push_back(commandName);
        for (int i = 0; inListAttr && i < inListAttr->Count; ++i)
            add(inListAttr->Attributes[i].Name, inListAttr->Attributes[i].Value);
        if (fileName && *fileName) {
            ZPALIST_handle_typ sections{};
            ZPALIST_handle_typ* rows = nullptr;
            const std::string section = upper(sectionName ? sectionName : "");
            if (GM_PARAM_subtable_load_file(&sections, fileName) != CM_RC_OK) {
                if (Error) ZPAAPI_UTILS_ErrorSet(Error, 1, "WARNING : Failed to load tablefrom file '%s'.", fileName);
            } else if (GM_PARAM_subtable_list_find(&sections, section.c_str(), &rows) != CM_RC_OK) {
                if (Error)
                    ZPAAPI_UTILS_ErrorSet(Error, 1, "WARNING : Failed to read subsection '%s'.", section.c_str());
            } else {
                char* key = nullptr;
                void* value = nullptr;
                while (GM_PARAM_list_next(rows, &key, &value) == CM_RC_OK) add(key, static_cast<const char*>(value));
            }
            GM_PARAM_subtable_list_clear(&sections);
        }
    } catch (const std::bad_alloc&) {
        if (Error) ZPAAPI_UTILS_ErrorSet(Error, 2, "%s", "Error : Allocation memory problem !!!!!");
        return CM_RC_FAIL;
    }
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    char message[2048] = {};
    const CM_RC rc = AG_UTIL_main(static_cast<int>(argv.size()), argv.data(), message, sizeof message);
    if (rc != CM_RC_OK && Error) ZPAAPI_UTILS_ErrorSet(Error, static_cast<ZPAErrorCode>(rc), "%s", message);
    std::memcpy(p_message, message, sizeof message);
    return rc;
}

CM_EXTERN_C_END
