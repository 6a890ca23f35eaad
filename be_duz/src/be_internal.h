// Helpers shared by the be_duz modules and not exported from the plug-in.
#ifndef BE_INTERNAL_H
#define BE_INTERNAL_H

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gm_param.h"

// A run number as the agent gives it: decimal text read like atoi ("003" is 3, junk is 0),
// clamped to the int range.
inline int be_run_number(const char* runno) {
    if (!runno) return 0;
    long n = std::strtol(runno, nullptr, 10);
    if (n > 0x7fffffffL) return 0x7fffffff;
    if (n < -0x7fffffffL - 1) return -0x7fffffff - 1;
    return static_cast<int>(n);
}

// A part of a work-file name taken from the request (order number, job or member name): it is
// joined to its folder, so a '/' would lead the file out of that folder.
inline bool be_plain_name_part(const char* text) { return text && !std::strchr(text, '/'); }

// The section names of a loaded sectioned table, taken before any section is changed: the
// section look-ups move the list's cursor.
inline std::vector<std::string> be_section_names(ZPALIST_handle_typ* sections) {
    std::vector<std::string> names;
    ZPALIST_reset(sections);
    void* element = nullptr;
    unsigned int size = 0;
    while (ZPALIST_next_ptr(sections, &element, &size) == CM_RC_OK)
        names.emplace_back(static_cast<GM_PARAM_subtable_row*>(element)->key);
    return names;
}

#endif
