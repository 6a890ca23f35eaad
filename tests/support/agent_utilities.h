// The agent's utility stand-ins (orvagcpk, orvgetccp, orvagenv) for a test's agent home: first on
// PATH, answering from a fixture file in the home and logging their calls there. Needs the
// definition APPBRIDGE_AGENT_UTIL_DIR, which the appbridge_agent_standin target gives its users.
#pragma once

#include <cstdlib>
#include <string>

#include "testbed.h"

namespace testbed {

inline void use_agent_utilities(const AgentHome& home) {
    const char* path = std::getenv("PATH");
    const std::string search = std::string(APPBRIDGE_AGENT_UTIL_DIR) + ":" + (path ? path : "");
    setenv("PATH", search.c_str(), 1);
    setenv("APPBRIDGE_AGENT_CALL_LOG", (home.path() + "/temp/calls.log").c_str(), 1);
}

// Makes `content` the utilities' fixture (sections "[utility args]" with out:/err:/exit: lines).
inline void use_agent_fixture(const AgentHome& home, const std::string& content) {
    home.write_file("temp/fixture.txt", content);
    setenv("APPBRIDGE_AGENT_FIXTURE", (home.path() + "/temp/fixture.txt").c_str(), 1);
}

// Every utility call so far, one line each: the utility's name and its arguments.
inline std::string agent_calls(const AgentHome& home) {
    return home.exists("temp/calls.log") ? home.read_file("temp/calls.log") : "";
}

}  // namespace testbed
