/* The E-Business Suite applications context of a session: applications initialisation, the
 * multi-org access mode of the program, and the operating unit under which a submission runs.
 * Every statement runs on the session's one statement handle; nothing here commits. */
#include "be_def.h"
#include "be_sql_internal.h"

#include <cstring>
#include <string>

namespace {

constexpr const char* kAppsInitSql =
    "BEGIN FND_GLOBAL.APPS_INITIALIZE(:user_id, :resp_id, :resp_app_id, :group_id); END;";
constexpr const char* kMultiOrgCountSql =
    " select  count(MULTI_ORG_CATEGORY)  from fnd_concurrent_programs  where CONCURRENT_PROGRAM_NAME = :prog_name and "
    " MULTI_ORG_CATEGORY = 'M'";
constexpr const char* kSingleOrgCountSql =
    " select  count(MULTI_ORG_CATEGORY)  from fnd_concurrent_programs  where CONCURRENT_PROGRAM_NAME = :prog_name and "
    " MULTI_ORG_CATEGORY = 'S'";
constexpr const char* kMoInitSql = "BEGIN mo_global.init(:multy_org_flag); END;";
constexpr const char* kOrgIdSql = "select FND_GLOBAL.ORG_ID() from dual";
constexpr const char* kSetPolicySql = "BEGIN mo_global.set_policy_context('S',:org_id); END;";
constexpr const char* kSetServerPolicySql = "BEGIN mo_global_server.set_policy_context_server('S',:org_id); END;";
constexpr const char* kDeleteOrgAccessSql = "DELETE FROM MO_GLOB_ORG_ACCESS_TMP";
constexpr const char* kOrgIdByNameSql =
    "SELECT Distinct o.organization_id FROM hr_all_organization_units o, hr_all_organization_units_tl otl, "
    "hr_organization_information o2 WHERE o.organization_id = otl.organization_id AND o.organization_id = "
    "o2.organization_id AND otl.name = :ou_name";
constexpr const char* kOrgNameSql =
    "SELECT Distinct otl.name FROM hr_all_organization_units o, hr_all_organization_units_tl otl, "
    "hr_organization_information o2 WHERE o.organization_id = otl.organization_id AND o.organization_id = "
    "o2.organization_id AND o.organization_id = :org_id";
constexpr const char* kInsertOrgAccessSql =
    "INSERT INTO MO_GLOB_ORG_ACCESS_TMP (ORGANIZATION_ID , ORGANIZATION_NAME) VALUES (:org_id , :ou_name )";
constexpr const char* kRequestOrgSql = "BEGIN fnd_request.set_org_id(:org_id); END;";
constexpr const char* kRequestSetOrgSql = "BEGIN FND_SUBMIT.set_org_id(:org_id); END;";

int text_size(const char* text) { return static_cast<int>(std::strlen(text) + 1); }

/* Logs "what. error text" when rc is a failure; returns rc. */
ZPARC logged(ZPARC rc, const char* what, ZPAError* Error) {
    if (rc != 0) BE_TRACE(2, "%s. %s", what, Error != nullptr ? Error->text : "");
    return rc;
}

/* A block with one integer bind. */
ZPARC run_with_org(const char* sql, int org_id, const char* what, BE_DUZ_Handles* session, ZPAError* Error) {
    be_sql::Statement stmt(session, Error);
    ZPARC rc = stmt.prepare(sql);
    if (rc == 0) rc = stmt.bind_int(":org_id", &org_id);
    if (rc == 0) rc = stmt.execute();
    return logged(rc, what, Error);
}

/* A count of the program's rows of one category. The prepare, bind and define failures are the
 * result; an execution failure is logged and gives fail_rc without touching the record. */
ZPARC count_category(const char* sql, char* prog_name, int* count, ZPARC fail_rc, BE_DUZ_Handles* session,
                     ZPAError* Error) {
    *count = 0;
    be_sql::Statement stmt(session, Error);
    ZPARC rc = stmt.prepare(sql);
    if (rc == 0) rc = stmt.bind_text(":prog_name", prog_name, text_size(prog_name));
    if (rc == 0) rc = stmt.define_int(1, count);
    if (rc != 0) return logged(rc, "Fail to prepare check multi org Statement", Error);

    /* The execution's failure is reported in the log only: the caller's record keeps its text. */
    ZPAError scratch;
    std::memset(&scratch, 0, sizeof scratch);
    sword status = OCIStmtExecute(session->svchp, session->stmthp, session->errhp, 1, 0, nullptr, nullptr, OCI_DEFAULT);
    if (status == OCI_SUCCESS || status == OCI_SUCCESS_WITH_INFO) return 0;
    if (status == OCI_ERROR) {
        BE_DUZ_OCI_error(session->errhp, status, &scratch);
        DIAG_printf("Fail to execute check multi org Statement. %d -> %s", static_cast<int>(scratch.code),
                    scratch.text);
    } else {
        DIAG_printf("Fail to execute check multi org Statement. OCI_rc_code = %d", status);
    }
    *count = 0;
    return fail_rc;
}

}  // namespace

CM_EXTERN_C_BEGIN

