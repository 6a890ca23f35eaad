// The OCI functions of the stand-in client: handles (typed, checked, owned by their
// environment), server attach and logon against the programmed logons, and statements
// (prepare, bind by name, define by position, execute, fetch) answered by the programmed rules,
// with the data conversions, indicators and error texts of a real client.
#include "oci_internal.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>

namespace oci_standin {
namespace {

using namespace detail;
using nlohmann::json;

// Oracle errors that the client itself reports.
enum OraCode : int {
    kNoDataFound = 1403,
    kNotAllBound = 1008,
    kFetchOutOfSequence = 1002,
    kNotInSelectList = 1007,
    kNotLoggedOn = 1012,
    kLogonDenied = 1017,
    kIllegalVariable = 1036,
    kNullFetched = 1405,
    kTruncated = 1406,
    kIntOverflow = 1455,
    kInvalidNumber = 1722,
    kNotConnected = 3114,
    kUnsupportedType = 3115,
    kConnectIdentifier = 12154,
    kIllegalAttribute = 24315,
    kZeroIterations = 24333,
    kNotPrepared = 24337,
    kNotExecuted = 24338,
    kBadStatementLength = 24373,
    kNoAttach = 24327,
};

const char* ora_message(int code) {
    switch (code) {
    case kNoDataFound: return "no data found";
    case kNotAllBound: return "not all variables bound";
    case kFetchOutOfSequence: return "fetch out of sequence";
    case kNotInSelectList: return "variable not in select list";
    case kNotLoggedOn: return "not logged on";
    case kLogonDenied: return "invalid username/password; logon denied";
    case kIllegalVariable: return "illegal variable name/number";
    case kNullFetched: return "fetched column value is NULL";
    case kTruncated: return "fetched column value was truncated";
    case kIntOverflow: return "converting column overflows integer datatype";
    case kInvalidNumber: return "invalid number";
    case kNotConnected: return "not connected to ORACLE";
    case kUnsupportedType: return "unsupported network datatype or representation";
    case kConnectIdentifier: return "TNS:could not resolve the connect identifier specified";
    case kIllegalAttribute: return "illegal attribute type";
    case kZeroIterations: return "zero iteration count";
    case kNotPrepared: return "statement handle not prepared";
    case kNotExecuted: return "statement handle not executed";
    case kBadStatementLength: return "invalid length specified for statement";
    case kNoAttach: return "need explicit attach before authenticating a user";
    default: return "";
    }
}

// ---- handles ------------------------------------------------------------------------------

struct Handle {
    explicit Handle(ub4 t, const void* e) : type(t), env(e) {}
    virtual ~Handle() = default;
    ub4 type;
    const void* env;  // the environment that owns this handle (itself for an environment)
};

struct EnvHandle : Handle {
    using Handle::Handle;
    std::optional<std::string> nls_lang;  // NLS_LANG as the environment saw it when created
};

struct ErrorHandle : Handle {
    using Handle::Handle;
    bool has_error = false;
    sb4 code = 0;
    std::string message;  // "ORA-nnnnn: text\n"
};

struct ServerHandle : Handle {
    using Handle::Handle;
    bool attached = false;
    std::string connect;
};

struct SessionHandle : Handle {
    using Handle::Handle;
    std::string user;
    std::string password;
    bool begun = false;
};

struct SvcHandle : Handle {
    using Handle::Handle;
    const void* server = nullptr;  // looked up in the registry when used
    const void* session = nullptr;
};

struct BindSlot {
    std::string name;  // placeholder key
    void* value = nullptr;
    sb4 size = 0;
    ub2 dty = 0;
    sb2* ind = nullptr;
    ub2* alen = nullptr;
    ub2* rcode = nullptr;
};

struct DefineSlot {
    ub4 position = 0;
    void* value = nullptr;
    sb4 size = 0;
    ub2 dty = 0;
    sb2* ind = nullptr;
    ub2* rlen = nullptr;
    ub2* rcode = nullptr;
};

struct StmtHandle : Handle {
    using Handle::Handle;
    bool prepared = false;
    std::string sql;
    std::vector<std::string> placeholders;
    bool query = false;
    std::shared_ptr<RuleState> rule;
    std::optional<Answer> taken;  // answer taken by a failure before the execution
    std::vector<std::unique_ptr<BindSlot>> binds;
    std::vector<std::unique_ptr<DefineSlot>> defines;
    ub4 prefetch = 1;
    // cursor
    bool executed = false;
    bool cursor_open = false;
    std::vector<Row> rows;
    std::size_t next_row = 0;
    std::optional<Failure> fetch_failure;
    std::size_t brought = 0;  // rows a round trip has brought to the client so far
    bool end_known = false;   // a round trip brought the end of the rows (or the failing row)
    ub4 columns = 0;
    ub4 row_count = 0;
    // journal entry of the last execution
    std::optional<std::size_t> execution;
    std::uint64_t generation = 0;
};

std::map<const void*, std::unique_ptr<Handle>>& registry() {
    static std::map<const void*, std::unique_ptr<Handle>> handles;
    return handles;
}

template <class T>
T* find_handle(const void* pointer, ub4 type) {
    if (!pointer) return nullptr;
    auto found = registry().find(pointer);
    if (found == registry().end() || found->second->type != type) return nullptr;
    return static_cast<T*>(found->second.get());
}

template <class T>
const void* make_handle(ub4 type, const void* env) {
    auto handle = std::make_unique<T>(type, env);
    const void* key = handle.get();
    if (!env) handle->env = key;
    registry().emplace(key, std::move(handle));
    return key;
}

// ---- journal ------------------------------------------------------------------------------

sword finish(const char* name, sword status, json event = json::object()) {
    Database& db = database();
    if (db.keep_journal) db.journal.calls.push_back({name, status});
    event["call"] = name;
    event["status"] = status;
    write_event(event);
    return status;
}

ExecutionRecord* execution_of(StmtHandle& stmt) {
    Database& db = database();
    if (!stmt.execution || stmt.generation != db.journal_generation || *stmt.execution >= db.journal.executions.size())
        return nullptr;
    return &db.journal.executions[*stmt.execution];
}

// ---- errors -------------------------------------------------------------------------------

void set_error(ErrorHandle* err, int code, const std::string& message) {
    if (!err) return;
    char head[32];
    std::snprintf(head, sizeof head, "ORA-%05d: ", code);
    err->has_error = true;
    err->code = code;
    err->message = head + message + "\n";
}

sword fail(ErrorHandle* err, int code, const std::string& message) {
    set_error(err, code, message);
    return OCI_ERROR;
}

sword fail(ErrorHandle* err, int code) { return fail(err, code, ora_message(code)); }

sword fail(ErrorHandle* err, const Failure& failure) { return fail(err, failure.code, failure.message); }

void clear_error(ErrorHandle* err) {
    if (!err) return;
    err->has_error = false;
    err->code = 0;
    err->message.clear();
}

// Runs one client call under the database lock; no exception leaves the library.
template <class F>
sword guarded(const char* name, F&& body) {
    try {
        std::lock_guard guard(database_lock());
        return body();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "OCI stand-in: %s failed: %s\n", name, e.what());
    } catch (...) {
        std::fprintf(stderr, "OCI stand-in: %s failed\n", name);
    }
    return OCI_ERROR;
}

// ---- statement text -----------------------------------------------------------------------

bool is_name_char(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '$' || c == '#'; }

// Placeholders of a statement (":name" or ":1"), keys in order of first use; literals, quoted
// names and comments are skipped, and ":=" is an assignment.
std::vector<std::string> scan_placeholders(const std::string& sql) {
    std::vector<std::string> names;
    for (std::size_t i = 0; i < sql.size();) {
        char c = sql[i];
        if (c == '\'' || c == '"') {
            std::size_t end = sql.find(c, i + 1);
            i = end == std::string::npos ? sql.size() : end + 1;
        } else if (c == '-' && i + 1 < sql.size() && sql[i + 1] == '-') {
            std::size_t end = sql.find('\n', i);
            i = end == std::string::npos ? sql.size() : end + 1;
        } else if (c == '/' && i + 1 < sql.size() && sql[i + 1] == '*') {
            std::size_t end = sql.find("*/", i + 2);
            i = end == std::string::npos ? sql.size() : end + 2;
        } else if (c == ':' && i + 1 < sql.size() && is_name_char(sql[i + 1])) {
            std::size_t end = i + 1;
            while (end < sql.size() && is_name_char(sql[end])) ++end;
            std::string key = placeholder_key(sql.substr(i + 1, end - i - 1));
            if (std::find(names.begin(), names.end(), key) == names.end()) names.push_back(key);
            i = end;
        } else {
            ++i;
        }
    }
    return names;
}

bool is_query(const std::string& sql) {
    std::size_t i = 0;
    while (i < sql.size() && (std::isspace(static_cast<unsigned char>(sql[i])) || sql[i] == '(')) ++i;
    std::size_t end = i;
    while (end < sql.size() && std::isalpha(static_cast<unsigned char>(sql[end]))) ++end;
    std::string word = upper(sql.substr(i, end - i));
    return word == "SELECT" || word == "WITH";
}

// ---- answers ------------------------------------------------------------------------------

// The answer that the next execution of the statement would take, without taking it.
const Answer* peek_answer(StmtHandle& stmt) {
    if (stmt.taken) return &*stmt.taken;
    if (!stmt.rule) return nullptr;
    return &answer_at(*stmt.rule, rule_counter(*stmt.rule));
}

// Takes the statement's answer for this execution (or for a failure before it).
Answer take_answer(StmtHandle& stmt) {
    if (stmt.taken) {
        Answer answer = std::move(*stmt.taken);
        stmt.taken.reset();
        return answer;
    }
    return answer_at(*stmt.rule, rule_take(*stmt.rule));
}

// A programmed failure at a step before the execution: it takes the answer that holds it.
std::optional<Failure> early_failure(StmtHandle& stmt, Step step, const std::string& bind, ub4 position) {
    const Answer* answer = peek_answer(stmt);
    if (!answer || !answer->failure || answer->failure->step != step) return std::nullopt;
    const Failure& f = *answer->failure;
    if (step == Step::Bind && !f.bind.empty() && placeholder_key(f.bind) != bind) return std::nullopt;
    if (step == Step::Define && f.position != 0 && f.position != position) return std::nullopt;
    Failure failure = f;
    if (!stmt.taken) {
        stmt.taken = answer_at(*stmt.rule, rule_take(*stmt.rule));
    }
    return failure;
}

// ---- data conversion ----------------------------------------------------------------------

bool valid_int_size(sb4 size) { return size == 1 || size == 2 || size == 4 || size == 8; }

bool supported_type(ub2 dty, sb4 size) {
    if (size < 0) return false;
    if (dty == SQLT_INT) return valid_int_size(size);
    return dty == SQLT_STR || dty == SQLT_CHR;
}

std::optional<long long> to_integer(const Cell& cell) {
    if (cell.is_int()) return cell.as_int();
    std::string s = fold_space(cell.to_string());
    if (s.empty()) return std::nullopt;
    errno = 0;
    char* end = nullptr;
    long long value = std::strtoll(s.c_str(), &end, 10);
    if (errno == 0 && *end == '\0') return value;
    errno = 0;
    double number = std::strtod(s.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(number) || std::fabs(number) > 9.2e18) return std::nullopt;
    return std::llround(number);
}

Cell read_value(const BindSlot& bind) {
    if (bind.ind && *bind.ind == -1) return Cell();
    if (!bind.value) return Cell();
    const char* bytes = static_cast<const char*>(bind.value);
    switch (bind.dty) {
    case SQLT_STR: return std::string(bytes, strnlen(bytes, static_cast<std::size_t>(bind.size)));
    case SQLT_CHR: {
        std::size_t length = bind.alen ? std::min<std::size_t>(*bind.alen, bind.size) : bind.size;
        return std::string(bytes, length);
    }
    case SQLT_INT:
        switch (bind.size) {
        case 1: {
            signed char v;
            std::memcpy(&v, bytes, 1);
            return static_cast<long long>(v);
        }
        case 2: {
            short v;
            std::memcpy(&v, bytes, 2);
            return static_cast<long long>(v);
        }
        case 4: {
            int v;
            std::memcpy(&v, bytes, 4);
            return static_cast<long long>(v);
        }
        default: {
            long long v;
            std::memcpy(&v, bytes, 8);
            return v;
        }
        }
    default: return Cell();
    }
}

struct Target {
    void* value;
    sb4 size;
    ub2 dty;
    sb2* ind;
    ub2* length;
    ub2* rcode;
};

// Puts one value into a caller's buffer; 0 when it fitted, else the Oracle error it gives
// (1406 truncated, 1405 NULL without indicator, 1722 not a number, 1455 integer overflow).
int put_value(const Cell& cell, const Target& t) {
    auto set = [&](sb2 ind, ub2 length, ub2 rcode) {
        if (t.ind) *t.ind = ind;
        if (t.length) *t.length = length;
        if (t.rcode) *t.rcode = rcode;
    };
    if (cell.is_null()) {
        set(-1, 0, kNullFetched);
        return t.ind ? 0 : kNullFetched;
    }
    char* out = static_cast<char*>(t.value);
    if (t.dty == SQLT_INT) {
        std::optional<long long> number = to_integer(cell);
        if (!number) {
            set(0, 0, kInvalidNumber);
            return kInvalidNumber;
        }
        long long v = *number;
        bool fits = t.size == 8 || (t.size == 4 && v >= INT_MIN && v <= INT_MAX) ||
                    (t.size == 2 && v >= SHRT_MIN && v <= SHRT_MAX) ||
                    (t.size == 1 && v >= SCHAR_MIN && v <= SCHAR_MAX);
        if (!fits) {
            set(0, 0, kIntOverflow);
            return kIntOverflow;
        }
        if (t.size == 1) {
            signed char x = static_cast<signed char>(v);
            std::memcpy(out, &x, 1);
        } else if (t.size == 2) {
            short x = static_cast<short>(v);
            std::memcpy(out, &x, 2);
        } else if (t.size == 4) {
            int x = static_cast<int>(v);
            std::memcpy(out, &x, 4);
        } else
            std::memcpy(out, &v, 8);
        set(0, static_cast<ub2>(t.size), 0);
        return 0;
    }
    std::string s = cell.to_string();
    std::size_t room =
        t.dty == SQLT_STR ? (t.size > 0 ? static_cast<std::size_t>(t.size) - 1 : 0) : static_cast<std::size_t>(t.size);
    std::size_t copied = std::min(s.size(), room);
    if (out && copied) std::memcpy(out, s.data(), copied);
    if (out && t.dty == SQLT_STR && t.size > 0) out[copied] = '\0';
    if (copied < s.size()) {
        set(static_cast<sb2>(std::min<std::size_t>(s.size(), SHRT_MAX)), static_cast<ub2>(copied), kTruncated);
        return kTruncated;
    }
    set(0, static_cast<ub2>(copied), 0);
    return 0;
}

// Combines the outcome of one value into a call's status: errors win over truncation.
void note_outcome(int code, int& error_code, int& info_code) {
    if (code == kTruncated) {
        if (!info_code) info_code = code;
    } else if (code && !error_code) {
        error_code = code;
    }
}

sword outcome_status(ErrorHandle* err, int error_code, int info_code) {
    if (error_code) return fail(err, error_code);
    if (info_code) {
        set_error(err, info_code, ora_message(info_code));
        return OCI_SUCCESS_WITH_INFO;
    }
    return OCI_SUCCESS;
}

// ---- cursor -------------------------------------------------------------------------------

void close_cursor(StmtHandle& stmt) {
    stmt.cursor_open = false;
    stmt.rows.clear();
    stmt.next_row = 0;
    stmt.fetch_failure.reset();
    stmt.brought = 0;
    stmt.end_known = false;
}

// ---- round trips --------------------------------------------------------------------------
// What a real client sends to the server: every execution is a round trip, which for a query also
// brings up to max(iters, prefetch) rows; a fetch is served from the rows brought while there are
// any, else it costs a round trip that brings up to max(nrows, prefetch) more. A round trip that
// brings fewer rows than it asked for has met the end of the rows (or the failing row), so the
// fetch that then finds no row (or the error) costs nothing.

void bring_rows(StmtHandle& stmt, std::size_t wanted) {
    std::size_t available = stmt.rows.size();
    if (stmt.fetch_failure) available = std::min<std::size_t>(available, stmt.fetch_failure->row - 1);
    const std::size_t brought = std::min(wanted, available > stmt.brought ? available - stmt.brought : 0);
    stmt.brought += brought;
    if (brought < wanted) stmt.end_known = true;
}

// Round trips of a fetch of the next row: 1 when it goes to the server, else 0.
unsigned fetch_round_trips(StmtHandle& stmt, ub4 nrows) {
    if (!stmt.cursor_open || stmt.next_row < stmt.brought || stmt.end_known) return 0;
    bring_rows(stmt, std::max<std::size_t>({nrows, stmt.prefetch, 1}));
    return 1;
}

sword fetch_row(StmtHandle& stmt, ErrorHandle* err) {
    if (!stmt.cursor_open) return fail(err, kFetchOutOfSequence);
    std::size_t row_number = stmt.next_row + 1;
    if (stmt.fetch_failure && stmt.fetch_failure->row == row_number) {
        Failure failure = *stmt.fetch_failure;
        close_cursor(stmt);
        return fail(err, failure);
    }
    if (stmt.next_row >= stmt.rows.size()) {
        set_error(err, kNoDataFound, ora_message(kNoDataFound));
        return OCI_NO_DATA;
    }
    const Row& row = stmt.rows[stmt.next_row++];
    ++stmt.row_count;
    if (ExecutionRecord* record = execution_of(stmt)) ++record->rows;
    int error_code = 0, info_code = 0;
    for (const auto& define : stmt.defines) {
        if (define->position > stmt.columns) {
            note_outcome(kNotInSelectList, error_code, info_code);
            continue;
        }
        Cell cell = define->position <= row.size() ? row[define->position - 1] : Cell();
        note_outcome(
            put_value(cell, {define->value, define->size, define->dty, define->ind, define->rlen, define->rcode}),
            error_code, info_code);
    }
    return outcome_status(err, error_code, info_code);
}

// ---- logons -------------------------------------------------------------------------------

bool same_text_ignoring_case(const std::string& a, const std::string& b) { return upper(a) == upper(b); }

json environment_json(const char* name) {
    const char* value = std::getenv(name);
    return value ? json(value) : json(nullptr);
}

std::optional<std::string> environment_value(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

}  // namespace

std::size_t live_handles() {
    std::lock_guard guard(database_lock());
    return registry().size();
}

}  // namespace oci_standin

