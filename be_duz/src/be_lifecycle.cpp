/* The plug-in's door: the life-cycle entry points the agent calls (init, connect, disconnect, term,
 * attribute release, version), the per-process set-up on the first connection, the session of a
 * named account without a connection, the search for a request's account name, the rule that names
 * the process log, and the child-reaping signal handler. */
#include "be_def.h"
#include "be_internal.h"
#include "gm_param.h"
#include "gm_param_internal.h"
#include "gm_xml.h"
#include "os_file_nofollow.h"
#include "os_lib.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <string_view>

namespace {

constexpr const char* kInstanceKey = "DUZ-INSTANCE";
constexpr const char* kUndefinedReqType = "UNDEFINED";
/* Room of the account's own NLS_LANG and of table OEBS's (99 characters and the terminator). */
constexpr int kNlsLangSize = 100;
/* Room in which an account name is read before it is checked against BE_DUZ_INSTANCE_NAME_SIZE. */
constexpr int kNameReadSize = 4096;

/* Process-wide set-up state, shared by every connection of the process. */
struct ProcessState {
    std::mutex mutex;
    bool first_call = true;    /* cleared once the diagnostic log is set up */
    bool isCMreloaded = false; /* set once the plug-in's own library file is attached */
};

ProcessState& process_state() {
    static ProcessState state;
    return state;
}

using be_duz::attr;
using be_duz::non_empty;

/* The XML reader also hands out the element's last attribute; these requests have no use for it. */
struct XmlAttribute {
    char name[256] = "";
    char value[1024] = "";
};

/* Outcome of the account-name search. */
enum class NameSearch { Found, NotFound, TooLong };

/* Copies a found name; a name that does not fit the caller's room is refused, never cut. */
NameSearch take_name(std::string_view name, char* inst_name, std::string* too_long) {
    if (name.size() > BE_DUZ_INSTANCE_NAME_SIZE - 1) {
        if (too_long != nullptr) *too_long = std::string(name);
        return NameSearch::TooLong;
    }
    std::memcpy(inst_name, name.data(), name.size());
    inst_name[name.size()] = '\0';
    return NameSearch::Found;
}

/* Reads key from a key/value work file into a room large enough to tell an over-long value. */
bool file_value(const char* path, const char* key, std::string* value) {
    std::string room(kNameReadSize, '\0');
    if (BE_DUZ_file_get(path, key, kNameReadSize - 1, room.data(), nullptr) != 0) return false;
    *value = room.c_str();
    return true;
}

NameSearch search_instance(ZPAAttrList* Attributes, char* inst_name, std::string* too_long) {
    const char* value = attr(Attributes, kInstanceKey);
    if (non_empty(value)) return take_name(value, inst_name, too_long);

    value = attr(Attributes, "TEXT");
    if (value != nullptr) {
        if (*value == '\0') return take_name("", inst_name, too_long);
        std::string name(kNameReadSize, '\0');
        XmlAttribute unused;
        if (GM_XML_ParseBody(value, kInstanceKey, name.data(), kNameReadSize, unused.name, sizeof unused.name,
                             unused.value, sizeof unused.value) == CM_RC_OK &&
            name[0] != '\0')
            return take_name(name.c_str(), inst_name, too_long);
    }

    value = attr(Attributes, "SHOUT_DESTINATION");
    if (value != nullptr) {
        if (*value == '\0') return take_name("", inst_name, too_long);
        const char* colon = std::strchr(value, ':');
        if (colon == nullptr) return NameSearch::NotFound;
        return take_name(std::string_view(value, static_cast<std::size_t>(colon - value)), inst_name, too_long);
    }

    const char* orderno = attr(Attributes, "ORDERNO");
    const char* runno = attr(Attributes, "RUNNO");
    if (orderno == nullptr || runno == nullptr) return NameSearch::NotFound;
    if (be_run_number(runno) < 1) {
        orderno = attr(Attributes, "MEMLIB");
        runno = attr(Attributes, "MEMNAME");
        if (orderno == nullptr || runno == nullptr || be_run_number(runno) < 1) return NameSearch::NotFound;
    }
    PATHNAME_D_typ path = "";
    std::string name;
    BE_DUZ_build_procid_fname(path, orderno, runno);
    if (file_value(path, kInstanceKey, &name)) return take_name(name, inst_name, too_long);

    char backup_key[sizeof "%%" + sizeof "DUZ-INSTANCE"];
    std::snprintf(backup_key, sizeof backup_key, "%s%s", "%%", kInstanceKey);
    BE_DUZ_build_backup_fname(path, orderno, runno);
    if (file_value(path, backup_key, &name)) return take_name(name, inst_name, too_long);
    return NameSearch::NotFound;
}

/* The accounts file or a central profile's cache file, loaded whole, with the account's section. */
struct Accounts {
    ZPALIST_handle_typ all;
    ZPALIST_handle_typ* section = nullptr;
    PATHNAME_D_typ path = "";
    Accounts() { ZPALIST_init(&all); }
    ~Accounts() { BE_DUZ_subtable_list_clear(&all); }
    Accounts(const Accounts&) = delete;
    Accounts& operator=(const Accounts&) = delete;

