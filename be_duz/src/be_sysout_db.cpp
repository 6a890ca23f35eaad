/* The job's output from the database: the table of the request tree (the submitted request and its
 * children with phase, status, times and completion text), then request by request the concurrent
 * log and output files, read line by line inside the database through the plug-in's package
 * QEL_file over the directory objects QEL_LOG_DIR and QEL_OUT_DIR. */
#include "be_def.h"
#include "be_internal.h"
#include "be_job_internal.h"
#include "gm_param.h"
#include "gm_param_internal.h"
#include "gm_str.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using be_job::attr;
using be_job::non_empty;

constexpr const char* kTreeSql =
    "SELECT DISTINCT c.request_id, 'PARENT:'||c.PRIORITY_REQUEST_ID, c.phase_code, c.status_code, "
    "'MSG:'||c.completion_text, 'NULL='||TO_CHAR(c.ACTUAL_START_DATE, 'YYYY/MM/DD HH24:MI'), "
    "'NULL='||TO_CHAR(c.ACTUAL_COMPLETION_DATE, 'YYYY/MM/DD HH24:MI'), a.application_short_name, "
    "(SELECT DISTINCT t.USER_CONCURRENT_PROGRAM_NAME FROM fnd_concurrent_programs_tl t WHERE t.LANGUAGE(+) = "
    "USERENV('LANG') AND t.CONCURRENT_PROGRAM_ID = b.concurrent_program_id AND t.application_id = b.application_id "
    "AND upper(t.USER_CONCURRENT_PROGRAM_NAME) != 'REQUEST SET STAGE'), 'NULL='||c.OUTFILE_NAME, "
    "'NULL='||c.LOGFILE_NAME, NVL(c.hold_flag,'N'), c.LOGFILE_NODE_NAME FROM (SELECT level, request_id, "
    "PRIORITY_REQUEST_ID, PROGRAM_APPLICATION_ID, concurrent_program_id, phase_code, status_code, completion_text, "
    "ACTUAL_START_DATE, ACTUAL_COMPLETION_DATE, OUTFILE_NAME, LOGFILE_NAME, hold_flag, LOGFILE_NODE_NAME FROM "
    "fnd_concurrent_requests WHERE nvl(request_type, 'X') != 'S' START WITH request_id = :ID CONNECT BY PRIOR "
    "request_id = parent_request_id) c, fnd_application a, fnd_concurrent_programs b WHERE a.application_id = "
    "c.PROGRAM_APPLICATION_ID AND b.application_id = c.PROGRAM_APPLICATION_ID AND b.concurrent_program_id = "
    "c.concurrent_program_id ORDER BY c.request_id";
constexpr const char* kDatabaseHostSql = " select host_name from v$instance ";
constexpr const char* kOpenFileSql = "BEGIN :rc := QEL_file.init(:pdir, :pname); END;";
constexpr const char* kReadLineSql = "BEGIN \n:rc := QEL_file.read_line(:pvalue); \nEnd;";
constexpr const char* kCloseFileSql = "BEGIN QEL_FILE.close; END;\n";
#define BE_SYSOUT_ALIAS_SQL(object)                                                                                 \
    " DECLARE v_exist int;  BEGIN  select count(*) into v_exist from dba_directories where DIRECTORY_NAME='" object \
    "' and DIRECTORY_PATH=:dir_name;  if v_exist = 0 then  EXECUTE IMMEDIATE 'CREATE OR REPLACE "                   \
    "DIRECTORY " object " as '''||:dir_name||'''';   END IF;  END;"
constexpr const char* kLogAliasSql = BE_SYSOUT_ALIAS_SQL("QEL_LOG_DIR");
constexpr const char* kOutAliasSql = BE_SYSOUT_ALIAS_SQL("QEL_OUT_DIR");

constexpr const char* kHeaderFormat = "%-15.15s|%-15.15s|%-15.15s|%-15.15s|%-16.16s|%-16.16s|%-15.15s|%.10s\n";
constexpr const char* kRowFormat = "%-15.15s|%-15.15s|%-15.d|%-15.d|%-16.16s|%-16.16s|%-15.15s|%s\n";
constexpr const char* kFileHeader = ">>>>>>>>>>%s\n";
constexpr const char* kNoLogText = "\nUser has requested not to copy Log file into Sysout.\n";
/* Rows and lines between two flushes of the sysout. */
constexpr int kFlushEvery = 20;
/* Rooms of the directory and file name binds, of a line read in the database, of the host name. */
constexpr int kNameRoom = 256;
constexpr int kLineRoom = 1001;
constexpr int kHostRoom = 65;

