/* OCI sessions of the plug-in and the alert watcher: opening and closing a session record
 * (BE_DUZ_Handles), the one mapping of every OCI status into a result and the error record, and
 * the list of sessions by database SID that a tracking connection keeps. */
#include "be_def.h"
#include "be_internal.h"
#include "gm_param.h"
#include "os_logical_internal.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_set>

namespace {

/* Connection lists alive in the process: UserData of a connection may also hold a single session or
 * a plain list of account names, so the kind of a pointer is confirmed here before it is walked. */
std::mutex g_lists_mutex;
std::unordered_set<const void*>& live_lists() {
    static std::unordered_set<const void*> lists;
    return lists;
}

/* The mapping of the statuses that carry no Oracle message. */
struct StatusText {
    sword status;
    ZPARC result;
    const char* text;
};
constexpr StatusText kStatusTexts[] = {
    {OCI_NEED_DATA, 1, "Error - OCI_NEED_DATA\n"},
    {OCI_NO_DATA, 1, "Error - OCI_NODATA\n"},
    {OCI_INVALID_HANDLE, 1, "Error - OCI_INVALID_HANDLE\n"},
    {OCI_STILL_EXECUTING, 2, "Error - OCI_STILL_EXECUTE\n"},
    {OCI_CONTINUE, 2, "Error - OCI_CONTINUE\n"},
};
/* Text for OCI_ERROR when there is no error handle to read the Oracle message from. */
constexpr const char* kErrorWithoutHandle = "Error - OCI_ERROR\n";

void trace_call(const char* what, sword status, BE_DUZ_Handles* handle) {
    BE_TRACE(4, "%s: status = %d", what, status);
    if (DIAG_debug_level() >= 5) BE_DUZ_OCI_Print_Handle(handle);
}

/* Sets the code and text of a failure of the plug-in's own (code 1), logging the text at level 2. */
ZPARC own_failure(ZPAError* Error, const char* text) {
    BE_DUZ_UpdateErrorSet(Error, 1, "%s", text);
    BE_TRACE(2, "%s", text);
    return 1;
}

/* Sets a variable from a session record's "NAME=value" text (none: left as it is). */
void restore_variable(const char* kept) {
    if (kept == nullptr) return;
    const char* equals = std::strchr(kept, '=');
    char name[64];
    const std::size_t length = static_cast<std::size_t>(equals ? equals - kept : 0);
    if (length == 0 || length >= sizeof name) return;
    std::memcpy(name, kept, length);
    name[length] = '\0';
    if (!os_logical::set_variable(name, equals + 1)) DIAG_printf("Failed to set %s in the environment", name);
}

}  // namespace

CM_EXTERN_C_BEGIN

ZPARC BE_DUZ_OCI_error(OCIError* errhp, sword status, ZPAError* Error) {
    if (status == OCI_SUCCESS) return 0;
    for (const StatusText& entry : kStatusTexts) {
        if (entry.status != status) continue;
        if (Error != nullptr) BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(entry.status), "%s", entry.text);
        return entry.result;
    }
    if (status != OCI_ERROR && status != OCI_SUCCESS_WITH_INFO) return 0;

    ZPARC result = status == OCI_ERROR ? 1 : 0;
    if (status == OCI_SUCCESS_WITH_INFO) BE_TRACE(4, "OCI_SUCCESS_WITH_INFO: warning.");
    if (Error == nullptr) return result;
    if (errhp == nullptr) {
        /* No handle to read from (for instance after the error handle was freed). */
        if (status == OCI_ERROR)
            BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(status), "%s", kErrorWithoutHandle);
        return result;
    }
    sb4 errcode = 0;
    char errbuf[BE_DUZ_OCI_ERROR_TEXT_SIZE] = "";
    if (OCIErrorGet(errhp, 1, nullptr, &errcode, reinterpret_cast<OraText*>(errbuf), sizeof errbuf, OCI_HTYPE_ERROR) !=
        OCI_SUCCESS) {
        errcode = 0;
        errbuf[0] = '\0';
    }
    BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(errcode), "%s", errbuf);
    return result;
}

void BE_DUZ_OCI_Init_Handle(BE_DUZ_Handles* DUZ_handle) {
    if (DUZ_handle == nullptr) return;
    std::memset(DUZ_handle, 0, sizeof *DUZ_handle);
    DUZ_handle->dataType = BE_DUZ_CONNECTION;
}

