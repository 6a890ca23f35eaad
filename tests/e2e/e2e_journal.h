// The stand-in database's journal file as the whole-process tests read it: one JSON object per
// call, and the handles a run left allocated.
#pragma once

#include <nlohmann/json.hpp>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "testbed.h"

namespace e2e {

inline std::vector<nlohmann::json> journal_calls(const std::string& journal_file) {
    std::vector<nlohmann::json> calls;
    for (const std::string& line : testbed::lines_of(testbed::read_whole_file(journal_file)))
        calls.push_back(nlohmann::json::parse(line));
    return calls;
}

// Handles allocated and never freed, by handle type (freeing an environment frees its children).
inline std::map<int, int> unfreed_handles(const std::string& journal_file) {
    std::map<int, int> count;
    for (const auto& call : journal_calls(journal_file)) {
        const std::string name = call["call"];
        if (call.value("status", -1) != 0) continue;
        if (name == "OCIEnvInit" || name == "OCIHandleAlloc") ++count[call["type"].get<int>()];
        if (name == "OCIHandleFree") --count[call["type"].get<int>()];
    }
    std::erase_if(count, [](const auto& item) { return item.second == 0; });
    return count;
}

// The "TEXT" values zpahost printed after each call of one entry point (a line starting with
// entry), joined: a list's answer as its READs handed it out.
inline std::string texts_after(const std::string& out, const std::string& entry) {
    std::string text;
    bool after = false;
    for (const std::string& line : testbed::lines_of(out)) {
        if (line.rfind(entry, 0) == 0)
            after = true;
        else if (line.rfind("  ", 0) != 0)
            after = false;
        if (after && line.rfind("  out TEXT=", 0) == 0) text += line.substr(11);
    }
    return text;
}

// Runs zpahost on the built plug-in in the current folder (the agent home) with the connection
// file host/connection.txt and the steps, each passed as one word; env is put before the command
// ("NAME='value' ..."). The standard output; *status gets pclose's status.
inline std::string run_zpahost(const std::string& env, const std::vector<std::string>& steps, int* status) {
    std::string command = env + " '" + APPBRIDGE_ZPAHOST + "' -l '" + APPBRIDGE_LIBRARY + "' -c host/connection.txt";
    for (const std::string& step : steps) command += " '" + step + "'";
    FILE* pipe = popen(command.c_str(), "r");
    std::string out;
    char buffer[4096];
    for (std::size_t n; pipe != nullptr && (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    *status = pipe != nullptr ? pclose(pipe) : -1;
    return out;
}

}  // namespace e2e
