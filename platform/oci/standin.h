// Programming API of the stand-in OCI client (libclntsh.so): the database behind it (statement
// rules with rows, out-bind values, errors and answer sequences; accepted logons) and the
// journal of every OCI call, for tests that drive the client inside their own process.
#pragma once

#include "oci.h"

#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace oci_standin {

// One value of the database: NULL, an integer or a text.
class Cell {
public:
    Cell() = default;  // NULL
    Cell(std::nullptr_t) {}
    Cell(int value) : value_(static_cast<long long>(value)) {}
    Cell(long long value) : value_(value) {}
    Cell(const char* value) : value_(std::string(value)) {}
    Cell(std::string value) : value_(std::move(value)) {}

    bool is_null() const { return std::holds_alternative<std::monostate>(value_); }
    bool is_int() const { return std::holds_alternative<long long>(value_); }
    bool is_text() const { return std::holds_alternative<std::string>(value_); }
    long long as_int() const { return std::get<long long>(value_); }
    const std::string& as_text() const { return std::get<std::string>(value_); }
    // The value as the database would print it: integers in decimal, NULL as "".
    std::string to_string() const;

    bool operator==(const Cell&) const = default;

private:
    std::variant<std::monostate, long long, std::string> value_;
};

using Row = std::vector<Cell>;
// Values of the in-binds at execution, by placeholder name upper-cased without its colon.
using InBinds = std::map<std::string, Cell>;
// Computes the value that an out-bind receives from the in-binds.
using OutValue = std::function<Cell(const InBinds&)>;

// A fixed out-bind value.
OutValue out_value(Cell value);
// A text out-bind value in which every "{NAME}" is replaced by the in-bind NAME (any case).
OutValue out_template(std::string pattern);

// The call at which a programmed Oracle error is reported.
enum class Step { Attach, SessionBegin, Prepare, Bind, Define, Execute, Fetch };

struct Failure {
    Step step = Step::Execute;
    int code = 0;           // Oracle error number, e.g. 942
    std::string message;    // e.g. "table or view does not exist"
    std::string bind;       // Step::Bind: the placeholder (any case, colon optional); "" = any
    unsigned position = 0;  // Step::Define: the define position; 0 = any
    unsigned row = 1;       // Step::Fetch: the row whose fetch fails (1 = first row)
};

// What one execution of a matched statement gives.
struct Answer {
    std::vector<Row> rows;                 // rows of a query; short rows are padded with NULLs
    int columns = -1;                      // column count; -1: the widest row, else the defines
    std::map<std::string, OutValue> outs;  // out-binds by placeholder name (any case, colon optional)
    std::optional<Failure> failure;
};

// A statement rule: matched on the prepared text with white space folded and case ignored, as a
// substring or (regex) an ECMAScript regular expression searched in the text. The first rule that
// matches answers. Each execution takes the next answer; the last one repeats.
struct Rule {
    std::string name;  // for the journal; "" gives "#<index>"
    std::string match;
    bool regex = false;
    std::vector<Answer> answers;
};

// An accepted logon. The connect string and user are compared without regard to case, the
// password exactly. With no logon programmed every logon is accepted.
struct Logon {
    std::string connect;
    std::string user;
    std::string password;
    std::optional<Failure> failure;  // Step::Attach or Step::SessionBegin
};

// Shorthands for tests (designated initializers that leave members out warn under -Wextra).
inline Failure failure_at(Step step, int code, std::string message) {
    Failure failure;
    failure.step = step;
    failure.code = code;
    failure.message = std::move(message);
    return failure;
}
inline Answer answer_rows(std::vector<Row> rows) {
    Answer answer;
    answer.rows = std::move(rows);
    return answer;
}
inline Answer answer_failure(Failure failure, std::vector<Row> rows = {}) {
    Answer answer;
    answer.rows = std::move(rows);
    answer.failure = std::move(failure);
    return answer;
}
inline Rule substring_rule(std::string match, std::vector<Answer> answers, std::string name = "") {
    Rule rule;
    rule.name = std::move(name);
    rule.match = std::move(match);
    rule.answers = std::move(answers);
    return rule;
}
inline Rule regex_rule(std::string pattern, std::vector<Answer> answers, std::string name = "") {
    Rule rule = substring_rule(std::move(pattern), std::move(answers), std::move(name));
    rule.regex = true;
    return rule;
}
inline Logon logon(std::string connect, std::string user, std::string password,
                   std::optional<Failure> failure = std::nullopt) {
    return Logon{std::move(connect), std::move(user), std::move(password), std::move(failure)};
}

