// Test bed of the session suites: a temporary agent home with an emptied stand-in database, an
// accounts file, and sessions opened the way the plug-in opens them.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "be_def.h"
#include "be_fixture.h"
#include "standin.h"

namespace betest {

class SessionTest : public HomeTest {
protected:
    void SetUp() override { oci_standin::reset(); }
    void TearDown() override {
        HomeTest::TearDown();
        oci_standin::reset();
    }

    // Opens a session for user/password on connect; fails the test when it does not open.
    BE_DUZ_Handles* open_session(const char* connect = "VIS", const char* user = "APPS",
                                 const char* password = "apps") {
        OwnedList account{{"DB_LOGIN", user}, {"DB_PASSWD", password}, {"DB_SID", connect}};
        auto* handle = static_cast<BE_DUZ_Handles*>(std::malloc(sizeof(BE_DUZ_Handles)));
        BE_DUZ_OCI_Init_Handle(handle);
        ZPAError error{};
        EXPECT_EQ(BE_DUZ_OCI_START_Session(account.list(), handle, &error), 0) << error.text;
        return handle;
    }
    static void close_session(BE_DUZ_Handles* handle) {
        ZPAError error{};
        BE_DUZ_OCI_CLOSE_Session(handle, 'Y', &error);
    }

    // Texts prepared since the last reset of the journal.
    static std::vector<std::string> prepared() { return oci_standin::journal().prepared; }
    // The value bound to a placeholder (upper-case, no colon) in the last execution of a text.
    static oci_standin::Cell bound(const std::string& text_part, const std::string& name) {
        auto executions = oci_standin::journal().executions;
        for (auto it = executions.rbegin(); it != executions.rend(); ++it) {
            if (it->text.find(text_part) == std::string::npos) continue;
            for (auto& bind : it->binds)
                if (bind.name == name) return bind.value;
        }
        ADD_FAILURE() << "no bind " << name << " in a statement with " << text_part;
        return {};
    }
};

// The round trips a real client needs for each execution of a text that holds part, in order.
inline std::vector<unsigned> round_trips_of(const std::string& part) {
    std::vector<unsigned> trips;
    for (const auto& execution : oci_standin::journal().executions)
        if (execution.text.find(part) != std::string::npos) trips.push_back(execution.round_trips);
    return trips;
}

// A rule that runs a block or statement without rows.
inline oci_standin::Rule block_rule(const std::string& match) {
    return oci_standin::substring_rule(match, {oci_standin::Answer{}});
}

// A session suite whose every test starts with one session open on the stand-in database.
class OpenSessionTest : public SessionTest {
protected:
    void SetUp() override {
        SessionTest::SetUp();
        session = open_session();
    }
    void TearDown() override {
        close_session(session);
        SessionTest::TearDown();
    }
    BE_DUZ_Handles* session = nullptr;
};

// A session suite whose connection holds the open session, as ZPAAPI_Connect leaves it.
class ConnectedSessionTest : public OpenSessionTest {
protected:
    void SetUp() override {
        OpenSessionTest::SetUp();
        connection.Attributes = *connection_attributes.list();
        connection.UserData = session;
    }
    OwnedList connection_attributes{{"CM_LIB_NAME", "DUZ"}, {"APPLICATION_VERSION", "12.2"}, {"VERSION", "9.0.21"}};
    ZPAConnHandle connection{};
};

}  // namespace betest