/* One row of the tree query. */
struct OutputRow {
    int request_id = 0;
    char parent[61] = "";
    char phase[81] = "";
    char status[81] = "";
    char message[256] = "";
    char start[31] = "";
    char end[31] = "";
    char app[52] = "";
    char program[241] = "";
    char out_file[256] = "";
    char log_file[256] = "";
    char hold[3] = "";
    char node[241] = "";
};

/* The text after the first c of a column ("PARENT:", "MSG:", "NULL="): empty when c is absent. */
const char* after(const char* text, char c) {
    const char* p = std::strchr(text, c);
    return p != nullptr ? p + 1 : "";
}

std::string account_value(ZPALIST_handle_typ* inst_list, const char* key, bool* found = nullptr) {
    char* value = nullptr;
    const bool have = inst_list != nullptr && GM_PARAM_list_get_ptr(inst_list, key, &value) == CM_RC_OK && value;
    if (found != nullptr) *found = have;
    return have ? value : "";
}

std::string upper(const char* text) {
    std::string value = text != nullptr ? text : "";
    GM_STR_toupper(value.data());
    return value;
}

ZPARC logged(ZPARC rc, const char* what, ZPAError* Error) {
    DIAG_printf("%s %s", what, Error != nullptr ? Error->text : "");
    return rc;
}

/* A write the sysout refused (a full disk, the file-size limit; `why` is its errno) fails the
 * build as a failed fetch does: an output cut short is never kept as the job's output. */
ZPARC write_failed(int why, ZPAError* Error) {
    BE_DUZ_UpdateErrorSet(Error, 1, "Failed to write the sysout file: %s", std::strerror(why));
    return logged(1, "Error writing to sysout.", Error);
}

/* The lines of one file of the concurrent-processing node, opened in the package. A write the
 * sysout refuses ends the copy and fails it (the error record says why); the stream's error flag
 * tells the callers. */
void copy_file(BE_DUZ_Handles* session, const char* object, const std::string& name, FILE* sysout, ZPAError* Error) {
    be_sql::Statement stmt(session, Error);
    int rc_value = -1;
    char dir[kNameRoom] = "";
    char file[kNameRoom] = "";
    std::snprintf(dir, sizeof dir, "%s", object);
    std::snprintf(file, sizeof file, "%s", name.c_str());
    if (stmt.prepare(kOpenFileSql) != 0) {
        logged(1, "Failed to OCIStmtPrepare", Error);
        return;
    }
    if (stmt.bind_int(":rc", &rc_value) != 0 || stmt.bind_text(":pdir", dir, sizeof dir) != 0 ||
        stmt.bind_text(":pname", file, sizeof file) != 0) {
        logged(1, "Failed in OCIBindByName", Error);
        return;
    }
    if (stmt.execute() != 0 || rc_value != 0) {
        DIAG_printf("Error on open outputfile.");
        BE_DUZ_UpdateErrorSet(Error, 1, "Fail to open outputfile '%s'", name.c_str());
        return;
    }
    char line[kLineRoom] = "";
    sb2 line_indicator = 0;
    int refused = 0;  // errno of the write the sysout refused
    if (stmt.prepare(kReadLineSql) != 0) {
        logged(1, "Failed to OCIStmtPrepare", Error);
    } else if (stmt.bind_int(":rc", &rc_value) != 0 ||
               stmt.bind_text(":pvalue", line, sizeof line, &line_indicator) != 0) {
        logged(1, "Failed in OCIBindByName", Error);
    } else {
        for (int lines = 0;; ++lines) {
            line[0] = '\0';
            rc_value = -1;
            const sword status =
                OCIStmtExecute(session->svchp, session->stmthp, session->errhp, 1, 0, nullptr, nullptr, OCI_DEFAULT);
            if (status == OCI_NO_DATA) break;
            if (BE_DUZ_OCI_error(session->errhp, status, Error) != 0) {
                BE_DUZ_UpdateErrorSet(Error, 1,
                                      lines == 0
                                          ? "Failed to read first line in Oracle via OCIStmtExecute"
                                          : "Failed to read next line in output file in Oracle via OCIStmtExecute");
                break;
            }
            if (rc_value == 1 || rc_value == 2) break;
            if (line_indicator == -1) line[0] = '\0';
            if (rc_value == 0)
                std::fprintf(sysout, "%s\n", line);
            else if (rc_value == 3)
                std::fputs("\n", sysout);
            else
                std::fputs("......\n", sysout);
            if ((lines + 1) % kFlushEvery == 0) std::fflush(sysout);
            if (std::ferror(sysout)) {
                refused = errno != 0 ? errno : EIO;
                break;
            }
        }
    }
    if (stmt.prepare(kCloseFileSql) != 0 || stmt.execute() != 0)
        DIAG_printf("Failed to close output file in Oracle via OCIStmtExecute");
    if (refused != 0) write_failed(refused, Error);
}

}  // namespace

