// Records and the message header: the size field (decimal, then base 26), packing into a buffer
// that must hold the record and its terminator, the dispatch by type, the header layout by protocol
// version with its back-end name, and session instance ids.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "dsect_appl.h"
#include "dsect_one.h"
#include "dsect_wire.h"
#include "gm_param.h"
#include "os_diag.h"
#include "testbed.h"

namespace {

using testbed::AgentHomeTest;

std::string pack(DSECT_ONE_handle_typ& record) {
    int length = 0;
    EXPECT_EQ(DSECT_ONE_evallen(&record, &length), CM_RC_OK);
    std::string buffer(static_cast<std::size_t>(length) + 1, '#');
    EXPECT_EQ(DSECT_ONE_pack(&record, buffer.data(), length + 1), CM_RC_OK);
    EXPECT_EQ(buffer[static_cast<std::size_t>(length)], '\0');
    buffer.resize(static_cast<std::size_t>(length));
    return buffer;
}

std::string field(DSECT_ONE_handle_typ& record, const char* name) {
    char* value = nullptr;
    return DSECT_ONE_get_key_value(&record, name, &value) == CM_RC_OK ? value : "<absent>";
}

TEST_F(AgentHomeTest, SizeFieldIsDecimalUpTo9999ThenBase26) {
    const struct {
        int fields;  // bytes of field text after the prefix
        std::string size;
    } cases[] = {{9999, "9999"}, {10000, "aouq"}, {0, "0000"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.fields);
        DSECT_ONE_handle_typ record;
        ASSERT_EQ(DSECT_ONE_init(&record), CM_RC_OK);
        record.type = DSECT_TYP_TRACK;
        if (c.fields > 0) {
            // A track list is taken whole: its length is the record's field length.
            const std::string list(static_cast<std::size_t>(c.fields), 'L');
            ASSERT_EQ(
                DSECT_ONE_append_dsect_var_size(&record, "DSECT_TRACK_LIST", list.data(), c.fields, DF_DSECT_LIST),
                CM_RC_OK);
        }
        const std::string packed = pack(record);
        EXPECT_EQ(packed.substr(0, 6), "16" + c.size);
        int size = 0;
        ASSERT_EQ(DSECT_ONE_parse_dsect_size(packed.data(), &size), CM_RC_OK);
        EXPECT_EQ(size, c.fields + 6);
        DSECT_ONE_delete(&record);
    }
    std::string decimal = "170123" + std::string(123, 'x');
    char* text = decimal.data();
    int size = 0;
    ASSERT_EQ(DSECT_ONE_parse_dsect_size(text, &size), CM_RC_OK);
    EXPECT_EQ(size, 129);
}

TEST_F(AgentHomeTest, PackNeedsRoomForTheRecordAndItsTerminator) {
    DSECT_ONE_handle_typ record;
    ASSERT_EQ(DSECT_APPL_create_errcd("06", &record, 42, "bad thing"), CM_RC_OK);
    int length = 0;
    ASSERT_EQ(DSECT_ONE_evallen(&record, &length), CM_RC_OK);
    EXPECT_EQ(length, 6 + 6 + 3 + 9);
    std::string buffer(static_cast<std::size_t>(length) + 1, '#');
    EXPECT_EQ(DSECT_ONE_pack(&record, buffer.data(), length), CM_RC_FAIL);
    ASSERT_EQ(DSECT_ONE_pack(&record, buffer.data(), length + 1), CM_RC_OK);
    EXPECT_EQ(std::string(buffer.c_str()), wire::record(4, "000042009bad thing"));

    DSECT_ONE_handle_typ back;
    ASSERT_EQ(DSECT_ONE_unpack("06", &back, buffer.data()), CM_RC_OK);
    EXPECT_EQ(back.type, DSECT_TYP_ERRCD);
    EXPECT_EQ(back.size, length);
    EXPECT_EQ(field(back, "DSECT_ERROR_CODE"), "000042");
    EXPECT_EQ(field(back, "DSECT_ERROR_MESSAGE"), "bad thing");
    DSECT_ONE_delete(&back);
    DSECT_ONE_delete(&record);
}

TEST_F(AgentHomeTest, TypesWithoutReaderAndShortBuffersAreUnknown) {
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    for (const std::string& text : {wire::record(15, "x"), wire::record(24, "VERSION123"), wire::record(25, ""),
                                    std::string("17000"), wire::record(31, "")}) {
        SCOPED_TRACE(text);
        std::string buffer = text;
        DSECT_ONE_handle_typ record;
        EXPECT_EQ(DSECT_ONE_unpack("10", &record, buffer.data()), CM_RC_FAIL);
        EXPECT_EQ(DSECT_ONE_count(&record), 0);
        DSECT_ONE_delete(&record);
    }
    EXPECT_NE(testbed::read_diag_log("Oebs_CM").find("GDS type unknown"), std::string::npos);
}

TEST_F(AgentHomeTest, FieldsAreFoundByNameUpdatedAndDeleted) {
    DSECT_ONE_handle_typ record;
    ASSERT_EQ(DSECT_ONE_init(&record), CM_RC_OK);
    EXPECT_STREQ(record.version, "01");
    DSECT_ONE_append_dsect_var(&record, "A", "1", DF_VAR2);
    DSECT_ONE_append_dsect_var(&record, "DSECT_X", "2", DF_VAR2);
    DSECT_ONE_append_dsect_var(&record, "B", "3", DF_VAR2);
    DSECT_ONE_append_dsect_var(&record, "DSECT_Y", "4", DF_VAR2);
    EXPECT_EQ(DSECT_ONE_update_dsect_var(&record, "A", "5", DF_VAR2), CM_RC_OK);
    EXPECT_EQ(DSECT_ONE_delete_dsect_var_prefix(&record, "DSECT_"), CM_RC_END);
    EXPECT_EQ(DSECT_ONE_delete_dsect_var(&record, "nothing"), CM_RC_END);
    std::string order;
    char* name = nullptr;
    char* value = nullptr;
    DSECT_ONE_reset(&record);
    while (DSECT_ONE_get_next_var(&record, &name, &value) == CM_RC_OK) order += std::string(name) + "=" + value + ";";
    EXPECT_EQ(order, "B=3;A=5;");
    const std::string big(40000, 'v');
    ASSERT_EQ(DSECT_ONE_append_dsect_var(&record, "BIG", big.c_str(), DF_VAR5), CM_RC_OK);
    EXPECT_EQ(field(record, "BIG").size(), 32768u);
    EXPECT_EQ(DSECT_ONE_append_dsect_var_size(&record, "RAW", big.data(), 32769, DF_DSECT_LIST), CM_RC_FAIL);
    DSECT_ONE_delete(&record);
}

TEST_F(AgentHomeTest, RecordVersionFollowsTheConfiguredProtocolVersion) {
    home.write_file("data/CONFIG.dat", "PROTOCOL_VERSION 10xyz\n");
    DSECT_ONE_handle_typ record;
    ASSERT_EQ(DSECT_ONE_init(&record), CM_RC_OK);
    EXPECT_STREQ(record.version, "10");
    EXPECT_EQ(DSECT_ONE_init(nullptr), CM_RC_FAIL);
    EXPECT_EQ(DSECT_ONE_delete(nullptr), CM_RC_FAIL);
}

std::string packed_header(DSECT_HEADER_typ& header) {
    int length = 0;
    EXPECT_EQ(DSECT_ONE_evallen_header(&header, &length), CM_RC_OK);
    std::string buffer(static_cast<std::size_t>(length) + 1, '#');
    int size = 0;
    EXPECT_EQ(DSECT_ONE_pack_header(&header, buffer.data(), &size), CM_RC_OK);
    EXPECT_EQ(size, length);
    buffer.resize(static_cast<std::size_t>(size));
    return buffer;
}

TEST_F(AgentHomeTest, HeaderLayoutByVersion) {
    const struct {
        std::string version;
        std::string wire;
    } cases[] = {
        {"03", wire::header("03", "R", "T", "agent1", "server1")},
        {"04", wire::header("04", "R", "T", "agent1", "server1", "TC")},
        {"05", wire::header("05", "R", "T", "agent1", "server1", "TC")},
        {"06", wire::header("06", "R", "T", "agent1", "server1", "", "AT", "AV")},
        {"10", wire::header("10", "R", "T", "agent1", "server1", "", "AT", "AV")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.version);
        DSECT_HEADER_typ header;
        ASSERT_EQ(DSECT_ONE_init_header(&header, c.version.c_str(), "CM", "U ", "R", "T", "100000100001", 1, "agent1",
                                        "server1", "TC", "AT", "AV"),
                  CM_RC_OK);
        std::memcpy(header.timestmp, "20260102030405", 15);
        EXPECT_EQ(packed_header(header), c.wire);
    }
    // Counted texts are cut to 99 characters.
    DSECT_HEADER_typ header;
    const std::string long_name(150, 'n');
    DSECT_ONE_init_header(&header, "03", "CM", "U ", "R", "T", "1", 1, long_name.c_str(), "", "", "", "");
    EXPECT_NE(packed_header(header).find("99" + long_name.substr(0, 99) + "00"), std::string::npos);
}

struct BackEndCase {
    std::string version;
    std::string task_class;
    std::string appl_type;
    bool config_appl_type;
    std::string expected;
};

TEST_F(AgentHomeTest, HeaderReaderDerivesTheBackEndName) {
    home.write_file("data/APPLMAP.dat", "[APPLTYPE]\nOEBS_T  MAPPED_T\n[TASKCLASS]\nTC  MAPPED_TC\nDIS  NEVER\n");
    const BackEndCase cases[] = {
        {"03", "", "", false, "OS"},
        {"03", "", "", true, "FROMCFG"},
        {"04", "TC", "", true, "MAPPED_TC"},
        {"04", "ZZ", "", true, "ZZ"},
        {"04", "dis ", "", true, "FROMCFG"},
        {"04", "dis ", "", false, "OS"},
        {"05", "TC", "", true, "FROMCFG"},
        {"05", "TC", "", false, "OS"},
        {"10", "", "OEBS_T", false, "MAPPED_T"},
        {"10", "", "OTHER", false, "OTHER"},
        {"06", "", "", true, "OS"},
    };
    for (const BackEndCase& c : cases) {
        SCOPED_TRACE(c.version + " '" + c.task_class + "' '" + c.appl_type + "'");
        GM_PARAM_clear();
        home.write_file("data/CONFIG.dat", c.config_appl_type ? "CM_APPL_TYPE FROMCFG\n" : "X 1\n");
        std::string text = wire::header(c.version, "R", "T", "agent1", "server1", c.task_class, c.appl_type, "9");
        DSECT_HEADER_typ header;
        ASSERT_EQ(DSECT_ONE_unpack_header(&header, text.data()), CM_RC_OK);
        EXPECT_STREQ(header.appl_type, c.expected.c_str());
        EXPECT_STREQ(header.version, c.version.c_str());
        EXPECT_STREQ(header.timestmp, "20260102030405");
        EXPECT_STREQ(header.siid, "100000100001");
        EXPECT_EQ(header.seq, 1);
        EXPECT_STREQ(header.orvhost, "server1");
        if (c.version == "04") {
            EXPECT_EQ(std::string(header.task_class), c.task_class == "dis " ? "DIS" : c.task_class);
        }
    }
}

TEST_F(AgentHomeTest, HeaderReaderStopsAtTheEndOfTheText) {
    const std::string whole = wire::header("10", "R", "T", "agent1", "server1", "", "AT", "AV");
    for (std::size_t cut = 0; cut < whole.size(); cut += 7) {
        std::string text = whole.substr(0, cut);
        DSECT_HEADER_typ header;
        EXPECT_EQ(DSECT_ONE_unpack_header(&header, text.data()), CM_RC_FAIL) << cut;
    }
}

std::string siid_counter(const char* siid) { return std::string(siid).substr(7); }

TEST(DsectSessionId, OnePidSixDigitsAndARisingCounter) {
    DSECT_HEADER_SIID_typ first = {}, second = {};
    ASSERT_EQ(DSECT_ONE_generate_siid(first), CM_RC_OK);
    ASSERT_EQ(DSECT_ONE_generate_siid(second), CM_RC_OK);
    char pid[8];
    std::snprintf(pid, sizeof pid, "%06ld", static_cast<long>(getpid()) % 1000000);
    EXPECT_EQ(std::strlen(first), 12u);
    EXPECT_EQ(std::string(first).substr(0, 7), std::string("1") + pid);
    EXPECT_EQ(std::atoi(siid_counter(second).c_str()), (std::atoi(siid_counter(first).c_str()) + 1) % 100000);

    // A child process seeds its own counter from its pid.
    const pid_t child = fork();
    if (child == 0) {
        std::srand(static_cast<unsigned>(getpid()));
        const long seed = std::rand();
        const long expected = (seed > 99999 ? 2 : seed + 1) % 100000;
        DSECT_HEADER_SIID_typ id = {};
        DSECT_ONE_generate_siid(id);
        _exit(std::atol(siid_counter(id).c_str()) == expected ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
