/* One statement on a session's single statement handle, as every plug-in module runs it: prepare in
 * native syntax, bind by name (single values, or the numbered values that a text builder collected
 * in a BindValues), define by position with an indicator (a NULL column reads as an empty text or
 * 0), execute once (a query fetches its first row) or without fetching, then fetch row by row.
 * Every status is mapped by BE_DUZ_OCI_error, which fills the error record. Internal to be_duz. */
#ifndef BE_SQL_INTERNAL_H
#define BE_SQL_INTERNAL_H

#include "be_def.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace be_sql {

/* Values that a statement builder takes out of the text it builds: each value gets a numbered
 * placeholder of its own (":bv1", ":bv2", ...) that the builder writes into the text, and the
 * runner of the statement binds the values by those names. */
class BindValues {
public:
    struct Value {
        std::string name;  // with its colon
        std::string text;
        int number = 0;
        bool is_int = false;
    };
    static constexpr const char* kPrefix = ":bv";

    /* Adds a text value (bound as a NUL-terminated string) and returns its placeholder. */
    const std::string& add_text(std::string text) { return add(std::move(text), 0, false); }
    /* Adds a whole number (bound as a 4-byte integer) and returns its placeholder. */
    const std::string& add_int(int number) { return add(std::string(), number, true); }
    /* Adds a text value under a placeholder the statement text already names (":user_name"). */
    const std::string& add_named_text(std::string name, std::string text) {
        values_.push_back(Value{std::move(name), std::move(text), 0, false});
        return values_.back().name;
    }
    /* Adds a whole number under a placeholder the statement text already names (":amount"). */
    const std::string& add_named_int(std::string name, int number) {
        values_.push_back(Value{std::move(name), std::string(), number, true});
        return values_.back().name;
    }

    const std::vector<Value>& values() const { return values_; }
    bool empty() const { return values_.empty(); }
    std::size_t size() const { return values_.size(); }
    void clear() { values_.clear(); }

    /* Drops the values whose placeholder no longer stands in text (a builder that cut a part of
     * its text away): a statement may only bind the placeholders it holds. Numbers are kept. */
    void keep_only_in(std::string_view text) {
        std::vector<Value> kept;
        for (Value& v : values_)
            if (stands_in(text, v.name)) kept.push_back(std::move(v));
        values_ = std::move(kept);
    }

    /* True when name stands in text as a whole placeholder (":bv1" is not part of ":bv12"). */
    static bool stands_in(std::string_view text, std::string_view name) {
        for (std::size_t at = text.find(name); at != std::string_view::npos; at = text.find(name, at + 1)) {
            const std::size_t end = at + name.size();
            if (end == text.size()) return true;
            const unsigned char next = static_cast<unsigned char>(text[end]);
            if (!std::isalnum(next) && next != '_' && next != '$' && next != '#') return true;
        }
        return false;
    }

private:
    const std::string& add(std::string text, int number, bool is_int) {
        values_.push_back(Value{kPrefix + std::to_string(values_.size() + 1), std::move(text), number, is_int});
        return values_.back().name;
    }
    std::vector<Value> values_;
};

/* What a fetch gave: a row (also one whose values were cut to their buffers), the end of the rows,
 * or a failure whose Oracle code and text are in the error record. */
enum class Fetch { Row, End, Error };

class Statement {
public:
    Statement(BE_DUZ_Handles* session, ZPAError* error) : session_(session), error_(error) {}

    /* The error record of the call that uses the statement now (a statement kept across calls,
     * such as an open list's, reports into each call's own record). */
    void set_error(ZPAError* error) { error_ = error; }
    BE_DUZ_Handles* session() const { return session_; }

    bool has_session() const {
        return session_ != nullptr && session_->stmthp != nullptr && session_->errhp != nullptr;
    }