// Journal of the calls since the last reset.
struct CallRecord {
    std::string name;  // e.g. "OCIStmtPrepare"
    sword status = 0;
};
struct BindRecord {
    std::string name;  // upper-cased, without colon
    ub2 type = 0;
    sb4 size = 0;
    Cell value;  // value at execution
};
struct DefineRecord {
    ub4 position = 0;
    ub2 type = 0;
    sb4 size = 0;
};
struct ExecutionRecord {
    std::string text;
    std::string rule;  // name of the matched rule, "" when none matched
    ub4 iters = 0;
    std::vector<BindRecord> binds;
    std::vector<DefineRecord> defines;
    ub4 prefetch = 0;          // prefetch rows of the statement (also when set after the execution)
    unsigned fetch_calls = 0;  // OCIStmtFetch calls on this execution's cursor
    unsigned rows = 0;         // rows delivered, the execution's own fetch included
    // Round trips a real client makes for this execution and its fetches: the execution is one and
    // brings up to max(iters, prefetch) rows of a query; a fetch beyond the rows brought is one more
    // and brings up to max(nrows, prefetch); a round trip that brought fewer rows than it asked for
    // has met the end, so the fetch that finds no more rows costs none.
    unsigned round_trips = 0;
    sword status = 0;
};
struct LogonRecord {
    std::string connect;
    std::string user;
    std::string password;
    sword status = 0;
    std::optional<std::string> nls_lang;  // NLS_LANG that the session's environment saw at its creation
};
struct EnvironmentRecord {
    std::optional<std::string> oracle_home;
    std::optional<std::string> tns_admin;
    std::optional<std::string> nls_lang;
};
struct Journal {
    std::vector<CallRecord> calls;
    std::vector<EnvironmentRecord> environments;  // one per OCIEnvInit
    std::vector<std::string> attaches;            // connect strings
    std::vector<LogonRecord> logons;              // one per OCISessionBegin
    std::vector<std::string> prepared;            // prepared texts in order
    std::vector<ExecutionRecord> executions;
    std::map<ub4, unsigned> allocated;  // OCIEnvInit and OCIHandleAlloc, by handle type
    std::map<ub4, unsigned> freed;      // OCIHandleFree, by handle type

    // Round trips of every execution (and its fetches) in the journal.
    unsigned round_trips() const;
};

// Forgets every rule, logon, answer counter and the journal; a script named by the environment
// is read again at the next OCIInitialize or OCIEnvInit. Live handles stay valid.
void reset();
// Adds a rule after the others. Throws std::regex_error for a bad regular expression.
void add_rule(Rule rule);
void add_logon(Logon logon);
// Adds the rules and logons of a script file. Throws std::runtime_error with the reason.
void load_script(const std::string& path);
Journal journal();
// Whether calls, prepared texts and executions are kept in the journal (the default after reset):
// a long benchmark turns it off so that the journal does not grow with every statement. The
// journal file (script mode) is written either way.
void keep_journal(bool keep);
// Handles made by OCIEnvInit and OCIHandleAlloc that are not freed yet.
std::size_t live_handles();

// Environment variables of the script mode (see README.md).
inline constexpr const char* kScriptVariable = "ORV_OCI_STANDIN_SCRIPT";
inline constexpr const char* kJournalVariable = "ORV_OCI_STANDIN_JOURNAL";
inline constexpr const char* kStateVariable = "ORV_OCI_STANDIN_STATE";
// Oracle error number of a statement that no rule matches.
inline constexpr int kNoRuleCode = 20999;

}  // namespace oci_standin