void BE_DUZ_OCI_Print_Handle(BE_DUZ_Handles* h) {
    DIAG_printf("Handle         = %#lx", reinterpret_cast<unsigned long>(h));
    if (h == nullptr) return;
    DIAG_printf("Handle->envhp  = %#lx", reinterpret_cast<unsigned long>(h->envhp));
    DIAG_printf("Handle->srvhp  = %#lx", reinterpret_cast<unsigned long>(h->srvhp));
    DIAG_printf("Handle->errhp  = %#lx", reinterpret_cast<unsigned long>(h->errhp));
    DIAG_printf("Handle->userhp = %#lx", reinterpret_cast<unsigned long>(h->userhp));
    DIAG_printf("Handle->svchp  = %#lx", reinterpret_cast<unsigned long>(h->svchp));
    DIAG_printf("Handle->stmthp = %#lx", reinterpret_cast<unsigned long>(h->stmthp));
    DIAG_printf("Handle->GLBL_oraHome  = %#lx", reinterpret_cast<unsigned long>(h->GLBL_oraHome));
    DIAG_printf("Handle->GLBL_nlsLang  = %#lx", reinterpret_cast<unsigned long>(h->GLBL_nlsLang));
    DIAG_printf("Handle->GLBL_tnsAdmn  = %#lx", reinterpret_cast<unsigned long>(h->GLBL_tnsAdmn));
}

ZPARC BE_DUZ_OCI_START_Session(ZPAAttrList* Attr, BE_DUZ_Handles* h, ZPAError* Error) {
    if (h == nullptr) return own_failure(Error, "Handle is null");
    char* user = nullptr;
    char* stored_password = nullptr;
    char* sid = nullptr;
    if (ZPAAPI_UTILS_AttrListValueGet(Attr, const_cast<char*>("DB_LOGIN"), &user) != 0 || user == nullptr)
        return own_failure(Error, "username not found");
    if (ZPAAPI_UTILS_AttrListValueGet(Attr, const_cast<char*>("DB_PASSWD"), &stored_password) != 0 ||
        stored_password == nullptr)
        return own_failure(Error, "password not found");

    /* Decrypted in place; a text that does not decrypt goes to the database as it is, and the
     * decryption's complaint is kept out of the record (the logon decides whether it was right). */
    std::string password(BE_DUZ_SESSION_PASSWORD_SIZE, '\0');
    std::strncpy(password.data(), stored_password, BE_DUZ_SESSION_PASSWORD_SIZE - 1);
    ZPAError decrypt_error;
    std::memset(&decrypt_error, 0, sizeof decrypt_error);
    if (BE_DUZ_PKM_decrypt(password.data(), BE_DUZ_SESSION_PASSWORD_SIZE, CHECK_PREFIX, &decrypt_error) != 0)
        BE_TRACE(4, "The stored password did not decrypt; it is used as it is");
    password.resize(std::strlen(password.c_str()));

    if (ZPAAPI_UTILS_AttrListValueGet(Attr, const_cast<char*>("DB_SID"), &sid) != 0 || sid == nullptr)
        return own_failure(Error, "DB_SID not found");

    sword status;
    {
        /* The OCI environment takes ORACLE_HOME, TNS_ADMIN and NLS_LANG from the process
         * environment, which other threads' sessions change: this session's values are put back
         * and the environment created under the one lock of the process environment. */
        std::lock_guard<std::recursive_mutex> environment(os_logical::environment_lock());
        for (const char* kept : {h->GLBL_oraHome, h->GLBL_tnsAdmn, h->GLBL_nlsLang}) restore_variable(kept);
        status = OCIInitialize(OCI_DEFAULT, nullptr, nullptr, nullptr, nullptr);
        trace_call("OCIInitialize", status, h);
        if (status == OCI_SUCCESS) {
            status = OCIEnvInit(&h->envhp, OCI_DEFAULT, 0, nullptr);
            trace_call("OCIEnvInit", status, h);
            if (status != OCI_SUCCESS) return own_failure(Error, "Failed to initialize environment");
        }
    }
    if (status != OCI_SUCCESS) return own_failure(Error, "Failed to initialize process");
    status = OCIHandleAlloc(h->envhp, reinterpret_cast<dvoid**>(&h->errhp), OCI_HTYPE_ERROR, 0, nullptr);
    trace_call("OCIHandleAlloc(OCI_HTYPE_ERROR)", status, h);
    if (status != OCI_SUCCESS) return own_failure(Error, "Failed to allocate error handle");
    status = OCIHandleAlloc(h->envhp, reinterpret_cast<dvoid**>(&h->srvhp), OCI_HTYPE_SERVER, 0, nullptr);
    trace_call("OCIHandleAlloc(OCI_HTYPE_SERVER)", status, h);
    if (status != OCI_SUCCESS) return own_failure(Error, "Failed to allocate server handle");

    /* From here on every status is the database's or the client's: it goes through the mapping. */
    auto step = [&](const char* call, sword st, const char* failure) -> ZPARC {
        trace_call(call, st, h);
        ZPARC rc = BE_DUZ_OCI_error(h->errhp, st, Error);
        if (rc != 0) BE_TRACE(2, "%s", failure);
        return rc;
    };
    ZPARC rc;
    if ((rc = step("OCIServerAttach",
                   OCIServerAttach(h->srvhp, h->errhp, reinterpret_cast<const OraText*>(sid),
                                   static_cast<sb4>(std::strlen(sid)), OCI_DEFAULT),
                   "Failed to attach server")))
        return rc;
    if ((rc = step("OCIHandleAlloc(OCI_HTYPE_SVCCTX)",
                   OCIHandleAlloc(h->envhp, reinterpret_cast<dvoid**>(&h->svchp), OCI_HTYPE_SVCCTX, 0, nullptr),
                   "Failed to allocate context handle")))
        return rc;
    if ((rc = step("OCIHandleAlloc(OCI_HTYPE_SESSION)",
                   OCIHandleAlloc(h->envhp, reinterpret_cast<dvoid**>(&h->userhp), OCI_HTYPE_SESSION, 0, nullptr),
                   "Failed to allocate user handle")))
        return rc;
    if ((rc = step("OCIAttrSet(OCI_ATTR_SERVER)",
                   OCIAttrSet(h->svchp, OCI_HTYPE_SVCCTX, h->srvhp, 0, OCI_ATTR_SERVER, h->errhp),
                   "Failed to set server context")))
        return rc;
    if ((rc = step("OCIAttrSet(OCI_ATTR_USERNAME)",
                   OCIAttrSet(h->userhp, OCI_HTYPE_SESSION, user, static_cast<ub4>(std::strlen(user)),
                              OCI_ATTR_USERNAME, h->errhp),
                   "Failed to set username")))
        return rc;
    if ((rc = step("OCIAttrSet(OCI_ATTR_PASSWORD)",
                   OCIAttrSet(h->userhp, OCI_HTYPE_SESSION, password.data(), static_cast<ub4>(password.size()),
                              OCI_ATTR_PASSWORD, h->errhp),
                   "Failed to set password")))
        return rc;
    if ((rc = step("OCISessionBegin", OCISessionBegin(h->svchp, h->errhp, h->userhp, OCI_CRED_RDBMS, OCI_DEFAULT),
                   "Failed to start user session")))
        return rc;
    if ((rc = step("OCIAttrSet(OCI_ATTR_SESSION)",
                   OCIAttrSet(h->svchp, OCI_HTYPE_SVCCTX, h->userhp, 0, OCI_ATTR_SESSION, h->errhp),
                   "Failed to set user session in the service context")))
        return rc;
    return step("OCIHandleAlloc(OCI_HTYPE_STMT)",
                OCIHandleAlloc(h->envhp, reinterpret_cast<dvoid**>(&h->stmthp), OCI_HTYPE_STMT, 0, nullptr),
                "Failed to allocate statement handle");
}