    ZPARC prepare(const char* text) {
        if (!has_session()) return no_session();
        defines_.clear();
        bound_texts_.clear();
        bound_ints_.clear();
        return map(OCIStmtPrepare(session_->stmthp, session_->errhp, reinterpret_cast<const OraText*>(text),
                                  static_cast<ub4>(std::strlen(text)), OCI_NTV_SYNTAX, OCI_DEFAULT));
    }
    /* A NUL-terminated text of size bytes (in, or out when it receives a value). */
    ZPARC bind_text(const char* name, char* value, int size, sb2* indicator = nullptr) {
        if (!has_session()) return no_session();
        OCIBind* bind = nullptr;
        return map(OCIBindByName(session_->stmthp, &bind, session_->errhp, reinterpret_cast<const OraText*>(name), -1,
                                 value, size, SQLT_STR, indicator, nullptr, nullptr, 0, nullptr, OCI_DEFAULT));
    }
    /* A text of size bytes that the statement keeps a copy of until the next prepare (the value
     * cut to size - 1 characters); size 0 gives the value its own length plus the terminator. */
    ZPARC bind_text_copy(const char* name, std::string_view value, int size = 0) {
        if (size <= 0) size = static_cast<int>(value.size() + 1);
        std::string& copy = bound_texts_.emplace_back(static_cast<std::size_t>(size), '\0');
        value.copy(copy.data(), std::min(value.size(), static_cast<std::size_t>(size - 1)));
        return bind_text(name, copy.data(), size);
    }
    /* Fixed characters without a terminator (size bytes). */
    ZPARC bind_chars(const char* name, char* value, int size) {
        if (!has_session()) return no_session();
        OCIBind* bind = nullptr;
        return map(OCIBindByName(session_->stmthp, &bind, session_->errhp, reinterpret_cast<const OraText*>(name), -1,
                                 value, size, SQLT_CHR, nullptr, nullptr, nullptr, 0, nullptr, OCI_DEFAULT));
    }
    /* The end of the arguments of an FND submission: a one-byte character value holding 0. */
    ZPARC bind_end_marker(const char* name) { return bind_chars(name, &end_marker_, 1); }
    ZPARC bind_int(const char* name, int* value) {
        if (!has_session()) return no_session();
        OCIBind* bind = nullptr;
        return map(OCIBindByName(session_->stmthp, &bind, session_->errhp, reinterpret_cast<const OraText*>(name), -1,
                                 value, sizeof(int), SQLT_INT, nullptr, nullptr, nullptr, 0, nullptr, OCI_DEFAULT));
    }
    /* Every value of a builder, by its placeholder name. The statement keeps its own copies until
     * the next prepare, so the values may go before the execution. */
    ZPARC bind_values(const BindValues& values) {
        for (const BindValues::Value& v : values.values()) {
            ZPARC rc;
            if (v.is_int) {
                bound_ints_.push_back(v.number);
                rc = bind_int(v.name.c_str(), &bound_ints_.back());
            } else {
                std::string& copy = bound_texts_.emplace_back(v.text);
                rc = bind_text(v.name.c_str(), copy.data(), static_cast<int>(copy.size() + 1));
            }
            if (rc != 0) return rc;
        }
        return 0;
    }
    ZPARC define_int(ub4 position, int* value) { return define(position, value, sizeof(int), SQLT_INT); }
    ZPARC define_text(ub4 position, char* value, int size) { return define(position, value, size, SQLT_STR); }
    /* A text column whose buffer and indicator belong to the caller and outlive this object: a
     * query left open for a later reader (a list answer read row by row). handle, when given,
     * receives the define handle. The later reader names the column again with follow_text. */
    ZPARC define_text_kept(ub4 position, char* value, int size, sb2* indicator, OCIDefine** handle = nullptr) {
        return define(position, value, size, SQLT_STR, indicator, handle);
    }
    /* A text column of the query that an earlier Statement left open on this session (defined with
     * define_text_kept): fetch() empties it first and reads its indicator, as for its own defines. */
    void follow_text(char* value, int size, sb2* indicator) {
        Define& d = defines_.emplace_back(Define{value, SQLT_STR, size, 0, indicator});
        if (d.indicator == nullptr) d.indicator = &d.own_indicator;
    }
    /* Fixed characters without a terminator. */
    ZPARC define_chars(ub4 position, char* value, int size) { return define(position, value, size, SQLT_CHR); }

