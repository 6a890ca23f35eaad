/* Job-script view: writes what an OEBS job runs (its concurrent program with application and
 * executable, or the stages and programs of its request set) into a temporary file and hands that
 * text to the agent piece by piece. Owns the ZPAAPI_JCL_* entry points; the file is the data handle. */
#include "be_def.h"
#include "be_internal.h"
#include "be_sql_internal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {

constexpr const char* kProgramQuery =
    "  select app.application_short_name,          prog.concurrent_program_name,          exec.executable_name,"
    "          exec.execution_method_code,          lk.meaning,                          exec.execution_file_name,"
    "          exec.subroutine_name        from fnd_concurrent_programs prog,         fnd_application app,"
    "         fnd_executables exec,         fnd_lookups     lk       where          prog.concurrent_program_id ="
    " :progid and          prog.application_id = :appid and                prog.application_id ="
    " app.application_id and         prog.executable_application_id = exec.application_id and"
    "         prog.executable_id   = exec.executable_id and           lk.lookup_type ="
    " 'CP_EXECUTION_METHOD_CODE' and         exec.execution_method_code = lk.lookup_code";

constexpr const char* kRequestSetQuery =
    "select AP.application_short_name,        CP.concurrent_program_name,        exec.executable_name,"
    "        exec.execution_method_code,       lk.meaning,         exec.execution_file_name,"
    "        subroutine_name,         RSS.stage_name from          fnd_request_set_stages RSS,"
    "    fnd_concurrent_programs CP,    fnd_request_set_programs RSP,    fnd_executables          exec,"
    "   fnd_application         AP ,     fnd_lookups             lk  where    RSS.set_application_id ="
    " :appid and    RSS.request_set_id     = :setid  and    RSP.set_application_id = RSS.set_application_id"
    " and    RSP.request_set_id     = rss.request_set_id and     RSP.request_set_stage_id ="
    " RSS.request_set_stage_id and    RSP.program_application_id = CP.application_id and"
    "    RSP.concurrent_program_id  = CP.concurrent_program_id and    CP.application_id = AP.application_id and"
    "     CP.executable_application_id = exec.application_id and    CP.executable_id = exec.executable_id  and"
    "    lk.lookup_type = 'CP_EXECUTION_METHOD_CODE' and    exec.execution_method_code = lk.lookup_code"
    "    order by rss.display_sequence, RSP.sequence";

constexpr const char* kTaskTypeKey = "DUZ-TASKTYPE";
constexpr const char* kProgramTaskType = "REQUEST";
constexpr const char* kRequestSetTaskType = "REQUEST_SET";
constexpr const char* kNullHandleText = "JCL_handle Pointer is NULL.";

struct FileCloser {
    void operator()(FILE* file) const { std::fclose(file); }
};
using TempFile = std::unique_ptr<FILE, FileCloser>;

// The job's saved submission attributes, released when they go out of scope.
struct SavedAttributes {
    ZPAAttrList list{0, nullptr, 0};
    SavedAttributes() = default;
    SavedAttributes(const SavedAttributes&) = delete;
    SavedAttributes& operator=(const SavedAttributes&) = delete;
    ~SavedAttributes() {
        if (list.Attributes) ZPAAPI_utils_release_attr(&list);
    }
};

// The ids that select the definition query.
struct JobIds {
    bool program = true;       // task type "REQUEST"
    bool stage_lines = false;  // task type "REQUEST_SET"
    int appid = 0;
    int objectid = 0;  // program id, or request-set id
};

// One row of the definition query: every column cut to 31 characters; a NULL reads as "".
struct JclRow {
    char app_name[BE_DUZ_JCL_COLUMN_SIZE] = "";
    char prog_name[BE_DUZ_JCL_COLUMN_SIZE] = "";
    char exec_name[BE_DUZ_JCL_COLUMN_SIZE] = "";
    char exec_method_code[BE_DUZ_JCL_COLUMN_SIZE] = "";
    char exec_method[BE_DUZ_JCL_COLUMN_SIZE] = "";
    char exec_file_name[BE_DUZ_JCL_COLUMN_SIZE] = "";
    char exec_subroutine_name[BE_DUZ_JCL_COLUMN_SIZE] = "";
    char stage_name[BE_DUZ_JCL_COLUMN_SIZE] = "";
};

BE_DUZ_Handles* session_of(ZPAConnHandle* Connection) {
    if (!Connection || !Connection->UserData) return nullptr;
    auto* session = static_cast<BE_DUZ_Handles*>(Connection->UserData);
    return session->dataType == BE_DUZ_CONNECTION ? session : nullptr;
}

