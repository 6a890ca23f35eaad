// Test bed of the job-action suites: an open session on the stand-in database, job attribute lists
// built from name/value pairs, and the journal's view of the statements a step ran.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "be_def.h"
#include "be_session_fixture.h"

namespace betest {

using Pairs = std::vector<std::pair<std::string, std::string>>;

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
