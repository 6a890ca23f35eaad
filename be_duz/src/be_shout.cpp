/* Shouts: a short message from the scheduler delivered to an E-Business Suite user as a Workflow
 * notification in that user's worklist. Owns the check of the shout's attributes, the plug-in's
 * own Workflow message (created in the database the first time it is needed) and the send. */
#include "be_def.h"
#include "be_internal.h"
#include "be_job_internal.h"
#include "gm_str.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using be_job::attr;

constexpr const char* kMessageExistsSql =
    " select 1  from sys.dual where exists    ( select null from WF_MESSAGES m            where  m.type = "
    "'QEL:MSG'             and m.name = 'QEL:ORVSHOUTMSG' )";

/* The plug-in's Workflow message with its one text attribute, in every installed language. */
constexpr const char* kCreateMessageSql =
    "DECLARE "
    "X_TYPE VARCHAR2(8) := 'QEL:MSG'; "
    "X_NAME VARCHAR2(30) := 'QEL:ORVSHOUTMSG'; "
    "BEGIN "
    "INSERT INTO WF_MESSAGES (TYPE, NAME, PROTECT_LEVEL, CUSTOM_LEVEL, DEFAULT_PRIORITY, READ_ROLE, WRITE_ROLE) "
    "VALUES (X_TYPE, X_NAME, 20, 0, NULL, NULL, NULL); "
    "INSERT INTO WF_MESSAGES_TL (TYPE, NAME, DISPLAY_NAME, SUBJECT, PROTECT_LEVEL, CUSTOM_LEVEL, DESCRIPTION, BODY, "
    "LANGUAGE, SOURCE_LANG) "
    "SELECT X_TYPE, X_NAME, 'Orvanta Shout Message', 'Orvanta Shout Message', 20, 0, 'MSG_description', "
    "'&'||'BODY', L.CODE, userenv('LANG') FROM WF_LANGUAGES L WHERE L.INSTALLED_FLAG = 'Y' AND NOT EXISTS "
    "(SELECT NULL FROM WF_MESSAGES_TL T WHERE T.TYPE = X_TYPE AND T.NAME = X_NAME AND T.LANGUAGE = L.CODE); "
    "INSERT INTO WF_MESSAGE_ATTRIBUTES (MESSAGE_TYPE, MESSAGE_NAME, NAME, SEQUENCE, TYPE, SUBTYPE, VALUE_TYPE, "
    "PROTECT_LEVEL, CUSTOM_LEVEL, FORMAT, TEXT_DEFAULT, NUMBER_DEFAULT, DATE_DEFAULT) "
    "VALUES (X_TYPE, X_NAME, 'BODY', 1, 'VARCHAR2', 'SEND', 'CONSTANT', 20, 0, NULL, NULL, NULL, NULL); "
    "INSERT INTO WF_MESSAGE_ATTRIBUTES_TL (MESSAGE_TYPE, MESSAGE_NAME, NAME, DISPLAY_NAME, DESCRIPTION, "
    "PROTECT_LEVEL, CUSTOM_LEVEL, LANGUAGE, SOURCE_LANG) "
    "SELECT X_TYPE, X_NAME, 'BODY', 'QEL:MSG_Attribute', 'QEL:MSG_Attribute', 20, 0, L.CODE, userenv('LANG') "
    "FROM WF_LANGUAGES L WHERE L.INSTALLED_FLAG = 'Y' AND NOT EXISTS (SELECT NULL FROM WF_MESSAGE_ATTRIBUTES_TL T "
    "WHERE T.MESSAGE_TYPE = X_TYPE AND T.MESSAGE_NAME = X_NAME AND T.NAME = 'BODY' AND T.LANGUAGE = L.CODE); "
    "COMMIT; "
    "END;";

/* :rc_code 1 an unknown user, 2 the send failed (rolled back: no notification without its body
 * waits in the session for a later commit). */
constexpr const char* kSendSql =
    "DECLARE "
    "v_users NUMBER; "
    "BEGIN "
    ":nid := 0; "
    ":rc_code := 0; "
    "SELECT COUNT(*) INTO v_users FROM fnd_user WHERE user_name = :receiver; "
    "IF v_users = 0 THEN :rc_code := 1; END IF; "
    "IF :rc_code = 0 THEN "
    "BEGIN "
    ":nid := WF_NOTIFICATION.send(:receiver, 'QEL:MSG', 'QEL:ORVSHOUTMSG', NULL, NULL, NULL, NULL, :priority); "
    "IF :nid > 0 THEN "
    "WF_NOTIFICATION.setAttrText(:nid, 'BODY', :msg); "
    "COMMIT; "
    "END IF; "
    "EXCEPTION WHEN OTHERS THEN ROLLBACK; :rc_code := 2; "
    "END; "
    "END IF; "
    "END;";

/* Room of the receiver bind; characters of the destination that are looked at. */
constexpr int kReceiverRoom = 100;
constexpr std::size_t kDestinationMax = 63;
/* Notification priority of an urgency that is not a number (or 0). */
constexpr int kDefaultPriority = 50;

ZPARC logged(ZPARC rc, const char* what) {
    DIAG_printf("%s", what);
    return rc;
}

