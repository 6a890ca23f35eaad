// Test bed of the job-action suites: an open session on the stand-in database, job attribute lists
// built from name/value pairs, and the journal's view of the statements a step ran.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "be_def.h"
#include "be_session_fixture.h"

namespace betest {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// An answer that gives out-binds.
inline oci_standin::Answer outs(std::vector<std::pair<std::string, oci_standin::Cell>> values) {
    oci_standin::Answer answer;
    for (auto& [name, value] : values) answer.outs[name] = oci_standin::out_value(value);
    return answer;
}

// A parameter-definition row of a program (13 columns).
inline oci_standin::Row program_parameter(const char* name, const char* format = "C") {
    using oci_standin::Cell;
    return {Cell(), Cell(), Cell(), name, name, 1000, "VS", "VS", 240, "N", format, "N", "Y"};
}

// The database of a submission: the given rules first, then the applications context, the names
// (application 222, program 31, set 90), a program with the given parameters, and every block
// answering; a request gets id 4711, a request set 5000.
inline void submission_database(std::vector<oci_standin::Rule> rules = {},
                                std::vector<oci_standin::Row> parameters = {}) {
    using oci_standin::answer_rows;
    using oci_standin::substring_rule;
    oci_standin::reset();
    for (auto& rule : rules) oci_standin::add_rule(std::move(rule));
    oci_standin::add_rule(substring_rule("FND_REQUEST.submit_request", {outs({{"rc_code", 4711}})}));
    oci_standin::add_rule(substring_rule("FND_SUBMIT.submit_set", {outs({{"start_t", "5000"}})}));
    oci_standin::add_rule(substring_rule(
        "fnd_user_resp_groups", {outs({{"userID", 1318}, {"respID", 50559}, {"resp_appID", 222}, {"groupID", 0}})}));
    oci_standin::add_rule(substring_rule("from FND_APPLICATION WHERE", {outs({{"app_id", 222}})}));
    oci_standin::add_rule(substring_rule("from FND_CONCURRENT_PROGRAMS WHERE", {outs({{"prog_id", 31}})}));
    oci_standin::add_rule(substring_rule("from FND_REQUEST_SETS WHERE", {outs({{"set_id", 90}, {"app_id", 222}})}));
    oci_standin::add_rule(substring_rule("fnd_concurrent_queues", {answer_rows({})}));
    oci_standin::add_rule(substring_rule("FROM fnd_descr_flex_column_usages a", {answer_rows(parameters)}));
    oci_standin::add_rule(substring_rule("MULTI_ORG_CATEGORY", {answer_rows({{0}})}));
    oci_standin::add_rule(substring_rule("FND_GLOBAL.ORG_ID()", {answer_rows({{204}})}));
    oci_standin::add_rule(substring_rule("FROM all_views", {outs({{"is_exist", 0}})}));
    for (const char* block : {"APPS_INITIALIZE", "mo_global", "BEGIN IF (", "FND_PROFILE", "FND_SESSIONS", "HOLD_FLAG",
                              "submit_program", "set_org_id"})
        oci_standin::add_rule(block_rule(block));
}

class JobTest : public OpenSessionTest {
protected:
    // A job attribute list over test-owned storage (kept alive by the fixture).
    ZPAAttrList* job(const Pairs& pairs) {
        lists_.push_back(std::make_unique<OwnedList>(pairs.begin(), pairs.end()));
        return lists_.back()->list();
    }

    // The executions whose text holds part, in order.
    static std::vector<oci_standin::ExecutionRecord> executions_of(const std::string& part) {
        std::vector<oci_standin::ExecutionRecord> found;
        for (auto& e : oci_standin::journal().executions)
            if (e.text.find(part) != std::string::npos) found.push_back(e);
        return found;
    }
    // The binds of an execution as name -> value text, in bind order.
    static Pairs binds_of(const oci_standin::ExecutionRecord& e) {
        Pairs binds;
        for (auto& b : e.binds) binds.emplace_back(b.name, b.value.to_string());
        return binds;
    }
    static const oci_standin::BindRecord* bind_named(const oci_standin::ExecutionRecord& e, const std::string& name) {
        for (auto& b : e.binds)
            if (b.name == name) return &b;
        return nullptr;
    }
    // Every prepared text is one of the known statement texts.
    static void expect_only_texts(const std::vector<std::string>& known) {
        for (const std::string& text : prepared())
            EXPECT_NE(std::find(known.begin(), known.end(), text), known.end()) << "unexpected statement: " << text;
    }

private:
    std::vector<std::unique_ptr<OwnedList>> lists_;
};

}  // namespace betest
