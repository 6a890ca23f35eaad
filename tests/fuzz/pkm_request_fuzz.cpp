// Feeds arbitrary text to the readers of configuration-manager texts: the document cut out of a
// request manager's output, the plug-in version check, the element reader of the requests and the
// HEADER copy of a list question.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "be_list_internal.h"
#include "be_pkm_internal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    std::string document;
    if (be_pkm::document_of(text, document)) {
        if (document.rfind("<?xml version", 0) != 0) std::abort();
        if (document.size() < 8 || document.compare(document.size() - 8, 8, "</UVSCM>") != 0) std::abort();
    }
    text = text.substr(0, text.find('\0'));
    ZPAError error{};
    BE_DUZ_PKM_checkIfPluginVersionIsValid(text.data(), &error);
    std::string value;
    for (const char* tag : {"AccountName", "APPSPassword", "PLUGINVERSION"}) be_pkm::element(text.data(), tag, value);
    const std::string header = be_list::header_of(text.c_str());
    if (!header.empty() && (header.rfind("<HEADER>", 0) != 0 || text.find(header) == std::string::npos)) std::abort();
    return 0;
}