// A request attribute that must be there; reports "the attribute '%s' is mandatory" when not.
const char* mandatory(ZPAAttrList* AttributesIn, const char* name, ZPAError* Error) {
    char* value = nullptr;
    if (ZPAAPI_UTILS_AttrListValueGet(AttributesIn, const_cast<char*>(name), &value) != ZPA_SUCCESS || !value) {
        BE_DUZ_UpdateErrorSet(Error, 1, "the attribute '%s' is mandatory", name);
        return nullptr;
    }
    return value;
}

// Order and run number of the job: ORDERNO/RUNNO, or MEMLIB/MEMNAME when the run number is below 1.
ZPARC job_keys(ZPAAttrList* AttributesIn, const char** orderno, const char** runno, ZPAError* Error) {
    if (!(*orderno = mandatory(AttributesIn, "ORDERNO", Error))) return ZPA_FAIL;
    if (!(*runno = mandatory(AttributesIn, "RUNNO", Error))) return ZPA_FAIL;
    if (be_run_number(*runno) >= 1) return ZPA_SUCCESS;
    BE_TRACE(4, "Try to use MEMNAME and MEMLIB");
    if (!(*orderno = mandatory(AttributesIn, "MEMLIB", Error))) return ZPA_FAIL;
    if (!(*runno = mandatory(AttributesIn, "MEMNAME", Error))) return ZPA_FAIL;
    if (be_run_number(*runno) < 1) BE_TRACE(2, "No valid orderno and runno are found");
    return ZPA_SUCCESS;
}

// Loads the job's procid file, else its backup file. procid_path receives the procid file's path.
ZPARC load_saved_attributes(const char* orderno, const char* runno, SavedAttributes& saved, char* procid_path,
                            ZPAError* Error) {
    BE_DUZ_build_procid_fname(procid_path, orderno, runno);
    // The helper's own complaint is not the caller's: only the final outcome is reported.
    ZPAError ignored{};
    if (BE_DUZ_append_file2Attr(&saved.list, procid_path, &ignored) == ZPA_SUCCESS) return ZPA_SUCCESS;
    BE_TRACE(2, " PROCID file not found, looking for Backup file");
    PATHNAME_D_typ backup_path = "";
    BE_DUZ_build_backup_fname(backup_path, orderno, runno);
    const ZPARC rc = BE_DUZ_append_file2Attr(&saved.list, backup_path, &ignored);
    if (rc != ZPA_SUCCESS)
        BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc),
                              "JCL cannot be retrieved. Failed to load file '%s'.", backup_path);
    return rc;
}

// Reads one key of the saved attributes; reports "keyword %s not found from '%s'" when missing.
ZPARC saved_value(SavedAttributes& saved, const char* key, const char* procid_path, const char** value,
                  ZPAError* Error) {
    char* found = nullptr;
    const ZPARC rc = ZPAAPI_UTILS_AttrListValueGet(&saved.list, const_cast<char*>(key), &found);
    if (rc != ZPA_SUCCESS || !found) {
        const ZPARC failure = rc != ZPA_SUCCESS ? rc : ZPA_FAIL;
        BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(failure), "keyword %s not found from '%s'", key,
                              procid_path);
        return failure;
    }
    *value = found;
    return ZPA_SUCCESS;
}

ZPARC read_job_ids(SavedAttributes& saved, const char* procid_path, JobIds& ids, ZPAError* Error) {
    const char* task_type = nullptr;
    const char* appid = nullptr;
    const char* objectid = nullptr;
    ZPARC rc = saved_value(saved, kTaskTypeKey, procid_path, &task_type, Error);
    if (rc != ZPA_SUCCESS) return rc;
    ids.program = std::strcmp(task_type, kProgramTaskType) == 0;
    ids.stage_lines = std::strcmp(task_type, kRequestSetTaskType) == 0;
    rc = saved_value(saved, "DUZ-APPID", procid_path, &appid, Error);
    if (rc == ZPA_SUCCESS)
        rc = saved_value(saved, ids.program ? "DUZ-PROGID" : "DUZ-REQSETID", procid_path, &objectid, Error);
    if (rc != ZPA_SUCCESS) return rc;
    // Ids are decimal texts read the way the run number is (atoi, clamped to the int range).
    ids.appid = be_run_number(appid);
    ids.objectid = be_run_number(objectid);
    return ZPA_SUCCESS;
}

// Logs the step that failed with the error text already in the record; passes the result on.
ZPARC step_failed(const char* step, ZPARC rc, ZPAError* Error) {
    DIAG_printf("%s. %s", step, Error ? Error->text : "");
    return rc;
}

