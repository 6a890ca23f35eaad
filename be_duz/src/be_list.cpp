/* The list entry points of the job-definition form: OPEN parses the XML question and runs the
 * list's handler (or hands a configuration-manager request to its dispatcher), READ pages the
 * answer one row (or one 1000-character piece) per call into the output "TEXT", CLOSE frees the
 * list, and ZPAAPI_LIST_ACTION runs a one-shot action on a request. Owns BE_DUZ_xmldata_handle. */
#include "be_list_internal.h"
#include "gm_param.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace {

using be_list::Answer;
using be_list::OwnedHandle;
using be_list::row_element;

constexpr const char* kCmInstance = "GetCMInstance";
constexpr const char* kSetParam = "GetSetPARAM";
constexpr const char* kNullHandle = "Handle is NULL.";

using SessionHandler = ZPARC (*)(BE_DUZ_Handles*, BE_DUZ_xmldata_handle*, ZPAAttrList*, ZPAError*);
using ConnectionHandler = ZPARC (*)(ZPAConnHandle*, BE_DUZ_xmldata_handle*, ZPAAttrList*, ZPAError*);
using AttributesHandler = ZPARC (*)(BE_DUZ_Handles*, BE_DUZ_xmldata_handle*, ZPAAttrList*, ZPAAttrList*, ZPAError*);

/* One list name and its handler: the session handler gets the connection's session, the
 * connection handler the connection itself, the attributes handler the session with the
 * connection's attributes before the request. A name whose handler is not built is refused like
 * an unknown name. */
struct ListEntry {
    const char* action;
    SessionHandler session = nullptr;
    ConnectionHandler connection = nullptr;
    AttributesHandler attributes = nullptr;
};

const ListEntry kLists[] = {
    {kCmInstance, nullptr, BE_DUZ_get_cmlist_list},
    {"ViewOutputUrl", BE_DUZ_get_output_url},
    {"GetRESP", BE_DUZ_get_resp_list},
    {"GetJob", BE_DUZ_get_job_list},
    {"GetREQPARAM", BE_DUZ_get_reqparm_list},
    {"GetPrinter", BE_DUZ_get_printer_list},
    {"GetLayout", BE_DUZ_get_layout_list},
    {"GetLayoutLang", BE_DUZ_get_layout_lang_list},
    {"GetPrinterStyle", BE_DUZ_get_printer_style_list},
    {"GetSetPROG", BE_DUZ_get_setprog_list},
    {kSetParam, BE_DUZ_get_ReqSetParm_list},
    {"GetOperatingUnit", BE_DUZ_get_operating_unit_list},
    {"GetNotification", BE_DUZ_get_notification_list},
    {"GetLanguage", BE_DUZ_get_language_list},
    {"GetValueSet", BE_DUZ_get_valsetv_list},
    {"GetProgramData", nullptr, nullptr, BE_DUZ_get_program_data_list},
    {"GetReqsetProgramsData", nullptr, nullptr, BE_DUZ_get_reqset_programs_data_list},
    {"GetProfileName", BE_DUZ_get_profile_name_list},
    {"GetAccountData", BE_DUZ_get_account_data_list},
};

const ListEntry* find_list(const char* action) {
    for (const ListEntry& entry : kLists)
        if (std::strcmp(entry.action, action) == 0)
            return entry.session || entry.connection || entry.attributes ? &entry : nullptr;
    return nullptr;
}

/* The flattened request, released with it. */
struct Request {
    ZPAAttrList list{0, nullptr, 0};
    ~Request() {
        if (list.Attributes != nullptr) ZPAAPI_utils_release_attr(&list);
    }
};

/* Parses an XML question into name/value attributes. */
bool flatten(char* text, Request& request, ZPAError* Error) {
    if (ZPAAPI_UTILS_xmlBuff2attr(text, const_cast<char*>("UVSCM"), &request.list) != 0) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Function ZPAAPI_UTILS_xmlBuff2attr failed");
        return false;
    }
    return true;
}

BE_DUZ_AccountNameList* account_names_of(ZPAConnHandle* Connection) {
    if (Connection == nullptr || Connection->UserData == nullptr) return nullptr;
    auto* head = static_cast<BE_DUZ_data_type*>(Connection->UserData);
    return head->dataType == BE_DUZ_ACCOUNT_NAME_LIST ? static_cast<BE_DUZ_AccountNameList*>(Connection->UserData)
                                                      : nullptr;
}

