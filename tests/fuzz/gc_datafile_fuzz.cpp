// Loads arbitrary bytes as a locale data file: once as the control file, once as the object file
// of each type (language, territory, code page, sort), older versions converted on the way. Every
// byte of every section the loader accepts is read, so a section that the file does not hold, or
// a size that the loader got wrong, shows up as a fault; then the sort's weights and the
// language's and territory's texts are read the way the library reads them, and long multi-byte
// sequences go through a code page, so that a length entry the loader trusted too far overruns.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gc.h"
#include "gc_internal.h"
#include "gc_page_locale.h"
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
    default: break;
    }
    sink = sum;
}

// Every byte value leading a run of eight, through the page whole, through a conversion handle fed
// in short pieces with little room (partial characters pending between calls), and one character
// at a time from a buffer of the longest character's size.
void convert_long_sequences(GCObjEntry* e) {
    GCLocale page = locale_of(e);
    std::string text;
    for (unsigned b = 1; b < 256; ++b) text.append(8, static_cast<char>(b));
    const int n = static_cast<int>(text.size());
    std::vector<char> out(4 * text.size() + 16);
    GCConvertString(&page, out.data(), static_cast<int>(out.size()), &page, text.data(), n, 8);
    std::vector<GCUchar> units(2 * text.size() + 4);
    GCStringToUnicode(units.data(), static_cast<int>(units.size()), &page, text.data(), n, 0);

    GCCnvDesc* h = GCOpenConversion(&page, &page);
    if (!h) std::abort();
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    uint32_t in_left = static_cast<uint32_t>(text.size());
    for (size_t step = 0; step < 8 * text.size() && in_left > 0; ++step) {
        unsigned char room_buffer[2];
        unsigned char* o = room_buffer;
        uint32_t room = sizeof room_buffer;
        uint32_t piece = std::min<uint32_t>(in_left, 3);
        const uint32_t before = piece;
        const uint32_t rc = GCConvertBuffer(h, &o, &room, &in, &piece);
        if (rc != GC_OK && rc != GC_BUFFER_FULL && rc != GC_INCOMPLETE) std::abort();
        in_left -= before - piece;
    }
    GCCloseConversion(h);

    uint32_t sum = 0;
    for (size_t at = 0; at < text.size(); at += 8) {
        unsigned char one[4];
        unsigned char cased[4];
        std::memcpy(one, text.data() + at, sizeof one);
        sum += GCCpMbToUnicode(e, one) + GCCpMbCaseConv(e, one, cased, GC_CT_LOWER | GC_CT_UPPER);
        sum += GCCpMbCaseConvS(e, one, cased, GC_CT_LOWER) + GCGetMbCtype(e, one).flags + GCMbToW(e, one);
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
    for (int type = 0; type < 4; ++type) write_file(object_dir() + "/" + prefix[type] + "_0001.nls", data, size);
    for (uint32_t options : {GC_INIT_STRICT, 0u}) {
        GCObjManager* m = GCInitObjManager(object_dir().c_str(), options, &rc);
        if (!m) std::abort();
        for (uint16_t type = 0; type < 4; ++type)
            if (GCObjEntry* e = GCGetObjFromID(m, type, 1, 0, &rc)) {
                read_all(e);
                read_texts_and_weights(e);
                if (type == GC_OBJ_CODEPAGE) convert_long_sequences(e);
            }
        GCTermObjManager(m);
    }
    return 0;
}