void BE_DUZ_OCI_CLOSE_Session(BE_DUZ_Handles* h, char overwrite_error, ZPAError* Error) {
    if (h == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 0, "Handle is null");
        return;
    }
    ZPARC rc = 0;
    /* Only the 'Y' form lets the close write into the error record: after a failed start (the 'N'
     * form) the steps on a half-built session fail too, and the start's error must stay. */
    ZPAError* record = overwrite_error == 'Y' ? Error : nullptr;
    auto note = [&](sword status, const char* failure) {
        ZPARC step_rc = BE_DUZ_OCI_error(h->errhp, status, record);
        if (step_rc != 0) {
            rc = step_rc;
            BE_TRACE(2, "%s", failure);
        }
    };
    if (h->stmthp != nullptr) note(OCIHandleFree(h->stmthp, OCI_HTYPE_STMT), "Failed to free handle: stmthp");

    sword status = OCISessionEnd(h->svchp, h->errhp, h->userhp, OCI_DEFAULT);
    if (overwrite_error == 'Y') {
        note(status, "Failed to end session");
    } else if (status != OCI_SUCCESS) {
        rc = 1;
        BE_TRACE(2, "Failed to end session");
    }
    if (h->srvhp != nullptr) note(OCIServerDetach(h->srvhp, h->errhp, OCI_DEFAULT), "Failed to detach server");
    if (h->svchp != nullptr) note(OCIHandleFree(h->svchp, OCI_HTYPE_SVCCTX), "Failed to free handle: svchp");
    if (h->srvhp != nullptr) note(OCIHandleFree(h->srvhp, OCI_HTYPE_SERVER), "Failed to free handle: srvhp");
    if (h->userhp != nullptr) note(OCIHandleFree(h->userhp, OCI_HTYPE_SESSION), "Failed to free handle: userhp");

    /* The error handle goes before the environment: the two last statuses are mapped without it. */
    if (h->errhp != nullptr) {
        status = OCIHandleFree(h->errhp, OCI_HTYPE_ERROR);
        h->errhp = nullptr;
        if (status != OCI_SUCCESS) {
            ZPARC step_rc = BE_DUZ_OCI_error(nullptr, status, record);
            if (step_rc != 0) rc = step_rc;
            DIAG_printf("Failed to free handle: errhp");
            BE_DUZ_UpdateErrorSet(record, static_cast<ZPAErrorCode>(rc), "Failed to free handle: errhp");
        }
    }
    if (h->envhp != nullptr) {
        status = OCIHandleFree(h->envhp, OCI_HTYPE_ENV);
        if (status != OCI_SUCCESS) {
            ZPARC step_rc = BE_DUZ_OCI_error(nullptr, status, record);
            if (step_rc != 0) rc = step_rc;
            DIAG_printf("Failed to free handle: envhp");
            BE_DUZ_UpdateErrorSet(record, static_cast<ZPAErrorCode>(rc), "Failed to free handle: envhp");
        }
    }
    BE_TRACE(4, "OCIHandleFree - All handles are free.");
    std::free(h->GLBL_oraHome);
    std::free(h->GLBL_nlsLang);
    std::free(h->GLBL_tnsAdmn);
    std::free(h);
}