ZPARC BE_DUZ_init_profile(int user_id, int resp_id, int resp_app_id, int group_id, BE_DUZ_Handles* JOB_handle,
                          ZPAAttrList* AttributesIn, ZPAError* Error) {
    be_sql::Statement stmt(JOB_handle, Error);
    ZPARC rc = stmt.prepare(kAppsInitSql);
    if (rc == 0) rc = stmt.bind_int(":user_id", &user_id);
    if (rc == 0) rc = stmt.bind_int(":resp_id", &resp_id);
    if (rc == 0) rc = stmt.bind_int(":resp_app_id", &resp_app_id);
    if (rc == 0) rc = stmt.bind_int(":group_id", &group_id);
    if (rc != 0) return logged(rc, "Fail to prepare FND_GLOBAL.APPS_INITIALIZE", Error);
    if ((rc = stmt.execute()) != 0) {
        BE_TRACE(2,
                 "User name, responsibility name, responsibility application, and security group are invalid "
                 "combination");
        return rc;
    }
    if (BE_DUZ_init_org_access(AttributesIn, JOB_handle, Error) != 0) BE_TRACE(2, "Fail to init Org access");
    return 0;
}

ZPARC BE_DUZ_init_org_access(ZPAAttrList* AttributesIn, BE_DUZ_Handles* JOB_handle, ZPAError* Error) {
    if (BE_DUZ_Is_Multy_Org_access(AttributesIn, JOB_handle, Error) >= 1) {
        if (BE_DUZ_mo_global_init(const_cast<char*>("M"), JOB_handle, Error) != 0)
            BE_TRACE(2, "Fail to init Org access");
        return 0;
    }
    /* Single operating unit: each step runs even when the one before failed. */
    if (BE_DUZ_mo_global_init(const_cast<char*>("S"), JOB_handle, Error) != 0) BE_TRACE(2, "Fail to init Org access");
    int org_id = 0;
    if (BE_DUZ_get_org_id(&org_id, JOB_handle, Error) != 0) org_id = 0;
    if (BE_DUZ_set_policy(org_id, JOB_handle, Error) != 0) BE_TRACE(2, "Fail to set policy context");
    return 0;
}

int BE_DUZ_Is_Multy_Org_access(ZPAAttrList* AttributesIn, BE_DUZ_Handles* JOB_handle, ZPAError* Error) {
    char* prog_name = nullptr;
    if (ZPAAPI_UTILS_AttrListValueGet(AttributesIn, const_cast<char*>("DUZ-PROGNAME"), &prog_name) != 0 ||
        prog_name == nullptr)
        return 0;
    if (JOB_handle == nullptr || JOB_handle->stmthp == nullptr) return 0;
    int count = 0;
    if (count_category(kMultiOrgCountSql, prog_name, &count, 1, JOB_handle, Error) != 0) return 0;
    return count;
}

ZPARC BE_DUZ_mo_global_init(char* Org_access_flag, BE_DUZ_Handles* JOB_handle, ZPAError* Error) {
    if (Org_access_flag == nullptr) return BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing access flag", BE_POS), 1;
    be_sql::Statement stmt(JOB_handle, Error);
    ZPARC rc = stmt.prepare(kMoInitSql);
    if (rc == 0) rc = stmt.bind_text(":multy_org_flag", Org_access_flag, text_size(Org_access_flag));
    if (rc == 0) rc = stmt.execute();
    return logged(rc, "Fail to execute mo_global.init", Error);
}

ZPARC BE_DUZ_get_org_id(int* org_id, BE_DUZ_Handles* JOB_handle, ZPAError* Error) {
    if (org_id == nullptr) return BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing org_id", BE_POS), 1;
    be_sql::Statement stmt(JOB_handle, Error);
    ZPARC rc = stmt.prepare(kOrgIdSql);
    if (rc == 0) rc = stmt.define_int(1, org_id);
    if (rc == 0) rc = stmt.execute();
    return logged(rc, "Fail to get FND_GLOBAL.ORG_ID", Error);
}

ZPARC BE_DUZ_set_policy(int org_id, BE_DUZ_Handles* JOB_handle, ZPAError* Error) {
    return run_with_org(kSetPolicySql, org_id, "Fail to set policy context", JOB_handle, Error);
}

ZPARC BE_DUZ_set_server_policy(int org_id, BE_DUZ_Handles* JOB_handle, ZPAError* Error) {
    return run_with_org(kSetServerPolicySql, org_id, "Fail to set server policy context", JOB_handle, Error);
}

ZPARC BE_DUZ_set_org_id(int org_id, char* req_type, BE_DUZ_Handles* JOB_handle, ZPAError* Error) {
    bool single = req_type != nullptr && std::strcmp(req_type, "REQUEST") == 0;
    return run_with_org(single ? kRequestOrgSql : kRequestSetOrgSql, org_id, "Fail to set org id", JOB_handle, Error);
}

