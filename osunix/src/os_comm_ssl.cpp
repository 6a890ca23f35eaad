/* SSL decision and IP allow-list of the TCP sessions: whether a line to a kind of peer runs over
 * SSL (COMMOPT, PERSISTENT_CONNECTION), the COMMOPT check, the SSL profile set-up, the server's
 * allow-list AUTHORIZED_ORV_IP and the server host named by a session's peer address. */
#include <cstdio>
#include <cstring>
#include <string>

#include "gm_param.h"
#include "os_comm.h"
#include "os_comm_internal.h"
#include "os_diag.h"
#include "zpalist.h"

namespace {

constexpr char kLoopback[] = "127.0.0.1";
constexpr int kServerHostMax = 50;

/* The letter after "SSL=" in a COMMOPT value; 0 when there is none. */
char ssl_letter(const std::string& value) {
    const std::size_t at = value.find("SSL=");
    if (at == std::string::npos || at + 4 >= value.size()) return 0;
    return value[at + 4];
}

}  // namespace

extern "C" {

orv_boolean OS_COMM_get_current_ssl_mode(OS_COMM_proc_typ proc) {
    static const char* op = "OS_COMM_get_current_ssl_mode";
    if (proc == OS_COMM_PROC_ATW) {
        DIAG_TRACE(4, "%s: SSL mode OFF - ATW/AT communication", op);
        return 0;
    }
    if (proc == OS_COMM_PROC_RU) {
        DIAG_TRACE(4, "%s: SSL mode ON for agent remote utilities communication", op);
        return 1;
    }
    const auto commopt = os_comm::config_value("COMMOPT");
    const char letter = commopt ? ssl_letter(*commopt) : 0;
    if (!commopt || commopt->find("SSL=") == std::string::npos) {
        DIAG_TRACE(4, "%s: Unable to get ssl mode from CONFIG.dat assuming no SSL.", op);
        return 0;
    }
    if (letter == 'N') {
        DIAG_TRACE(4, "%s: NO SSL mode.", op);
        return 0;
    }
    if (letter != 'Y') {
        DIAG_ERROR("Invalid SSL mode.");
        return 0;
    }
    const auto persistent = os_comm::config_value("PERSISTENT_CONNECTION");
    if (!persistent || persistent->empty()) {
        DIAG_TRACE(4, "%s: Unable to get persistent connection mode from CONFIG.dat .", op);
        return 0;
    }
    if (*persistent == "N") {
        DIAG_TRACE(4, "%s: transient connection. use SSL mode.", op);
        return 1;
    }
    if (proc == OS_COMM_PROC_AR_EXT) {
        DIAG_TRACE(4, "%s: connection is between AR and NS, use SSL mode.", op);
        return 1;
    }
    DIAG_TRACE(4, "%s: connection is between AR and internal process, no SSL mode.", op);
    return 0;
}

CM_RC OS_COMM_ssl_init(OS_COMM_line_typ* line_id) {
    if (line_id) line_id->ssl_profile = nullptr;
    DIAG_ERROR("SLL is not implemented for the platform");
    return CM_RC_FAIL;
}

CM_RC OS_COMM_is_IP_authorized(char* ip) {
    static const char* op = "OS_COMM_is_IP_authorized";
    const std::string address = ip ? ip : "";
    if (address == kLoopback) {
        DIAG_TRACE(4, "%s: The IP: %s is automatically approved.", op, address.c_str());
        return CM_RC_OK;
    }
    const auto allowed = os_comm::config_value("AUTHORIZED_ORV_IP");
    if (!allowed || allowed->empty()) {
        DIAG_TRACE(4, "%s: AUTHORIZED_ORV_IP doesn't exist or empty in CONFIG. All the IPs will be authorized.", op);
        return CM_RC_OK;
    }
    ZPALIST_handle_typ list{};
    const CM_RC loaded = GM_PARAM_load_valuelist(&list, allowed->c_str(), "|");
    if (loaded != CM_RC_OK) {
        DIAG_ERROR("%s: Fail to load listvalue to list. Program error.", op);
        ZPALIST_clear(&list);
        return loaded;
    }
    bool found = false;
    void* entry = nullptr;
    unsigned size = 0;
    ZPALIST_reset(&list);
    while (!found && ZPALIST_next_ptr(&list, &entry, &size) == CM_RC_OK)
        found = address == static_cast<const GM_PARAM_table_row*>(entry)->key;
    ZPALIST_clear(&list);
    if (found) {
        DIAG_TRACE(4, "%s: The IP: %s was found in the AUTHORIZED_ORV_IP list.", op, address.c_str());
        return CM_RC_OK;
    }
    DIAG_TRACE(2, "%s: The IP: %s was not found in the AUTHORIZED_ORV_IP list.", op, address.c_str());
    return OS_COMM_ERR_NOT_AUTHORIZED;
}

CM_RC OS_COMM_check_IP_authorized(OS_COMM_sess_typ* sess_id) {
    if (!sess_id) return CM_RC_FAIL;
    std::snprintf(sess_id->sender_ip, sizeof sess_id->sender_ip, "%s", os_comm::dotted(sess_id->addr).c_str());
    const CM_RC rc = OS_COMM_is_IP_authorized(sess_id->sender_ip);
    sess_id->error = rc;
    if (rc == OS_COMM_ERR_NOT_AUTHORIZED)
        DIAG_ERROR("%s: The IP: %s is not authorized.", "OS_COMM_check_IP_authorized", sess_id->sender_ip);
    return rc;
}

CM_RC OS_COMM_validate_commopt(char* key, char* value) {
    if (!key || !value || std::strcmp(key, "COMMOPT") != 0) return CM_RC_FAIL;
    const std::string text = value;
    if (text.find("SSL=") == std::string::npos) return CM_RC_FAIL;
    const char letter = ssl_letter(text);
    if (letter == 'Y' || letter == 'N') return CM_RC_OK;
    DIAG_ERROR("Invalid SSL mode.");
    return CM_RC_FAIL;
}

CM_RC OS_COMM_get_server_host(char* server_host, OS_COMM_sess_typ* sess_id) {
    static const char* op = "OS_COMM_get_server_host";
    if (!server_host || !sess_id) return CM_RC_FAIL;
    const std::string address = os_comm::dotted(sess_id->addr);
    if (address.empty()) {
        DIAG_TRACE(2, "%s: inet_ntoa failed, (%s) will be used as server host", op, server_host);
        return CM_RC_OK;
    }
    std::snprintf(server_host, kServerHostMax + 1, "%s", address.c_str());
    DIAG_TRACE(4, "%s: Server IP address (%s)", op, server_host);
    return CM_RC_OK;
}

}  // extern "C"
