/* The list frame shared by every list handler: the growing answer builder over the XML writer, the
 * row-list opener and its fetch rule, the bound name filter, and the readers of the flattened
 * request and of the connection's session. */
#include "be_list_internal.h"

#include "be_event_watcher.h"
#include "gm_xml.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace be_list {

namespace {

/* Longest declaration plus "<UVSCM>" and "<BODY>", with room to spare. */
constexpr std::size_t kPrologueRoom = 128;
/* The writer's worst case per character of a value ("&quot;"). */
constexpr std::size_t kEscapeFactor = 6;

int field_count(const BE_DUZ_xmldata_handle* handle) {
    return handle->num_of_fields < 0 ? 0 : std::min(handle->num_of_fields, BE_DUZ_XML_MAX_FIELDS);
}

void copy_tag(char* to, const char* tag) { std::snprintf(to, BE_DUZ_XML_TAG_SIZE, "%s", tag != nullptr ? tag : ""); }

}  // namespace

// ------------------------------------------------------------------------------------------------
// Answer builder

Answer::Answer(ZPAError* error, long first_room)
    : error_(error), room_(first_room > 0 ? first_room : kAnswerFirstRoom) {
    buffer_ = BE_DUZ_handle_buffer(B_INIT, nullptr, &room_);
    if (buffer_ == nullptr) failed_ = true;
}

Answer::~Answer() {
    if (buffer_ != nullptr) BE_DUZ_handle_buffer(B_FREE, buffer_, &room_);
}

bool Answer::make_room(std::size_t more, const char* message) {
    if (!ok()) {
        BE_DUZ_UpdateErrorSet(error_, 1, "%s", message);
        return false;
    }
    while (static_cast<std::size_t>(room_) - length_ < more + 1) {
        char* grown = BE_DUZ_handle_buffer(B_DOUBLE, buffer_, &room_);
        if (grown == nullptr) {
            failed_ = true;
            BE_DUZ_UpdateErrorSet(error_, 1, "%s", message);
            return false;
        }
        buffer_ = grown;
    }
    return true;
}

/* The writer appended at buffer_ + length_ (an empty text there, so it never scans what is
 * already written). */
void Answer::appended() { length_ += std::strlen(buffer_ + length_); }

ZPARC Answer::begin(const char* header) {
    const std::size_t header_length = header != nullptr ? std::strlen(header) : 0;
    if (!make_room(kPrologueRoom + header_length, "GM_XML_BufInit failed.")) return ZPA_FAIL;
    GM_XML_BufInit(buffer_ + length_);
    appended();
    if (header_length > 0) {
        if (GM_XML_DuplicateParentElement(header, buffer_ + length_, "HEADER") != CM_RC_OK) {
            BE_DUZ_UpdateErrorSet(error_, 1, "Failed to duplicate header.");
            failed_ = true;
            return ZPA_FAIL;
        }
        appended();
    }
    return open("BODY");
}

ZPARC Answer::finish() {
    if (close("BODY") != ZPA_SUCCESS) return ZPA_FAIL;
    if (!make_room(16, "GM_XML_BufEnd failed.")) return ZPA_FAIL;
    GM_XML_BufEnd(buffer_ + length_);
    appended();
    return ZPA_SUCCESS;
}

ZPARC Answer::open(const char* tag) {
    if (!make_room(std::strlen(tag) + 3, "GM_XML_StartParentElement failed.")) return ZPA_FAIL;
    GM_XML_StartParentElement(buffer_ + length_, tag, nullptr);
    appended();
    return ZPA_SUCCESS;
}

ZPARC Answer::close(const char* tag) {
    if (!make_room(std::strlen(tag) + 4, "GM_XML_CloseParentElement failed.")) return ZPA_FAIL;
    GM_XML_CloseParentElement(buffer_ + length_, tag);
    appended();
    return ZPA_SUCCESS;
}

ZPARC Answer::element(const char* tag, const char* value) {
    const std::size_t value_length = value != nullptr ? std::strlen(value) : 0;
    if (!make_room(2 * std::strlen(tag) + 5 + kEscapeFactor * value_length, "GM_XML_WriteElement failed."))
        return ZPA_FAIL;
    GM_XML_WriteElement(buffer_ + length_, tag, value != nullptr ? value : "", nullptr);
    appended();
    return ZPA_SUCCESS;
}