void copy_req_type(BE_DUZ_xmldata_handle* handle, const char* action) {
    std::snprintf(handle->req_type, sizeof handle->req_type, "%s", action);
}

/* The value of a slot the agent placed in AttributesOut, emptied, and its room; null after
 * storing the failure (the lookup's result as code, 1 as result). */
char* output_slot(ZPAAttrList* AttributesOut, const char* missing_format, int* room, ZPAError* Error) {
    char* value = nullptr;
    const ZPARC rc = ZPAAPI_UTILS_AttrListValueGet(AttributesOut, const_cast<char*>("TEXT"), &value);
    if (rc != 0 || value == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc != 0 ? rc : 1), missing_format, "TEXT");
        return nullptr;
    }
    *room = 0;
    ZPAAPI_UTILS_AttrListValueSizeGet(AttributesOut, const_cast<char*>("TEXT"), room);
    if (*room > 0) value[0] = '\0';
    return value;
}

/* Copies a finished text into the slot; a text that does not fit is refused, never cut. */
bool fill_slot(char* slot, int room, std::string_view text, const char* what, ZPAError* Error) {
    if (text.size() > static_cast<std::size_t>(room < 0 ? 0 : room)) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s of %zu characters does not fit the output TEXT value (%d characters)", what,
                              text.size(), room);
        return false;
    }
    if (!text.empty()) std::memcpy(slot, text.data(), text.size());
    slot[text.size()] = '\0';
    return true;
}

ZPARC list_open(ZPAConnHandle* Connection, void** Handle, ZPAAttrList* Attributes, ZPAError* Error) {
    if (Handle == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s", kNullHandle);
        return ZPA_FAIL;
    }
    *Handle = nullptr;
    OwnedHandle handle(be_list::new_handle());
    if (!handle) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Fail to allocate memory for DUZ_xml_handle");
        return ZPA_FAIL;
    }

    char* text = be_list::request_value(Attributes, "TEXT");
    if (text == nullptr || *text == '\0') {
        BE_DUZ_UpdateErrorSet(Error, 1, "keyword %s not found", "TEXT");
        return ZPA_FAIL;
    }
    Request request;
    if (!flatten(text, request, Error)) return ZPA_FAIL;
    const std::string header = be_list::header_of(text);
    if (!header.empty() && (handle->header = be_list::copy_text(header)) == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to duplicate header.");
        return ZPA_FAIL;
    }

    char* action = nullptr;
    const ZPARC found = ZPAAPI_UTILS_AttrListValueGet(&request.list, const_cast<char*>("ACTION"), &action);
    if (found != 0 || action == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(found != 0 ? found : 1),
                              "the xml_attrList '%s' is mandatory", "ACTION");
        return ZPA_FAIL;
    }
    if (*action == '\0') {
        BE_DUZ_UpdateErrorSet(Error, 1, "No action found. It is mandatory");
        return ZPA_FAIL;
    }
    if (std::strlen(action) > BE_DUZ_ACTION_NAME_SIZE - 1) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Value %s is invalid for key %s", action, "ACTION");
        return ZPA_FAIL;
    }
    BE_TRACE(4, "list request: %s", action);

    if (BE_DUZ_PKM_isPKMrequest(action)) {
        handle->isPKM = 1;
        copy_req_type(handle.get(), action);
        const ZPARC rc = BE_DUZ_PKM_handle_pkm_request(action, text, handle.get(), Error);
        if (rc != ZPA_SUCCESS) return rc;
        handle->row_index = 0;
        *Handle = handle.release();
        return ZPA_SUCCESS;
    }

    BE_DUZ_Handles* session = nullptr;
    if (std::strcmp(action, kCmInstance) != 0 && (session = be_list::connection_session(Connection, Error)) == nullptr)
        return ZPA_FAIL;

    const ListEntry* entry = find_list(action);
    if (entry == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Value %s is invalid for key %s", action, "ACTION");
        return ZPA_FAIL;
    }
    ZPARC rc;
    if (entry->connection != nullptr)
        rc = entry->connection(Connection, handle.get(), &request.list, Error);
    else if (entry->attributes != nullptr)
        rc = entry->attributes(session, handle.get(), &Connection->Attributes, &request.list, Error);
    else
        rc = entry->session(session, handle.get(), &request.list, Error);
    if (rc != ZPA_SUCCESS) return rc;
    copy_req_type(handle.get(), action);
    *Handle = handle.release();
    return ZPA_SUCCESS;
}