    /* Central profile when its cache file can be had, else the local accounts file. */
    void choose_file(const char* account, const char* req_type, ZPAAttrList* request, ZPAError* Error) {
        char cache_name[BE_DUZ_CCP_NAME_SIZE] = "";
        if (BE_DUZ_load_ccp_data_to_file(account, cache_name, req_type, request, Error) == 0 &&
            BE_DUZ_full_ccp_file_path(cache_name, path) == 0)
            return;
        std::snprintf(path, sizeof path, "./data/%s.dat", BE_DUZ_ACCOUNTS_FILE_NAME);
    }

    /* 0, or 1 with the reason in the error record. An empty file is a failure here. */
    ZPARC load(const char* account, ZPAError* Error) {
        if (GM_PARAM_subtable_load_file(&all, path) != CM_RC_OK || ZPALIST_count(&all) == 0) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to load account file '%s'.", path);
            return 1;
        }
        // Section names are upper-cased when a file is read, so the account is sought the same way:
        // an account given as "fin" is the file's [fin] section, read as FIN.
        std::string name(account);
        gm_param::to_upper(name);
        if (GM_PARAM_subtable_list_find(&all, name.c_str(), &section) != CM_RC_OK || section == nullptr) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to load account '%s' from file %s", account, path);
            return 1;
        }
        return 0;
    }
};

/* An attribute list built by the plug-in, released with it. */
struct OwnedAttrList {
    ZPAAttrList list{0, nullptr, 0};
    ~OwnedAttrList() {
        if (list.Attributes != nullptr) ZPAAPI_utils_release_attr(&list);
    }
};

BE_DUZ_Handles* new_session_record() {
    auto* handle = static_cast<BE_DUZ_Handles*>(std::malloc(sizeof(BE_DUZ_Handles)));
    if (handle != nullptr) BE_DUZ_OCI_Init_Handle(handle);
    return handle;
}

/* Sets an Oracle variable for the session about to open; the record keeps its "NAME=value". */
void set_env(const char* name, const char* value, char** kept) {
    if (BE_DUZ_set_oracle_env(name, value, kept) != 0) DIAG_printf("Failed to set %s in the environment", name);
}

/* An Oracle variable of the watcher's sessions, from table OEBS only: always (empty when the key is
 * missing) or only when the key is there. */
void env_from_oebs_table(const char* name, bool always, char** kept) {
    GM_PARAM_VALUE_typ value = "";
    const bool found = GM_PARAM_get("OEBS", name, value) == CM_RC_OK;
    if (!found && !always) return;
    if (!found) value[0] = '\0';
    set_env(name, value, kept);
}

/* The log set-up and the attach of the plug-in's library file, once per process. */
ZPARC attach_cm_library(ZPAAttrList* connection_attrs, ZPAError* Error) {
    const char* lib_name = attr(connection_attrs, "CM_LIB_NAME");
    if (lib_name == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to get CM_LIB_NAME.");
        return 1;
    }
    const char* cm_dir = attr(connection_attrs, "CM_DIR");
    if (cm_dir == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 2, "Failed to get CM_DIR.");
        return 2;
    }
    ProcessState& state = process_state();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.isCMreloaded) return 0;
    PATHNAME_D_typ path = "";
    std::snprintf(path, sizeof path, "%s/lib_%s.so", cm_dir, lib_name);
    void* handle = nullptr;
    char error_text[OS_LIB_ERROR_LEN] = "";
    if (OS_LIB_attach(&handle, path, error_text) != CM_RC_OK || handle == nullptr) {
        DIAG_printf("%s", error_text);
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to re-attach cm library.");
        return 1;
    }
    /* Kept attached for the life of the process. */
    state.isCMreloaded = true;
    return 0;
}

