// Builds rows from arbitrary bytes as callers set them (keys, values and section names of any
// text), saves them as a flat or a sectioned table file and reads the file back (a flat file with
// both readers). A save either leaves the file exactly as it was (refused) or gives every row
// back: keys cut to 63 characters, keys of flat tables and section names upper-cased, values as a
// saved file keeps them.
//
// Input: the first byte picks the form (even: flat, odd: sectioned); the rest is texts separated by
// NUL bytes, taken as key and value (flat) or as section name, key and value (sectioned).
#include <cctype>
#include <cstring>

#include "param_round_trip.h"
#include "quiet_log.h"

namespace {

using fuzz_param::Rows;
using fuzz_param::Sections;
using fuzz_param::sections_of;

constexpr const char* kPath = "./fuzz_writer.dat";
constexpr const char* kBefore = "[KEPT]\nOLD 1\n";

std::vector<std::string> texts_of(const uint8_t* data, size_t size) {
    std::vector<std::string> texts(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            texts.emplace_back();
        else
            texts.back() += static_cast<char>(data[i]);
    }
    return texts;
}

std::string upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

Rows as_read(Rows rows, bool upper_keys) {
    for (auto& row : rows) {
        if (upper_keys) row.first = upper(row.first);
        row.second = fuzz_param::as_saved(row.second);
    }
    return rows;
}

void flat(const std::vector<std::string>& texts) {
    ZPALIST_handle_typ list{};
    ZPALIST_init(&list);
    for (size_t i = 0; i + 1 < texts.size(); i += 2)
        GM_PARAM_list_append(&list, texts[i].c_str(), texts[i + 1].c_str());
    const Rows rows = fuzz_param::rows_of(list);
    const CM_RC saved = GM_PARAM_list_save(&list, kPath);
    ZPALIST_clear(&list);
    if (saved != CM_RC_OK) return fuzz_param::expect_untouched(kPath, kBefore);
    // Both readers give every row back, the one of option 1 taking the fewest characters at once.
    const Rows expected = as_read(rows, true);
    for (const bool option1 : {false, true}) {
        ZPALIST_handle_typ back{};
        const CM_RC loaded = option1 ? GM_PARAM_load_file_option1(&back, kPath, 1) : GM_PARAM_load_file(&back, kPath);
        if (loaded != CM_RC_OK) std::abort();
        const Rows reread = fuzz_param::rows_of(back);
        ZPALIST_clear(&back);
        if (reread != expected) std::abort();
    }
}

void sectioned(const std::vector<std::string>& texts) {
    ZPALIST_handle_typ list{};
    ZPALIST_init(&list);
    for (size_t i = 0; i + 2 < texts.size(); i += 3)
        GM_PARAM_subtable_list_set(&list, texts[i].c_str(), texts[i + 1].c_str(), texts[i + 2].c_str());
    Sections sections = sections_of(&list);
    const CM_RC saved = GM_PARAM_subtable_list_save(&list, kPath);
    GM_PARAM_subtable_list_clear(&list);
    if (saved != CM_RC_OK) return fuzz_param::expect_untouched(kPath, kBefore);
    ZPALIST_handle_typ back{};
    if (GM_PARAM_subtable_load_file(&back, kPath) != CM_RC_OK) std::abort();
    const Sections reread = sections_of(&back);
    GM_PARAM_subtable_list_clear(&back);
    for (auto& [name, rows] : sections) {
        name = upper(name);
        rows = as_read(rows, false);
    }
    if (reread != sections) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    fuzz_param::write_bytes(kPath, reinterpret_cast<const uint8_t*>(kBefore), std::strlen(kBefore));
    const std::vector<std::string> texts = texts_of(data + 1, size - 1);
    if (data[0] % 2 == 0)
        flat(texts);
    else
        sectioned(texts);
    return 0;
}