// Prepares, binds, defines and executes the definition query without fetching a row.
ZPARC run_query(be_sql::Statement& statement, BE_DUZ_Handles* session, JobIds& ids, JclRow& row, ZPAError* Error) {
    ZPARC rc = statement.prepare(ids.program ? kProgramQuery : kRequestSetQuery);
    if (rc != ZPA_SUCCESS) return step_failed("Fail to prepare JCL SQL", rc, Error);
    if ((rc = statement.bind_int(":appid", &ids.appid)) != ZPA_SUCCESS)
        return step_failed("Fail to bind appid", rc, Error);
    if (ids.program) {
        if ((rc = statement.bind_int(":progid", &ids.objectid)) != ZPA_SUCCESS)
            return step_failed("Fail to bind progid", rc, Error);
    } else if ((rc = statement.bind_int(":setid", &ids.objectid)) != ZPA_SUCCESS) {
        return step_failed("Fail to bind setid", rc, Error);
    }
    struct Column {
        char* buffer;
        const char* failure;
    };
    const Column columns[] = {
        {row.app_name, "Fail to define app_name"},
        {row.prog_name, "Fail to define prog_name"},
        {row.exec_name, "Fail to bind exec_name"},
        {row.exec_method_code, "Fail to define exec_method_code"},
        {row.exec_method, "Fail to define exec_method"},
        {row.exec_file_name, "Fail to define exec_file_name"},
        {row.exec_subroutine_name, "Fail to define exec_subroutine_name"},
        {row.stage_name, "Fail to define stage_name"},
    };
    const ub4 count = ids.program ? 7 : 8;
    for (ub4 position = 1; position <= count; ++position) {
        const Column& column = columns[position - 1];
        if ((rc = statement.define_text(position, column.buffer, BE_DUZ_JCL_COLUMN_SIZE)) != ZPA_SUCCESS)
            return step_failed(column.failure, rc, Error);
    }
    rc = BE_DUZ_OCI_error(
        session->errhp,
        OCIStmtExecute(session->svchp, session->stmthp, session->errhp, 0, 0, nullptr, nullptr, OCI_DEFAULT), Error);
    if (rc != ZPA_SUCCESS) return step_failed("Fail to execute JCL SQL", rc, Error);
    return ZPA_SUCCESS;
}

// Writes the lines of one row; a set's stage line comes before the first program of each stage.
void write_row(FILE* file, const JobIds& ids, const JclRow& row, bool& stage_written, char* last_stage) {
    if (ids.stage_lines && (!stage_written || std::strcmp(row.stage_name, last_stage) != 0)) {
        std::fprintf(file, "STAGE NAME  = %s\n", row.stage_name);
        std::snprintf(last_stage, BE_DUZ_JCL_COLUMN_SIZE, "%s", row.stage_name);
        stage_written = true;
    }
    std::fprintf(file, "\tPROGRAM NAME = %-*s APP NAME = %s\n", BE_DUZ_JCL_PROGRAM_WIDTH, row.prog_name, row.app_name);
    std::fprintf(file, "\t\tEXECUTABLE NAME  = %s\n", row.exec_name);
    std::fprintf(file, "\t\tEXECUTION METHOD = %s\n", row.exec_method);
    std::fprintf(file, "\t\tEXECUTION FILE   = %s\n", row.exec_file_name);
    std::fprintf(file, "\t\tSUBROUTINE NAME  = %s\n", row.exec_subroutine_name);
    BE_TRACE(4, " %-20.20s | %-10.10s |%-20.20s | %-20.20s | %-25.25s | %-15.15s\n", row.prog_name, row.app_name,
             row.exec_name, row.exec_method, row.exec_file_name, row.exec_subroutine_name);
}

// Fetches every row and writes it. The end of data ends the listing; any other failing fetch
// ends the open with that failure, so a text cut short is never handed out as whole.
ZPARC write_rows(be_sql::Statement& statement, BE_DUZ_Handles* session, const JobIds& ids, const JclRow& row,
                 FILE* file, ZPAError* Error) {
    bool stage_written = false;
    char last_stage[BE_DUZ_JCL_COLUMN_SIZE] = "";
    for (;;) {
        const sword status = statement.fetch_next();
        if (status == OCI_NO_DATA) break;
        const ZPARC rc = BE_DUZ_OCI_error(session->errhp, status, Error);
        if (rc != ZPA_SUCCESS) return step_failed("Fail to fetch JCL SQL", rc, Error);
        write_row(file, ids, row, stage_written, last_stage);
    }
    if (std::fflush(file) != 0 || std::ferror(file)) {
        char system_error[256];
        BE_DUZ_UpdateErrorSet(Error, 1, "failed to write file. error '%s'", BE_DUZ_get_system_error(system_error));
        return ZPA_FAIL;
    }
    return ZPA_SUCCESS;
}

