// A program's whole data and a parameter's allowed values as the agent asks for them: zpahost opens
// "GetProgramData" and "GetValueSet" on one connection, reads each to its end and closes it, with the
// stand-in database answering from a script file.
#include "e2e_host.h"
#include "e2e_journal.h"

#include <string>
#include <vector>

namespace {

const char* kScript = R"json({
  "logons": [{"connect": "VIS", "user": "APPS", "password": "apps"}],
  "rules": [
    {"name": "parameters", "match": "decode(a.default_type",
     "rows": [["P_FROM", "A & B", "F", "From"], ["P_TO", "SELECT max_date FROM xx_dates;", "N", "To"]]},
    {"name": "operating unit", "match": "MULTI_ORG_CATEGORY", "rows": [[0]]},
    {"name": "xml publisher", "match": "FROM all_views", "outs": {"is_exist": 1}},
    {"name": "layouts", "match": "xdo_templates_vl template", "rows": [["XXREP_LAYOUT", "English", "RTF"]]},
    {"name": "profiles", "match": "fnd_profile_options_tl t", "rows": [["Printer", "PRINTER"]]},
    {"name": "default", "match": "FROM xx_dates", "rows": [["2026/12/31"]]},
    {"match": "fnd_user_resp_groups", "outs": {"userID": 1318, "respID": 50559, "resp_appID": 222, "groupID": 0}},
    {"match": "from FND_APPLICATION WHERE", "outs": {"app_id": 222}},
    {"match": "from FND_CONCURRENT_PROGRAMS WHERE", "outs": {"prog_id": 31}},
    {"name": "definitions", "match": "FROM fnd_descr_flex_column_usages a",
     "rows": [["N", null, null, "P_FROM", "P_FROM", 1000, "XX_VS", "XX_VS", 240, "F", "C", "N", "Y"],
              ["N", null, null, "P_TO", "P_TO", 1001, "XX_DATE", "XX_DATE", 20, "N", "C", "N", "Y"]]},
    {"match": "FROM FND_FLEX_VALIDATION_TABLES", "rows": [["XX_T", null, null, 10, "V", "C", 20, null, null, "M", "C", null]]},
    {"match": "FROM FND_SESSIONS", "rows": [["4711", "15-JAN-24"]]},
    {"name": "values", "match": " MEANING FROM", "rows": [["A & B", "Both"], ["C", "Third"]]},
    {"match": "FND_GLOBAL.ORG_ID()", "rows": [[204]]},
    {"match": "APPS_INITIALIZE"}, {"match": "mo_global"}, {"match": "BEGIN IF ("}, {"match": "set_org_id"}
  ]
})json";

constexpr const char* kPrologue = "<?xml version='1.0' encoding='iso-8859-1'?><UVSCM>";

std::string question(const std::string& action, const std::string& body) {
    return "<UVSCM><HEADER><ACTION>" + action + "</ACTION></HEADER><BODY>" + body + "</BODY></UVSCM>";
}

class ListDataRun : public e2e::PluginHomeTest {
protected:
    void SetUp() override {
        prepare_home(kScript);
        home.write_file("data/DUZ_inst.dat", "[VIS]\nDB_SID VIS\nDB_LOGIN APPS\nDB_PASSWD apps\n");
        home.write_file("host/request.txt", "DUZ-INSTANCE=VIS\n");
        home.write_file("host/out.txt", "TEXT:4096=\n");
    }
};

