// The programmable database of the stand-in OCI client: statement rules and logons (from the C++
// API or a JSON script file), answer sequences whose counters may live in a state file shared by
// processes, and the journal kept in memory and, when named, in a JSON-lines file.
#include "oci_internal.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <stdexcept>

namespace oci_standin {

using nlohmann::json;
using namespace detail;

std::string Cell::to_string() const {
    if (is_int()) return std::to_string(as_int());
    if (is_text()) return as_text();
    return "";
}

OutValue out_value(Cell value) {
    return [value = std::move(value)](const InBinds&) { return value; };
}

OutValue out_template(std::string pattern) {
    return [pattern = std::move(pattern)](const InBinds& in) -> Cell {
        std::string out;
        for (std::size_t i = 0; i < pattern.size();) {
            std::size_t close = pattern[i] == '{' ? pattern.find('}', i) : std::string::npos;
            if (close != std::string::npos) {
                auto found = in.find(placeholder_key(pattern.substr(i + 1, close - i - 1)));
                if (found != in.end()) {
                    out += found->second.to_string();
                    i = close + 1;
                    continue;
                }
            }
            out += pattern[i++];
        }
        return out;
    };
}

namespace detail {

std::recursive_mutex& database_lock() {
    static std::recursive_mutex lock;
    return lock;
}

Database& database() {
    static Database db;
    return db;
}

std::string fold_space(std::string_view sql) {
    std::string out;
    bool space = false;
    for (char c : sql) {
        if (std::isspace(static_cast<unsigned char>(c))) {
            space = true;
            continue;
        }
        if (space && !out.empty()) out += ' ';
        space = false;
        out += c;
    }
    return out;
}

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string placeholder_key(std::string_view name) {
    if (!name.empty() && name.front() == ':') name.remove_prefix(1);
    return upper(name);
}

json cell_json(const Cell& cell) {
    if (cell.is_int()) return cell.as_int();
    if (cell.is_text()) return cell.as_text();
    return nullptr;
}

std::shared_ptr<RuleState> match_rule(const std::string& sql) {
    std::string folded = fold_space(sql);
    std::string folded_lower = lower(folded);
    for (const auto& rule : database().rules) {
        if (rule->pattern ? std::regex_search(folded, *rule->pattern)
                          : folded_lower.find(rule->folded_match) != std::string::npos)
            return rule;
    }
    return nullptr;
}

const Answer& answer_at(const RuleState& rule, unsigned index) {
    static const Answer empty;
    const auto& answers = rule.rule.answers;
    if (answers.empty()) return empty;
    return answers[index < answers.size() ? index : answers.size() - 1];
}

namespace {

// Counters of the state file: {"<rule key>": executions}. The file is locked while it is read or
// rewritten, so that processes running one after another (or at once) share one sequence.
class StateFile {
public:
    explicit StateFile(const std::string& path, bool write) {
        fd_ = ::open(path.c_str(), write ? O_RDWR | O_CREAT : O_RDONLY, 0644);
        if (fd_ >= 0) ::flock(fd_, write ? LOCK_EX : LOCK_SH);
    }
    ~StateFile() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    StateFile(const StateFile&) = delete;
    StateFile& operator=(const StateFile&) = delete;

