// Builds code-page objects: decoding and encoding tables from iconv, character types, case and
// half-width/full-width pairs from ICU. Single-byte pages need only the fixed part and the
// encoding bytes; multi-byte pages add the decoding trie, encoding rows over sections 3 and 4,
// and the type trie; UTF-8 (106) is computed by the library and carries only its lengths, types,
// case and pairs.
#include "gen_codepage.h"

#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>

#include "gc.h"
#include "gcbuild_internal.h"
#include "gen_charset.h"
#include "gen_trie.h"

namespace gen {
namespace {

template <typename T>
void put(Bytes& b, size_t at, T v) {
    if (at + sizeof v > b.size()) b.resize(at + sizeof v);
    std::memcpy(b.data() + at, &v, sizeof v);
}

uint32_t char_type(UChar32 c) {
    uint32_t t = 0;
    // Upper and lower: the case properties, and every character with a case mapping.
    if (u_isUUppercase(c) || u_tolower(c) != c) t |= GC_CT_UPPER;
    if (u_isULowercase(c) || u_toupper(c) != c) t |= GC_CT_LOWER;
    if (u_isdigit(c)) t |= GC_CT_DIGIT;
    if (u_isxdigit(c)) t |= GC_CT_XDIGIT;
    if (u_isalpha(c)) t |= GC_CT_ALPHA;
    if (u_isUWhiteSpace(c)) t |= GC_CT_SPACE;
    if (u_isgraph(c) && !u_isalnum(c)) t |= GC_CT_PUNCT;
    if (u_charType(c) == U_CONTROL_CHAR) t |= GC_CT_CNTRL;
    return t;
}

uint32_t wide_of(const Seq& s) {
    uint32_t w = 0;
    for (uint8_t b : s) w = (w << 8) | b;
    return w;
}

Seq utf8_of(char16_t c) {
    if (c < 0x80) return Seq{static_cast<uint8_t>(c)};
    if (c < 0x800) return Seq{static_cast<uint8_t>(0xC0 | (c >> 6)), static_cast<uint8_t>(0x80 | (c & 0x3F))};
    return Seq{static_cast<uint8_t>(0xE0 | (c >> 12)), static_cast<uint8_t>(0x80 | ((c >> 6) & 0x3F)),
               static_cast<uint8_t>(0x80 | (c & 0x3F))};
}

// The Unicode half-width/full-width pairs: (half, full).
const std::vector<std::pair<char16_t, char16_t>>& width_pairs() {
    static const std::vector<std::pair<char16_t, char16_t>> pairs = [] {
        std::vector<std::pair<char16_t, char16_t>> out;
        UErrorCode status = U_ZERO_ERROR;
        const icu::Normalizer2* nfkd = icu::Normalizer2::getNFKDInstance(status);
        for (UChar32 c = 0; c <= 0xFFFF; ++c) {
            const int type = u_getIntPropertyValue(c, UCHAR_DECOMPOSITION_TYPE);
            if (type != U_DT_WIDE && type != U_DT_NARROW) continue;
            icu::UnicodeString d;
            if (!nfkd || !nfkd->getRawDecomposition(c, d) || d.length() != 1) continue;
            const char16_t other = d.charAt(0);
            if (type == U_DT_WIDE)
                out.emplace_back(other, static_cast<char16_t>(c));
            else
                out.emplace_back(static_cast<char16_t>(c), other);
        }
        return out;
    }();
    return pairs;
}

// The tables every page has for its single bytes.
void single_byte_tables(GCCp& cp, const std::array<std::optional<char16_t>, 256>& single,
                        const std::map<char16_t, Seq>& encode) {
    auto one_byte = [&](UChar32 c) -> std::optional<uint8_t> {
        if (c > 0xFFFF) return std::nullopt;
        const auto it = encode.find(static_cast<char16_t>(c));
        if (it == encode.end() || it->second.size() != 1) return std::nullopt;
        return it->second[0];
    };
    bool ascii = true;
    for (unsigned b = 0; b < 256; ++b) {
        const std::optional<char16_t> u = cp.len[b] == 1 ? single[b] : std::nullopt;
        cp.uni[b] = u ? *u : 0xFFFD;
        cp.ctype[b] = u ? char_type(*u) : 0;
        cp.upper[b] = cp.lower[b] = static_cast<uint8_t>(b);
        if (u) {
            if (const auto up = one_byte(u_toupper(*u))) cp.upper[b] = *up;
            if (const auto lo = one_byte(u_tolower(*u))) cp.lower[b] = *lo;
        }
        if (b < 0x80 && (!u || *u != b)) ascii = false;
    }
    if (ascii) cp.flags |= GC_CP_ASCII;
}

// Encoding rows over sections 3 and 4, holes holding the replacement byte. Throws when a row
// would start beyond the 16-bit offsets.
void encoding_rows(GCCp& cp, const std::map<char16_t, Seq>& encode, Bytes& s3, Bytes& s4) {
    for (unsigned high = 0; high < 256; ++high) {
        auto first = encode.lower_bound(static_cast<char16_t>(high << 8));
        auto last = high == 255 ? encode.end() : encode.lower_bound(static_cast<char16_t>((high + 1) << 8));
        if (first == last) {
            cp.enc[high] = gc::build::kEmptyRow;
            continue;
        }
        size_t longest = 1;
        for (auto it = first; it != last; ++it) longest = std::max(longest, it->second.size());
        const unsigned low = first->first & 0xFF;
        const unsigned top = std::prev(last)->first & 0xFF;
        // kind 0: one byte in s3; 4: low byte in s3, high byte in s4; 2: u16 in s3, byte in s4;
        // 3: u16 in s3, u16 in s4.
        const uint8_t kind = longest == 1 ? 0 : longest == 2 ? 4 : longest == 3 ? 2 : 3;
        const size_t w3 = kind == 0 || kind == 4 ? 1 : 2;
        const size_t w4 = kind == 0 ? 0 : kind == 3 ? 2 : 1;
        auto place = [](Bytes& s, size_t width, unsigned lo, unsigned hi) {
            const size_t start = s.size() >= width * lo ? s.size() - width * lo : 0;
            s.resize(std::max(s.size(), start + width * (hi + 1)), 0);
            return start;
        };
        const size_t off3 = place(s3, w3, low, top);
        const size_t off4 = w4 ? place(s4, w4, low, top) : 0;
        if (off3 > 0xFFFF || off4 > 0xFFFF)
            throw std::runtime_error("encoding rows overrun the 16-bit section offsets");
        for (unsigned lo = low; lo <= top; ++lo) {
            const auto it = encode.find(static_cast<char16_t>((high << 8) | lo));
            const uint32_t wide = it == encode.end() ? cp.repl : wide_of(it->second);
            if (w3 == 1)
                s3[off3 + lo] = static_cast<uint8_t>(kind == 4 ? wide & 0xFF : wide);
            else
                put<uint16_t>(s3, off3 + 2 * lo, static_cast<uint16_t>(wide & 0xFFFF));
            if (kind == 4) s4[off4 + lo] = static_cast<uint8_t>(wide >> 8);
            if (kind == 2) s4[off4 + lo] = static_cast<uint8_t>(wide >> 16);
            if (kind == 3) put<uint16_t>(s4, off4 + 2 * lo, static_cast<uint16_t>(wide >> 16));
        }
        cp.enc[high] = GCCpEncRow{kind,
                                  0xFF,
                                  static_cast<uint8_t>(low),
                                  static_cast<uint8_t>(top),
                                  static_cast<uint16_t>(off3),
                                  static_cast<uint16_t>(off4)};
    }
}

// The multi-byte part of section 1: full-width values of the single bytes, the half/full pairs,
// the type trie and its records.
void multi_byte_part(GCCp& cp, Bytes& s1, const SeqMap<char16_t>& chars,
                     const std::function<std::optional<Seq>(char16_t)>& encode, bool lead_byte_path, bool stateful) {
    s1.resize(GC_CP_MB_OFFSET, 0);
    cp.mboff = GC_CP_MB_OFFSET;
    std::map<uint32_t, uint32_t> pairs;  // half wide -> full wide
    std::array<uint32_t, 256> full{};
    for (const auto& [half, wide] : width_pairs()) {
        const auto h = encode(half);
        const auto f = encode(wide);
        if (!h || !f) continue;
        pairs.emplace(wide_of(*h), wide_of(*f));
        if (h->size() == 1 && full[(*h)[0]] == 0) full[(*h)[0]] = wide_of(*f);
    }
    for (uint32_t v : full) put<uint32_t>(s1, s1.size(), v);
    cp.pairoff = static_cast<uint32_t>(s1.size());
    cp.npairs = static_cast<uint16_t>(pairs.size());
    for (const auto& [h, f] : pairs) {
        put<uint32_t>(s1, s1.size(), h);
        put<uint32_t>(s1, s1.size(), f);
    }
    SeqMap<TypeRecord> types;
    for (const auto& [seq, c] : chars) {
        if (c == 0xFFFD) continue;
        TypeRecord r{char_type(c), 0};
        const UChar32 target = u_toupper(c) != c ? u_toupper(c) : u_tolower(c);
        if (target != c && target <= 0xFFFF)
            if (const auto t = encode(static_cast<char16_t>(target)))
                // On a stateful page a case pair in different states cannot change in place.
                if (!stateful || t->size() == seq.size())
                    r.delta = static_cast<int32_t>(static_cast<int64_t>(wide_of(*t)) - wide_of(seq));
        types.emplace(seq, r);
    }
    const TypeTrie trie = type_trie(types, lead_byte_path);
    cp.trieoff = static_cast<uint32_t>(s1.size());
    s1.insert(s1.end(), trie.nodes.begin(), trie.nodes.end());
    cp.recoff = static_cast<uint32_t>(s1.size());
    s1.insert(s1.end(), trie.records.begin(), trie.records.end());
}

Object finish(const CodePageDef& def, const GCCp& cp, Bytes s1, std::vector<Bytes> rest) {
    std::memcpy(s1.data(), &cp, sizeof cp);
    Object object;
    object.type = GC_OBJ_CODEPAGE;
    object.id = def.id;
    object.name = def.name;
    object.sections.push_back(std::move(s1));
    for (Bytes& b : rest) object.sections.push_back(std::move(b));
    while (object.sections.size() > 1 && object.sections.back().empty()) object.sections.pop_back();
    return object;
}

Object single_byte(const CodePageDef& def) {
    CharsetFacts facts;
    const CharsetShape shape{false, 1, {}};
    probe_encodings(def.charset, shape, facts);
    probe_decodings(def.charset, shape, facts);
    GCCp cp;
    gc::build::single_byte_head(cp);
    for (unsigned b = 0; b < 256; ++b) cp.len[b] = 1;
    single_byte_tables(cp, facts.single, facts.encode);
    Bytes s3;
    Bytes s4;
    encoding_rows(cp, facts.encode, s3, s4);
    return finish(def, cp, Bytes(sizeof cp), {Bytes(), s3});
}

Object multi_byte(const CodePageDef& def) {
    const bool stateful = def.kind == CpKind::Stateful;
    const bool lead_byte = def.kind == CpKind::LeadByteTest;
    CharsetShape shape;
    shape.stateful = stateful;
    shape.max_len = stateful ? 2 : 4;
    if (lead_byte) shape.four_byte_leads = {0x81, 0x82};
    CharsetFacts facts;
    probe_encodings(def.charset, shape, facts);
    GCCp cp;
    gc::build::single_byte_head(cp);
    const auto q = facts.encode.find(u'?');
    cp.repl = q != facts.encode.end() && q->second.size() == 1 ? q->second[0] : '?';
    // The rows first: a page whose rows do not fit is refused before its sequences are probed.
    std::map<char16_t, Seq> encodable = facts.encode;
    if (lead_byte) {
        // The lead-byte page encodes two-byte forms only.
        for (auto it = encodable.begin(); it != encodable.end();)
            it = it->second.size() > 2 ? encodable.erase(it) : std::next(it);
    }
    Bytes s3;
    Bytes s4;
    encoding_rows(cp, encodable, s3, s4);
    probe_decodings(def.charset, shape, facts);
    facts.encode = encodable;

    const char16_t controls[4] = {u'\n', u'\r', u'\n', u'\n'};
    for (int i = 0; i < 4; ++i) {
        const auto it = facts.encode.find(controls[i]);
        cp.ctl[i] = it != facts.encode.end() && it->second.size() == 1 ? it->second[0] : 0;
    }
    std::array<uint8_t, 256> lead_len{};
    for (const auto& [seq, c] : facts.multi) {
        uint8_t& l = lead_len[seq[0]];
        if (l != 0 && l != seq.size() && !(lead_byte && seq[0] >= 0x81 && seq[0] <= 0x84))
            throw std::runtime_error("a lead byte starts sequences of different lengths");
        l = std::max<uint8_t>(l, static_cast<uint8_t>(seq.size()));
    }
    uint8_t longest = 1;
    for (unsigned b = 0; b < 256; ++b) {
        cp.len[b] = stateful || lead_len[b] == 0 ? 1 : lead_len[b];
        longest = std::max(longest, stateful ? lead_len[b] : cp.len[b]);
    }
    cp.maxlen = longest;
    if (stateful) cp.flags |= GC_CP_STATEFUL;
    if (lead_byte) cp.flags |= GC_CP_LEADBYTE;
    single_byte_tables(cp, facts.single, facts.encode);

    uint32_t valoff = 0;
    Bytes s2 = decoding_trie(facts.multi, lead_byte, &valoff);
    cp.valoff = valoff;

    SeqMap<char16_t> chars = facts.multi;
    // Single bytes have a place in the type trie unless the page is stateful: there the same
    // bytes lead double-byte characters, and single-byte characters take their types from the
    // single-byte tables.
    for (unsigned b = 0; b < 256 && !stateful; ++b)
        if (cp.len[b] == 1 && facts.single[b]) chars.emplace(Seq{static_cast<uint8_t>(b)}, *facts.single[b]);
    Bytes s1(sizeof cp);
    multi_byte_part(
        cp, s1, chars,
        [&](char16_t c) -> std::optional<Seq> {
            const auto it = facts.encode.find(c);
            return it == facts.encode.end() ? std::nullopt : std::optional<Seq>(it->second);
        },
        lead_byte, stateful);
    Object object = finish(def, cp, s1, {s2, s3, s4});
    if (!lead_byte && !stateful) {
        try {
            object.v1_section2 = decoding_trie_v1(facts.multi, &object.v1_nodesize);
        } catch (const std::runtime_error&) {
            object.v1_section2.clear();  // too large for version 1: only version 2 and 3 forms
        }
    }
    return object;
}

Object utf8(const CodePageDef& def) {
    GCCp cp;
    gc::build::single_byte_head(cp);
    for (unsigned b = 0; b < 256; ++b)
        cp.len[b] = b >= 0xC0 && b <= 0xDF ? 2 : b >= 0xE0 && b <= 0xEF ? 3 : b >= 0xF0 && b <= 0xF7 ? 4 : 1;
    cp.maxlen = 4;
    std::array<std::optional<char16_t>, 256> single{};
    std::map<char16_t, Seq> ascii;
    for (unsigned b = 0; b < 0x80; ++b) {
        single[b] = static_cast<char16_t>(b);
        ascii.emplace(static_cast<char16_t>(b), Seq{static_cast<uint8_t>(b)});
    }
    single_byte_tables(cp, single, ascii);
    for (auto& row : cp.enc) row = gc::build::kEmptyRow;
    SeqMap<char16_t> chars;
    for (uint32_t u = 0; u <= 0xFFFF; ++u)
        if (u < 0xD800 || u > 0xDFFF) chars.emplace(utf8_of(static_cast<char16_t>(u)), static_cast<char16_t>(u));
    Bytes s1(sizeof cp);
    multi_byte_part(
        cp, s1, chars, [](char16_t c) -> std::optional<Seq> { return utf8_of(c); }, false, false);
    return finish(def, cp, s1, {});
}

}  // namespace

Object make_codepage(const CodePageDef& def) {
    switch (def.kind) {
    case CpKind::SingleByte: return single_byte(def);
    case CpKind::Utf8: return utf8(def);
    default: return multi_byte(def);
    }
}

}  // namespace gen
