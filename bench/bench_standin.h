// Shared by the benchmarks that run the plug-in's job and discovery code: one open session on the
// stand-in database for the program, attribute lists, and the text of a requests file.
#pragma once

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "be_def.h"

namespace bench {

// A session opened once on the stand-in for the whole program (account APPS/apps on VIS); null when
// it cannot be opened. The caller programs the stand-in's rules.
BE_DUZ_Handles* stand_in_session();

// The text of a requests file of `rows` requests (ids from 1,000,000 on), each seen now.
std::string requests_file(int rows);

// An attribute list over storage it owns, built from name/value pairs.
class Attributes {
public:
    Attributes(std::initializer_list<std::pair<std::string, std::string>> pairs);
    Attributes(const Attributes&) = delete;
    Attributes& operator=(const Attributes&) = delete;
    ZPAAttrList* list() { return &list_; }

private:
    std::vector<std::pair<std::string, std::string>> pairs_;
    std::vector<ZPAAttr> attrs_;
    ZPAAttrList list_{};
};

}  // namespace bench