int BE_DUZ_set_oracle_env(const char* name, const char* value, char** kept) {
    if (name == nullptr || value == nullptr || kept == nullptr) return 1;
    std::string entry = std::string(name) + "=" + value;
    char* copy = static_cast<char*>(std::malloc(entry.size() + 1));
    if (copy == nullptr) return 1;
    std::memcpy(copy, entry.c_str(), entry.size() + 1);
    /* setenv keeps a copy of its own, so freeing the record's text never harms the environment. A
     * value that is already right is not written again. */
    if (!os_logical::set_variable(name, value)) {
        std::free(copy);
        return 1;
    }
    std::free(*kept);
    *kept = copy;
    BE_TRACE(4, "Environment: %s", copy);
    return 0;
}

/* ------------------------------------------------------------------------------------------------
 * Connection list
 * ---------------------------------------------------------------------------------------------- */

BE_DUZ_ConnectionList* BE_DUZ_create_connection_list(void) {
    auto* list = static_cast<BE_DUZ_ConnectionList*>(std::malloc(sizeof(BE_DUZ_ConnectionList)));
    if (list == nullptr) {
        DIAG_printf("malloc of BE_DUZ_ConnectionList failed");
        return nullptr;
    }
    list->dataType = BE_DUZ_CONNECTION_LIST;
    list->connectionList = static_cast<ZPALIST_handle_typ*>(std::malloc(sizeof(ZPALIST_handle_typ)));
    if (list->connectionList == nullptr) {
        DIAG_printf("malloc of ZPALIST_handle_typ failed");
        std::free(list);
        return nullptr;
    }
    ZPALIST_init(list->connectionList);
    std::lock_guard<std::mutex> lock(g_lists_mutex);
    live_lists().insert(list);
    return list;
}

void BE_DUZ_delete_connection_list(BE_DUZ_ConnectionList* pConnectionList) {
    if (pConnectionList == nullptr) return;
    {
        std::lock_guard<std::mutex> lock(g_lists_mutex);
        live_lists().erase(pConnectionList);
    }
    if (pConnectionList->connectionList != nullptr) {
        CM_RC rc = ZPALIST_clear(pConnectionList->connectionList);
        if (rc != CM_RC_OK && rc != CM_RC_END) DIAG_printf("Failed to clear the connection list");
        std::free(pConnectionList->connectionList);
    }
    std::free(pConnectionList);
}

int BE_DUZ_is_connection_list(const void* data) {
    if (data == nullptr) return 0;
    std::lock_guard<std::mutex> lock(g_lists_mutex);
    return live_lists().count(data) != 0 ? 1 : 0;
}

