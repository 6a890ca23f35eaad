/* The frame every list of the plug-in is built on: the answer builder (an XML text that makes room
 * before each element), the row-list opener (one query on the session's statement handle whose rows
 * READ fetches one at a time), the name filter (bound, never pasted) and the small readers of the
 * flattened request. Internal to be_duz. */
#ifndef BE_LIST_INTERNAL_H
#define BE_LIST_INTERNAL_H

#include "be_def.h"
#include "be_internal.h"
#include "be_sql_internal.h"

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>

namespace be_list {

/* First room of an answer; it doubles (BE_DUZ_handle_buffer) whenever the next part needs more. */
constexpr long kAnswerFirstRoom = 4096;

/* One answer text. Each call makes room for the worst case of what it writes (every character of
 * a value escaped), then appends with the XML writer; a failure stores the writer step's message
 * in the error record and leaves the answer unusable (every later call fails too). */
class Answer {
public:
    explicit Answer(ZPAError* error, long first_room = kAnswerFirstRoom);
    ~Answer();
    Answer(const Answer&) = delete;
    Answer& operator=(const Answer&) = delete;

    /* The declaration, "<UVSCM>", the HEADER element copied from header (nothing when it is null
     * or holds none) and "<BODY>". */
    ZPARC begin(const char* header);
    /* "</BODY></UVSCM>". */
    ZPARC finish();
    ZPARC open(const char* tag);
    ZPARC close(const char* tag);
    /* An element holding the value, escaped by the writer. */
    ZPARC element(const char* tag, const char* value);
    /* Text appended as it stands (an element the caller built and escaped). */
    ZPARC raw(std::string_view text);
    /* Doubles the room ahead of what comes next when the text fills more than half of it (an
     * answer built part by part, BE_DUZ_allocate_double_memory). */
    ZPARC grow_when_half_full();

    bool ok() const { return buffer_ != nullptr && !failed_; }
    const char* text() const { return buffer_ != nullptr ? buffer_ : ""; }
    std::size_t size() const { return length_; }
    /* Hands the text over (malloc'ed, for xmlResponse); the answer is empty afterwards. */
    char* release();

private:
    bool make_room(std::size_t more, const char* message);
    void appended();

    ZPAError* error_;
    char* buffer_ = nullptr;
    long room_ = 0;
    std::size_t length_ = 0;
    bool failed_ = false;
};

/* Gives a finished whole-text answer to the handle (xmlResponse, isPKM 1, row_index 0), which
 * READ then hands out in pieces. 0, or 1 when the answer is unusable (the reason in Error). */
ZPARC hand_over(BE_DUZ_xmldata_handle* handle, Answer& answer, ZPAError* Error);

/* A list handle of the plug-in's own (a builder's second handle): zeroed, its datalist empty. Null
 * when memory runs out. free_handle frees it with everything it owns (null is ignored). */
BE_DUZ_xmldata_handle* new_handle();
void free_handle(BE_DUZ_xmldata_handle* handle);
struct HandleFree {
    void operator()(BE_DUZ_xmldata_handle* handle) const { free_handle(handle); }
};
using OwnedHandle = std::unique_ptr<BE_DUZ_xmldata_handle, HandleFree>;

/* The row element's name: the tag with its "%.3d" filled with the row number (unchanged without). */
std::string row_element(const char* tag, int number);

/* Sets the handle's tags: the parents outermost first (the last one is the row's element and may
 * hold one "%.3d"), then the fields of a row, at most BE_DUZ_XML_MAX_FIELDS of each. */
void set_shape(BE_DUZ_xmldata_handle* handle, std::initializer_list<const char*> parents,
               std::initializer_list<const char*> fields);

/* The row-list opener: prepares sql on the session's statement handle, binds the values, defines
 * column i + 1 into row_data[i] (indicator DUZ_ind[i], handle DUZ_def[i]) for each of the handle's
 * num_of_fields fields (NUL-terminated, at most 1023 characters, a NULL read as empty), executes
 * without fetching, reads the column count and sets the prefetch. The handle is then marked as
 * holding a prepared query, which READ fetches from; a handler that calls nothing here leaves a
 * list without rows. 0, or the code of the failing step with the Oracle error in Error (the handle
 * then holds no query). */
ZPARC open_rows(BE_DUZ_xmldata_handle* handle, BE_DUZ_Handles* session, const std::string& sql,
                const be_sql::BindValues& binds, ZPAError* Error);
/* Marks a query that a builder of its own left open on the session for the handle's fields (defined
 * with define_text_kept into row_data and DUZ_ind, executed without fetching), such as the value-set
 * query: READ then fetches it like one of open_rows. */
void mark_query(BE_DUZ_xmldata_handle* handle, BE_DUZ_Handles* session);
/* The next row of the handle's query into row_data (the fetch rule of every list: a row whose
 * values were cut is still a row; a failure ends nothing silently, it is an Error with the Oracle
 * text in the record). End when the handle holds no query, or after End was seen once. */
be_sql::Fetch fetch_row(BE_DUZ_xmldata_handle* handle, ZPAError* Error);
/* The session the handle's query runs on, or null when it holds none. */
BE_DUZ_Handles* query_session(const BE_DUZ_xmldata_handle* handle);
/* Forgets the handle's query (its statement state stays in the session's handle). */
void drop_query(BE_DUZ_xmldata_handle* handle);

/* A name filter means nothing when it is absent, empty or "*". */
bool is_filter(const char* value);
struct Filter {
    bool wildcard;           /* a '*' was turned into '%': compare with LIKE, else with = */
    std::string placeholder; /* the bound value's placeholder */
};
/* Turns every '*' of value into '%' and adds the value to binds. */
Filter bind_filter(std::string value, be_sql::BindValues& binds);
/* "<column> LIKE :bvN" or "<column> = :bvN", the value bound. */
std::string filter_condition(const std::string& column, std::string value, be_sql::BindValues& binds);

/* The attribute's value, or null when the flattened request has none. */
inline char* request_value(ZPAAttrList* request, const char* name) { return be_duz::attr(request, name); }
/* A mandatory value: null after storing "keyword %s not found" (code: the lookup's result). */
inline char* mandatory_value(ZPAAttrList* request, const char* name, ZPAError* Error) {
    return be_duz::mandatory_attr(request, name, Error);
}

/* The connection's session, or null when UserData holds none (then "UserData pointer is NULL",
 * or a text naming what UserData holds instead, is stored with code 1). */
BE_DUZ_Handles* connection_session(ZPAConnHandle* Connection, ZPAError* Error);

/* The HEADER element of a request text, copied unchanged (from the first "<HEADER>" to the next
 * "</HEADER>"); empty when the text has none. */
std::string header_of(const char* request_text);

/* A malloc'ed copy of text; null when memory runs out. */
char* copy_text(std::string_view text);

}  // namespace be_list

#endif
