/* SSL of the TCP sessions and the IP allow-list: whether a line to a kind of peer runs over SSL
 * (COMMOPT, PERSISTENT_CONNECTION), the COMMOPT check, the process's client and server pairs of
 * security policy and secure-communication profile (made once from ./data/SSL/cert/site.plc and
 * ag.plc), the client and server handshakes on non-blocking sockets, the server's allow-list
 * AUTHORIZED_ORV_IP and the server host named by a session's peer address. */
#include <poll.h>

#include <cerrno>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

#include "bca_api.h"
#include "ess.h"
#include "ess_policy.h"
#include "gm_param.h"
#include "os_comm.h"
#include "os_comm_internal.h"
#include "os_diag.h"
#include "zpalist.h"

namespace {

constexpr char kLoopback[] = "127.0.0.1";
constexpr int kServerHostMax = 50;
constexpr char kSitePolicy[] = "./data/SSL/cert/site.plc";
constexpr char kAppsPolicy[] = "./data/SSL/cert/ag.plc";
constexpr int kEssNotImplemented = -2;
constexpr int kConnectRounds = 10;
constexpr int kConnectWaitMs = 6000;
constexpr int kAcceptWaitMs = 60000;

/* A policy and the profile it made, kept for the rest of the process once made. */
struct Pair {
    ESS_Policy* policy = nullptr;
    BCA_PRF* profile = nullptr;
};
std::mutex pairs_mutex;
Pair client_pair, server_pair;

/* Deletes a policy that could not give a profile; the library start it needed ends with it. */
CM_RC give_up(ESS_Policy* policy) {
    if (policy) ESS_Policy_Delete(policy);
    ESS_End();
    return CM_RC_FAIL;
}

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
    static const char* op = "OS_COMM_ssl_init";
    if (!line_id) return CM_RC_FAIL;
    line_id->ssl_profile = nullptr;
    int role = -1;
    switch (line_id->who) {
    case OS_COMM_CLIENT: role = ESS_POLICY_ROLE_CLIENT; break;
    case OS_COMM_SERVER:
    case OS_COMM_SERVER_FIND_PORT:
    case OS_COMM_INETD: role = ESS_POLICY_ROLE_SERVER; break;
    }
    std::lock_guard<std::mutex> lock(pairs_mutex);
    Pair& pair = role == ESS_POLICY_ROLE_CLIENT ? client_pair : server_pair;
    if (role >= 0 && pair.profile) {
        if (role == ESS_POLICY_ROLE_SERVER) DIAG_TRACE(4, "SSL profile for server already initialized.");
        line_id->ssl_profile = pair.profile;
        return CM_RC_OK;
    }
    const int started = ESS_Init();
    if (started == kEssNotImplemented) {
        DIAG_ERROR("SLL is not implemented for the platform");
        return CM_RC_FAIL;
    }
    if (started != 0) {
        DIAG_ERROR("Calling ESS_Init failed with: %d", started);
        return CM_RC_FAIL;
    }
    if (role < 0) {
        DIAG_ERROR("Invalid profile type request.");
        return give_up(nullptr);
    }
    ESS_Policy* policy = ESS_Policy_New(kSitePolicy, kAppsPolicy, role);
    if (!policy) {
        DIAG_ERROR("unable to create policy site %s, apps %s", kSitePolicy, kAppsPolicy);
        return give_up(nullptr);
    }
    ESS_Policy_SetModuleVersion(policy, nullptr);
    if (ESS_Policy_InitSecurityPolicy(policy) != 0) {
        DIAG_ERROR("unable to initialize policy %s, %s", kAppsPolicy, ESS_Policy_GetLastError(policy));
        return give_up(policy);
    }
    if (ESS_Policy_BootStrapEE(policy, nullptr) != 0) {
        DIAG_ERROR("unable to bootstrap policy %s, %s", kAppsPolicy, ESS_Policy_GetLastError(policy));
        return give_up(policy);
    }
    const int level = ESS_Policy_GetLevel(policy);
    if (level <= 0) {
        DIAG_ERROR("Server can run only under security level > 0");
        return give_up(policy);
    }
    char* module = ESS_Policy_GetModule(policy);
    if (!module) {
        DIAG_ERROR("security module not loaded, for level %d", level);
        return give_up(policy);
    }
    ESS_Policy_FreePtr(policy, module);
    BCA_PRF* profile = ESS_Policy_GetBCA(policy);
    if (!profile) {
        /* The policy's own reason: there is no profile to ask. */
        const char* reason = ESS_Policy_GetLastError(policy);
        DIAG_ERROR("Error creating BCA Profile for policy site %s, apps %s, error %s\n", kSitePolicy, kAppsPolicy,
                   reason ? reason : "");
        return give_up(policy);
    }
    pair.policy = policy;
    pair.profile = profile;
    line_id->ssl_profile = profile;
    DIAG_TRACE(4, "%s: SSL profile ready for the %s side", op, role == ESS_POLICY_ROLE_CLIENT ? "client" : "server");
    return CM_RC_OK;
}