// ---- the client interface -----------------------------------------------------------------

using namespace oci_standin;
using namespace oci_standin::detail;

namespace {
using nlohmann::json;
using oci_standin::ErrorHandle;
}  // namespace

extern "C" {

sword OCIInitialize(ub4 mode, dvoid*, dvoid* (*)(dvoid*, size_t), dvoid* (*)(dvoid*, dvoid*, size_t),
                    void (*)(dvoid*, dvoid*)) {
    return guarded("OCIInitialize", [&] {
        sword status = ensure_script() ? OCI_SUCCESS : OCI_ERROR;
        return finish("OCIInitialize", status, {{"mode", mode}});
    });
}

sword OCIEnvInit(OCIEnv** envp, ub4 mode, size_t, dvoid**) {
    return guarded("OCIEnvInit", [&] {
        if (!envp) return finish("OCIEnvInit", OCI_INVALID_HANDLE);
        *envp = nullptr;
        if (!ensure_script()) return finish("OCIEnvInit", OCI_ERROR);
        const void* env = make_handle<EnvHandle>(OCI_HTYPE_ENV, nullptr);
        find_handle<EnvHandle>(env, OCI_HTYPE_ENV)->nls_lang = environment_value("NLS_LANG");
        *envp = static_cast<OCIEnv*>(const_cast<void*>(env));
        Database& db = database();
        db.journal.environments.push_back(
            {environment_value("ORACLE_HOME"), environment_value("TNS_ADMIN"), environment_value("NLS_LANG")});
        ++db.journal.allocated[OCI_HTYPE_ENV];
        return finish("OCIEnvInit", OCI_SUCCESS,
                      {{"mode", mode},
                       {"type", OCI_HTYPE_ENV},
                       {"ORACLE_HOME", environment_json("ORACLE_HOME")},
                       {"TNS_ADMIN", environment_json("TNS_ADMIN")},
                       {"NLS_LANG", environment_json("NLS_LANG")}});
    });
}

sword OCIHandleAlloc(const dvoid* parenth, dvoid** hndlpp, ub4 type, size_t, dvoid**) {
    return guarded("OCIHandleAlloc", [&] {
        json event{{"type", type}};
        if (!hndlpp || !find_handle<oci_standin::Handle>(parenth, OCI_HTYPE_ENV))
            return finish("OCIHandleAlloc", OCI_INVALID_HANDLE, event);
        const void* handle = nullptr;
        switch (type) {
        case OCI_HTYPE_ERROR: handle = make_handle<ErrorHandle>(type, parenth); break;
        case OCI_HTYPE_SERVER: handle = make_handle<ServerHandle>(type, parenth); break;
        case OCI_HTYPE_SESSION: handle = make_handle<SessionHandle>(type, parenth); break;
        case OCI_HTYPE_SVCCTX: handle = make_handle<SvcHandle>(type, parenth); break;
        case OCI_HTYPE_STMT: handle = make_handle<StmtHandle>(type, parenth); break;
        default: return finish("OCIHandleAlloc", OCI_INVALID_HANDLE, event);
        }
        *hndlpp = const_cast<void*>(handle);
        ++database().journal.allocated[type];
        return finish("OCIHandleAlloc", OCI_SUCCESS, event);
    });
}

sword OCIHandleFree(dvoid* hndlp, ub4 type) {
    return guarded("OCIHandleFree", [&] {
        json event{{"type", type}};
        auto* handle = find_handle<oci_standin::Handle>(hndlp, type);
        if (!handle || type == OCI_HTYPE_BIND || type == OCI_HTYPE_DEFINE)
            return finish("OCIHandleFree", OCI_INVALID_HANDLE, event);
        auto& handles = registry();
        if (type == OCI_HTYPE_ENV) {
            // An environment takes every handle still allocated under it along.
            unsigned children = 0;
            for (auto it = handles.begin(); it != handles.end();) {
                if (it->first != hndlp && it->second->env == hndlp) {
                    it = handles.erase(it);
                    ++children;
                } else {
                    ++it;
                }
            }
            event["children"] = children;
        }
        handles.erase(hndlp);
        ++database().journal.freed[type];
        return finish("OCIHandleFree", OCI_SUCCESS, event);
    });
}

sword OCIServerAttach(OCIServer* srvhp, OCIError* errhp, const OraText* dblink, sb4 dblink_len, ub4) {
    return guarded("OCIServerAttach", [&] {
        auto* server = find_handle<ServerHandle>(srvhp, OCI_HTYPE_SERVER);
        auto* err = find_handle<ErrorHandle>(errhp, OCI_HTYPE_ERROR);
        std::string connect;
        if (dblink && dblink_len > 0) connect.assign(reinterpret_cast<const char*>(dblink), dblink_len);
        json event{{"connect", connect}};
        if (!server || !err) return finish("OCIServerAttach", OCI_INVALID_HANDLE, event);
        clear_error(err);
        Database& db = database();
        db.journal.attaches.push_back(connect);
        sword status = OCI_SUCCESS;
        if (!db.logons.empty()) {
            auto known = std::find_if(db.logons.begin(), db.logons.end(), [&](const Logon& logon) {
                return same_text_ignoring_case(logon.connect, connect);
            });
            if (known == db.logons.end())
                status = fail(err, kConnectIdentifier);
            else if (known->failure && known->failure->step == Step::Attach)
                status = fail(err, *known->failure);
        }
        if (status == OCI_SUCCESS) {
            server->attached = true;
            server->connect = connect;
        }
        return finish("OCIServerAttach", status, event);
    });
}

sword OCIServerDetach(OCIServer* srvhp, OCIError* errhp, ub4) {
    return guarded("OCIServerDetach", [&] {
        auto* server = find_handle<ServerHandle>(srvhp, OCI_HTYPE_SERVER);
        auto* err = find_handle<ErrorHandle>(errhp, OCI_HTYPE_ERROR);
        if (!server || !err) return finish("OCIServerDetach", OCI_INVALID_HANDLE);
        clear_error(err);
        if (!server->attached) return finish("OCIServerDetach", fail(err, kNotConnected));
        server->attached = false;
        return finish("OCIServerDetach", OCI_SUCCESS, {{"connect", server->connect}});
    });
}

sword OCIAttrSet(dvoid* trgthndlp, ub4 trghndltyp, dvoid* attributep, ub4 size, ub4 attrtype, OCIError* errhp) {
    return guarded("OCIAttrSet", [&] {
        json event{{"type", trghndltyp}, {"attribute", attrtype}};
        auto* target = find_handle<oci_standin::Handle>(trgthndlp, trghndltyp);
        auto* err = find_handle<ErrorHandle>(errhp, OCI_HTYPE_ERROR);
        if (!target || !err) return finish("OCIAttrSet", OCI_INVALID_HANDLE, event);
        clear_error(err);
        auto text_of = [&] {
            return attributep ? std::string(static_cast<const char*>(attributep), size) : std::string();
        };
        sword status = OCI_SUCCESS;
        if (trghndltyp == OCI_HTYPE_SVCCTX && attrtype == OCI_ATTR_SERVER) {
            if (!find_handle<ServerHandle>(attributep, OCI_HTYPE_SERVER))
                return finish("OCIAttrSet", OCI_INVALID_HANDLE, event);
            static_cast<SvcHandle*>(target)->server = attributep;
        } else if (trghndltyp == OCI_HTYPE_SVCCTX && attrtype == OCI_ATTR_SESSION) {
            if (!find_handle<SessionHandle>(attributep, OCI_HTYPE_SESSION))
                return finish("OCIAttrSet", OCI_INVALID_HANDLE, event);
            static_cast<SvcHandle*>(target)->session = attributep;
        } else if (trghndltyp == OCI_HTYPE_SESSION && attrtype == OCI_ATTR_USERNAME) {
            static_cast<SessionHandle*>(target)->user = text_of();
            event["value"] = static_cast<SessionHandle*>(target)->user;
        } else if (trghndltyp == OCI_HTYPE_SESSION && attrtype == OCI_ATTR_PASSWORD) {
            static_cast<SessionHandle*>(target)->password = text_of();
        } else if (trghndltyp == OCI_HTYPE_STMT && attrtype == OCI_ATTR_PREFETCH_ROWS && attributep) {
            auto& stmt = *static_cast<StmtHandle*>(target);
            std::memcpy(&stmt.prefetch, attributep, sizeof(ub4));
            if (ExecutionRecord* record = execution_of(stmt)) record->prefetch = stmt.prefetch;
            event["value"] = stmt.prefetch;
        } else {
            status = fail(err, kIllegalAttribute);
        }
        return finish("OCIAttrSet", status, event);
    });
}

sword OCIAttrGet(const dvoid* trgthndlp, ub4 trghndltyp, dvoid* attributep, ub4* sizep, ub4 attrtype, OCIError* errhp) {
    return guarded("OCIAttrGet", [&] {
        json event{{"type", trghndltyp}, {"attribute", attrtype}};
        auto* stmt = find_handle<StmtHandle>(trgthndlp, trghndltyp);
        auto* err = find_handle<ErrorHandle>(errhp, OCI_HTYPE_ERROR);
        if (!find_handle<oci_standin::Handle>(trgthndlp, trghndltyp) || !err || !attributep)
            return finish("OCIAttrGet", OCI_INVALID_HANDLE, event);
        clear_error(err);
        if (trghndltyp != OCI_HTYPE_STMT || !stmt ||
            (attrtype != OCI_ATTR_PARAM_COUNT && attrtype != OCI_ATTR_PREFETCH_ROWS && attrtype != OCI_ATTR_ROW_COUNT))
            return finish("OCIAttrGet", fail(err, kIllegalAttribute), event);
        ub4 value = 0;
        if (attrtype == OCI_ATTR_PREFETCH_ROWS) {
            value = stmt->prefetch;
        } else {
            if (!stmt->executed) return finish("OCIAttrGet", fail(err, kNotExecuted), event);
            value = attrtype == OCI_ATTR_PARAM_COUNT ? stmt->columns : stmt->row_count;
        }
        std::memcpy(attributep, &value, sizeof value);
        if (sizep) *sizep = sizeof value;
        event["value"] = value;
        return finish("OCIAttrGet", OCI_SUCCESS, event);
    });
}

sword OCISessionBegin(OCISvcCtx* svchp, OCIError* errhp, OCISession* usrhp, ub4 credt, ub4) {
    return guarded("OCISessionBegin", [&] {
        auto* svc = find_handle<SvcHandle>(svchp, OCI_HTYPE_SVCCTX);
        auto* err = find_handle<ErrorHandle>(errhp, OCI_HTYPE_ERROR);
        auto* session = find_handle<SessionHandle>(usrhp, OCI_HTYPE_SESSION);
        if (!svc || !err || !session) return finish("OCISessionBegin", OCI_INVALID_HANDLE);
        clear_error(err);
        auto* server = find_handle<ServerHandle>(svc->server, OCI_HTYPE_SERVER);
        std::string connect = server ? server->connect : "";
        json event{
            {"connect", connect}, {"user", session->user}, {"password", session->password}, {"credentials", credt}};
        Database& db = database();
        sword status = OCI_SUCCESS;
        if (!server || !server->attached) {
            status = fail(err, kNoAttach);
        } else if (!db.logons.empty()) {
            auto known = std::find_if(db.logons.begin(), db.logons.end(), [&](const Logon& logon) {
                return same_text_ignoring_case(logon.connect, connect) &&
                       same_text_ignoring_case(logon.user, session->user) && logon.password == session->password;
            });
            if (known == db.logons.end())
                status = fail(err, kLogonDenied);
            else if (known->failure && known->failure->step == Step::SessionBegin)
                status = fail(err, *known->failure);
        }
        if (status == OCI_SUCCESS) {
            session->begun = true;
            svc->session = usrhp;
        }
        const auto* env = find_handle<EnvHandle>(session->env, OCI_HTYPE_ENV);
        db.journal.logons.push_back(
            {connect, session->user, session->password, status, env ? env->nls_lang : std::nullopt});
        return finish("OCISessionBegin", status, event);
    });
}

sword OCISessionEnd(OCISvcCtx* svchp, OCIError* errhp, OCISession* usrhp, ub4) {
    return guarded("OCISessionEnd", [&] {
        auto* svc = find_handle<SvcHandle>(svchp, OCI_HTYPE_SVCCTX);
        auto* err = find_handle<ErrorHandle>(errhp, OCI_HTYPE_ERROR);
        if (!svc || !err || (usrhp && !find_handle<SessionHandle>(usrhp, OCI_HTYPE_SESSION)))
            return finish("OCISessionEnd", OCI_INVALID_HANDLE);
        clear_error(err);
        auto* session = find_handle<SessionHandle>(usrhp ? usrhp : svc->session, OCI_HTYPE_SESSION);
        if (!session || !session->begun) return finish("OCISessionEnd", fail(err, kNotLoggedOn));
        session->begun = false;
        return finish("OCISessionEnd", OCI_SUCCESS, {{"user", session->user}});
    });
}

sword OCIStmtPrepare(OCIStmt* stmtp, OCIError* errhp, const OraText* stmt_text, ub4 stmt_len, ub4 language, ub4) {
    return guarded("OCIStmtPrepare", [&] {
        auto* stmt = find_handle<StmtHandle>(stmtp, OCI_HTYPE_STMT);
        auto* err = find_handle<ErrorHandle>(errhp, OCI_HTYPE_ERROR);
        if (!stmt || !err) return finish("OCIStmtPrepare", OCI_INVALID_HANDLE);
        clear_error(err);
        // A new statement drops the previous one with its binds, defines and cursor.
        stmt->prepared = false;
        stmt->binds.clear();
        stmt->defines.clear();
        stmt->taken.reset();
        stmt->rule.reset();
        stmt->executed = false;
        stmt->execution.reset();
        stmt->columns = 0;
        stmt->row_count = 0;
        close_cursor(*stmt);
        if (!stmt_text || stmt_len == 0) return finish("OCIStmtPrepare", fail(err, kBadStatementLength));
        stmt->sql.assign(reinterpret_cast<const char*>(stmt_text), stmt_len);
        json event{{"text", stmt->sql}, {"language", language}};
        stmt->placeholders = scan_placeholders(stmt->sql);
        stmt->query = is_query(stmt->sql);
        stmt->rule = match_rule(stmt->sql);
        stmt->prepared = true;
        if (database().keep_journal) database().journal.prepared.push_back(stmt->sql);
        if (stmt->rule) event["rule"] = stmt->rule->key;
        if (auto failure = early_failure(*stmt, Step::Prepare, "", 0)) {
            stmt->prepared = false;
            return finish("OCIStmtPrepare", fail(err, *failure), event);
        }
        return finish("OCIStmtPrepare", OCI_SUCCESS, event);
    });
}

sword OCIBindByName(OCIStmt* stmtp, OCIBind** bindp, OCIError* errhp, const OraText* placeholder, sb4 placeh_len,
                    dvoid* valuep, sb4 value_sz, ub2 dty, dvoid* indp, ub2* alenp, ub2* rcodep, ub4, ub4*, ub4) {
    return guarded("OCIBindByName", [&] {
        auto* stmt = find_handle<StmtHandle>(stmtp, OCI_HTYPE_STMT);
        auto* err = find_handle<ErrorHandle>(errhp, OCI_HTYPE_ERROR);
        if (!stmt || !err) return finish("OCIBindByName", OCI_INVALID_HANDLE);
        clear_error(err);
        std::string name;
        if (placeholder) {
            const char* p = reinterpret_cast<const char*>(placeholder);
            name.assign(p, placeh_len < 0 ? std::strlen(p) : static_cast<std::size_t>(placeh_len));
        }
        std::string key = placeholder_key(name);
        json event{{"name", key}, {"type", dty}, {"size", value_sz}};
        if (!stmt->prepared) return finish("OCIBindByName", fail(err, kNotPrepared), event);
        if (key.empty() ||
            std::find(stmt->placeholders.begin(), stmt->placeholders.end(), key) == stmt->placeholders.end())
            return finish("OCIBindByName", fail(err, kIllegalVariable), event);
        if (!supported_type(dty, value_sz)) return finish("OCIBindByName", fail(err, kUnsupportedType), event);
        if (auto failure = early_failure(*stmt, Step::Bind, key, 0))
            return finish("OCIBindByName", fail(err, *failure), event);
        // A second bind of a name replaces the first; one bind serves every occurrence.
        auto slot = std::make_unique<BindSlot>();
        *slot = {key, valuep, value_sz, dty, static_cast<sb2*>(indp), alenp, rcodep};
        auto same = std::find_if(stmt->binds.begin(), stmt->binds.end(), [&](const auto& b) { return b->name == key; });
        BindSlot* handle = slot.get();
        if (same != stmt->binds.end())
            *same = std::move(slot);
        else
            stmt->binds.push_back(std::move(slot));
        if (bindp) *bindp = reinterpret_cast<OCIBind*>(handle);
        return finish("OCIBindByName", OCI_SUCCESS, event);
    });
}

sword OCIDefineByPos(OCIStmt* stmtp, OCIDefine** defnp, OCIError* errhp, ub4 position, dvoid* valuep, sb4 value_sz,
                     ub2 dty, dvoid* indp, ub2* rlenp, ub2* rcodep, ub4) {
    return guarded("OCIDefineByPos", [&] {
        auto* stmt = find_handle<StmtHandle>(stmtp, OCI_HTYPE_STMT);
        auto* err = find_handle<ErrorHandle>(errhp, OCI_HTYPE_ERROR);
        if (!stmt || !err) return finish("OCIDefineByPos", OCI_INVALID_HANDLE);
        clear_error(err);
        json event{{"position", position}, {"type", dty}, {"size", value_sz}};
        if (!stmt->prepared) return finish("OCIDefineByPos", fail(err, kNotPrepared), event);
        if (position == 0) return finish("OCIDefineByPos", fail(err, kNotInSelectList), event);
        if (!supported_type(dty, value_sz)) return finish("OCIDefineByPos", fail(err, kUnsupportedType), event);
        if (auto failure = early_failure(*stmt, Step::Define, "", position))
            return finish("OCIDefineByPos", fail(err, *failure), event);
        auto slot = std::make_unique<DefineSlot>();
        *slot = {position, valuep, value_sz, dty, static_cast<sb2*>(indp), rlenp, rcodep};
        auto same = std::find_if(stmt->defines.begin(), stmt->defines.end(),
                                 [&](const auto& d) { return d->position == position; });
        DefineSlot* handle = slot.get();
        if (same != stmt->defines.end())
            *same = std::move(slot);
        else
            stmt->defines.push_back(std::move(slot));
        if (defnp) *defnp = reinterpret_cast<OCIDefine*>(handle);
        return finish("OCIDefineByPos", OCI_SUCCESS, event);
    });
}

sword OCIStmtExecute(OCISvcCtx* svchp, OCIStmt* stmtp, OCIError* errhp, ub4 iters, ub4 rowoff, const OCISnapshot*,
                     OCISnapshot*, ub4) {
    return guarded("OCIStmtExecute", [&] {
        auto* svc = find_handle<SvcHandle>(svchp, OCI_HTYPE_SVCCTX);
        auto* stmt = find_handle<StmtHandle>(stmtp, OCI_HTYPE_STMT);
        auto* err = find_handle<ErrorHandle>(errhp, OCI_HTYPE_ERROR);
        if (!svc || !stmt || !err) return finish("OCIStmtExecute", OCI_INVALID_HANDLE);
        clear_error(err);
        auto* server = find_handle<ServerHandle>(svc->server, OCI_HTYPE_SERVER);
        auto* session = find_handle<SessionHandle>(svc->session, OCI_HTYPE_SESSION);
        if (!server || !server->attached || !session || !session->begun)
            return finish("OCIStmtExecute", fail(err, kNotLoggedOn));
        if (!stmt->prepared) return finish("OCIStmtExecute", fail(err, kNotPrepared));

        close_cursor(*stmt);
        stmt->executed = false;
        stmt->row_count = 0;
        Database& db = database();
        ExecutionRecord record;
        record.text = stmt->sql;
        record.rule = stmt->rule ? stmt->rule->key : "";
        record.iters = iters;
        record.prefetch = stmt->prefetch;
        record.round_trips = 1;
        InBinds in;
        json binds = json::array(), defines = json::array();
        for (const auto& bind : stmt->binds) {
            Cell value = read_value(*bind);
            in[bind->name] = value;
            record.binds.push_back({bind->name, bind->dty, bind->size, value});
            binds.push_back(
                {{"name", bind->name}, {"type", bind->dty}, {"size", bind->size}, {"value", cell_json(value)}});
        }
        for (const auto& define : stmt->defines) {
            record.defines.push_back({define->position, define->dty, define->size});
            defines.push_back({{"position", define->position}, {"type", define->dty}, {"size", define->size}});
        }
        stmt->execution.reset();
        if (db.keep_journal) {
            db.journal.executions.push_back(record);
            stmt->execution = db.journal.executions.size() - 1;
            stmt->generation = db.journal_generation;
        }
        json event{{"text", stmt->sql},
                   {"rule", record.rule},
                   {"iters", iters},
                   {"rowoff", rowoff},
                   {"binds", binds},
                   {"defines", defines},
                   {"round_trips", record.round_trips}};
        auto done = [&](sword status) {
            if (ExecutionRecord* r = execution_of(*stmt)) r->status = status;
            return finish("OCIStmtExecute", status, event);
        };

        if (!stmt->rule)
            return done(fail(err, kNoRuleCode, "no rule of the stand-in database matches: " + fold_space(stmt->sql)));
        Answer answer = take_answer(*stmt);
        for (const std::string& name : stmt->placeholders)
            if (!in.count(name)) return done(fail(err, kNotAllBound));
        if (answer.failure && answer.failure->step == Step::Execute) return done(fail(err, *answer.failure));

        if (stmt->query) {
            std::size_t columns = 0;
            for (const Row& row : answer.rows) columns = std::max(columns, row.size());
            if (answer.columns >= 0) {
                columns = static_cast<std::size_t>(answer.columns);
            } else if (answer.rows.empty()) {
                for (const auto& define : stmt->defines) columns = std::max<std::size_t>(columns, define->position);
            }
            stmt->columns = static_cast<ub4>(columns);
            stmt->rows = std::move(answer.rows);
            if (answer.failure && answer.failure->step == Step::Fetch) stmt->fetch_failure = answer.failure;
            stmt->cursor_open = true;
            stmt->executed = true;
            bring_rows(*stmt, std::max<std::size_t>(iters, stmt->prefetch));
            if (iters == 0) return done(OCI_SUCCESS);
            return done(fetch_row(*stmt, err));
        }

        if (iters == 0) return done(fail(err, kZeroIterations));
        stmt->executed = true;
        int error_code = 0, info_code = 0;
        for (const auto& [name, compute] : answer.outs) {
            std::string key = placeholder_key(name);
            auto bind =
                std::find_if(stmt->binds.begin(), stmt->binds.end(), [&](const auto& b) { return b->name == key; });
            if (bind == stmt->binds.end() || !compute) continue;
            BindSlot& slot = **bind;
            note_outcome(put_value(compute(in), {slot.value, slot.size, slot.dty, slot.ind, slot.alen, slot.rcode}),
                         error_code, info_code);
        }
        return done(outcome_status(err, error_code, info_code));
    });
}

sword OCIStmtFetch(OCIStmt* stmtp, OCIError* errhp, ub4 nrows, ub2 orientation, ub4) {
    return guarded("OCIStmtFetch", [&] {
        auto* stmt = find_handle<StmtHandle>(stmtp, OCI_HTYPE_STMT);
        auto* err = find_handle<ErrorHandle>(errhp, OCI_HTYPE_ERROR);
        json event{{"nrows", nrows}, {"orientation", orientation}};
        if (!stmt || !err) return finish("OCIStmtFetch", OCI_INVALID_HANDLE, event);
        clear_error(err);
        event["text"] = stmt->sql;
        if (!stmt->executed || !stmt->query) return finish("OCIStmtFetch", fail(err, kNotExecuted), event);
        ExecutionRecord* record = execution_of(*stmt);
        if (record) ++record->fetch_calls;
        if (nrows == 0) {
            // Zero rows ends the cursor.
            close_cursor(*stmt);
            return finish("OCIStmtFetch", OCI_SUCCESS, event);
        }
        if (orientation != OCI_DEFAULT && orientation != OCI_FETCH_NEXT)
            return finish("OCIStmtFetch", fail(err, kFetchOutOfSequence), event);
        const unsigned round_trips = fetch_round_trips(*stmt, nrows);
        if (record) record->round_trips += round_trips;
        event["round_trips"] = round_trips;
        sword status = fetch_row(*stmt, err);
        event["row"] = stmt->row_count;
        return finish("OCIStmtFetch", status, event);
    });
}

sword OCIErrorGet(dvoid* hndlp, ub4 recordno, OraText* sqlstate, sb4* errcodep, OraText* bufp, ub4 bufsiz, ub4 type) {
    return guarded("OCIErrorGet", [&] {
        auto* err = type == OCI_HTYPE_ERROR ? find_handle<ErrorHandle>(hndlp, OCI_HTYPE_ERROR) : nullptr;
        if (!err) return finish("OCIErrorGet", OCI_INVALID_HANDLE);
        if (sqlstate) *sqlstate = '\0';
        if (recordno != 1 || !err->has_error) return finish("OCIErrorGet", OCI_NO_DATA);
        if (errcodep) *errcodep = err->code;
        if (bufp && bufsiz > 0) {
            std::size_t n = std::min<std::size_t>(err->message.size(), bufsiz - 1);
            std::memcpy(bufp, err->message.data(), n);
            bufp[n] = '\0';
        }
        return finish("OCIErrorGet", OCI_SUCCESS, {{"code", err->code}});
    });
}

}  // extern "C"