/* The next piece of a whole-text answer. */
ZPARC read_whole_text(BE_DUZ_xmldata_handle* handle, ZPAAttrList* AttributesOut, ZPAError* Error) {
    int room = 0;
    char* slot = output_slot(AttributesOut, "The keyword '%s' was not found.", &room, Error);
    if (slot == nullptr) return ZPA_FAIL;
    const std::string_view answer = handle->xmlResponse != nullptr ? handle->xmlResponse : "";
    const std::size_t start = static_cast<std::size_t>(handle->row_index) * BE_DUZ_LIST_PIECE_SIZE;
    const bool last = start + BE_DUZ_LIST_PIECE_SIZE >= answer.size();
    const std::string_view piece = start >= answer.size()
                                       ? std::string_view()
                                       : answer.substr(start, last ? std::string_view::npos : BE_DUZ_LIST_PIECE_SIZE);
    if (!fill_slot(slot, room, piece, "The answer piece", Error)) return ZPA_FAIL;
    if (last) return ZPA_EOS;
    ++handle->row_index;
    return ZPA_SUCCESS;
}

/* Gets the next row of the list into row_data: Row, End, or Error with the reason stored. */
be_sql::Fetch next_row(ZPAConnHandle* Connection, BE_DUZ_xmldata_handle* handle, ZPAError* Error) {
    if (std::strcmp(handle->req_type, kCmInstance) == 0) {
        BE_DUZ_AccountNameList* names = account_names_of(Connection);
        char* key = nullptr;
        void* value = nullptr;
        if (names == nullptr || GM_PARAM_list_next(&names->names, &key, &value) != CM_RC_OK) return be_sql::Fetch::End;
        std::snprintf(handle->row_data[0], BE_DUZ_XML_ROW_DATA_SIZE, "%s",
                      value != nullptr ? static_cast<const char*>(value) : "");
        return be_sql::Fetch::Row;
    }
    if (std::strcmp(handle->req_type, kSetParam) == 0) {
        char section_name[16];
        std::snprintf(section_name, sizeof section_name, "P%.3d", handle->row_index);
        ZPALIST_handle_typ* rows = nullptr;
        if (GM_PARAM_subtable_list_find(&handle->datalist, section_name, &rows) != CM_RC_OK || rows == nullptr)
            return be_sql::Fetch::End;
        static constexpr const char* kKeys[] = {"NAME", "VALUE", "VALSETTYP", "DISPLAY"};
        for (int i = 0; i < 4; ++i) {
            handle->row_data[i][0] = '\0';
            GM_PARAM_list_get(rows, kKeys[i], handle->row_data[i], BE_DUZ_XML_ROW_DATA_SIZE);
        }
        return be_sql::Fetch::Row;
    }
    BE_DUZ_Handles* session = be_list::query_session(handle);
    if (session != nullptr && session != Connection->UserData) {
        BE_DUZ_UpdateErrorSet(Error, 1, "The list's database session is no longer the connection's session");
        return be_sql::Fetch::Error;
    }
    return be_list::fetch_row(handle, Error);
}