CM_EXTERN_C_BEGIN

ZPARC BE_DUZ_OS_SOCKET_host_2_addr(const char* host, struct sockaddr_in* addr) {
    if (host == nullptr || addr == nullptr) return 2;
    std::memset(addr, 0, sizeof *addr);
    addr->sin_family = AF_INET;
    if (inet_pton(AF_INET, host, &addr->sin_addr) == 1) return 1;
    struct addrinfo hints {};
    hints.ai_family = AF_INET;
    struct addrinfo* found = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) return 2;
    addr->sin_addr = reinterpret_cast<struct sockaddr_in*>(found->ai_addr)->sin_addr;
    freeaddrinfo(found);
    return 1;
}

ZPARC BE_SYSOUT_create_alias_dir(const char* dirname, BE_DUZ_LOG_OR_OUT out_or_log, BE_DUZ_Handles* SYSOUT_handle,
                                 ZPAError* Error) {
    try {
        be_sql::Statement stmt(SYSOUT_handle, Error);
        ZPARC rc = stmt.prepare(out_or_log == OUT_FILE ? kOutAliasSql : kLogAliasSql);
        if (rc != 0) return logged(rc, "Failed in OCIStmtPrepare for create temp sysout dir", Error);
        if ((rc = stmt.bind_text_copy(":dir_name", dirname != nullptr ? dirname : "", kNameRoom)) != 0)
            return logged(rc, "Failed in bind dir_name", Error);
        if ((rc = stmt.execute()) != 0) return logged(rc, "Failed in OCIStmtExecute for create temp sysout dir", Error);
        return 0;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_SYSOUT_create_alias_dir");
        return 1;
    }
}

