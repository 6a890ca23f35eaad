// Test bed of the list suites: questions of the form, an open session set on a connection, and
// the list entry points driven the way the agent drives them (OPEN, READ until the end, CLOSE).
#pragma once

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "be_list_internal.h"
#include "be_session_fixture.h"

namespace betest {

using oci_standin::Cell;
using oci_standin::Row;

inline constexpr const char* kDeclaration = "<?xml version='1.0' encoding='iso-8859-1'?>";

// A question of the form: ACTION in the HEADER, the inputs in the BODY.
inline std::string question(const std::string& action,
                            const std::vector<std::pair<std::string, std::string>>& inputs = {},
                            const std::string& header_extra = "") {
    std::string text = "<UVSCM><HEADER><ACTION>" + action + "</ACTION>" + header_extra + "</HEADER><BODY>";
    for (auto& [name, value] : inputs) text += "<" + name + ">" + value + "</" + name + ">";
    return text + "</BODY></UVSCM>";
}
inline std::string header(const std::string& action, const std::string& extra = "") {
    return "<HEADER><ACTION>" + action + "</ACTION>" + extra + "</HEADER>";
}

struct Reads {
    std::vector<std::string> pieces;
    std::vector<ZPARC> results;
    std::string whole() const {
        std::string text;
        for (const auto& p : pieces) text += p;
        return text;
    }
};

class ListTest : public OpenSessionTest {
protected:
    void SetUp() override {
        OpenSessionTest::SetUp();
        connection.UserData = session;
    }
    void TearDown() override {
        connection.UserData = nullptr;
        OpenSessionTest::TearDown();
    }

    ZPARC open(const std::string& text, void** handle) {
        OwnedList in{{"TEXT", text.c_str()}};
        return ZPAAPI_LIST_DATA_OPEN(&connection, handle, in.list(), &error);
    }
    // Reads until the list stops returning 0 (at most `limit` reads), each into a slot of `room`.
    Reads read(void* handle, int room = 8192, int limit = 100, const char* navigate = "NEXT") {
        Reads reads;
        OwnedList in{{"NAVIGATE", navigate}};
        std::string slot(static_cast<std::size_t>(room), '#');
        OwnedList out{{"TEXT", slot.c_str()}};
        ZPAAttrList* in_list = in.list();
        ZPAAttrList* out_list = out.list();
        for (int i = 0; i < limit; ++i) {
            const ZPARC rc = ZPAAPI_LIST_DATA_READ(&connection, handle, in_list, out_list, &error);
            reads.results.push_back(rc);
            if (rc == ZPA_FAIL) break;
            reads.pieces.emplace_back(out_list->Attributes[0].Value);
            if (rc != ZPA_SUCCESS) break;
        }
        return reads;
    }
    ZPARC close(void* handle) { return ZPAAPI_LIST_DATA_CLOSE(&connection, handle, nullptr, &error); }
    // Opens, reads to the end and closes; the whole answer.
    std::string list(const std::string& text) {
        void* handle = nullptr;
        EXPECT_EQ(open(text, &handle), ZPA_SUCCESS) << error.text;
        if (handle == nullptr) return "";
        const Reads reads = read(handle);
        EXPECT_EQ(reads.results.back(), ZPA_EOS) << error.text;
        EXPECT_EQ(close(handle), ZPA_SUCCESS);
        return reads.whole();
    }
    // ZPAAPI_LIST_ACTION's answer text.
    std::string action(const std::string& text, ZPARC* rc = nullptr) {
        OwnedList in{{"TEXT", text.c_str()}};
        std::string slot(4096, '#');
        OwnedList out{{"TEXT", slot.c_str()}};
        ZPAAttrList* out_list = out.list();
        const ZPARC result = ZPAAPI_LIST_ACTION(&connection, const_cast<char*>("LIST"), in.list(), out_list, &error);
        if (rc != nullptr) *rc = result;
        return out_list->Attributes[0].Value;
    }
    static void rows_for(const std::string& match, std::vector<Row> rows) {
        oci_standin::add_rule(oci_standin::substring_rule(match, {oci_standin::answer_rows(std::move(rows))}));
    }
    static std::string last_text(const std::string& part) {
        for (const auto& text : prepared())
            if (text.find(part) != std::string::npos) return text;
        return "";
    }

    ZPAConnHandle connection{};
    ZPAError error{};
};

inline std::string prologue(const std::string& head) { return std::string(kDeclaration) + "<UVSCM>" + head + "<BODY>"; }
inline constexpr const char* kEpilogue = "</BODY></UVSCM>";

}  // namespace betest