ZPARC Answer::raw(std::string_view text) {
    if (!make_room(text.size(), "Failed to allocate memory for the answer.")) return ZPA_FAIL;
    std::memcpy(buffer_ + length_, text.data(), text.size());
    length_ += text.size();
    buffer_[length_] = '\0';
    return ZPA_SUCCESS;
}

ZPARC Answer::grow_when_half_full() {
    if (!ok()) {
        BE_DUZ_UpdateErrorSet(error_, 1, "%s", "Failed to allocate memory.");
        return ZPA_FAIL;
    }
    if (length_ <= static_cast<std::size_t>(room_) / 2) return ZPA_SUCCESS;
    char* grown = BE_DUZ_allocate_double_memory(buffer_, &room_);
    if (grown == nullptr) {
        failed_ = true;
        BE_DUZ_UpdateErrorSet(error_, 1, "%s", "Failed to allocate memory.");
        return ZPA_FAIL;
    }
    buffer_ = grown;
    return ZPA_SUCCESS;
}

char* Answer::release() {
    if (!ok()) return nullptr;
    char* text = buffer_;
    buffer_ = nullptr;
    length_ = 0;
    room_ = 0;
    return text;
}

// ------------------------------------------------------------------------------------------------
// Handles and rows

ZPARC hand_over(BE_DUZ_xmldata_handle* handle, Answer& answer, ZPAError* Error) {
    char* text = answer.release();
    if (text == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s", "Failed to allocate memory for the answer.");
        return ZPA_FAIL;
    }
    drop_query(handle);
    std::free(handle->xmlResponse);
    handle->xmlResponse = text;
    handle->row_index = 0;
    handle->isPKM = 1;
    return ZPA_SUCCESS;
}

BE_DUZ_xmldata_handle* new_handle() {
    auto* handle = static_cast<BE_DUZ_xmldata_handle*>(std::calloc(1, sizeof(BE_DUZ_xmldata_handle)));
    if (handle != nullptr) ZPALIST_init(&handle->datalist);
    return handle;
}

void free_handle(BE_DUZ_xmldata_handle* handle) {
    if (handle == nullptr) return;
    drop_query(handle);
    std::free(handle->xmlResponse);
    std::free(handle->header);
    BE_DUZ_subtable_list_clear(&handle->datalist);
    std::free(handle);
}

std::string row_element(const char* tag, int number) {
    std::string name(tag != nullptr ? tag : "");
    const std::size_t at = name.find("%.3d");
    if (at == std::string::npos) return name;
    char digits[16];
    std::snprintf(digits, sizeof digits, "%.3d", number);
    return name.replace(at, 4, digits);
}

void set_shape(BE_DUZ_xmldata_handle* handle, std::initializer_list<const char*> parents,
               std::initializer_list<const char*> fields) {
    handle->row_index = 0;
    handle->num_of_parents = 0;
    handle->num_of_fields = 0;
    for (const char* tag : parents)
        if (handle->num_of_parents < BE_DUZ_XML_MAX_PARENTS)
            copy_tag(handle->parent_tag[handle->num_of_parents++], tag);
    for (const char* tag : fields)
        if (handle->num_of_fields < BE_DUZ_XML_MAX_FIELDS) copy_tag(handle->field_tag[handle->num_of_fields++], tag);
}

ZPARC open_rows(BE_DUZ_xmldata_handle* handle, BE_DUZ_Handles* session, const std::string& sql,
                const be_sql::BindValues& binds, ZPAError* Error) {
    drop_query(handle);
    be_sql::Statement statement(session, Error);
    BE_TRACE(4, "list statement: %s", sql.c_str());
    ZPARC rc = statement.prepare(sql.c_str());
    if (rc != 0) {
        BE_TRACE(2, "Fail to prepare SQL statment. %s", Error != nullptr ? Error->text : "");
        return rc;
    }
    if ((rc = statement.bind_values(binds)) != 0) {
        BE_TRACE(2, "Fail to bind. %s", Error != nullptr ? Error->text : "");
        return rc;
    }
    const int fields = field_count(handle);
    for (int i = 0; i < fields; ++i) {
        handle->row_data[i][0] = '\0';
        /* The buffers and indicators stay in the handle: READ fetches after this call returned. */
        if ((rc = statement.define_text_kept(static_cast<ub4>(i + 1), handle->row_data[i], BE_DUZ_XML_ROW_DATA_SIZE,
                                             &handle->DUZ_ind[i], &handle->DUZ_def[i])) != 0) {
            BE_TRACE(2, "Fail to define column %d. %s", i + 1, Error != nullptr ? Error->text : "");
            return rc;
        }
    }
    if ((rc = statement.execute_no_fetch()) != 0) {
        BE_TRACE(2, "Fail to execute. %s", Error != nullptr ? Error->text : "");
        return rc;
    }
    BE_TRACE(4, "list columns: %u, rows: %u", statement.column_count(), statement.row_count());
    if ((rc = statement.set_prefetch(BE_DUZ_LIST_PREFETCH_ROWS)) != 0) return rc;
    mark_query(handle, session);
    return ZPA_SUCCESS;
}