ZPARC BE_sysout_output_to_file(BE_DUZ_Handles* SYSOUT_handle, ZPALIST_handle_typ* inst_list, FILE* sysout_file,
                               int count, ZPALIST_handle_typ* filelist, const char* apphost,
                               BE_DUZ_LOG_OR_OUT out_or_log, ZPAError* Error) {
    (void)count;
    if (sysout_file == nullptr || filelist == nullptr) return 1;
    try {
        if (!non_empty(apphost)) {
            DIAG_printf("Fail to retrieve value of application host from Oracle DB at the moment");
            DIAG_printf("No concurrent log and output will be retrieved");
            return 1;
        }
        bool have_package_key = false;
        const std::string package = account_value(inst_list, "DUZ-LOAD_DBPKG", &have_package_key);
        if (!have_package_key || package != "Y") {
            if (!have_package_key)
                DIAG_printf("Fail to retrieve '%s'", "DUZ-LOAD_DBPKG");
            else
                DIAG_printf("PL/SQL Package was not loaded");
            DIAG_printf("No concurrent log and output will be retrieved");
            return 1;
        }
        const bool log = out_or_log == LOG_FILE;
        const char* object = log ? "QEL_LOG_DIR" : "QEL_OUT_DIR";
        GM_PARAM_VALUE_typ manual = "";
        if (GM_PARAM_get("OEBS", "QEL_UPDATE_MANUALLY_OUT_AND_LOG_DIR", manual) != CM_RC_OK) {
            BE_TRACE(4, "Key '%s' not found. Using default value.", "QEL_UPDATE_MANUALLY_OUT_AND_LOG_DIR");
            manual[0] = '\0';
        }
        const bool point_directory = std::strcmp(manual, "Y") != 0;

        GM_PARAM_list_reset(filelist);
        char* key = nullptr;
        void* value = nullptr;
        while (GM_PARAM_list_next(filelist, &key, &value) == CM_RC_OK) {
            const std::string path = static_cast<const char*>(value);
            if (std::fprintf(sysout_file, kFileHeader, path.c_str()) < 0 || std::ferror(sysout_file))
                return write_failed(errno, Error);
            std::size_t split = path.rfind('/');
            const bool windows = split == std::string::npos;
            if (windows) split = path.rfind('\\');
            if (split == std::string::npos) {
                BE_DUZ_UpdateErrorSet(Error, 1, "Failed to set directory name");
                return 1;
            }
            std::string directory = path.substr(0, split);
            const std::string name = path.substr(split + 1);

            char db_host[kHostRoom] = "";
            {
                be_sql::Statement stmt(SYSOUT_handle, Error);
                ZPARC rc = stmt.prepare(kDatabaseHostSql);
                if (rc == 0 && (rc = stmt.define_text(1, db_host, sizeof db_host)) != 0) {
                    logged(rc, "Fail to DEFINE  dbname", Error);
                    break;
                }
                if (rc == 0) rc = stmt.execute();
                if (rc != 0) {
                    logged(rc, "Failed in OCIStmtExecute for dbanme", Error);
                    break;
                }
            }
            if (windows && std::strcmp(apphost, db_host) != 0) {
                struct sockaddr_in address {};
                if (BE_DUZ_OS_SOCKET_host_2_addr(apphost, &address) != 1) {
                    BE_DUZ_UpdateErrorSet(Error, 1, "Failed in BE_DUZ_OS_SOCKET_host_2_addr");
                    break;
                }
                char dotted[INET_ADDRSTRLEN] = "";
                inet_ntop(AF_INET, &address.sin_addr, dotted, sizeof dotted);
                directory = std::string("////") + dotted + (log ? "\\QelLog" : "\\QelOut");
            }
            if (point_directory) {
                /* The directory is pasted into CREATE DIRECTORY: one holding a quote is refused. */
                if (directory.find('\'') != std::string::npos) {
                    BE_DUZ_UpdateErrorSet(Error, 1, "The directory of file '%s' holds a quote: the file is not read",
                                          path.c_str());
                    DIAG_printf("%s", Error != nullptr ? Error->text : "");
                    continue;
                }
                if (BE_SYSOUT_create_alias_dir(directory.c_str(), out_or_log, SYSOUT_handle, Error) != 0)
                    DIAG_printf("Failed in create temp sysout dir. %s", Error != nullptr ? Error->text : "");
            }
            copy_file(SYSOUT_handle, object, name, sysout_file, Error);
            if (std::ferror(sysout_file)) return 1;
        }
        if (std::fflush(sysout_file) != 0) return write_failed(errno, Error);
        return 0;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_sysout_output_to_file");
        return 1;
    }
}

