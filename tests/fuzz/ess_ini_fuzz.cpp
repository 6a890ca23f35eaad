// Feeds arbitrary bytes to the configuration store as an INI file: it must parse or refuse, walk
// every section and attribute, save, and read back the same document (where no attribute holds a
// bracket, which reads back as a section, and no line nears the reader's line limit).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "ess_config.h"
#include "quiet_output.h"

namespace {

using Document = std::vector<std::pair<std::string, std::vector<std::pair<std::string, std::string>>>>;

bool walk(const char* path, unsigned int mode, Document& doc, ESS_Config_Context** keep) {
    ESS_Config_Context* ctx = ESS_Config_New(ESS_CONFIG_TYPE_INI, path, mode);
    if (!ctx) return false;
    char* section = nullptr;
    for (int rc = ESS_Config_GetFirstSubKey(ctx, &section); rc == 0; rc = ESS_Config_GetNextSubKey(ctx, &section)) {
        doc.emplace_back(section, std::vector<std::pair<std::string, std::string>>{});
        std::free(section);
        char* name = nullptr;
        char* value = nullptr;
        for (int a = ESS_Config_GetFirstAttribute(ctx, &name, &value); a == 0;
             a = ESS_Config_GetNextAttribute(ctx, &name, &value)) {
            doc.back().second.emplace_back(name ? name : "", value ? value : "");
            std::free(name);
            std::free(value);
        }
    }
    if (keep)
        *keep = ctx;
    else
        ESS_Config_Delete(&ctx);
    return true;
}

bool comparable(const std::string& input, const Document& doc) {
    size_t line = 0;
    for (char c : input) {
        line = c == '\n' ? 0 : line + 1;
        if (line > 16000) return false;
    }
    for (const auto& [section, attributes] : doc)
        for (const auto& [name, value] : attributes)
            if (name.find_first_of("[]") != std::string::npos || value.find_first_of("[]") != std::string::npos)
                return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 65536) return 0;
    const std::string input(reinterpret_cast<const char*>(data), size);
    if (FILE* f = std::fopen("fuzz.ini", "wb")) {
        std::fwrite(input.data(), 1, input.size(), f);
        std::fclose(f);
    } else {
        return 0;
    }
    Document first;
    ESS_Config_Context* ctx = nullptr;
    if (!walk("fuzz.ini/*", ESS_CONFIG_MODE_UPDATE, first, &ctx)) return 0;
    const int saved = ESS_Config_Save(ctx);
    ESS_Config_Delete(&ctx);
    if (saved != 0) __builtin_trap();
    Document second;
    if (!walk("fuzz.ini/*", ESS_CONFIG_MODE_READ, second, nullptr)) {
        if (first.empty()) return 0;  // nothing to write back but the preamble
        __builtin_trap();
    }
    if (comparable(input, first) && first != second) __builtin_trap();
    return 0;
}