ZPARC read_rows(ZPAConnHandle* Connection, BE_DUZ_xmldata_handle* handle, ZPAAttrList* AttributesIn,
                ZPAAttrList* AttributesOut, ZPAError* Error) {
    if (Connection == nullptr || Connection->UserData == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "UserData pointer is NULL");
        return ZPA_FAIL;
    }
    if (be_navigate_next(AttributesIn, Error) != ZPA_SUCCESS) return ZPA_FAIL;
    int room = 0;
    char* slot = output_slot(AttributesOut, "keyword %s not found", &room, Error);
    if (slot == nullptr) return ZPA_FAIL;

    const int parents = handle->num_of_parents < 0 ? 0 : std::min(handle->num_of_parents, BE_DUZ_XML_MAX_PARENTS);
    Answer piece(Error);
    if (handle->row_index == 0) {
        if (piece.begin(handle->header) != ZPA_SUCCESS) return ZPA_FAIL;
        for (int i = 0; i + 1 < parents; ++i)
            if (piece.open(handle->parent_tag[i]) != ZPA_SUCCESS) return ZPA_FAIL;
    }
    ++handle->row_index;
    const be_sql::Fetch got = next_row(Connection, handle, Error);
    if (got == be_sql::Fetch::Error) return ZPA_FAIL;

    ZPARC rc = ZPA_SUCCESS;
    if (got == be_sql::Fetch::Row) {
        if (handle->num_of_fields > BE_DUZ_XML_MAX_FIELDS) {
            BE_DUZ_UpdateErrorSet(Error, 1, "num_of_values exceeds BE_DUZ_XML_MAX_FIELDS_TEXT");
            return ZPA_FAIL;
        }
        const std::string row = parents >= 1 ? row_element(handle->parent_tag[parents - 1], handle->row_index) : "";
        if (!row.empty() && piece.open(row.c_str()) != ZPA_SUCCESS) return ZPA_FAIL;
        for (int i = 0; i < handle->num_of_fields; ++i) {
            handle->row_data[i][BE_DUZ_XML_ROW_DATA_SIZE - 1] = '\0';
            RemoveSpecialChars(handle->row_data[i]);
            if (piece.element(handle->field_tag[i], handle->row_data[i]) != ZPA_SUCCESS) return ZPA_FAIL;
        }
        if (!row.empty() && piece.close(row.c_str()) != ZPA_SUCCESS) return ZPA_FAIL;
    } else {
        for (int i = parents - 2; i >= 0; --i)
            if (piece.close(handle->parent_tag[i]) != ZPA_SUCCESS) return ZPA_FAIL;
        if (piece.finish() != ZPA_SUCCESS) return ZPA_FAIL;
        rc = ZPA_EOS;
    }
    char what[64];
    std::snprintf(what, sizeof what, "List row %d", handle->row_index);
    if (!fill_slot(slot, room, std::string_view(piece.text(), piece.size()), what, Error)) return ZPA_FAIL;
    return rc;
}

ZPARC list_read(ZPAConnHandle* Connection, void* Handle, ZPAAttrList* AttributesIn, ZPAAttrList* AttributesOut,
                ZPAError* Error) {
    auto* handle = static_cast<BE_DUZ_xmldata_handle*>(Handle);
    if (handle == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s", kNullHandle);
        return ZPA_FAIL;
    }
    if (handle->isPKM == 1) return read_whole_text(handle, AttributesOut, Error);
    return read_rows(Connection, handle, AttributesIn, AttributesOut, Error);
}

ZPARC list_close(ZPAConnHandle* Connection, void* Handle, ZPAError* Error) {
    auto* handle = static_cast<BE_DUZ_xmldata_handle*>(Handle);
    if (handle == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s", kNullHandle);
        return ZPA_FAIL;
    }
    if (std::strcmp(handle->req_type, kCmInstance) == 0) {
        if (BE_DUZ_AccountNameList* names = account_names_of(Connection)) {
            BE_DUZ_delete_account_name_list(names);
            Connection->UserData = nullptr;
        }
    }
    be_list::free_handle(handle);
    return ZPA_SUCCESS;
}

/* Runs the named action; false when the name is none of the three. */
ZPARC run_action(const std::string& action, BE_DUZ_Handles* session, ZPAAttrList* request, std::string& message,
                 ZPAError* Error) {
    if (action == "SETJOBPRIORITY") {
        message = "Successfully updated the priority!";
        return BE_DUZ_LIST_set_priority(session, request, Error);
    }
    if (action == "HOLDJOB") {
        message = "Successfully hold the request!";
        return BE_DUZ_LIST_hold_request(session, request, Error);
    }
    if (action == "UNHOLDJOB") {
        message = "Successfully unhold the request!";
        return BE_DUZ_LIST_unhold_request(session, request, Error);
    }
    BE_DUZ_UpdateErrorSet(Error, 1, "Value %s is invalid for key %s", action.c_str(), "ACTION");
    return ZPA_FAIL;
}

