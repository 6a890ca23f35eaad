// Test bed of the parameter-model suites: an open session on the stand-in database, an array of
// 100 parameter records as the callers keep them, the session's profile options, and the journal's
// view of the last statement that holds a text.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "be_def.h"
#include "be_session_fixture.h"
#include "gm_param.h"

namespace betest {

class ParmTest : public OpenSessionTest {
protected:
    ParmTest() {
        for (auto& r : records_) {
            r = std::make_unique<BE_DUZ_report_parm>();
            BE_DUZ_init_report_parm(r.get());
        }
        for (int i = 0; i < BE_DUZ_MAX_REPORT_PARMS; ++i) recs[i] = records_[i].get();
    }
    void TearDown() override {
        for (auto& r : records_) GM_PARAM_list_clear(&r->list);
        OpenSessionTest::TearDown();
    }

    // Fills record i: name, value set, validation type and value.
    BE_DUZ_report_parm* parm(int i, const char* name, const char* value_set = "", const char* type = "I",
                             const char* value = "") {
        BE_DUZ_report_parm* p = recs[i];
        std::snprintf(p->parm_name, sizeof p->parm_name, "%s", name);
        std::snprintf(p->value_set_name, sizeof p->value_set_name, "%s", value_set);
        std::snprintf(p->value_set_type, sizeof p->value_set_type, "%s", type);
        std::snprintf(p->value, sizeof p->value, "%s", value);
        return p;
    }
    // Stores the chosen row of a table-validated record, as a value check leaves it.
    static void row(BE_DUZ_report_parm* p, std::map<std::string, std::string> columns) {
        for (auto& [key, value] : columns) GM_PARAM_list_set(&p->list, key.c_str(), value.c_str());
    }
    static std::string list_value(BE_DUZ_report_parm* p, const char* key) {
        char value[BE_DUZ_PARM_VALUE_SIZE] = "";
        if (GM_PARAM_list_get(&p->list, key, value, sizeof value) != CM_RC_OK) return "<missing>";
        return value;
    }

    // FND_PROFILE.GET answers from this table; a name not in it is "not set".
    static void profiles(std::map<std::string, std::string> values) {
        oci_standin::Answer answer;
        answer.outs["pvalue"] = [values](const oci_standin::InBinds& in) {
            auto name = in.find("PNAME");
            auto it = name == in.end() ? values.end() : values.find(name->second.to_string());
            return oci_standin::Cell(it == values.end() ? std::string("PROFILE NOT SET") : it->second);
        };
        oci_standin::add_rule(oci_standin::substring_rule("FND_PROFILE.GET", {answer}, "profile"));
    }

    // The last execution of a statement that holds text_part.
    static oci_standin::ExecutionRecord last_execution(const std::string& text_part) {
        auto executions = oci_standin::journal().executions;
        for (auto it = executions.rbegin(); it != executions.rend(); ++it)
            if (it->text.find(text_part) != std::string::npos) return *it;
        ADD_FAILURE() << "no statement with " << text_part;
        return {};
    }
    // Its binds as name -> value text, in bind order.
    static std::vector<std::pair<std::string, std::string>> binds_of(const oci_standin::ExecutionRecord& e) {
        std::vector<std::pair<std::string, std::string>> binds;
        for (auto& b : e.binds) binds.emplace_back(b.name, b.value.to_string());
        return binds;
    }
    static int count_prepared(const std::string& text_part) {
        int count = 0;
        for (auto& text : prepared())
            if (text.find(text_part) != std::string::npos) ++count;
        return count;
    }

    BE_DUZ_report_parm* recs[BE_DUZ_MAX_REPORT_PARMS] = {};

private:
    std::unique_ptr<BE_DUZ_report_parm> records_[BE_DUZ_MAX_REPORT_PARMS];
};

}  // namespace betest
