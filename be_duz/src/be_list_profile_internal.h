/* Profile texts of the job-definition form ("NAME.value|NAME.value;NAME.value"): the one splitter
 * into profile pairs and the helper that applies them to a database session. Internal to be_duz. */
#ifndef BE_LIST_PROFILE_INTERNAL_H
#define BE_LIST_PROFILE_INTERNAL_H

#include "be_def.h"

#include <string>
#include <string_view>
#include <vector>

namespace be_list {

/* One profile option and the value to give it. */
struct ProfilePair {
    std::string name;
    std::string value;
};

/* What to do with an item whose value is empty ("NAME."): leave it out, or keep it (the option is
 * then set to an empty value). */
enum class EmptyValues { Skip, Apply };

/* Splits a profile text into pairs, in text order. The first item ends at the first '|', every
 * later item at the next ';' (so a '|' after the first one belongs to a value); each item is a
 * profile name and a value split at the item's first '.'. Items without '.', and items with an
 * empty name, are left out; items with an empty value as empty says. */
std::vector<ProfilePair> split_profile_text(std::string_view text, EmptyValues empty);

/* Applies the pairs of a profile text to the session's profile options, one by one through
 * BE_DUZ_set_profile_pair. A pair that cannot be set is logged and skipped: the caller goes on
 * without that option, and its error record is not touched. Returns the number of pairs set. */
int apply_profile_text(BE_DUZ_Handles* session, std::string_view text, EmptyValues empty);

}  // namespace be_list

#endif