ZPARC BE_sysout_db_to_file(BE_DUZ_Handles* DUZ_handle, int root_req_id, FILE* sysout_file, ZPAConnHandle* Connection,
                           ZPAAttrList* Attributes, ZPALIST_handle_typ* inst_list, ZPAError* Error) {
    (void)Connection;
    if (sysout_file == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "sysout File Pointer is NULL.");
        return 1;
    }
    try {
        const char* wait_attr = attr(Attributes, "DUZ-WAITCHILD");
        const std::string wait =
            wait_attr != nullptr ? upper(wait_attr) : upper(account_value(inst_list, "DUZ-WAITCHILD").c_str());
        const bool root_only = !wait.empty() && wait[0] == 'N';

        be_sql::Statement stmt(DUZ_handle, Error);
        OutputRow row;
        ZPARC rc = stmt.prepare(kTreeSql);
        if (rc != 0) return logged(rc, "Fail to prepare statement BE_DUZ_SYSOUT_SQL", Error);
        if ((rc = stmt.bind_int(":ID", &root_req_id)) != 0) return logged(rc, "Fail to bind req_id.", Error);
        struct Column {
            char* buffer;
            int size;
            const char* failure;
        };
        const Column columns[] = {
            {row.parent, sizeof row.parent, "Fail to define parent_req_id."},
            {row.phase, sizeof row.phase, "Fail to define phase_code."},
            {row.status, sizeof row.status, "Fail to define status_code."},
            {row.message, sizeof row.message, "Fail to define completion_text."},
            {row.start, sizeof row.start, "Fail to define start_time."},
            {row.end, sizeof row.end, "Fail to define end_time."},
            {row.app, sizeof row.app, "Fail to define app_name."},
            {row.program, sizeof row.program, "Fail to define prog_name."},
            {row.out_file, sizeof row.out_file, "Fail to define outfile_name."},
            {row.log_file, sizeof row.log_file, "Fail to define logfile_name."},
            {row.hold, sizeof row.hold, "Fail to define hold_flag."},
            {row.node, sizeof row.node, "Fail to define logfile_node_name."},
        };
        if ((rc = stmt.define_int(1, &row.request_id)) != 0) return logged(rc, "Fail to define req_id.", Error);
        for (ub4 position = 2; position <= 13; ++position) {
            const Column& column = columns[position - 2];
            if ((rc = stmt.define_text(position, column.buffer, column.size)) != 0)
                return logged(rc, column.failure, Error);
        }
        /* A tree of many requests comes in a few round trips, not one a row. */
        if ((rc = stmt.set_prefetch(BE_DUZ_LIST_PREFETCH_ROWS)) != 0 || (rc = stmt.execute_no_fetch()) != 0)
            return logged(rc, "Fail to execute BE_DUZ_SYSOUT_SQL", Error);

        std::fprintf(sysout_file, kHeaderFormat, " PROGRAM NAME  ", "   APP NAME    ", "  REQUEST ID   ",
                     "PARENT REQUEST ", "   START TIME  ", "    END TIME   ", "    STATUS     ", "MESSAGE");
        if (std::ferror(sysout_file)) return write_failed(errno, Error);
        be_param_list outputs;
        be_param_list logs;
        gm_param::RowBuilder output_rows(&outputs.list);
        gm_param::RowBuilder log_rows(&logs.list);
        std::string apphost;
        for (int rows = 0;; ++rows) {
            const be_sql::Fetch got = stmt.fetch();
            if (got == be_sql::Fetch::End) break;
            /* A failed fetch fails the build: a table cut short is never kept as the job's output. */
            if (got == be_sql::Fetch::Error) return logged(1, "Fail to fetch BE_DUZ_SYSOUT_SQL", Error);
            const std::string id = std::to_string(row.request_id);
            if (non_empty(after(row.out_file, '='))) output_rows.append(id.c_str(), after(row.out_file, '='));
            if (non_empty(after(row.log_file, '='))) log_rows.append(id.c_str(), after(row.log_file, '='));
            apphost = row.node;
            const int parent = std::atoi(after(row.parent, ':'));
            BE_DUZ_req_status(row.phase, row.status, row.hold);
            BE_DUZ_interpret_status(row.phase, row.status);
            std::fprintf(sysout_file, kRowFormat, row.program, row.app, row.request_id,
                         parent > 0 ? parent : row.request_id, after(row.start, '='), after(row.end, '='), row.status,
                         after(row.message, ':'));
            if ((rows + 1) % kFlushEvery == 0) std::fflush(sysout_file);
            if (std::ferror(sysout_file)) return write_failed(errno, Error);
            if (root_only) break;
        }

        const char* display_log = attr(Attributes, "DUZ-DISPLAY_LOGFILE");
        if (non_empty(display_log) && upper(display_log) == "N") {
            if (std::fputs(kNoLogText, sysout_file) < 0) return write_failed(errno, Error);
        } else if (!apphost.empty()) {
            BE_sysout_output_to_file(DUZ_handle, inst_list, sysout_file, 0, &logs.list, apphost.c_str(), LOG_FILE,
                                     Error);
            if (std::ferror(sysout_file)) return 1;  // the error record says why
        } else {
            BE_TRACE(2, "Application host name for log file has empty value.");
        }

        const char* display_output = attr(Attributes, "DUZ-DISPLAY_OUTPUT");
        bool outputs_wanted;
        if (non_empty(display_output))
            outputs_wanted = upper(display_output)[0] == 'Y';
        else
            outputs_wanted = attr(Attributes, "DUZ-FORM_VERSION") == nullptr &&
                             upper(account_value(inst_list, "DUZ-CONFIG_DISPLAYOUTPUT").c_str()).rfind('Y', 0) == 0;
        if (outputs_wanted)
            BE_sysout_output_to_file(DUZ_handle, inst_list, sysout_file, 0, &outputs.list, apphost.c_str(), OUT_FILE,
                                     Error);
        if (std::ferror(sysout_file)) return 1;
        if (std::fflush(sysout_file) != 0) return write_failed(errno, Error);
        return 0;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_sysout_db_to_file");
        return 1;
    }
}

CM_EXTERN_C_END
