// Feeds arbitrary text to the plug-in's text readers: a line of the submitted-requests file, the
// tag searches on an XML answer, and escape/unescape, which must undo each other whenever the
// escaped text fits its buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "be_def.h"
#include "gm_param.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, text.find('\0'));

    ZPALIST_handle_typ list{};
    BE_DUZ_param_parse_str(&list, text.c_str());
    GM_PARAM_list_clear(&list);

    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    std::vector<char> value(BE_DUZ_XML_VALUE_SIZE);
    for (const char* tag : {"NAME", "A", ""}) {
        for (char* at = buffer.data(); at;) at = BE_DUZ_get_XML_value(at, tag, value.data());
        std::free(BE_DUZ_find_XML_tag(buffer.data(), tag));
    }
    char name[BE_DUZ_XML_TAG_MAX + 1];
    BE_DUZ_get_next_tag_name(buffer.data(), name);

    const long room = static_cast<long>(text.size()) * 6 + 1;
    std::vector<char> round(static_cast<std::size_t>(room));
    std::memcpy(round.data(), text.c_str(), text.size() + 1);
    if (BE_DUZ_replace_XML_chars(round.data(), room, BE_DUZ_XML_ESCAPE) != 0) std::abort();
    if (BE_DUZ_replace_XML_chars(round.data(), room, BE_DUZ_XML_UNESCAPE) != 0) std::abort();
    if (text != round.data()) std::abort();
    return 0;
}
