/* Readers of the value-set list's inputs that are worth reaching on their own (tests, fuzzing): the
 * values the form chose so far for the displayed parameters. Internal to be_duz. */
#ifndef BE_LIST_DATA_INTERNAL_H
#define BE_LIST_DATA_INTERNAL_H

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace be_list {

/* The values chosen so far ("DUZ-PARMSTR"), one per displayed parameter: values is resized to count
 * and filled from text. Items are separated by '|'; "n=value" gives displayed parameter n (from 1)
 * the value (an empty value leaves it unset); an item without '=' continues the value of the
 * parameter named by the item before it, after a ';'. Empty items are skipped. False, with the
 * offending item in bad_item, for a number that is not 1 to count, a continuation with nothing
 * before it, or a value longer than max_length characters. */
bool parse_chosen_values(std::string_view text, std::size_t count, std::size_t max_length,
                         std::vector<std::string>& values, std::string& bad_item);

}  // namespace be_list

#endif