/* Step of Connect that decides, from the request type, whether the connection goes on to a
 * session. Returns true to go on; false with *rc the call's result. */
bool request_needs_session(ZPAAttrList* Attributes, ZPAAttrList* connection_attrs, ZPAError* Error, ZPARC* rc) {
    const char* req_type = attr(Attributes, "REQTYPE");
    if (!non_empty(req_type)) return true;
    const std::string_view type = req_type;
    if (type == "SUBMIT") {
        const char* form_version = attr(Attributes, "DUZ-FORM_VERSION");
        const char* version = attr(connection_attrs, "VERSION");
        if (form_version != nullptr && version != nullptr && std::strcmp(form_version, version) != 0)
            DIAG_printf("Warning: the job form version '%s' differs from the expected version '%s'", form_version,
                        version);
        return true;
    }
    if (type == "DWNSYS") {
        const char* orderno = attr(Attributes, "ORDERNO");
        const char* runno = attr(Attributes, "RUNNO");
        if (orderno == nullptr || runno == nullptr) {
            *rc = 1;
            return false;
        }
        PATHNAME_D_typ path = "";
        BE_DUZ_build_procid_fname(path, orderno, runno);
        struct stat status {};
        if (::stat(path, &status) != 0) {
            BE_TRACE(4, "procid file '%s' does not exist: the job has ended", path);
            *rc = 0;
            return false;
        }
        return true;
    }
    if (type == "SYSHND") {
        *rc = 0;
        return false;
    }
    if (type == "NEWDAY") {
        if (BE_DUZ_clean_ccp_cache_file(Attributes, Error) != 0)
            BE_DUZ_UpdateErrorSet(Error, 0, "Error Cleaning ccp cache folder");
        *rc = 0;
        return false;
    }
    if (type == "JCLDOC") {
        const char* task_type = attr(Attributes, "TASKTYPE");
        if (task_type != nullptr && std::strcmp(task_type, "D") == 0) {
            BE_DUZ_UpdateErrorSet(Error, 1, "View documentation is implemented by CM OS.");
            *rc = 1;
            return false;
        }
    }
    return true;
}

/* Records a session that failed for an Oracle reason in the job's failure row. */
void record_session_failure(ZPAAttrList* Attributes, ZPAError* Error) {
    const char* orderno = attr(Attributes, "ORDERNO");
    const char* runno = attr(Attributes, "RUNNO");
    if (!non_empty(orderno) || !non_empty(runno)) return;
    char message[BE_JOB_FAILURE_MSG_SIZE] = "";
    BE_SYSOUT_create_job_failure_msg(Error, message);
    BE_JOB_write_jobs_failure_file(orderno, runno, message);
}

