// A temporary agent home ready for zpahost: the locale data, the plug-in's library file under cm/,
// the agent's connection attributes and the stand-in database's script; run() drives the plug-in
// through zpahost with the given steps and returns what it printed.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

#include "testbed.h"

namespace e2e {

// A text as zpahost prints a value: line feeds, carriage returns and tabs as \n, \r and \t.
inline std::string printable(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else
            out += c;
    }
    return out;
}

class PluginHomeTest : public testbed::AgentHomeTest {
protected:
    // script: the stand-in database's script (JSON).
    void prepare_home(const std::string& script) {
        home.install_locale_data();
        home.write_file("oci/script.json", script);
        std::filesystem::copy_file(APPBRIDGE_QELOS_LIBRARY, home.path() + "/cm/lib_DUZ.so");
        home.write_file("host/connection.txt",
                        "CM_LIB_NAME=DUZ\nCM_DIR=" + home.path() + "/cm\nORACLE_HOME=/opt/oracle/client\n");
    }
    // Runs zpahost with the steps (and extra NAME='value' environment words before it).
    std::string run(const std::string& steps, const std::string& environment = "") {
        const std::string command = environment + " ORV_OCI_STANDIN_SCRIPT='" + home.path() + "/oci/script.json' " +
                                    "ORV_OCI_STANDIN_JOURNAL='" + home.path() + "/oci/journal.jsonl' '" +
                                    APPBRIDGE_ZPAHOST + "' -l '" + APPBRIDGE_LIBRARY + "' -c host/connection.txt " +
                                    steps;
        FILE* pipe = popen(command.c_str(), "r");
        std::string out;
        char buffer[4096];
        for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
        EXPECT_EQ(pclose(pipe), 0) << out;
        return out;
    }
    std::string journal_file() const { return home.path() + "/oci/journal.jsonl"; }
    static bool holds(const std::string& out, const std::string& part) { return out.find(part) != std::string::npos; }
};

}  // namespace e2e