    /* One iteration: a query also fetches its first row. */
    ZPARC execute() {
        if (!has_session()) return no_session();
        ZPARC rc = map(
            OCIStmtExecute(session_->svchp, session_->stmthp, session_->errhp, 1, 0, nullptr, nullptr, OCI_DEFAULT));
        if (rc == 0) clear_nulls();
        return rc;
    }
    /* A query executed without fetching: every row, the first included, comes with fetch(). */
    ZPARC execute_no_fetch() {
        if (!has_session()) return no_session();
        return map(
            OCIStmtExecute(session_->svchp, session_->stmthp, session_->errhp, 0, 0, nullptr, nullptr, OCI_DEFAULT));
    }
    /* The next row. Text buffers are emptied first, so a column that gives nothing reads as empty; a
     * row with values cut to their buffers is still a row; a failure is mapped into the error record. */
    Fetch fetch() {
        if (!has_session()) {
            no_session();
            return Fetch::Error;
        }
        for (Define& d : defines_)
            if (d.type == SQLT_STR && d.size > 0) static_cast<char*>(d.value)[0] = '\0';
        const sword status = OCIStmtFetch(session_->stmthp, session_->errhp, 1, OCI_FETCH_NEXT, OCI_DEFAULT);
        if (status == OCI_SUCCESS || status == OCI_SUCCESS_WITH_INFO) {
            clear_nulls();
            return Fetch::Row;
        }
        if (status == OCI_NO_DATA) return Fetch::End;
        if (map(status) == 0)
            BE_DUZ_UpdateErrorSet(error_, static_cast<ZPAErrorCode>(status), "Fetch failed with status %d", status);
        return Fetch::Error;
    }
    /* A row of this object's query that a caller fetched through the session's statement handle
     * itself: its NULL columns read as empty texts and 0, as after fetch(). */
    void row_fetched_elsewhere() { clear_nulls(); }
    /* Number of columns of the executed query; 0 when it cannot be read (error record filled). */
    ub4 column_count() {
        ub4 count = 0;
        if (!has_session()) {
            no_session();
            return 0;
        }
        if (map(OCIAttrGet(session_->stmthp, OCI_HTYPE_STMT, &count, nullptr, OCI_ATTR_PARAM_COUNT, session_->errhp)) !=
            0)
            return 0;
        return count;
    }
    /* Rows the executed statement has processed so far; 0 when it cannot be read (error record filled). */
    ub4 row_count() {
        ub4 count = 0;
        if (!has_session()) {
            no_session();
            return 0;
        }
        if (map(OCIAttrGet(session_->stmthp, OCI_HTYPE_STMT, &count, nullptr, OCI_ATTR_ROW_COUNT, session_->errhp)) !=
            0)
            return 0;
        return count;
    }
    /* Rows the client fetches ahead of the caller. */
    ZPARC set_prefetch(ub4 rows) {
        if (!has_session()) return no_session();
        return map(OCIAttrSet(session_->stmthp, OCI_HTYPE_STMT, &rows, 0, OCI_ATTR_PREFETCH_ROWS, session_->errhp));
    }
    /* Status of the next row (not mapped: the caller stops at the first that is not OCI_SUCCESS). */
    sword fetch_next() {
        if (!has_session()) return OCI_INVALID_HANDLE;
        sword status = OCIStmtFetch(session_->stmthp, session_->errhp, 1, OCI_FETCH_NEXT, OCI_DEFAULT);
        if (status == OCI_SUCCESS || status == OCI_SUCCESS_WITH_INFO) clear_nulls();
        return status;
    }

private:
    struct Define {
        void* value;
        ub2 type;
        int size;
        sb2 own_indicator;
        sb2* indicator;  // own_indicator, or the caller's
    };

    ZPARC define(ub4 position, void* value, int size, ub2 type, sb2* indicator = nullptr,
                 OCIDefine** handle_out = nullptr) {
        if (!has_session()) return no_session();
        Define& d = defines_.emplace_back(Define{value, type, size, 0, indicator});
        if (d.indicator == nullptr) d.indicator = &d.own_indicator;
        OCIDefine* handle = nullptr;
        ZPARC rc = map(OCIDefineByPos(session_->stmthp, &handle, session_->errhp, position, value, size, type,
                                      d.indicator, nullptr, nullptr, OCI_DEFAULT));
        if (handle_out != nullptr) *handle_out = handle;
        return rc;
    }
    void clear_nulls() {
        for (Define& d : defines_) {
            if (*d.indicator != -1) continue;
            if (d.type == SQLT_INT)
                *static_cast<int*>(d.value) = 0;
            else if (d.type == SQLT_STR && d.size > 0)
                static_cast<char*>(d.value)[0] = '\0';
            /* SQLT_CHR: the caller's zeroed buffer stays empty. */
        }
    }
    ZPARC map(sword status) { return BE_DUZ_OCI_error(session_->errhp, status, error_); }
    ZPARC no_session() {
        BE_DUZ_UpdateErrorSet(error_, 1, "No open database session");
        return 1;
    }

    BE_DUZ_Handles* session_;
    ZPAError* error_;
    /* Deques: OCI keeps the addresses of indicators and bound values until the next prepare, and a
     * deque never moves what it holds when it grows. */
    std::deque<Define> defines_;
    std::deque<std::string> bound_texts_;
    std::deque<int> bound_ints_;
    char end_marker_ = '\0';

public:
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
};

}  // namespace be_sql

#endif
