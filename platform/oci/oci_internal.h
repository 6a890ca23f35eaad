// Inner parts of the stand-in OCI client shared by its two modules: the process-wide database
// (rules, logons, answer counters, journal) behind one lock, and the text helpers.
#pragma once

#include "standin.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

namespace oci_standin::detail {

struct RuleState {
    Rule rule;
    std::string key;  // name in the journal and the state file
    std::optional<std::regex> pattern;
    std::string folded_match;  // substring form: folded and lower-cased
    unsigned counter = 0;      // executions so far (in-process; the state file wins when set)
};

struct Database {
    std::vector<std::shared_ptr<RuleState>> rules;
    std::vector<Logon> logons;
    Journal journal;
    bool keep_journal = true;  // calls, prepared texts and executions are kept in `journal`
    std::uint64_t journal_generation = 0;
    bool script_checked = false;
    std::string script_error;  // why the script named by the environment could not be read
    std::string journal_path;
    std::string state_path;
};

// Every call of the client holds this lock for its whole run.
std::recursive_mutex& database_lock();
Database& database();

// Reads the script, journal and state variables once after each reset; false (with the reason in
// script_error) when the script is bad.
bool ensure_script();
// The first rule that matches a prepared text, or none.
std::shared_ptr<RuleState> match_rule(const std::string& sql);
// Index of the answer the next execution of a rule takes; taking it (the index taken).
unsigned rule_counter(RuleState& rule);
unsigned rule_take(RuleState& rule);
const Answer& answer_at(const RuleState& rule, unsigned index);

// Appends one event line to the journal file, when one is named.
void write_event(const nlohmann::json& event);
nlohmann::json cell_json(const Cell& cell);

std::string fold_space(std::string_view sql);
std::string upper(std::string_view s);
std::string lower(std::string_view s);
// Placeholder name as the database knows it: colon dropped, upper-cased.
std::string placeholder_key(std::string_view name);

}  // namespace oci_standin::detail
