// Loads arbitrary bytes as a locale data file: once as the control file, once as the object file
// of each type (language, territory, code page, sort), older versions converted on the way. Every
// byte of every section the loader accepts is read, so a section that the file does not hold, or
// a size that the loader got wrong, shows up as a fault; then the sort's weights and the
// language's and territory's texts are read the way the library reads them.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gc.h"
#include "gc_internal.h"
#include "gcloc_internal.h"
#include "temp_folder.h"

namespace {

void write_file(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) std::abort();
    if (size) std::fwrite(data, 1, size, f);
    std::fclose(f);
}

// A directory whose control file lists one object of each type, id 1.
const std::string& object_dir() {
    static const FuzzTempFolder folder("gc-fuzz");
    static const std::string dir = [] {
        const std::string d = folder.path();
        std::string table;
        const char* names[4] = {"English", "UnitedStates", "US-ASCII", "Default"};
        for (uint8_t type = 0; type < 4; ++type) {
            std::string row(GC_CTL_ROW_SIZE, '\0');
            row[0] = 1;
            row[2] = static_cast<char>(type);
            row.replace(4, std::string(names[type]).size(), names[type]);
            table += row;
        }
        std::string file(sizeof(GCFileHdr), '\0');
        const uint32_t words[3] = {GC_MAGIC, GC_VERSION_CURRENT, 1};
        std::memcpy(&file[0], words, 8);
        std::memcpy(&file[8], &words[2], 2);
        const uint32_t sect[2] = {static_cast<uint32_t>(table.size()), static_cast<uint32_t>(sizeof(GCFileHdr))};
        std::memcpy(&file[12], sect, 8);
        file += table;
        write_file(d + "/control.nls", reinterpret_cast<const uint8_t*>(file.data()), file.size());
        return d;
    }();
    return dir;
}

const std::string& control_dir() {
    static const FuzzTempFolder folder("gc-fuzz");
    return folder.path();
}

volatile uint32_t sink;

void read_texts_and_weights(const GCObjEntry* e) {
    uint16_t r1 = 0;
    uint16_t r2 = 0;
    uint32_t sum = 0;
    switch (e->type) {
        case GC_OBJ_LANGUAGE:
            for (uint32_t item = 44; item <= 45; ++item) sum += GCLangGetSpecial(e, 0x69, 0, &r1, &r2, item);
            for (size_t w = 0; w < 60; ++w) sum += gc::section_word(e, w);
            break;
        case GC_OBJ_TERRITORY:
            for (unsigned t = 0; t <= 10; ++t) sum += static_cast<uint32_t>(gc::territory_text(e, t).size());
            break;
        case GC_OBJ_SORT: {
            static std::vector<GCUchar> chars(0x10000);
            static std::vector<GCUchar> combs(3 * 0x10000);
            GCWeightSet a{};
            GCWeightSet b{};
            uint8_t cls = 0;
            for (uint32_t c = 0; c < 0x10000; c += 251) sum += GCSortGetWeights(e, static_cast<uint16_t>(c), &a, &b, &cls);
            sum += GCSortGetCombination(e, 'c', 'h', &a, &cls);
            GCSortGetAllCombinations(e, combs.data());
            uint16_t ncomb = 0;
            sum += GCSortGetSamePrimaryWeight(e, 'a', 0, chars.data(), &ncomb, combs.data());
            sum += GCSortGetSamePrimaryWeight(e, 0xAC00, 0, chars.data(), &ncomb, combs.data());
            break;
        }
        default:
            break;
    }
    sink = sum;
}

void read_all(const GCObjEntry* e) {
    uint32_t sum = 0;
    for (int i = 0; i < 4; ++i) {
        const auto* p = static_cast<const uint8_t*>(e->sect[i]);
        const uint32_t n = gc::section_size(e, i);
        for (uint32_t k = 0; p && k < n; ++k) sum += p[k];
    }
    sink = sum;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 1 << 20) return 0;
    uint32_t rc = 0;

    write_file(control_dir() + "/control.nls", data, size);
    if (GCObjManager* m = GCInitObjManager(control_dir().c_str(), GC_INIT_STRICT, &rc)) {
        for (uint16_t i = 0; i < m->count; ++i) sink = m->table[i].id + m->table[i].name[0];
        for (uint16_t type = 0; type < 4; ++type) GCGetObjFromName(m, type, "English", 7, 1, &rc);
        GCTermObjManager(m);
    }

    static const char* prefix[4] = {"la", "te", "cp", "so"};
    for (int type = 0; type < 4; ++type)
        write_file(object_dir() + "/" + prefix[type] + "_0001.nls", data, size);
    for (uint32_t options : {GC_INIT_STRICT, 0u}) {
        GCObjManager* m = GCInitObjManager(object_dir().c_str(), options, &rc);
        if (!m) std::abort();
        for (uint16_t type = 0; type < 4; ++type)
            if (const GCObjEntry* e = GCGetObjFromID(m, type, 1, 0, &rc)) {
                read_all(e);
                read_texts_and_weights(e);
            }
        GCTermObjManager(m);
    }
    return 0;
}