CM_RC os_comm_sess_ssl_connect(OS_COMM_sess_typ* sess_id) {
    static const char* op = "os_comm_sess_ssl_connect";
    if (!sess_id) return CM_RC_FAIL;
    sess_id->ssl_is_established = 0;
    if (!sess_id->ssl_profile) {
        DIAG_ERROR("%s: SSL profile is NULL", op);
        return CM_RC_FAIL;
    }
    char empty[] = "";
    int rc = BCA_Connect(sess_id->ssl_profile, 1, sess_id, nullptr, nullptr, empty, empty);
    if (rc < 0 && rc != ESS_WOULD_BLOCK) {
        DIAG_ERROR("%s: BCA_Connect: Unable to set client server session sid %d", op,
                   BCA_GetSid(sess_id->ssl_profile, sess_id));
        return CM_RC_FAIL;
    }
    for (int round = 0; rc <= 0 && round < kConnectRounds; ++round) {
        if (os_comm::wait_bounded(sess_id->fd, POLLIN, kConnectWaitMs, op) == os_comm::Waited::Ended) return CM_RC_FAIL;
        rc = BCA_Connect(sess_id->ssl_profile, 2, sess_id, nullptr, nullptr, empty, empty);
        if (rc < 0 && rc != ESS_WOULD_BLOCK) {
            DIAG_ERROR("%s: SSL session failed.", op);
            return CM_RC_FAIL;
        }
    }
    if (rc <= 0) {
        DIAG_ERROR("%s: reached max retries number.", op);
        return CM_RC_FAIL;
    }
    sess_id->ssl_is_established = 1;
    return CM_RC_OK;
}

CM_RC OS_COMM_sess_ssl_accept(OS_COMM_sess_typ* sess_id) {
    static const char* op = "OS_COMM_sess_ssl_accept";
    if (!sess_id) return CM_RC_FAIL;
    sess_id->ssl_is_established = 0;
    BCA_PRF* profile = sess_id->ssl_profile;
    if (!profile) {
        DIAG_ERROR("%s: SSL profile is NULL", op);
        return CM_RC_FAIL;
    }
    char empty[] = "";
    int rc = BCA_Accept(profile, 1, sess_id, nullptr, nullptr, empty);
    if (rc < 0 && rc != ESS_WOULD_BLOCK) {
        DIAG_ERROR("%s: Unable to create new server session", op);
        return CM_RC_FAIL;
    }
    ESS_Option in{}, out{};
    in.opcode = ESS_OPT_LAST_ERROR;
    if (BCA_SessionOption(profile, sess_id, &in, &out) != 0) {
        DIAG_ERROR("%s: BCA_SessionOption   failed", op);
        return CM_RC_FAIL;
    }
    /* A peer that connects and never finishes the handshake is given the line's time-out in all. */
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(sess_id->timeout_interval);
    while (!BCA_IsEstablished(profile, sess_id)) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            DIAG_ERROR("%s: SSL session failed.", op);
            return CM_RC_FAIL;
        }
        if (os_comm::wait_bounded(sess_id->fd, POLLIN, static_cast<int>(left < kAcceptWaitMs ? left : kAcceptWaitMs),
                                  op) == os_comm::Waited::Ended)
            return CM_RC_FAIL;
        rc = BCA_Accept(profile, 2, sess_id, nullptr, nullptr, empty);
        if (rc < 0 && rc != ESS_WOULD_BLOCK) {
            DIAG_ERROR("%s: SSL session failed.", op);
            return CM_RC_FAIL;
        }
    }
    sess_id->ssl_is_established = 1;
    DIAG_TRACE(4, "%s: SSL session established, fd = %d, session id = %d", op, sess_id->fd,
               BCA_GetSid(profile, sess_id));
    return CM_RC_OK;
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
