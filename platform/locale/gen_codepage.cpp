// Builds code-page objects: decoding and encoding tables from iconv, character types and case
// from ICU.
#include "gen_codepage.h"

#include <iconv.h>
#include <unicode/uchar.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>

#include "gc.h"
#include "gcbuild_internal.h"

namespace gen {
namespace {

// Decodes byte sequences of one character set into single UTF-16 units.
class Decoder {
public:
    explicit Decoder(const char* charset) : cd_(iconv_open("UTF-16LE", charset)) {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) throw std::runtime_error(std::string("iconv has no ") + charset);
    }
    ~Decoder() { iconv_close(cd_); }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // The BMP character a whole sequence decodes to; nothing when it is invalid, incomplete,
    // several characters, or beyond the BMP.
    std::optional<char16_t> decode(const uint8_t* bytes, size_t n) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        char in[8];
        std::memcpy(in, bytes, n);
        char out[16];
        char* ip = in;
        char* op = out;
        size_t il = n;
        size_t ol = sizeof out;
        if (iconv(cd_, &ip, &il, &op, &ol) == static_cast<size_t>(-1) || il != 0) return std::nullopt;
        char* fp = op;
        size_t fl = ol;
        if (iconv(cd_, nullptr, nullptr, &fp, &fl) == static_cast<size_t>(-1)) return std::nullopt;
        if (fp - out != 2) return std::nullopt;
        char16_t u;
        std::memcpy(&u, out, 2);
        if (u >= 0xD800 && u <= 0xDFFF) return std::nullopt;
        return u;
    }

private:
    iconv_t cd_;
};

uint32_t char_type(UChar32 c) {
    uint32_t t = 0;
    if (u_isupper(c)) t |= GC_CT_UPPER;
    if (u_islower(c)) t |= GC_CT_LOWER;
    if (u_isdigit(c)) t |= GC_CT_DIGIT;
    if (u_isxdigit(c)) t |= GC_CT_XDIGIT;
    if (u_isalpha(c)) t |= GC_CT_ALPHA;
    if (u_isUWhiteSpace(c)) t |= GC_CT_SPACE;
    if (u_isgraph(c) && !u_isalnum(c)) t |= GC_CT_PUNCT;
    if (u_charType(c) == U_CONTROL_CHAR) t |= GC_CT_CNTRL;
    return t;
}

void put_row(GCCp& cp, unsigned high, const GCCpEncRow& row) { cp.enc[high] = row; }

// Encoding rows of single-byte characters: one byte per low byte in section 3, holes holding the
// replacement byte.
gc::build::Bytes single_byte_rows(GCCp& cp, const std::map<char16_t, uint8_t>& encode) {
    gc::build::Bytes section3;
    for (unsigned high = 0; high < 256; ++high) {
        auto first = encode.lower_bound(static_cast<char16_t>(high << 8));
        auto last = high == 255 ? encode.end() : encode.lower_bound(static_cast<char16_t>((high + 1) << 8));
        if (first == last) {
            put_row(cp, high, gc::build::kEmptyRow);
            continue;
        }
        const unsigned low = first->first & 0xFF;
        const unsigned top = std::prev(last)->first & 0xFF;
        const size_t off3 = section3.size() >= low ? section3.size() - low : 0;
        if (off3 > 0xFFFF) throw std::runtime_error("encoding rows overrun their 16-bit offsets");
        section3.resize(off3 + top + 1, cp.repl);
        for (auto it = first; it != last; ++it) section3[off3 + (it->first & 0xFF)] = it->second;
        put_row(cp, high, GCCpEncRow{0, 0xFF, static_cast<uint8_t>(low), static_cast<uint8_t>(top),
                                     static_cast<uint16_t>(off3), 0});
    }
    return section3;
}

Object single_byte(const CodePageDef& def) {
    Decoder decoder(def.charset);
    GCCp cp;
    gc::build::single_byte_head(cp);
    std::map<char16_t, uint8_t> encode;
    bool ascii = true;
    for (unsigned b = 0; b < 256; ++b) {
        const uint8_t byte = static_cast<uint8_t>(b);
        const std::optional<char16_t> u = decoder.decode(&byte, 1);
        cp.len[b] = 1;
        cp.uni[b] = u ? *u : 0xFFFD;
        cp.ctype[b] = u ? char_type(*u) : 0;
        if (u) encode.emplace(*u, byte);
        if (b < 0x80 && (!u || *u != b)) ascii = false;
    }
    for (unsigned b = 0; b < 256; ++b) {
        cp.upper[b] = cp.lower[b] = static_cast<uint8_t>(b);
        if (cp.uni[b] == 0xFFFD) continue;
        const auto up = encode.find(static_cast<char16_t>(u_toupper(cp.uni[b])));
        const auto lo = encode.find(static_cast<char16_t>(u_tolower(cp.uni[b])));
        if (up != encode.end() && u_toupper(cp.uni[b]) <= 0xFFFF) cp.upper[b] = up->second;
        if (lo != encode.end() && u_tolower(cp.uni[b]) <= 0xFFFF) cp.lower[b] = lo->second;
    }
    cp.flags = ascii ? GC_CP_ASCII : 0;
    const gc::build::Bytes section3 = single_byte_rows(cp, encode);
    Object object;
    object.type = GC_OBJ_CODEPAGE;
    object.id = def.id;
    object.name = def.name;
    const auto* raw = reinterpret_cast<const uint8_t*>(&cp);
    object.sections = {Bytes(raw, raw + sizeof cp), Bytes(), section3};
    return object;
}

}  // namespace

Object make_codepage(const CodePageDef& def) {
    switch (def.kind) {
        case CpKind::SingleByte:
            return single_byte(def);
        default:
            throw std::runtime_error(std::string("code page kind not built: ") + def.name);
    }
}

}  // namespace gen
