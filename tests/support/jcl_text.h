// The five lines the job-script view writes for one program, as the in-process and the
// whole-process tests expect them.
#pragma once

#include <cstdio>
#include <string>

namespace testbed {

inline std::string program_lines(const std::string& prog, const std::string& app, const std::string& exec,
                                 const std::string& method, const std::string& file, const std::string& sub) {
    char line[128];
    std::snprintf(line, sizeof line, "\tPROGRAM NAME = %-31s APP NAME = %s\n", prog.c_str(), app.c_str());
    return line + ("\t\tEXECUTABLE NAME  = " + exec + "\n") + ("\t\tEXECUTION METHOD = " + method + "\n") +
           ("\t\tEXECUTION FILE   = " + file + "\n") + ("\t\tSUBROUTINE NAME  = " + sub + "\n");
}

}  // namespace testbed