/* Creates the Workflow message when the database does not have it yet. */
ZPARC ensure_message(BE_DUZ_Handles* session, ZPAError* Error) {
    be_sql::Statement stmt(session, Error);
    int found = 0;
    ZPARC rc = stmt.prepare(kMessageExistsSql);
    if (rc != 0) return logged(rc, "Fail to prepare statement BE_DUZ_SHOUT_verify_shout_message_inDUZ");
    if ((rc = stmt.define_int(1, &found)) != 0) return logged(rc, "Fail to define sql_rc.");
    if ((rc = stmt.execute_no_fetch()) != 0)
        return logged(rc, "Fail to execute BE_DUZ_SHOUT_verify_shout_message_inDUZ");
    const be_sql::Fetch row = stmt.fetch();
    if (row == be_sql::Fetch::Error) return logged(1, "Fail to execute BE_DUZ_SHOUT_verify_shout_message_inDUZ");
    if (row == be_sql::Fetch::Row) return 0;
    BE_TRACE(3, "The shout message is not in the database: it is created");
    if ((rc = stmt.prepare(kCreateMessageSql)) != 0)
        return logged(rc, "Fail to prepare statement BE_DUZ_SHOULT_load_DUZ_messages");
    if ((rc = stmt.execute()) != 0) return logged(rc, "Fail to execute BE_DUZ_SHOULT_load_DUZ_messages");
    return 0;
}

ZPARC send_message(BE_DUZ_Handles* session, const char* receiver_name, const char* message, const char* urgency,
                   ZPAError* Error) {
    ZPARC rc = ensure_message(session, Error);
    if (rc != 0) return rc;
    int priority = std::atoi(urgency != nullptr ? urgency : "");
    if (priority == 0) priority = kDefaultPriority;
    int nid = 0;
    int rc_code = 0;
    char receiver[kReceiverRoom] = "";
    std::strncpy(receiver, receiver_name != nullptr ? receiver_name : "", sizeof receiver - 1);
    be_sql::Statement stmt(session, Error);
    if ((rc = stmt.prepare(kSendSql)) != 0) return logged(rc, "Fail to prepare statement BE_DUZ_send_message_SQL");
    if ((rc = stmt.bind_int(":nid", &nid)) != 0) return logged(rc, "Fail to bind notification id");
    if ((rc = stmt.bind_text(":receiver", receiver, sizeof receiver)) != 0)
        return logged(rc, "Fail to bind receiver role");
    if ((rc = stmt.bind_text_copy(":msg", message != nullptr ? message : "")) != 0)
        return logged(rc, "Fail to bind message");
    if ((rc = stmt.bind_int(":rc_code", &rc_code)) != 0) return logged(rc, "Fail to bind return code");
    if ((rc = stmt.bind_int(":priority", &priority)) != 0) return logged(rc, "Fail to bind priority");
    if ((rc = stmt.execute()) != 0) return logged(rc, "Fail to execute BE_DUZ_send_message_SQL");
    switch (rc_code) {
    case 0: BE_TRACE(3, "Shout sent to '%s', notification %d", receiver, nid); return 0;
    case 1: BE_DUZ_UpdateErrorSet(Error, 1, "The destination '%s' is invalide.", receiver); return 1;
    case 2: BE_DUZ_UpdateErrorSet(Error, 1, "Fail to send a notification."); return 1;
    default: BE_DUZ_UpdateErrorSet(Error, 1, "Unknown error"); return 1;
    }
}

ZPARC shout(ZPAConnHandle* Connection, char* Action, ZPAAttrList* AttributesIn, ZPAError* Error) {
    int kind = 0;
    if (Connection != nullptr && Connection->UserData != nullptr) std::memcpy(&kind, Connection->UserData, sizeof kind);
    if (kind != BE_DUZ_CONNECTION) {
        /* No session, or a tracking connection's list: a shout goes out on one account's session. */
        BE_DUZ_UpdateErrorSet(Error, 1, "UserData pointer is NULL");
        return 1;
    }
    if (Action == nullptr || std::strcmp(Action, "SEND") != 0) {
        BE_DUZ_UpdateErrorSet(Error, ZPA_NOT_SUPPORTED, "Action %s is not supported", Action != nullptr ? Action : "");
        return ZPA_NOT_SUPPORTED;
    }
    const char* names[] = {"MESSAGE", "SHOUT_TYPE", "SHOUT_DESTINATION", "SHOUT_URGENCY"};
    const char* values[4] = {};
    for (int i = 0; i < 4; ++i) {
        values[i] = attr(AttributesIn, names[i]);
        if (values[i] == nullptr) {
            BE_DUZ_UpdateErrorSet(Error, 1, "the attribute '%s' is mandatory", names[i]);
            return 1;
        }
    }
    const std::string destination = be_job::cut(values[2], kDestinationMax);
    std::string receiver;
    if (!destination.empty()) {
        const std::size_t colon = destination.find(':');
        if (colon == std::string::npos || colon + 1 == destination.size()) {
            BE_DUZ_UpdateErrorSet(Error, 1, "SHOUT Destination format must be <DUZ-INSTANCE name>:<DUZ USER NAME>");
            return 1;
        }
        receiver = destination.substr(colon + 1);
        GM_STR_toupper(receiver.data());
    }
    if (std::strcmp(values[1], "U") != 0) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Invalid Destination Type '%s'.", values[1]);
        return 1;
    }
    return send_message(static_cast<BE_DUZ_Handles*>(Connection->UserData), receiver.c_str(), values[0], values[3],
                        Error);
}

}  // namespace

CM_EXTERN_C_BEGIN

ZPARC BE_SHOUT_send_message(BE_DUZ_Handles* DUZ_handle, char* rec_role, char* message, char* priority,
                            ZPAError* Error) {
    try {
        return send_message(DUZ_handle, rec_role, message, priority, Error);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_SHOUT_send_message");
        return 1;
    }
}

ZPARC ZPAAPI_SHOUT_ACTION(ZPAConnHandle* Connection, char* Action, ZPAAttrList* AttributesIn,
                          ZPAAttrList* AttributesOut, ZPAError* Error) {
    (void)AttributesOut;
    try {
        return shout(Connection, Action, AttributesIn, Error);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "ZPAAPI_SHOUT_ACTION");
        return 1;
    }
}

CM_EXTERN_C_END