ZPARC list_action(ZPAConnHandle* Connection, ZPAAttrList* AttributesIn, ZPAAttrList* AttributesOut, ZPAError* Error) {
    BE_DUZ_Handles* session = be_list::connection_session(Connection, Error);
    if (session == nullptr) return ZPA_FAIL;
    char* text = be_list::request_value(AttributesIn, "TEXT");
    if (text == nullptr || *text == '\0') {
        BE_DUZ_UpdateErrorSet(Error, 1, "keyword %s not found in AttributesIn", "TEXT");
        return ZPA_FAIL;
    }
    Request request;
    if (!flatten(text, request, Error)) return ZPA_FAIL;
    int room = 0;
    char* slot = output_slot(AttributesOut, "keyword %s not found in AttributesOut", &room, Error);
    if (slot == nullptr) return ZPA_FAIL;
    char* action_value = nullptr;
    const ZPARC found = ZPAAPI_UTILS_AttrListValueGet(&request.list, const_cast<char*>("ACTION"), &action_value);
    if (found != 0 || action_value == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(found != 0 ? found : 1),
                              "the xml_attrList '%s' is mandatory", "ACTION");
        return ZPA_FAIL;
    }
    std::string action(action_value);
    for (char& c : action) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    BE_TRACE(4, "list action: %s", action.c_str());

    std::string message;
    const bool ok = run_action(action, session, &request.list, message, Error) == ZPA_SUCCESS;
    if (!ok) message = Error != nullptr ? Error->text : "";
    if (message.size() > BE_DUZ_LIST_ACTION_MESSAGE_MAX) message.resize(BE_DUZ_LIST_ACTION_MESSAGE_MAX);

    const std::string header = be_list::header_of(text);
    Answer answer(Error);
    if (answer.begin(header.c_str()) != ZPA_SUCCESS || answer.element("DUZ-MESSAGE", message.c_str()) != ZPA_SUCCESS ||
        answer.element("DUZ-RESULT", ok ? "OK" : "NOTOK") != ZPA_SUCCESS || answer.finish() != ZPA_SUCCESS)
        return ZPA_FAIL;
    if (!fill_slot(slot, room, std::string_view(answer.text(), answer.size()), "The action's answer", Error))
        return ZPA_FAIL;
    return ZPA_SUCCESS;
}

/* Runs an entry point's body with its trace lines; no exception leaves it. */
template <typename Body>
ZPARC entry(const char* name, Body body) {
    BE_TRACE(4, "Starting: '%s'", name);
    ZPARC rc;
    try {
        rc = body();
    } catch (...) {
        rc = ZPA_FAIL;
    }
    BE_TRACE(4, "Ending: '%s'", name);
    return rc;
}

}  // namespace

CM_EXTERN_C_BEGIN

void BE_DUZ_delete_account_name_list(BE_DUZ_AccountNameList* list) {
    if (list == nullptr) return;
    GM_PARAM_list_clear(&list->names);
    std::free(list);
}

ZPARC ZPAAPI_LIST_ACTION(ZPAConnHandle* Connection, char* Action, ZPAAttrList* AttributesIn, ZPAAttrList* AttributesOut,
                         ZPAError* Error) {
    BE_TRACE(4, "ZPAAPI_LIST_ACTION: %s", Action != nullptr ? Action : "");
    return entry("ZPAAPI_LIST_ACTION", [&] { return list_action(Connection, AttributesIn, AttributesOut, Error); });
}

ZPARC ZPAAPI_LIST_DATA_OPEN(ZPAConnHandle* Connection, void** Handle, ZPAAttrList* Attributes, ZPAError* Error) {
    return entry("ZPAAPI_LIST_DATA_OPEN", [&] { return list_open(Connection, Handle, Attributes, Error); });
}

ZPARC ZPAAPI_LIST_DATA_READ(ZPAConnHandle* Connection, void* Handle, ZPAAttrList* AttributesIn,
                            ZPAAttrList* AttributesOut, ZPAError* Error) {
    return entry("ZPAAPI_LIST_DATA_READ",
                 [&] { return list_read(Connection, Handle, AttributesIn, AttributesOut, Error); });
}

ZPARC ZPAAPI_LIST_DATA_CLOSE(ZPAConnHandle* Connection, void* Handle, ZPAAttrList* Attributes, ZPAError* Error) {
    (void)Attributes;
    return entry("ZPAAPI_LIST_DATA_CLOSE", [&] { return list_close(Connection, Handle, Error); });
}

CM_EXTERN_C_END