ZPARC jcl_open(ZPAConnHandle* Connection, void** Handle, ZPAAttrList* AttributesIn, ZPAError* Error) {
    if (!Handle) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s", kNullHandleText);
        return ZPA_FAIL;
    }
    *Handle = nullptr;
    BE_DUZ_Handles* session = session_of(Connection);
    if (!session) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Connection is NULL");
        return ZPA_FAIL;
    }
    // Closed (and so removed) on every failure below; only a finished text is handed out.
    TempFile file(std::tmpfile());
    if (!file) {
        BE_DUZ_UpdateErrorSet(Error, 1, "tmpfile() failed to create temp file.");
        return ZPA_FAIL;
    }
    const char* orderno = nullptr;
    const char* runno = nullptr;
    ZPARC rc = job_keys(AttributesIn, &orderno, &runno, Error);
    if (rc != ZPA_SUCCESS) return rc;

    JobIds ids;
    {
        SavedAttributes saved;
        PATHNAME_D_typ procid_path = "";
        if ((rc = load_saved_attributes(orderno, runno, saved, procid_path, Error)) != ZPA_SUCCESS) return rc;
        if ((rc = read_job_ids(saved, procid_path, ids, Error)) != ZPA_SUCCESS) return rc;
    }

    JclRow row;
    be_sql::Statement statement(session, Error);
    if ((rc = run_query(statement, session, ids, row, Error)) != ZPA_SUCCESS) return rc;
    if ((rc = write_rows(statement, session, ids, row, file.get(), Error)) != ZPA_SUCCESS) return rc;

    std::rewind(file.get());
    *Handle = file.release();
    return ZPA_SUCCESS;
}

ZPARC jcl_read(void* Handle, ZPAAttrList* AttributesIn, ZPAAttrList* AttributesOut, ZPAError* Error) {
    if (!Handle) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s", kNullHandleText);
        return ZPA_FAIL;
    }
    const ZPARC rc = be_navigate_next(AttributesIn, Error);
    if (rc != ZPA_SUCCESS) return rc;
    return be_read_text_piece(static_cast<FILE*>(Handle), AttributesOut, Error);
}

}  // namespace

CM_EXTERN_C_BEGIN

ZPARC ZPAAPI_JCL_ACTION(ZPAConnHandle* Connection, char* Action, ZPAAttrList* AttributesIn, ZPAAttrList* AttributesOut,
                        ZPAError* Error) {
    (void)Connection;
    (void)AttributesIn;
    (void)AttributesOut;
    BE_TRACE(4, "Starting: '%s'", "ZPAAPI_JCL_ACTION");
    BE_DUZ_UpdateErrorSet(Error, ZPA_NOT_FOUND, "JCL action %s is not implemented yet", Action ? Action : "");
    BE_TRACE(4, "Ending: '%s'", "ZPAAPI_JCL_ACTION");
    return ZPA_NOT_FOUND;
}

ZPARC ZPAAPI_JCL_DATA_OPEN(ZPAConnHandle* Connection, void** Handle, ZPAAttrList* AttributesIn, ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "ZPAAPI_JCL_DATA_OPEN");
    const ZPARC rc = jcl_open(Connection, Handle, AttributesIn, Error);
    BE_TRACE(4, "Ending: '%s'", "ZPAAPI_JCL_DATA_OPEN");
    return rc;
}

ZPARC ZPAAPI_JCL_DATA_READ(ZPAConnHandle* Connection, void* Handle, ZPAAttrList* AttributesIn,
                           ZPAAttrList* AttributesOut, ZPAError* Error) {
    (void)Connection;
    BE_TRACE(4, "Starting: '%s'", "ZPAAPI_JCL_DATA_READ");
    const ZPARC rc = jcl_read(Handle, AttributesIn, AttributesOut, Error);
    BE_TRACE(4, "Ending: '%s'", "ZPAAPI_JCL_DATA_READ");
    return rc;
}

ZPARC ZPAAPI_JCL_DATA_WRITE(ZPAConnHandle* Connection, void* Handle, ZPAAttrList* Attributes, ZPAError* Error) {
    (void)Connection;
    (void)Handle;
    (void)Attributes;
    (void)Error;
    BE_TRACE(4, "Starting: '%s'", "ZPAAPI_JCL_DATA_WRITE");
    BE_TRACE(4, "Ending: '%s'", "ZPAAPI_JCL_DATA_WRITE");
    return ZPA_SUCCESS;
}

ZPARC ZPAAPI_JCL_DATA_CLOSE(ZPAConnHandle* Connection, void* Handle, ZPAAttrList* Attributes, ZPAError* Error) {
    (void)Connection;
    (void)Attributes;
    BE_TRACE(4, "Starting: '%s'", "ZPAAPI_JCL_DATA_CLOSE");
    ZPARC rc = ZPA_SUCCESS;
    if (!Handle) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s", kNullHandleText);
        rc = ZPA_FAIL;
    } else {
        std::fclose(static_cast<FILE*>(Handle));
    }
    BE_TRACE(4, "Ending: '%s'", "ZPAAPI_JCL_DATA_CLOSE");
    return rc;
}

CM_EXTERN_C_END