BE_DUZ_ConnectionListItem* BE_DUZ_create_connection_list_item(BE_DUZ_Handles* connection, char* sid_name) {
    auto* item = static_cast<BE_DUZ_ConnectionListItem*>(std::calloc(1, sizeof(BE_DUZ_ConnectionListItem)));
    if (item == nullptr) {
        DIAG_printf("malloc for BE_DUZ_ConnectionListItem failed");
        return nullptr;
    }
    if (sid_name != nullptr) std::strncpy(item->DUZ_SID_Name, sid_name, BE_DUZ_SID_NAME_SIZE - 1);
    item->DUZ_connection = connection;
    return item;
}

void BE_DUZ_delete_connection_list_item(BE_DUZ_ConnectionListItem* item) { std::free(item); }

CM_RC BE_DUZ_insert_connection_list_item(BE_DUZ_ConnectionList* pConnectionList, BE_DUZ_Handles* connection,
                                         char* sid_name) {
    if (pConnectionList == nullptr || pConnectionList->connectionList == nullptr) return CM_RC_FAIL;
    BE_DUZ_ConnectionListItem* item = BE_DUZ_create_connection_list_item(connection, sid_name);
    if (item == nullptr) return CM_RC_FAIL;
    CM_RC rc = ZPALIST_insert(pConnectionList->connectionList, item, sizeof *item);
    if (rc != CM_RC_OK) DIAG_printf("Insertion of %s to the connection list failed", item->DUZ_SID_Name);
    BE_DUZ_delete_connection_list_item(item);
    return rc;
}

CM_RC BE_DUZ_reset_connection_list(BE_DUZ_ConnectionList* pConnectionList) {
    if (pConnectionList == nullptr) return CM_RC_FAIL;
    return ZPALIST_reset(pConnectionList->connectionList);
}

CM_RC BE_DUZ_connection_list_next(BE_DUZ_ConnectionList* pConnectionList,
                                  BE_DUZ_ConnectionListItem* connectionListItem) {
    if (pConnectionList == nullptr || connectionListItem == nullptr) return CM_RC_FAIL;
    unsigned int size = 0;
    CM_RC rc = ZPALIST_next(pConnectionList->connectionList, connectionListItem, sizeof *connectionListItem, &size);
    if (rc != CM_RC_OK && rc != CM_RC_END) DIAG_printf("Failed to go to the next connection list item");
    return rc;
}

BE_DUZ_Handles* BE_DUZ_find_connection(BE_DUZ_ConnectionList* pConnectionList, char* sid_name) {
    if (pConnectionList == nullptr) {
        DIAG_printf("%s: got NULL list", "BE_DUZ_find_connection");
        return nullptr;
    }
    if (sid_name == nullptr || BE_DUZ_reset_connection_list(pConnectionList) != CM_RC_OK) return nullptr;
    BE_DUZ_ConnectionListItem item;
    while (BE_DUZ_connection_list_next(pConnectionList, &item) == CM_RC_OK) {
        if (std::strcmp(item.DUZ_SID_Name, sid_name) == 0) return item.DUZ_connection;
    }
    return nullptr;
}

BE_DUZ_Handles* BE_DUZ_find_connection_from_list(ZPAConnHandle* Connection, ZPAAttrList* AttributesIn, char* action,
                                                 ZPAError* Error) {
    if (Connection == nullptr || !BE_DUZ_is_connection_list(Connection->UserData)) {
        DIAG_printf("%s: the connection holds no connection list", BE_POS);
        BE_DUZ_UpdateErrorSet(Error, 1, "The connection holds no connection list");
        return nullptr;
    }
    char account[BE_DUZ_INSTANCE_NAME_SIZE] = "";
    ZPARC rc = BE_DUZ_find_instance(AttributesIn, account, Error);
    if (rc != 0) {
        BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc), "keyword %s not found", "DUZ-INSTANCE");
        return nullptr;
    }
    char sid[BE_DUZ_SID_NAME_SIZE] = "";
    CM_RC got = CM_RC_FAIL;
    try {
        be_account_rows rows;
        rc = rows.load(account, AttributesIn, action, Error);
        if (rc != 0) {
            BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc), "%s: Could not find account %s (LCP or CCP)",
                                  BE_POS, account);
            return nullptr;
        }
        got = GM_PARAM_list_get(rows.rows(), "DB_SID", sid, sizeof sid);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_find_connection_from_list");
        return nullptr;
    }
    if (got != CM_RC_OK) {
        BE_DUZ_UpdateErrorSet(Error, 0, "DB_SID not found");
        return nullptr;
    }
    return BE_DUZ_find_connection(static_cast<BE_DUZ_ConnectionList*>(Connection->UserData), sid);
}

CM_EXTERN_C_END