ZPARC connect(ZPABeHandle* BackEnd, ZPAConnHandle* Connection, ZPAAttrList* Attributes, ZPAError* Error) {
    const char* log_name = BE_DUZ_LOG_NAME_CM;
    BE_DUZ_get_logname(Attributes, &log_name);
    BE_DUZ_init_logfile(log_name);
    BE_TRACE(4, "Starting: '%s'", "ZPAAPI_Connect");

    BE_ENV_update_encryption(Error);

    if (Connection == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Connection handle is NULL.");
        return 1;
    }
    ZPAAttrList* connection_attrs = &Connection->Attributes;
    ZPARC rc = attach_cm_library(connection_attrs, Error);
    if (rc != 0) return rc;

    char action[BE_DUZ_ACTION_NAME_SIZE] = "";
    if (BackEnd != nullptr) {
        Connection->UserData = nullptr;
        const char* text = attr(Attributes, "TEXT");
        XmlAttribute unused;
        if (non_empty(text))
            GM_XML_ParseHeader(text, "ACTION", action, sizeof action, unused.name, sizeof unused.name, unused.value,
                               sizeof unused.value);
        if (std::strcmp(action, "GetCMInstance") == 0) return 0;
    }

    if (!request_needs_session(Attributes, connection_attrs, Error, &rc)) return rc;

    if (BE_DUZ_PKM_isPKMrequest(action)) return 0;

    char account[BE_DUZ_INSTANCE_NAME_SIZE] = "";
    std::string too_long;
    const NameSearch found = search_instance(Attributes, account, &too_long);
    if (found == NameSearch::TooLong) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Account name '%.*s...' is longer than %d characters",
                              BE_DUZ_INSTANCE_NAME_SIZE - 1, too_long.c_str(), BE_DUZ_INSTANCE_NAME_SIZE - 1);
        return 1;
    }
    if (found == NameSearch::NotFound) {
        BE_DUZ_UpdateErrorSet(Error, 1, "keyword %s not found", kInstanceKey);
        return 1;
    }

    const char* req_type_attr = attr(Attributes, "REQTYPE");
    const char* req_type = req_type_attr != nullptr ? req_type_attr : kUndefinedReqType;
    const bool tracking = std::strcmp(req_type, "TRACK") == 0;

    Accounts accounts;
    accounts.choose_file(account, req_type, Attributes, Error);
    if (accounts.load(account, Error) != 0) return 1;

    char sid[BE_DUZ_SID_NAME_SIZE] = "";
    if (GM_PARAM_list_get(accounts.section, "DB_SID", sid, sizeof sid) != CM_RC_OK) {
        BE_DUZ_UpdateErrorSet(Error, 1, "'DB_SID value wasn't found so no tracking for this job.");
        return 1;
    }

    BE_DUZ_ConnectionList* list = nullptr;
    if (tracking && Connection->UserData != nullptr) {
        if (!BE_DUZ_is_connection_list(Connection->UserData)) {
            BE_DUZ_UpdateErrorSet(Error, 1, "The connection holds a session, not a connection list.");
            return 1;
        }
        list = static_cast<BE_DUZ_ConnectionList*>(Connection->UserData);
        if (BE_DUZ_find_connection(list, sid) != nullptr) return 0;
    }

    BE_DUZ_Handles* session = new_session_record();
    if (session == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "malloc failed");
        return 1;
    }

    const char* oracle_home = attr(connection_attrs, "ORACLE_HOME");
    if (oracle_home == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 2, "Failed to read '%s'", "ORACLE_HOME");
        BE_DUZ_OCI_CLOSE_Session(session, 'N', Error);
        return 1;
    }
    set_env("ORACLE_HOME", oracle_home, &session->GLBL_oraHome);
    const char* tns_admin = attr(connection_attrs, "TNS_ADMIN");
    if (tns_admin != nullptr) set_env("TNS_ADMIN", tns_admin, &session->GLBL_tnsAdmn);
    char account_nls[kNlsLangSize] = "";
    if (GM_PARAM_list_get(accounts.section, "NLS_LANG", account_nls, sizeof account_nls) == CM_RC_OK &&
        account_nls[0] != '\0') {
        set_env("NLS_LANG", account_nls, &session->GLBL_nlsLang);
    } else {
        GM_PARAM_VALUE_typ table_nls = "";
        if (GM_PARAM_get("OEBS", "NLS_LANG", table_nls) == CM_RC_OK) {
            table_nls[kNlsLangSize - 1] = '\0';
            set_env("NLS_LANG", table_nls, &session->GLBL_nlsLang);
        }
    }

    OwnedAttrList account_attrs;
    const ZPARC filled = ZPAAPI_UTILS_list2attr(accounts.section, &account_attrs.list);
    if (filled != 0)
        BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(filled),
                              "Failed to fill instanceAttributesList with instance values.");

    rc = BE_DUZ_OCI_START_Session(&account_attrs.list, session, Error);
    if (rc != 0) {
        if (account_nls[0] != '\0' && DIAG_debug_level() == 4)
            DIAG_printf("ErrorSet: Please check NLS_LANG definitions! NLS_LANG that was set: %s", account_nls);
        BE_DUZ_OCI_CLOSE_Session(session, 'N', Error);
        if (Error == nullptr || Error->code == 1) return rc;
        /* An Oracle reason: the job's later actions report it from the failure table. */
        record_session_failure(Attributes, Error);
        return 0;
    }

    if (!tracking) {
        Connection->UserData = session;
        return 0;
    }
    const bool new_list = list == nullptr;
    if (new_list) list = BE_DUZ_create_connection_list();
    if (list == nullptr || BE_DUZ_insert_connection_list_item(list, session, sid) != CM_RC_OK) {
        BE_DUZ_OCI_CLOSE_Session(session, 'N', Error);
        if (new_list && list != nullptr) BE_DUZ_delete_connection_list(list);
        return 1;
    }
    Connection->UserData = list;
    return 0;
}

