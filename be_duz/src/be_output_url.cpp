/* The "ViewOutputUrl" list: the web address at which the output file of one finished request can
 * be viewed. The file is registered with FND_WEBFILE.CREATE_ID for a one-time id, and the address is
 * the web agent's scheme, host and port followed by "/OA_CGI/FNDWRR.exe?temp_id=" and that id. The
 * answer is a whole-text document holding the address or the reason there is none. */
#include "be_list_internal.h"
#include "gm_param.h"
#include "gm_str.h"
#include "os_shared_file_internal.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr const char* kBaseUrlSql = "select fnd_profile.value('APPS_WEB_AGENT') from dual";
constexpr const char* kOutFileSql =
    "SELECT OUTFILE_NAME, OUTFILE_NODE_NAME, UPPER(OUTPUT_FILE_TYPE), OFILE_SIZE FROM fnd_concurrent_requests "
    "WHERE REQUEST_ID = :req_id";
constexpr const char* kPublisherSql = "SELECT COUNT(1) FROM FND_CONC_REQ_OUTPUTS WHERE CONCURRENT_REQUEST_ID = :req_id";
constexpr const char* kXmlOutFileSql =
    "SELECT FILE_NAME , FILE_NODE_NAME, FILE_TYPE  , FILE_SIZE FROM FND_CONC_REQ_OUTPUTS   "
    "WHERE CONCURRENT_REQUEST_ID =  :req_id  AND ROWNUM  =  1";
constexpr const char* kNodeSql =
    " DECLARE name VARCHAR2(200);  BEGIN  name := FND_CONC_PRIVATE_UTILS.GET_FS_SVC_NAME(name);  commit;  "
    ":node := name;   END;";
constexpr const char* kCreateIdSql =
    " DECLARE v_file_id NUMBER :=0;  BEGIN  v_file_id :=  FND_WEBFILE.CREATE_ID(:out_file,:node_str,10,:type,:req_id,"
    ":x_mode,'Y');  commit;  :id := v_file_id;   END;";
constexpr const char* kUrlPath = "/OA_CGI/FNDWRR.exe?temp_id=";
constexpr const char* kUsersFile = "OutViewUsers.xml";

struct OutType {
    const char* out_type;
    const char* x_mode;
    const char* mime;
};
constexpr OutType kOutTypes[] = {
    {"PDF", "BINARY", "application/pdf"},
    {"TEXT", "TEXT", "text/plain"},
    {"RTF", "TEXT", "text/xml"},
    {"EXCEL", "BINARY", "application/vnd.ms-excel"},
    {"FO", "TEXT", "text/xml"},
    {"HTML", "TEXT", "text/html"},
    {"PCL", "BINARY", "application/vnd.hp-PCL"},
    {"POSTSCRIPT", "BINARY", "application/postscript"},
    {"PS", "BINARY", "application/postscript"},
    {"XML", "TEXT", "text/xml"},
};

/* The four values of an output-file query, the request id bound as text. */
ZPARC out_file_query(const char* sql, char* req_id, char* out_file, char* node_name, char* out_type, char* size,
                     BE_DUZ_Handles* session, ZPAError* Error) {
    out_file[0] = node_name[0] = out_type[0] = size[0] = '\0';
    be_sql::Statement statement(session, Error);
    std::string id(req_id != nullptr ? req_id : "");
    ZPARC rc = statement.prepare(sql);
    if (rc == 0) rc = statement.bind_text(":req_id", id.data(), static_cast<int>(id.size() + 1));
    if (rc == 0) rc = statement.define_text(1, out_file, BE_DUZ_URL_TEXT_SIZE);
    if (rc == 0) rc = statement.define_text(2, node_name, BE_DUZ_URL_TEXT_SIZE);
    if (rc == 0) rc = statement.define_text(3, out_type, BE_DUZ_URL_TYPE_SIZE);
    if (rc == 0) rc = statement.define_text(4, size, BE_DUZ_URL_SIZE_SIZE);
    if (rc == 0) rc = statement.execute();
    if (rc != 0) BE_TRACE(2, "output file query failed. %s", Error != nullptr ? Error->text : "");
    return rc;
}

/* An in-bind of the registration block: a text of at least 200 bytes, never cut. */
struct BlockText {
    const char* name;
    std::string value;
    BlockText(const char* bind_name, const char* text) : name(bind_name), value(text != nullptr ? text : "") {
        value.resize(std::max<std::size_t>(value.size() + 1, BE_DUZ_URL_TEXT_SIZE), '\0');
    }
};

/* The text of the error record, as the answer's "DUZ-ERROR" shows it. */
std::string error_text(ZPAError* Error) { return Error != nullptr ? Error->text : ""; }

}  // namespace

CM_EXTERN_C_BEGIN

ZPARC BE_DUZ_Retrive_Base_Url(char* base_url, BE_DUZ_Handles* DUZ_handle, ZPAError* Error) {
    if (base_url == nullptr) return ZPA_FAIL;
    base_url[0] = '\0';
    be_sql::Statement statement(DUZ_handle, Error);
    ZPARC rc = statement.prepare(kBaseUrlSql);
    if (rc == 0) rc = statement.define_text(1, base_url, BE_DUZ_URL_TEXT_SIZE);
    if (rc == 0) rc = statement.execute();
    return rc;
}

