// Feeds arbitrary texts to both XML readers: the single value under BODY (small outputs, so any
// overrun shows) and the leaf rows under UVSCM.
#include <cstddef>
#include <cstdint>
#include <string>

#include "gm_xml.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    char value[16];
    char att_name[8];
    char att_value[8];
    GM_XML_ParseBody(text.c_str(), "ID", value, sizeof value, att_name, sizeof att_name, att_value, sizeof att_value);
    GM_XML_ParseHeader(text.c_str(), "ACTION", value, sizeof value, att_name, sizeof att_name, att_value,
                       sizeof att_value);
    ZPALIST_handle_typ rows{};
    GM_XML_ParseBuf2List(text.c_str(), "UVSCM", &rows);
    ZPALIST_clear(&rows);
    return 0;
}
