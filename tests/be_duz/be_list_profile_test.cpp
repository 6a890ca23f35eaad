// Profile texts of the form: the splitter's items ('|' ends the first, ';' every later one, the
// name and value split at the item's first '.') and which items are left out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "be_list_profile_internal.h"

namespace {

using be_list::EmptyValues;

std::string joined(const std::vector<be_list::ProfilePair>& pairs) {
    std::string text;
    for (const auto& p : pairs) text += "[" + p.name + "=" + p.value + "]";
    return text;
}

TEST(ProfileText, SplitsFirstItemAtBarAndLaterItemsAtSemicolon) {
    struct Case {
        const char* text;
        const char* skip_empty;
        const char* apply_empty;
    } cases[] = {
        {"A.1|B.2;C.3", "[A=1][B=2][C=3]", "[A=1][B=2][C=3]"},
        // A '|' after the first one is part of a value.
        {"A.1|B.2|C.3", "[A=1][B=2|C.3]", "[A=1][B=2|C.3]"},
        // Without '|' the whole text is the first item.
        {"A.1;B.2", "[A=1;B.2]", "[A=1;B.2]"},
        // The name ends at the first '.'; later dots belong to the value.
        {"FND.DEBUG.LEVEL.5", "[FND=DEBUG.LEVEL.5]", "[FND=DEBUG.LEVEL.5]"},
        // Items without '.' or without a name are left out; empty values as asked.
        {"A|B.2;NODOT;.9;C.", "[B=2]", "[B=2][C=]"},
        {"A.|;B.", "", "[A=][B=]"},
        {"", "", ""},
        {"|;;", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(joined(be_list::split_profile_text(c.text, EmptyValues::Skip)), c.skip_empty);
        EXPECT_EQ(joined(be_list::split_profile_text(c.text, EmptyValues::Apply)), c.apply_empty);
    }
}

}  // namespace
