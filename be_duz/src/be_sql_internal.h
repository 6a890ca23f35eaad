/* One statement on a session's single statement handle, as the SQL helpers and the session
 * context run it: prepare in native syntax, bind by name, define by position with an indicator
 * (a NULL column reads as an empty text or 0), execute once. Every status is mapped by
 * BE_DUZ_OCI_error, which fills the error record. Internal to be_duz. */
#ifndef BE_SQL_INTERNAL_H
#define BE_SQL_INTERNAL_H

#include "be_def.h"

#include <cstring>
#include <array>

namespace be_sql {

class Statement {
public:
    Statement(BE_DUZ_Handles* session, ZPAError* error) : session_(session), error_(error) {}

    bool has_session() const { return session_ != nullptr && session_->stmthp != nullptr && session_->errhp != nullptr; }

    ZPARC prepare(const char* text) {
        if (!has_session()) return no_session();
        define_count_ = 0;
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
    ZPARC bind_int(const char* name, int* value) {
        if (!has_session()) return no_session();
        OCIBind* bind = nullptr;
        return map(OCIBindByName(session_->stmthp, &bind, session_->errhp, reinterpret_cast<const OraText*>(name), -1,
                                 value, sizeof(int), SQLT_INT, nullptr, nullptr, nullptr, 0, nullptr, OCI_DEFAULT));
    }
    ZPARC define_int(ub4 position, int* value) { return define(position, value, sizeof(int), SQLT_INT); }
    ZPARC define_text(ub4 position, char* value, int size) { return define(position, value, size, SQLT_STR); }
    /* Fixed characters without a terminator. */
    ZPARC define_chars(ub4 position, char* value, int size) { return define(position, value, size, SQLT_CHR); }

    /* One iteration: a query also fetches its first row. */
    ZPARC execute() {
        if (!has_session()) return no_session();
        ZPARC rc = map(OCIStmtExecute(session_->svchp, session_->stmthp, session_->errhp, 1, 0, nullptr, nullptr,
                                      OCI_DEFAULT));
        if (rc == 0) clear_nulls();
        return rc;
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
        sb2 indicator;
    };

    ZPARC define(ub4 position, void* value, int size, ub2 type) {
        if (!has_session()) return no_session();
        if (define_count_ == defines_.size()) {
            BE_DUZ_UpdateErrorSet(error_, 1, "Too many columns defined");
            return 1;
        }
        Define& d = defines_[define_count_++];
        d = Define{value, type, size, 0};
        OCIDefine* handle = nullptr;
        return map(OCIDefineByPos(session_->stmthp, &handle, session_->errhp, position, value, size, type,
                                  &d.indicator, nullptr, nullptr, OCI_DEFAULT));
    }
    void clear_nulls() {
        for (std::size_t i = 0; i < define_count_; ++i) {
            Define& d = defines_[i];
            if (d.indicator != -1) continue;
            if (d.type == SQLT_INT) *static_cast<int*>(d.value) = 0;
            else if (d.type == SQLT_STR && d.size > 0) static_cast<char*>(d.value)[0] = '\0';
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
    /* Fixed storage: OCI keeps the indicator addresses until the next prepare. */
    std::array<Define, 8> defines_{};
    std::size_t define_count_ = 0;

public:
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
};

}  // namespace be_sql

#endif