ZPARC BE_DUZ_Get_Out_File_Path(char* req_id, char* out_file, char* node_name, char* out_type, char* size,
                               BE_DUZ_Handles* DUZ_handle, ZPAError* Error) {
    return out_file_query(kOutFileSql, req_id, out_file, node_name, out_type, size, DUZ_handle, Error);
}

ZPARC BE_DUZ_Get_Xml_Out_File_Path(char* req_id, char* out_file, char* node_name, char* out_type, char* size,
                                   BE_DUZ_Handles* DUZ_handle, ZPAError* Error) {
    return out_file_query(kXmlOutFileSql, req_id, out_file, node_name, out_type, size, DUZ_handle, Error);
}

ZPARC BE_DUZ_Check_if_Publisher(char* req_id, char* flag, BE_DUZ_Handles* DUZ_handle, ZPAError* Error) {
    flag[0] = '\0';
    be_sql::Statement statement(DUZ_handle, Error);
    std::string id(req_id != nullptr ? req_id : "");
    ZPARC rc = statement.prepare(kPublisherSql);
    if (rc == 0) rc = statement.bind_text(":req_id", id.data(), static_cast<int>(id.size() + 1));
    if (rc == 0) rc = statement.define_text(1, flag, BE_DUZ_URL_FLAG_SIZE);
    if (rc == 0) rc = statement.execute();
    return rc;
}

ZPARC BE_DUZ_Check_if_Pulisher_And_Get_Out_File_Path(char* req_id, char* out_file, char* node_name, char* out_type,
                                                     char* size, BE_DUZ_Handles* DUZ_handle, ZPAError* Error) {
    char flag[BE_DUZ_URL_FLAG_SIZE] = "";
    if (BE_DUZ_Check_if_Publisher(req_id, flag, DUZ_handle, Error) != 0) return ZPA_FAIL;
    if (std::strcmp(flag, "1") != 0) return ZPA_SUCCESS;
    BE_TRACE(4, "request %s is an XML Publisher request", req_id);
    return BE_DUZ_Get_Xml_Out_File_Path(req_id, out_file, node_name, out_type, size, DUZ_handle, Error) != 0
               ? ZPA_FAIL
               : ZPA_SUCCESS;
}

ZPARC BE_DUZ_Get_Node(char* node, BE_DUZ_Handles* DUZ_handle, ZPAError* Error) {
    node[0] = '\0';
    be_sql::Statement statement(DUZ_handle, Error);
    ZPARC rc = statement.prepare(kNodeSql);
    if (rc == 0) rc = statement.bind_text(":node", node, BE_DUZ_URL_TEXT_SIZE);
    if (rc == 0) rc = statement.execute();
    return rc;
}

ZPARC BE_DUZ_init_Out_Types(char* out_type, out_info* info, ZPAError* Error) {
    (void)Error;
    if (info == nullptr) return ZPA_SUCCESS;
    *info = out_info{};
    std::snprintf(info->out_type, sizeof info->out_type, "%s", out_type != nullptr ? out_type : "");
    for (const OutType& type : kOutTypes) {
        if (std::strcmp(info->out_type, type.out_type) != 0) continue;
        std::snprintf(info->x_mode, sizeof info->x_mode, "%s", type.x_mode);
        std::snprintf(info->type, sizeof info->type, "%s", type.mime);
        break;
    }
    return ZPA_SUCCESS;
}

ZPARC BE_DUZ_Calculate_Id(char* url_id, char* req_id, char* out_file, char* node_str, out_info info,
                          BE_DUZ_Handles* DUZ_handle, ZPAError* Error) {
    url_id[0] = '\0';
    BlockText texts[] = {{":out_file", out_file},
                         {":node_str", node_str},
                         {":type", info.type},
                         {":req_id", req_id},
                         {":x_mode", info.x_mode}};
    be_sql::Statement statement(DUZ_handle, Error);
    ZPARC rc = statement.prepare(kCreateIdSql);
    if (rc == 0) rc = statement.bind_text(":id", url_id, BE_DUZ_URL_TEXT_SIZE);
    for (BlockText& text : texts)
        if (rc == 0) rc = statement.bind_text(text.name, text.value.data(), static_cast<int>(text.value.size()));
    if (rc == 0) rc = statement.execute();
    return rc;
}

