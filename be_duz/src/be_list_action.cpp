/* The list actions on one concurrent request that still waits to run: change its priority, put it
 * on hold, release it. Each is one PL/SQL block that locks the request's row, checks its state,
 * updates and commits, and tells its outcome through :rc_code. */
#include "be_internal.h"
#include "be_list_internal.h"

#include <string>

namespace {

/* The block's frame; the selected columns, the state test and the update differ per action. A
 * failure rolls back first: no update and no row lock of the block outlives it. */
std::string action_block(const char* columns, const char* qualifies, const char* update) {
    return std::string("DECLARE CURSOR c_req IS SELECT ") + columns +
           " FROM fnd_concurrent_requests where request_id = :req_id FOR UPDATE; "
           "v_row c_req%ROWTYPE; v_count NUMBER := 0; "
           "BEGIN OPEN c_req; "
           "LOOP FETCH c_req INTO v_row; EXIT WHEN c_req%NOTFOUND; v_count := v_count + 1; "
           "IF " +
           qualifies + " THEN UPDATE fnd_concurrent_requests " + update +
           " WHERE request_id = :req_id; :rc_code := 0; ELSE :rc_code := 2; END IF; END LOOP; "
           "IF v_count > 1 THEN ROLLBACK; :rc_code := 1; "
           "ELSIF v_count = 0 THEN :rc_code := 3; "
           "ELSE COMMIT; END IF; "
           "CLOSE c_req; "
           "EXCEPTION WHEN OTHERS THEN ROLLBACK; IF c_req%ISOPEN THEN CLOSE c_req; END IF; :rc_code := -1; END;";
}

/* One action: its block and the messages for each outcome of :rc_code. */
struct Action {
    std::string block;
    bool with_priority;
    const char* not_in_state;
    const char* not_unique;
    const char* not_found;
    const char* unexpected;
};

const Action& priority_action() {
    static const Action action{
        action_block("priority, phase_code, status_code", "v_row.phase_code IN ('P', 'I')", "set priority = :prio_num"),
        true,
        "Fail to update priority. Request is not pending!",
        "Fail to update priority. Request id '%d' is not unique!",
        "Fail to update priority. Can't find request with request_id '%d'.",
        "Fail to update priority. Unidentified error occured!"};
    return action;
}

const Action& hold_action() {
    static const Action action{
        action_block("hold_flag, phase_code, status_code", "v_row.phase_code IN ('P', 'I')", "set hold_flag = 'Y'"),
        false,
        "Fail to hold request. Request is not pending!",
        "Fail to hold request. Request id '%d' is not unique!",
        "Fail to hold request. Can't find request with request_id '%d'.",
        "Fail to hold request. Unidentified error occured!"};
    return action;
}

const Action& unhold_action() {
    static const Action action{
        action_block("hold_flag, phase_code, status_code", "v_row.hold_flag = 'Y'", "set hold_flag = 'N'"),
        false,
        "Fail to unhold request. Request is not on hold!",
        "Fail to unhold request. Request id '%d' is not unique!",
        "Fail to unhold request. Can't find request with request_id '%d'.",
        "Fail to unhold request. Unidentified error occurred!"};
    return action;
}

/* The inputs are read as decimal numbers the way atoi reads them (leading digits; none is 0). */
ZPARC run(const Action& action, BE_DUZ_Handles* session, ZPAAttrList* request, ZPAError* Error) {
    const char* id_text = be_list::mandatory_value(request, "DUZ-REQUEST_ID", Error);
    if (id_text == nullptr) return ZPA_FAIL;
    int request_id = be_run_number(id_text);
    int priority = 0;
    if (action.with_priority) {
        const char* priority_text = be_list::mandatory_value(request, "DUZ-PRIORITY", Error);
        if (priority_text == nullptr) return ZPA_FAIL;
        priority = be_run_number(priority_text);
    }
    be_sql::Statement statement(session, Error);
    ZPARC rc = statement.prepare(action.block.c_str());
    auto fail = [&](const char* message) {
        BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc), "%s", message);
        return ZPA_FAIL;
    };
    if (rc != 0) return fail("Fail to prepare SQL statement");
    if (action.with_priority && (rc = statement.bind_int(":prio_num", &priority)) != 0)
        return fail("Fail to bind priority");
    if ((rc = statement.bind_int(":req_id", &request_id)) != 0) return fail("Fail to bind request_id");
    int outcome = -1;
    if ((rc = statement.bind_int(":rc_code", &outcome)) != 0) return fail("Fail to bind return code");
    if (statement.execute() != 0) {
        /* The Oracle error is stored once more as the plug-in's own failure. */
        const std::string text = Error != nullptr ? Error->text : "";
        BE_DUZ_UpdateErrorSet(Error, 1, "%s", text.c_str());
        return ZPA_FAIL;
    }
    BE_TRACE(4, "request %d: action result %d", request_id, outcome);
    switch (outcome) {
    case 0: return ZPA_SUCCESS;
    case 2: BE_DUZ_UpdateErrorSet(Error, 1, "%s", action.not_in_state); break;
    case 1: BE_DUZ_UpdateErrorSet(Error, 1, action.not_unique, request_id); break;
    case 3: BE_DUZ_UpdateErrorSet(Error, 1, action.not_found, request_id); break;
    default: BE_DUZ_UpdateErrorSet(Error, 1, "%s", action.unexpected); break;
    }
    return ZPA_FAIL;
}

ZPARC guarded(const Action& (*action)(), BE_DUZ_Handles* session, ZPAAttrList* request, ZPAError* Error) {
    try {
        return run(action(), session, request, Error);
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "list action");
        return ZPA_FAIL;
    }
}

}  // namespace

CM_EXTERN_C_BEGIN

ZPARC BE_DUZ_LIST_set_priority(BE_DUZ_Handles* DUZ_handle, ZPAAttrList* xml_attrList, ZPAError* Error) {
    return guarded(priority_action, DUZ_handle, xml_attrList, Error);
}

ZPARC BE_DUZ_LIST_hold_request(BE_DUZ_Handles* DUZ_handle, ZPAAttrList* xml_attrList, ZPAError* Error) {
    return guarded(hold_action, DUZ_handle, xml_attrList, Error);
}

ZPARC BE_DUZ_LIST_unhold_request(BE_DUZ_Handles* DUZ_handle, ZPAAttrList* xml_attrList, ZPAError* Error) {
    return guarded(unhold_action, DUZ_handle, xml_attrList, Error);
}

CM_EXTERN_C_END