ZPARC disconnect(ZPAConnHandle* Connection, ZPAError* Error) {
    if (Connection == nullptr || Connection->UserData == nullptr) return 0;
    const auto* head = static_cast<const BE_DUZ_data_type*>(Connection->UserData);
    if (head->dataType == BE_DUZ_CONNECTION) {
        BE_DUZ_OCI_CLOSE_Session(static_cast<BE_DUZ_Handles*>(Connection->UserData), 'Y', Error);
        Connection->UserData = nullptr;
        return 0;
    }
    if (head->dataType == BE_DUZ_ACCOUNT_NAME_LIST) {
        /* A "GetCMInstance" list the agent did not close. */
        BE_DUZ_delete_account_name_list(static_cast<BE_DUZ_AccountNameList*>(Connection->UserData));
        Connection->UserData = nullptr;
        return 0;
    }
    if (head->dataType != BE_DUZ_CONNECTION_LIST) {
        DIAG_printf("Counldn't identify the right type for disconnect.");
        return 1;
    }
    auto* list = static_cast<BE_DUZ_ConnectionList*>(Connection->UserData);
    if (BE_DUZ_reset_connection_list(list) != CM_RC_OK) {
        DIAG_printf("failed to reset the connection list.");
        return 1;
    }
    ZPARC rc = 0;
    for (;;) {
        BE_DUZ_ConnectionListItem item{};
        const CM_RC step = BE_DUZ_connection_list_next(list, &item);
        if (step == CM_RC_END) break;
        if (step != CM_RC_OK) {
            DIAG_printf("fail to move to the next connection list item.");
            rc = 1;
            break;
        }
        if (item.DUZ_connection != nullptr) BE_DUZ_OCI_CLOSE_Session(item.DUZ_connection, 'Y', Error);
    }
    BE_DUZ_delete_connection_list(list);
    Connection->UserData = nullptr;
    return rc;
}

}  // namespace

CM_EXTERN_C_BEGIN

void OEBS_version(char* ver, int size) {
    if (ver == nullptr || size <= 0) return;
    std::snprintf(ver, static_cast<std::size_t>(size), "%s", BE_DUZ_OEBS_VERSION);
}

void BE_DUZ_get_logname(ZPAAttrList* Attributes, const char** log_name) {
    if (log_name == nullptr) return;
    *log_name = BE_DUZ_LOG_NAME_CM;
    const char* req_type = attr(Attributes, "REQTYPE");
    if (req_type == nullptr) {
        char proc_name[BE_DUZ_PROC_NAME_SIZE] = "";
        BE_DUZ_get_proc_name(proc_name);
        for (const char* name : {"ORVEXTRACT", "ORVINTERCEPT"})
            if (std::strcmp(proc_name, name) == 0) *log_name = name;
        return;
    }
    const std::string_view type = req_type;
    if ((type == "TRACK" || type == "EVENT" || type == "TRACK_INIT") && attr(Attributes, "SYSKEEPDAYS") == nullptr)
        *log_name = BE_DUZ_LOG_NAME_TRACK;
}

int BE_DUZ_init_logfile(const char* filename) {
    ProcessState& state = process_state();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.first_call) return 0;
    OS_DIAG_initialize(filename, filename != nullptr ? filename : BE_DUZ_LOG_NAME_CM);
    GM_PARAM_VALUE_typ level = "";
    if (GM_PARAM_get("CONFIG", "DBGLVL", level) == CM_RC_OK) DIAG_set_debug_level(std::atoi(level));
    state.first_call = false;
    return 0;
}

ZPARC ZPAAPI_Init(ZPABeHandle* BackEnd, ZPAAttrList* Attributes, ZPAError* Error) {
    (void)BackEnd;
    (void)Attributes;
    (void)Error;
    try {
        char banner[128] = {0};
        OEBS_version(banner, sizeof banner);
        BE_TRACE(4, "Starting: '%s'", "ZPAAPI_Init");
        BE_TRACE(4, "%s", banner);
    } catch (...) {
    }
    return ZPA_SUCCESS;
}

ZPARC ZPAAPI_Term(ZPABeHandle* BackEnd, ZPAError* Error) {
    (void)BackEnd;
    try {
        BE_TRACE(4, "Starting: '%s'", "ZPAAPI_Term");
        return BE_DUZ_clean_encyption_info(Error);
    } catch (...) {
        return ZPA_FAIL;
    }
}

ZPARC ZPAAPI_Connect(ZPABeHandle* BackEnd, ZPAConnHandle* Connection, ZPAAttrList* Attributes, ZPAError* Error) {
    try {
        return connect(BackEnd, Connection, Attributes, Error);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "ZPAAPI_Connect");
        return ZPA_FAIL;
    }
}

