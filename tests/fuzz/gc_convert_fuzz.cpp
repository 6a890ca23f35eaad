// Feeds arbitrary text to the code-page conversions: through the string calls, the UTF-16 calls,
// the counting calls and a conversion handle fed in arbitrary pieces with arbitrary room, for
// UTF-8, a double-byte page, the lead-byte page and the stateful page (bytes 1 and 2 choose the
// page, the flags and the pieces; the text follows byte 2). An input that begins like a locale data
// file is a code-page file instead, through which a fixed text is converted (the generated pages
// seed this mode). Nothing may be read or written out of bounds, and every loop must end.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "gc.h"
#include "gc_internal.h"
#include "gc_page_locale.h"
#include "temp_folder.h"

namespace {

GCObjManager* generated() {
    static GCObjManager* m = [] {
        uint32_t rc = 0;
        GCObjManager* manager = GCInitObjManager(APPBRIDGE_LOCALE_DATA_DIR, GC_INIT_STRICT, &rc);
        if (!manager) std::abort();
        return manager;
    }();
    return m;
}

GCObjEntry* page(GCObjManager* m, uint16_t id) {
    uint32_t rc = 0;
    GCObjEntry* e = GCGetObjFromID(m, GC_OBJ_CODEPAGE, id, 0, &rc);
    if (!e) std::abort();
    return e;
}

// A conversion handle fed the text in pieces whose sizes, and the room given, come from `shape`.
void convert_in_pieces(GCLocale* to, GCLocale* from, const std::string& text, const uint8_t* shape, size_t nshape) {
    GCCnvDesc* h = GCOpenConversion(to, from);
    if (!h) std::abort();
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    uint32_t in_left = static_cast<uint32_t>(text.size());
    std::vector<unsigned char> out(8);
    for (size_t step = 0; step < 4 * text.size() + 64; ++step) {
        const uint8_t s = nshape ? shape[step % nshape] : 7;
        uint32_t piece = std::min<uint32_t>(in_left, 1u + (s & 7));
        uint32_t room = (s >> 3) & 7;
        unsigned char* o = out.data();
        const uint32_t before = piece;
        const uint32_t rc = GCConvertBuffer(h, &o, &room, &in, &piece);
        if (rc != GC_OK && rc != GC_BUFFER_FULL && rc != GC_INCOMPLETE) std::abort();
        in_left -= before - piece;
        if (in_left == 0 && rc == GC_OK) break;
    }
    GCCloseConversion(h);
}

void convert_all(GCLocale* page_loc, GCLocale* utf8, const std::string& text, const uint8_t* shape, size_t nshape,
                 uint32_t flags) {
    const int n = static_cast<int>(text.size());
    std::vector<char> out(4 * text.size() + 16);
    GCConvertString(utf8, out.data(), static_cast<int>(out.size()), page_loc, text.data(), n, flags);
    GCConvertString(page_loc, out.data(), static_cast<int>(out.size()), utf8, text.data(), n, flags);
    std::vector<GCUchar> units(2 * text.size() + 4);
    const int u = GCStringToUnicode(units.data(), static_cast<int>(units.size()), page_loc, text.data(), n, flags);
    if (u >= 0) GCUnicodeToString(page_loc, out.data(), static_cast<int>(out.size()), units.data(), u, flags & ~8u);
    // Arbitrary UTF-16, lone surrogates included.
    std::vector<GCUchar> raw(text.size() / 2 + 1, 0);
    std::memcpy(raw.data(), text.data(), text.size() / 2 * 2);
    GCUnicodeToString(page_loc, out.data(), static_cast<int>(out.size()), raw.data(), static_cast<int>(text.size() / 2),
                      flags);
    const std::string terminated = text.c_str();
    const auto* t = reinterpret_cast<const unsigned char*>(terminated.c_str());
    GCCpStrByteToCharLen(page_loc->codepage, t, 0, -1);
    GCCpStrCharToByteLen(page_loc->codepage, t, 1, n);
    std::vector<GCUchar> decoded(terminated.size() + 2);
    const int d = GCCpStrToUnicode(page_loc->codepage, t, static_cast<int>(terminated.size()), decoded.data());
    std::vector<unsigned char> encoded(4 * decoded.size() + 4);
    if (d > 0) GCCpUnicodeToStr(page_loc->codepage, decoded.data(), 1, d, encoded.data());
    if (!terminated.empty()) {
        unsigned char cased[8];
        GCCpMbCaseConv(page_loc->codepage, t, cased, GC_CT_LOWER);
        GCGetMbCtype(page_loc->codepage, t);
    }
    convert_in_pieces(utf8, page_loc, text, shape, nshape);
    convert_in_pieces(page_loc, utf8, text, shape, nshape);
}

const std::string& page_dir() {
    static const FuzzTempFolder folder("gc-cnv-fuzz");
    static const std::string dir = [] {
        const std::string d = folder.path();
        std::string cmd = "cp '" APPBRIDGE_LOCALE_DATA_DIR "/cp_0106.nls' '" + d + "/'";
        if (std::system(cmd.c_str()) != 0) std::abort();
        // Control: UTF-8 (106) and the fuzzed page (2).
        std::string table(2 * GC_CTL_ROW_SIZE, '\0');
        table[0] = 2;
        table[2] = GC_OBJ_CODEPAGE;
        std::memcpy(&table[4], "FUZZ", 4);
        table[80] = 106;
        table[82] = GC_OBJ_CODEPAGE;
        std::memcpy(&table[84], "UTF-8", 5);
        std::string file(sizeof(GCFileHdr), '\0');
        const uint32_t head[2] = {GC_MAGIC, GC_VERSION_CURRENT};
        std::memcpy(&file[0], head, 8);
        file[8] = 1;
        const uint32_t sect[2] = {static_cast<uint32_t>(table.size()), static_cast<uint32_t>(sizeof(GCFileHdr))};
        std::memcpy(&file[12], sect, 8);
        file += table;
        FILE* f = std::fopen((d + "/control.nls").c_str(), "wb");
        std::fwrite(file.data(), 1, file.size(), f);
        std::fclose(f);
        return d;
    }();
    return dir;
}

bool is_data_file(const uint8_t* data, size_t size) {
    const uint32_t magic = GC_MAGIC;
    return size >= sizeof magic && std::memcmp(data, &magic, sizeof magic) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3 || size > 1 << 16) return 0;
    if (!is_data_file(data, size)) {
        static const uint16_t ids[4] = {106, 31, 938, 939};
        GCObjManager* m = generated();
        GCLocale utf8 = locale_of(page(m, 106));
        GCLocale p = locale_of(page(m, ids[data[1] % 4]));
        static const uint32_t flags[4] = {0, 8, 0x4000, 0x4008};
        const std::string text(reinterpret_cast<const char*>(data + 3), size - 3);
        convert_all(&p, &utf8, text, data + 1, 2, flags[data[2] % 4]);
        return 0;
    }
    FILE* f = std::fopen((page_dir() + "/cp_0002.nls").c_str(), "wb");
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    uint32_t rc = 0;
    GCObjManager* m = GCInitObjManager(page_dir().c_str(), GC_INIT_STRICT, &rc);
    if (!m) std::abort();
    GCObjEntry* fuzzed = GCGetObjFromID(m, GC_OBJ_CODEPAGE, 2, 0, &rc);
    if (fuzzed) {
        GCLocale utf8 = locale_of(page(m, 106));
        GCLocale p = locale_of(fuzzed);
        const std::string text = "Ab\xC3\xA9\xE6\x97\xA5\xE6\x9C\xAC\xF0\x9F\x98\x80 \xEF\xBD\xB1z\x81\x40";
        convert_all(&p, &utf8, text, data + size - 1, 1, 8);
        for (uint32_t u = 0; u < 0x10000; u += 97) {
            unsigned char out[4];
            GCCpUnicodeToChar(fuzzed, u, out, 0x3F);
            GCCpMbHalfToFullW(fuzzed, u);
            GCCpFullToHalfW(fuzzed, u);
        }
    }
    GCTermObjManager(m);
    return 0;
}
