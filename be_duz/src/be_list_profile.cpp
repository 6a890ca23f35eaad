/* Profile texts of the job-definition form: splits "NAME.value|NAME.value;..." into profile pairs
 * and applies them to the database session (the lists that show a program's parameters as the
 * submission would see them under those options). */
#include "be_list_profile_internal.h"

#include <cstring>

namespace be_list {

namespace {

void add_item(std::string_view item, EmptyValues empty, std::vector<ProfilePair>& pairs) {
    const std::size_t dot = item.find('.');
    if (dot == std::string_view::npos || dot == 0) return;
    std::string_view value = item.substr(dot + 1);
    if (value.empty() && empty == EmptyValues::Skip) return;
    pairs.push_back(ProfilePair{std::string(item.substr(0, dot)), std::string(value)});
}

}  // namespace

std::vector<ProfilePair> split_profile_text(std::string_view text, EmptyValues empty) {
    std::vector<ProfilePair> pairs;
    const std::size_t bar = text.find('|');
    add_item(text.substr(0, bar), empty, pairs);
    if (bar == std::string_view::npos) return pairs;
    std::string_view rest = text.substr(bar + 1);
    while (!rest.empty()) {
        const std::size_t semicolon = rest.find(';');
        add_item(rest.substr(0, semicolon), empty, pairs);
        if (semicolon == std::string_view::npos) break;
        rest.remove_prefix(semicolon + 1);
    }
    return pairs;
}

int apply_profile_text(BE_DUZ_Handles* session, std::string_view text, EmptyValues empty) {
    int applied = 0;
    for (ProfilePair& pair : split_profile_text(text, empty)) {
        ZPAError scratch{};
        if (BE_DUZ_set_profile_pair(session, pair.name.data(), pair.value.data(), &scratch) != 0) {
            BE_TRACE(2, "Fail to set profile %s: %s", pair.name.c_str(), scratch.text);
            continue;
        }
        ++applied;
    }
    return applied;
}

}  // namespace be_list