void mark_query(BE_DUZ_xmldata_handle* handle, BE_DUZ_Handles* session) {
    if (handle == nullptr) return;
    handle->query_session = session;
    handle->query_ended = 0;
}

be_sql::Fetch fetch_row(BE_DUZ_xmldata_handle* handle, ZPAError* Error) {
    BE_DUZ_Handles* session = query_session(handle);
    if (session == nullptr || handle->query_ended != 0) return be_sql::Fetch::End;
    be_sql::Statement reader(session, Error);
    const int fields = field_count(handle);
    for (int i = 0; i < fields; ++i)
        reader.follow_text(handle->row_data[i], BE_DUZ_XML_ROW_DATA_SIZE, &handle->DUZ_ind[i]);
    const be_sql::Fetch got = reader.fetch();
    if (got == be_sql::Fetch::End) handle->query_ended = 1;
    return got;
}

BE_DUZ_Handles* query_session(const BE_DUZ_xmldata_handle* handle) {
    return handle != nullptr ? static_cast<BE_DUZ_Handles*>(handle->query_session) : nullptr;
}

void drop_query(BE_DUZ_xmldata_handle* handle) {
    if (handle == nullptr) return;
    handle->query_session = nullptr;
    handle->query_ended = 0;
}

// ------------------------------------------------------------------------------------------------
// Filters

bool is_filter(const char* value) { return value != nullptr && *value != '\0' && std::strcmp(value, "*") != 0; }

Filter bind_filter(std::string value, be_sql::BindValues& binds) {
    const bool wildcard = BE_DUZ_SQL_replace_wildchar(value.data(), '*', '%') == 0;
    return Filter{wildcard, binds.add_text(std::move(value))};
}

std::string filter_condition(const std::string& column, std::string value, be_sql::BindValues& binds) {
    const Filter filter = bind_filter(std::move(value), binds);
    return column + (filter.wildcard ? " LIKE " : " = ") + filter.placeholder;
}

// ------------------------------------------------------------------------------------------------
// Request and connection

BE_DUZ_Handles* connection_session(ZPAConnHandle* Connection, ZPAError* Error) {
    if (Connection == nullptr || Connection->UserData == nullptr) {
        BE_DUZ_UpdateErrorSet(Error, 1, "UserData pointer is NULL");
        return nullptr;
    }
    const auto* head = static_cast<const BE_DUZ_data_type*>(Connection->UserData);
    if (head->dataType != BE_DUZ_CONNECTION) {
        BE_DUZ_UpdateErrorSet(Error, 1, "UserData holds no database session (type %d)",
                              static_cast<int>(head->dataType));
        return nullptr;
    }
    return static_cast<BE_DUZ_Handles*>(Connection->UserData);
}

std::string header_of(const char* request_text) {
    if (request_text == nullptr) return std::string();
    static constexpr std::string_view kOpen = "<HEADER>";
    static constexpr std::string_view kClose = "</HEADER>";
    const std::string_view text(request_text);
    const std::size_t start = text.find(kOpen);
    if (start == std::string_view::npos) return std::string();
    const std::size_t end = text.find(kClose, start + kOpen.size());
    if (end == std::string_view::npos) return std::string();
    return std::string(text.substr(start, end + kClose.size() - start));
}

char* copy_text(std::string_view text) {
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy == nullptr) return nullptr;
    std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

}  // namespace be_list