ZPARC BE_DUZ_check_multi_org_category(int* has_ou, char* prog_name, BE_DUZ_Handles* JOB_handle, ZPAError* Error) {
    if (has_ou == nullptr || prog_name == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing program name", BE_POS);
        return 1;
    }
    if (JOB_handle == nullptr || JOB_handle->stmthp == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "No open database session");
        return 1;
    }
    return count_category(kSingleOrgCountSql, prog_name, has_ou, 1, JOB_handle, Error);
}

ZPARC BE_DUZ_DEL_MO_GLOB_ORG_ACCESS_TMP(BE_DUZ_Handles* JOB_handle, ZPAError* Error) {
    be_sql::Statement stmt(JOB_handle, Error);
    ZPARC rc = stmt.prepare(kDeleteOrgAccessSql);
    if (rc == 0) rc = stmt.execute();
    return logged(rc, "Fail to delete MO_GLOB_ORG_ACCESS_TMP", Error);
}

ZPARC BE_DUZ_get_org_id_by_Operating_Unit(int* org_id, char* ou_name, BE_DUZ_Handles* JOB_handle, ZPAError* Error) {
    if (org_id == nullptr || ou_name == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing operating unit", BE_POS);
        return 1;
    }
    be_sql::Statement stmt(JOB_handle, Error);
    ZPARC rc = stmt.prepare(kOrgIdByNameSql);
    if (rc == 0) rc = stmt.bind_text(":ou_name", ou_name, text_size(ou_name));
    if (rc == 0) rc = stmt.define_int(1, org_id);
    if (rc == 0) rc = stmt.execute();
    return logged(rc, "Fail to get organization id of the operating unit", Error);
}

ZPARC BE_DUZ_GET_OU_NAME(int org_id, char* ou_name, BE_DUZ_Handles* JOB_handle, ZPAError* Error) {
    if (ou_name == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing operating unit buffer", BE_POS);
        return 1;
    }
    be_sql::Statement stmt(JOB_handle, Error);
    ZPARC rc = stmt.prepare(kOrgNameSql);
    if (rc == 0) rc = stmt.bind_int(":org_id", &org_id);
    if (rc == 0) rc = stmt.define_text(1, ou_name, BE_DUZ_OU_NAME_SIZE);
    if (rc == 0) rc = stmt.execute();
    return logged(rc, "Fail to get operating unit name", Error);
}

ZPARC BE_DUZ_SET_OU_NAME(int org_id, char* ou_name, BE_DUZ_Handles* JOB_handle, ZPAError* Error) {
    if (ou_name == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: missing operating unit", BE_POS);
        return 1;
    }
    be_sql::Statement stmt(JOB_handle, Error);
    ZPARC rc = stmt.prepare(kInsertOrgAccessSql);
    if (rc == 0) rc = stmt.bind_int(":org_id", &org_id);
    if (rc == 0) rc = stmt.bind_text(":ou_name", ou_name, text_size(ou_name));
    if (rc == 0) rc = stmt.execute();
    return logged(rc, "Fail to insert into MO_GLOB_ORG_ACCESS_TMP", Error);
}

ZPARC BE_DUZ_set_Operating_Unit(char* prog_name, char* ou_name, char* req_type, BE_DUZ_Handles* JOB_handle,
                                ZPAAttrList* ConnectionAttributes, ZPAError* Error) {
    int has_ou = 0;
    ZPARC rc = BE_DUZ_check_multi_org_category(&has_ou, prog_name, JOB_handle, Error);
    if (rc != 0) {
        BE_TRACE(2, "Fail to check MULTI_ORG_CATEGORY value ");
        return rc;
    }
    char* no_override = nullptr;
    if (ZPAAPI_UTILS_AttrListValueGet(ConnectionAttributes, const_cast<char*>("NO_OU_OVER_DFLT"), &no_override) != 0 ||
        no_override == nullptr)
        no_override = const_cast<char*>("N");
    bool set_unit = has_ou != 0 || (std::strcmp(no_override, "N") == 0 && ou_name != nullptr);
    if (!set_unit) return 0;

    BE_DUZ_DEL_MO_GLOB_ORG_ACCESS_TMP(JOB_handle, Error);

    int org_id = 0;
    char name[BE_DUZ_OU_NAME_SIZE] = "";
    if (ou_name != nullptr) {
        std::strncpy(name, ou_name, sizeof name - 1);
        if (BE_DUZ_get_org_id_by_Operating_Unit(&org_id, name, JOB_handle, Error) != 0) {
            /* No such unit: the session's own organization, under the given name. */
            if ((rc = BE_DUZ_get_org_id(&org_id, JOB_handle, Error)) != 0) return rc;
        }
    } else {
        if ((rc = BE_DUZ_get_org_id(&org_id, JOB_handle, Error)) != 0) return rc;
        if ((rc = BE_DUZ_GET_OU_NAME(org_id, name, JOB_handle, Error)) != 0) return rc;
    }
    if ((rc = BE_DUZ_SET_OU_NAME(org_id, name, JOB_handle, Error)) != 0) return rc;
    if ((rc = BE_DUZ_set_server_policy(org_id, JOB_handle, Error)) != 0) return rc;
    return BE_DUZ_set_org_id(org_id, req_type, JOB_handle, Error);
}

CM_EXTERN_C_END
