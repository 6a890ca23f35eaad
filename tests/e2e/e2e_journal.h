// The stand-in database's journal file as the whole-process tests read it: one JSON object per
// call, and the handles a run left allocated.
#pragma once

#include <nlohmann/json.hpp>

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

}  // namespace e2e
