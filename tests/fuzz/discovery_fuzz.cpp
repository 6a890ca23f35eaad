// Feeds arbitrary rule values and release classes to request discovery: a rule either is refused
// or gives a condition whose every value is a bound placeholder (no quote of the value in the
// text), and a release class of any shape only appends rows.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "be_discovery_internal.h"
#include "gm_param.h"

namespace {

constexpr const char* kKeys[] = {"DUZ-USERNAME", "DUZ-STATUS_CODE", "DUZ-REQUEST_ID", "DUZ-PROGNAME", "DUZ-SETNAME"};
constexpr const char* kDefault = " AND req.status_code = 'I' ";

std::size_t count_of(const std::string& text, const std::string& part) {
    std::size_t n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const char* key = kKeys[data[0] % (sizeof kKeys / sizeof kKeys[0])];
    std::string value(reinterpret_cast<const char*>(data + 1), size - 1);
    value = value.substr(0, value.find('\0'));

    std::string name = key;
    std::string mode_name = "EXTRACT_MODE";
    std::string mode = "ORVDEFINE";
    ZPAAttr attrs[2] = {{name.data(), static_cast<unsigned short>(value.size() + 1), value.data()},
                        {mode_name.data(), static_cast<unsigned short>(mode.size() + 1), mode.data()}};
    ZPAAttrList list{2, attrs, 0};
    const std::string before = value;
    for (int set_flag = 0; set_flag <= 1; ++set_flag) {
        std::string clause;
        be_sql::BindValues binds;
        if (be_discovery::BE_DUZ_AttributesToSQLstr(&list, clause, set_flag, binds) != 0) {
            if (!clause.empty() || !binds.empty()) std::abort();
            continue;
        }
        if (clause.size() >= BE_DUZ_RULE_CLAUSE_SIZE) std::abort();
        if (count_of(clause, "'") != 2 * count_of(clause, kDefault)) std::abort();
        if (count_of(clause, ":bv") != binds.size()) std::abort();
    }
    if (value != before) std::abort();

    // The same bytes as a release class: the first byte picks the type.
    static const char* const kTypes[] = {"", "O", "P", "S", "X"};
    ZPALIST_handle_typ rows{};
    BE_DUZ11_ConvertDUZSchedule2ORVSchedule(&rows, "20250314093000", data[0] & 1 ? "NULL" : "20250601000000",
                                            kTypes[data[0] % 5], value.c_str());
    GM_PARAM_list_clear(&rows);
    BE_DUZ10_ConvertDUZSchedule2ORVSchedule(&rows, value.c_str(), "20250601000000", static_cast<int8_t>(data[0]),
                                            data[0] & 2 ? "MONTHS" : "DAYS", "END", data[0] & 4 ? "" : "x");
    GM_PARAM_list_clear(&rows);
    return 0;
}