    json read() const {
        std::string content;
        if (fd_ < 0) return json::object();
        char buffer[4096];
        ::lseek(fd_, 0, SEEK_SET);
        for (ssize_t n; (n = ::read(fd_, buffer, sizeof buffer)) > 0;) content.append(buffer, n);
        json parsed = json::parse(content, nullptr, false);
        return parsed.is_object() ? parsed : json::object();
    }
    void write(const json& counters) const {
        if (fd_ < 0) return;
        std::string content = counters.dump() + "\n";
        if (::ftruncate(fd_, 0) != 0) return;
        ::lseek(fd_, 0, SEEK_SET);
        std::size_t done = 0;
        while (done < content.size()) {
            ssize_t n = ::write(fd_, content.data() + done, content.size() - done);
            if (n <= 0) return;
            done += static_cast<std::size_t>(n);
        }
    }

private:
    int fd_ = -1;
};

}  // namespace

unsigned rule_counter(RuleState& rule) {
    const std::string& path = database().state_path;
    if (path.empty()) return rule.counter;
    json counters = StateFile(path, false).read();
    auto found = counters.find(rule.key);
    return found != counters.end() && found->is_number_unsigned() ? found->get<unsigned>() : 0;
}

unsigned rule_take(RuleState& rule) {
    const unsigned local = rule.counter++;
    const std::string& path = database().state_path;
    if (path.empty()) return local;
    // Read and counted under one lock: processes taking answers at once each take their own.
    StateFile file(path, true);
    json counters = file.read();
    auto found = counters.find(rule.key);
    unsigned now = found != counters.end() && found->is_number_unsigned() ? found->get<unsigned>() : 0;
    counters[rule.key] = now + 1;
    file.write(counters);
    return now;
}

void write_event(const json& event) {
    const std::string& path = database().journal_path;
    if (path.empty()) return;
    json line = event;
    line["pid"] = static_cast<long>(::getpid());
    std::string content = line.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (fd < 0) return;
    // One write per line: lines of processes that share the journal do not interleave.
    [[maybe_unused]] ssize_t n = ::write(fd, content.data(), content.size());
    ::close(fd);
}

}  // namespace detail

namespace {

std::string where_text(const std::string& where) { return where.empty() ? "" : where + ": "; }

void check_keys(const json& object, std::initializer_list<const char*> allowed, const std::string& where) {
    if (!object.is_object()) throw std::runtime_error(where_text(where) + "an object is expected");
    for (const auto& item : object.items()) {
        bool known = false;
        for (const char* key : allowed) known = known || item.key() == key;
        if (!known) throw std::runtime_error(where_text(where) + "unknown key \"" + item.key() + "\"");
    }
}

Step parse_step(const std::string& name, const std::string& where) {
    static const std::pair<const char*, Step> steps[] = {
        {"attach", Step::Attach}, {"session", Step::SessionBegin}, {"prepare", Step::Prepare}, {"bind", Step::Bind},
        {"define", Step::Define}, {"execute", Step::Execute},      {"fetch", Step::Fetch}};
    for (const auto& [text, step] : steps)
        if (name == text) return step;
    throw std::runtime_error(where_text(where) + "unknown step \"" + name + "\"");
}

Failure parse_failure(const json& j, Step default_step, const std::string& where) {
    check_keys(j, {"step", "code", "message", "bind", "position", "row"}, where);
    Failure failure;
    failure.step = j.contains("step") ? parse_step(j.at("step").get<std::string>(), where) : default_step;
    failure.code = j.at("code").get<int>();
    failure.message = j.value("message", std::string());
    failure.bind = j.value("bind", std::string());
    failure.position = j.value("position", 0u);
    failure.row = j.value("row", 1u);
    return failure;
}

Cell parse_cell(const json& j, const std::string& where) {
    if (j.is_null()) return Cell();
    if (j.is_number_integer()) return Cell(j.get<long long>());
    if (j.is_string()) return Cell(j.get<std::string>());
    if (j.is_number()) return Cell(j.dump());
    throw std::runtime_error(where_text(where) + "a cell is a string, a number or null");
}

Answer parse_answer(const json& j, std::initializer_list<const char*> extra_keys, const std::string& where) {
    std::vector<const char*> keys{"rows", "columns", "outs", "error"};
    keys.insert(keys.end(), extra_keys);
    if (!j.is_object()) throw std::runtime_error(where + ": an object is expected");
    for (const auto& item : j.items()) {
        bool known = false;
        for (const char* key : keys) known = known || item.key() == key;
        if (!known) throw std::runtime_error(where + ": unknown key \"" + item.key() + "\"");
    }
    Answer answer;
    if (j.contains("rows")) {
        for (const auto& row_json : j.at("rows")) {
            Row row;
            for (const auto& cell : row_json) row.push_back(parse_cell(cell, where));
            answer.rows.push_back(std::move(row));
        }
    }
    answer.columns = j.value("columns", -1);
    if (j.contains("outs")) {
        for (const auto& [name, value] : j.at("outs").items())
            answer.outs[name] =
                value.is_string() ? out_template(value.get<std::string>()) : out_value(parse_cell(value, where));
    }
    if (j.contains("error")) answer.failure = parse_failure(j.at("error"), Step::Execute, where);
    return answer;
}

Rule parse_rule(const json& j, const std::string& where) {
    Rule rule;
    if (!j.is_object()) throw std::runtime_error(where + ": an object is expected");
    rule.name = j.value("name", std::string());
    if (j.contains("match") == j.contains("regex"))
        throw std::runtime_error(where + ": give exactly one of \"match\" and \"regex\"");
    rule.regex = j.contains("regex");
    rule.match = j.at(rule.regex ? "regex" : "match").get<std::string>();
    if (j.contains("answers")) {
        check_keys(j, {"name", "match", "regex", "answers"}, where);
        unsigned n = 0;
        for (const auto& answer : j.at("answers"))
            rule.answers.push_back(parse_answer(answer, {}, where + " answer " + std::to_string(++n)));
    } else {
        rule.answers.push_back(parse_answer(j, {"name", "match", "regex"}, where));
    }
    return rule;
}

Logon parse_logon(const json& j, const std::string& where) {
    check_keys(j, {"connect", "user", "password", "error"}, where);
    Logon logon;
    logon.connect = j.value("connect", std::string());
    logon.user = j.value("user", std::string());
    logon.password = j.value("password", std::string());
    if (j.contains("error")) {
        logon.failure = parse_failure(j.at("error"), Step::SessionBegin, where);
        if (logon.failure->step != Step::Attach && logon.failure->step != Step::SessionBegin)
            throw std::runtime_error(where + ": a logon error is at step \"attach\" or \"session\"");
    }
    return logon;
}

void load_script_locked(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw std::runtime_error("cannot open " + path);
    std::stringstream content;
    content << in.rdbuf();
    try {
        json script = json::parse(content.str());
        check_keys(script, {"logons", "rules"}, path);
        std::vector<Logon> logons;
        std::vector<Rule> rules;
        unsigned n = 0;
        if (script.contains("logons"))
            for (const auto& logon : script.at("logons"))
                logons.push_back(parse_logon(logon, path + ": logon " + std::to_string(++n)));
        n = 0;
        if (script.contains("rules"))
            for (const auto& rule : script.at("rules"))
                rules.push_back(parse_rule(rule, path + ": rule " + std::to_string(++n)));
        // Every pattern is checked before anything is added, so a bad script adds nothing.
        for (const auto& rule : rules)
            if (rule.regex) std::regex(fold_space(rule.match), std::regex::ECMAScript | std::regex::icase);
        for (auto& rule : rules) add_rule(std::move(rule));
        for (auto& logon : logons) add_logon(std::move(logon));
    } catch (const json::exception& e) {
        throw std::runtime_error(path + ": " + e.what());
    } catch (const std::regex_error& e) {
        throw std::runtime_error(path + ": bad regular expression: " + e.what());
    }
}

}  // namespace

namespace detail {

bool ensure_script() {
    Database& db = database();
    if (db.script_checked) return db.script_error.empty();
    db.script_checked = true;
    const char* journal = std::getenv(kJournalVariable);
    const char* state = std::getenv(kStateVariable);
    db.journal_path = journal ? journal : "";
    db.state_path = state ? state : "";
    const char* script = std::getenv(kScriptVariable);
    if (!script || !*script) return true;
    try {
        load_script_locked(script);
    } catch (const std::exception& e) {
        db.script_error = e.what();
        std::fprintf(stderr, "OCI stand-in: %s\n", db.script_error.c_str());
    }
    return db.script_error.empty();
}

}  // namespace detail

void reset() {
    std::lock_guard guard(database_lock());
    Database& db = database();
    db.rules.clear();
    db.logons.clear();
    db.journal = Journal{};
    db.keep_journal = true;
    ++db.journal_generation;
    db.script_checked = false;
    db.script_error.clear();
    db.journal_path.clear();
    db.state_path.clear();
}

void add_rule(Rule rule) {
    auto state = std::make_shared<RuleState>();
    if (rule.regex)
        state->pattern.emplace(fold_space(rule.match), std::regex::ECMAScript | std::regex::icase);
    else
        state->folded_match = lower(fold_space(rule.match));
    std::lock_guard guard(database_lock());
    Database& db = database();
    state->key = rule.name.empty() ? "#" + std::to_string(db.rules.size() + 1) : rule.name;
    state->rule = std::move(rule);
    db.rules.push_back(std::move(state));
}

void add_logon(Logon logon) {
    std::lock_guard guard(database_lock());
    database().logons.push_back(std::move(logon));
}

void load_script(const std::string& path) {
    std::lock_guard guard(database_lock());
    load_script_locked(path);
}

Journal journal() {
    std::lock_guard guard(database_lock());
    return database().journal;
}

void keep_journal(bool keep) {
    std::lock_guard guard(database_lock());
    database().keep_journal = keep;
}

unsigned Journal::round_trips() const {
    unsigned total = 0;
    for (const ExecutionRecord& execution : executions) total += execution.round_trips;
    return total;
}

}  // namespace oci_standin