ZPARC ZPAAPI_Disconnect(ZPAConnHandle* Connection, ZPAError* Error) {
    try {
        BE_TRACE(4, "Starting: '%s'", "ZPAAPI_Disconnect");
        return disconnect(Connection, Error);
    } catch (...) {
        return ZPA_FAIL;
    }
}

ZPARC ZPAAPI_ReleaseAttr(ZPAAttrList* AttrList) {
    BE_TRACE(4, "ZPAAPI_ReleaseAttr was called by Agent!");
    return ZPAAPI_utils_release_attr(AttrList);
}

ZPARC BE_DUZ_find_instance(ZPAAttrList* Attributes, char* inst_name, ZPAError* Error) {
    if (inst_name == nullptr) return 1;
    try {
        std::string too_long;
        const NameSearch found = search_instance(Attributes, inst_name, &too_long);
        if (found == NameSearch::TooLong)
            BE_DUZ_UpdateErrorSet(Error, 1, "Account name '%.*s...' is longer than %d characters",
                                  BE_DUZ_INSTANCE_NAME_SIZE - 1, too_long.c_str(), BE_DUZ_INSTANCE_NAME_SIZE - 1);
        return found == NameSearch::Found ? 0 : 1;
    } catch (...) {
        return 1;
    }
}

ZPARC BE_DUZ_connect_to_OEBS(char* account_name, BE_DUZ_Handles** pDUZ_handle, ZPAError* Error) {
    if (account_name == nullptr || pDUZ_handle == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing account name or session address", "BE_DUZ_connect_to_OEBS");
        return 1;
    }
    try {
        if (*pDUZ_handle != nullptr) {
            BE_DUZ_OCI_CLOSE_Session(*pDUZ_handle, 'Y', Error);
            *pDUZ_handle = nullptr;
        }
        Accounts accounts;
        accounts.choose_file(account_name, "TUNNEL", nullptr, Error);
        if (accounts.load(account_name, Error) != 0) return 1;

        BE_DUZ_Handles* session = new_session_record();
        if (session == nullptr) {
            BE_DUZ_UpdateErrorSet(Error, 1, "DUZ_handle malloc failed");
            return 1;
        }
        /* These sessions take the Oracle environment from table OEBS only. */
        env_from_oebs_table("ORACLE_HOME", true, &session->GLBL_oraHome);
        env_from_oebs_table("TNS_ADMIN", true, &session->GLBL_tnsAdmn);
        env_from_oebs_table("NLS_LANG", false, &session->GLBL_nlsLang);

        OwnedAttrList account_attrs;
        ZPARC rc = ZPAAPI_UTILS_list2attr(accounts.section, &account_attrs.list);
        if (rc != 0) {
            BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc),
                                  "Failed to fill instanceAttributesList with account details values.");
            BE_DUZ_OCI_CLOSE_Session(session, 'N', Error);
            return rc;
        }
        rc = BE_DUZ_OCI_START_Session(&account_attrs.list, session, Error);
        if (rc != 0) {
            BE_DUZ_OCI_CLOSE_Session(session, 'N', Error);
            session = nullptr;
        }
        *pDUZ_handle = session;
        return rc;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_connect_to_OEBS");
        return 1;
    }
}

void sigChldHandler(int sig) {
    (void)sig;
    const int saved_errno = errno;
    pid_t child;
    while ((child = ::waitpid(-1, nullptr, WNOHANG)) > 0) {
        if (DIAG_debug_level() != 4) continue;
        /* Never through a link at the log's name; the helper makes only calls safe in a handler. */
        const int fd = os_file::open_regular(BE_DUZ_SIGNAL_LOG, O_WRONLY | O_CREAT | O_APPEND, 0666);
        if (fd < 0) continue;
        /* "Child %ld has terminated\n", built without stdio: this runs inside a signal handler. */
        char line[64] = "Child ";
        std::size_t n = 6;
        char digits[24];
        std::size_t d = 0;
        for (unsigned long value = static_cast<unsigned long>(child); d == 0 || value != 0; value /= 10)
            digits[d++] = static_cast<char>('0' + value % 10);
        while (d > 0) line[n++] = digits[--d];
        static constexpr char kTail[] = " has terminated\n";
        for (const char* p = kTail; *p != '\0'; ++p) line[n++] = *p;
        (void)!::write(fd, line, n);
        ::close(fd);
    }
    errno = saved_errno;
}

CM_EXTERN_C_END