TEST_F(ListDataRun, ProgramDataAndValueSetReadToTheirEndWithEveryHandleFreed) {
    home.write_file("host/program.txt", "TEXT=" +
                                            question("GetProgramData",
                                                     "<DUZ-PROGNAME>XXREP</DUZ-PROGNAME><DUZ-APPNAME>FND</DUZ-APPNAME>"
                                                     "<DUZ-AMOUNT>*</DUZ-AMOUNT>") +
                                            "\nNAVIGATE=NEXT\n");
    home.write_file("host/values.txt",
                    "TEXT=" +
                        question("GetValueSet",
                                 "<DUZ-USERNAME>SYSADMIN</DUZ-USERNAME><DUZ-RESPNAME>System Administrator"
                                 "</DUZ-RESPNAME><DUZ-RESPAPP>SYSADMIN</DUZ-RESPAPP><DUZ-SECURITY_GROUPNAME>Standard"
                                 "</DUZ-SECURITY_GROUPNAME><DUZ-PROGNAME>XXREP</DUZ-PROGNAME><DUZ-APPNAME>FND"
                                 "</DUZ-APPNAME><DUZ-PARMINX>1</DUZ-PARMINX><DUZ-PARMVAL></DUZ-PARMVAL>") +
                        "\nNAVIGATE=NEXT\n");
    const std::string out =
        run("connect host/request.txt data ZPAAPI_LIST_DATA host/program.txt host/out.txt "
            "data ZPAAPI_LIST_DATA host/values.txt host/out.txt");
    ASSERT_TRUE(holds(out, "ZPAAPI_Connect rc=0 userdata=session\n")) << out;

    const std::size_t values_at = out.find("ZPAAPI_LIST_DATA_OPEN", out.find("ZPAAPI_LIST_DATA_CLOSE"));
    ASSERT_NE(values_at, std::string::npos) << out;
    EXPECT_EQ(e2e::texts_after(out.substr(0, values_at), "ZPAAPI_LIST_DATA_READ"),
              std::string(kPrologue) +
                  "<HEADER><ACTION>GetProgramData</ACTION></HEADER><BODY><DUZ-PARMS>"
                  "<DUZ-P000><DUZ-NAME>P_FROM</DUZ-NAME><DUZ-VALUE>A &amp; B</DUZ-VALUE><DUZ-VALSETTYP>F"
                  "</DUZ-VALSETTYP><DUZ-DISPLAY>From</DUZ-DISPLAY></DUZ-P000>"
                  "<DUZ-P001><DUZ-NAME>P_TO</DUZ-NAME><DUZ-VALUE>2026/12/31</DUZ-VALUE><DUZ-VALSETTYP>N"
                  "</DUZ-VALSETTYP><DUZ-DISPLAY>To</DUZ-DISPLAY></DUZ-P001></DUZ-PARMS>"
                  "<DUZ-HASOPUNIT><DUZ-VALUE>0</DUZ-VALUE></DUZ-HASOPUNIT>"
                  "<DUZ-LOUT><DUZ-Layout_Name>XXREP_LAYOUT</DUZ-Layout_Name><DUZ-Layout_Language>English"
                  "</DUZ-Layout_Language><DUZ-Layout_Format>RTF</DUZ-Layout_Format></DUZ-LOUT>"
                  "<DUZ-PRMPROF><DUZ-P001><DUZ-NAME>Printer</DUZ-NAME><DUZ-VALUE>PRINTER</DUZ-VALUE></DUZ-P001>"
                  "</DUZ-PRMPROF><DUZ-FILLER>X</DUZ-FILLER></BODY></UVSCM>")
        << out;
    EXPECT_EQ(e2e::texts_after(out.substr(values_at), "ZPAAPI_LIST_DATA_READ"),
              std::string(kPrologue) +
                  "<HEADER><ACTION>GetValueSet</ACTION></HEADER><BODY>"
                  "<DUZ-VALSET><DUZ-VALUE>A &amp; B</DUZ-VALUE><DUZ-MEANING>Both</DUZ-MEANING></DUZ-VALSET>"
                  "<DUZ-VALSET><DUZ-VALUE>C</DUZ-VALUE><DUZ-MEANING>Third</DUZ-MEANING></DUZ-VALSET></BODY></UVSCM>")
        << out;
    EXPECT_TRUE(holds(out, "ZPAAPI_Disconnect rc=0 userdata=none\n")) << out;

    // The program data's builders ran in order, then the value-set list (which sets up the user's
    // context first) ran its value query once.
    std::vector<std::string> order;
    bool value_set_list = false;
    int value_queries = 0;
    for (const auto& call : e2e::journal_calls(journal_file())) {
        if (call["call"] != "OCIStmtExecute") continue;
        const std::string text = call.value("text", "");
        const std::string rule = call.value("rule", "");
        value_set_list = value_set_list || text.find("fnd_user_resp_groups") != std::string::npos;
        if (rule == "values") ++value_queries;
        if (value_set_list) continue;
        for (const char* builder : {"parameters", "operating unit", "layouts", "profiles"})
            if (rule == builder) order.push_back(rule);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"parameters", "operating unit", "layouts", "profiles"}));
    EXPECT_EQ(value_queries, 1);
    EXPECT_TRUE(e2e::unfreed_handles(journal_file()).empty());
}

}  // namespace