ZPARC BE_DUZ_Calculate_Url_Id(char* url_id, BE_DUZ_Handles* DUZ_handle, ZPAAttrList* xml_attrList, ZPAError* Error) {
    char* req_id = be_list::mandatory_value(xml_attrList, "DUZ-REQUEST_ID", Error);
    if (req_id == nullptr) return ZPA_FAIL;
    char out_file[BE_DUZ_URL_TEXT_SIZE];
    char node_name[BE_DUZ_URL_TEXT_SIZE];
    char out_type[BE_DUZ_URL_TYPE_SIZE];
    char size[BE_DUZ_URL_SIZE_SIZE];
    if (BE_DUZ_Get_Out_File_Path(req_id, out_file, node_name, out_type, size, DUZ_handle, Error) != 0) return ZPA_FAIL;
    if (std::strcmp(out_type, "XML") == 0 && BE_DUZ_Check_if_Pulisher_And_Get_Out_File_Path(
                                                 req_id, out_file, node_name, out_type, size, DUZ_handle, Error) != 0)
        return ZPA_FAIL;
    const ZPAErrorCode code = Error != nullptr ? Error->code : 1;
    if (std::strcmp(size, "0") == 0) {
        ZPAAPI_UTILS_ErrorSet(Error, code, "%s", "Output File is empty");
        return ZPA_FAIL;
    }
    if (size[0] == '\0') {
        ZPAAPI_UTILS_ErrorSet(Error, code, "%s", "The concurrent request did not create an output file.");
        return ZPA_FAIL;
    }
    char service[BE_DUZ_URL_TEXT_SIZE];
    if (BE_DUZ_Get_Node(service, DUZ_handle, Error) != 0) return ZPA_FAIL;
    const std::string node_str = std::string(service) + node_name;
    out_info info{};
    BE_DUZ_init_Out_Types(out_type, &info, Error);
    return BE_DUZ_Calculate_Id(url_id, req_id, out_file, const_cast<char*>(node_str.c_str()), info, DUZ_handle,
                               Error) != 0
               ? ZPA_FAIL
               : ZPA_SUCCESS;
}

ZPARC BE_DUZ_Write_OUT_URL_Xml_Response(BE_DUZ_xmldata_handle* xml_handle, int success, const char* text,
                                        ZPAError* Error) {
    be_list::Answer answer(Error);
    if (answer.begin(xml_handle->header) != ZPA_SUCCESS ||
        answer.element(success == 1 ? "DUZ-OUTURL" : "DUZ-ERROR", text) != ZPA_SUCCESS ||
        answer.finish() != ZPA_SUCCESS)
        return ZPA_FAIL;
    be_list::set_shape(xml_handle, {}, {});
    std::free(xml_handle->xmlResponse);
    xml_handle->xmlResponse = answer.release();
    xml_handle->isPKM = 1;
    return ZPA_SUCCESS;
}

ZPARC BE_DUZ_get_output_url(BE_DUZ_Handles* DUZ_handle, BE_DUZ_xmldata_handle* xml_handle, ZPAAttrList* xml_attrList,
                            ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_get_output_url");
    char base[BE_DUZ_URL_TEXT_SIZE];
    if (BE_DUZ_Retrive_Base_Url(base, DUZ_handle, Error) != 0)
        return BE_DUZ_Write_OUT_URL_Xml_Response(xml_handle, 0, error_text(Error).c_str(), Error);
    /* Only the scheme, host and port are kept. */
    const char* scheme_end = std::strstr(base, "//");
    if (scheme_end == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "The profile APPS_WEB_AGENT value '%s' is not a web address", base);
        return BE_DUZ_Write_OUT_URL_Xml_Response(xml_handle, 0, error_text(Error).c_str(), Error);
    }
    if (char* path = std::strchr(const_cast<char*>(scheme_end) + 2, '/')) *path = '\0';
    char url_id[BE_DUZ_URL_TEXT_SIZE];
    if (BE_DUZ_Calculate_Url_Id(url_id, DUZ_handle, xml_attrList, Error) != 0)
        return BE_DUZ_Write_OUT_URL_Xml_Response(xml_handle, 0, error_text(Error).c_str(), Error);
    const std::string address = std::string(base) + kUrlPath + url_id;
    BE_TRACE(4, "output address: %s", address.c_str());
    return BE_DUZ_Write_OUT_URL_Xml_Response(xml_handle, 1, address.c_str(), Error);
}

int Is_User_Authorized_For_Output_Url(ZPAAttrList* xml_attrList, ZPAError* Error) {
    char* account = be_list::mandatory_value(xml_attrList, "DUZ-INSTANCE", Error);
    if (account == nullptr) return 0;
    GM_PARAM_VALUE_typ agent_dir = "";
    GM_PARAM_get("CONFIG", "AGENT_DIR", agent_dir);
    const std::string path = std::string(agent_dir) + "/data/" + kUsersFile;
    // A regular file only, never through a link at its name and never waiting on a FIFO.
    std::string users;
    const CM_RC read = os_shared::read_file(path, users);
    if (read != CM_RC_OK) {
        BE_TRACE(1, read == CM_RC_OPEN_FAILED ? "open  file '%s' failed" : "read from file '%s' failed", path.c_str());
        return 0;
    }
    GM_STR_toupper(users.data());
    GM_STR_toupper(account);
    const std::string wanted = std::string("NAME>") + account + "</NAME";
    return users.find(wanted) != std::string::npos ? 1 : 0;
}

CM_EXTERN_C_END
