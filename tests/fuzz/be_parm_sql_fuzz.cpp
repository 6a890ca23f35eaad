// Feeds arbitrary SQL texts, as the value-set definitions and default statements of the database
// hold them, to the parameter model's text work: the bind-reference resolution (no session, so
// every profile is missing), the pad-function wrapping, the quick-pick column split and the ORDER
// BY search. The resolved text may only hold the values as placeholders of its bind list.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "be_parm_internal.h"
#include "gm_param.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    text = text.substr(0, text.find('\0'));

    static BE_DUZ_report_parm records[3];
    BE_DUZ_report_parm* recs[BE_DUZ_MAX_REPORT_PARMS] = {};
    for (int i = 0; i < 3; ++i) {
        BE_DUZ_init_report_parm(&records[i]);
        recs[i] = &records[i];
    }
    std::snprintf(records[0].value_set_name, sizeof records[0].value_set_name, "VS");
    std::snprintf(records[0].value_set_type, sizeof records[0].value_set_type, "I");
    std::snprintf(records[0].value, sizeof records[0].value, "%s", text.substr(0, 100).c_str());
    std::snprintf(records[1].value_set_name, sizeof records[1].value_set_name, "TV");
    std::snprintf(records[1].value_set_type, sizeof records[1].value_set_type, "F");
    GM_PARAM_list_set(&records[1].list, "HAS_ID", "YES");
    GM_PARAM_list_set(&records[1].list, "ID", "1");

    ZPAError error{};
    std::vector<char> out(BE_DUZ_SQL_TEXT_SIZE);
    be_sql::BindValues binds;
    for (const char* mode : {kBeParmModeSql, kBeParmModeValueSet}) {
        binds.clear();
        if (BE_DUZ_resolve_bind_vars(nullptr, mode, text.c_str(), out.data(), recs, 2, 2, &binds, &error) == 0) {
            if (std::strlen(out.data()) >= BE_DUZ_SQL_TEXT_SIZE) std::abort();
            for (const auto& v : binds.values())
                if (!be_sql::BindValues::stands_in(out.data(), v.name)) std::abort();
        }
    }

    std::vector<char> padded(BE_DUZ_SQL_TEXT_SIZE, '\0');
    std::memcpy(padded.data(), text.c_str(), std::min(text.size(), padded.size() - 1));
    BE_DUZ_resolve_pad_func(padded.data(), "rpad");
    if (std::strlen(padded.data()) >= BE_DUZ_SQL_TEXT_SIZE) std::abort();

    std::string columns = text;
    for (char* rest = columns.data(); rest != nullptr;) {
        char* field = rest;
        BE_DUZ_parse_field(&rest);
        char* expression = nullptr;
        char* name = nullptr;
        BE_DUZ_parse_column_content(field, &expression, &name);
    }
    std::string upper = text;
    BE_DUZ_STR_ORDERBY_clause(upper.data());
    std::vector<char> rest(text.size() + 1, '\0');
    BE_DUZ_check_and_remove_term_from_query(text.c_str(), rest.data(), "AND");

    for (auto& r : records) GM_PARAM_list_clear(&r.list);
    return 0;
}
