// String conversions, conversion handles, case and types, widths and counting on the generated
// code pages; and code pages whose data indexes point outside their sections.
#include <sstream>
#include <string>
#include <vector>

#include "gc_data.h"
#include "gc_iconv.h"
#include "gccp_internal.h"

namespace {

class Conversion : public gctest::Library {};

// Texts long enough to go through the page's lookup tables: every two-byte character decodes, and
// every BMP value but the surrogates and U+FFFD encodes, as the one-character calls give them.
void expect_long_texts_as_one_character_calls(GCObjEntry* page) {
    const gc::CodePage cp(page);
    GCLocale loc = gctest::locale_of(page);
    std::string text;
    std::vector<GCUchar> units;
    for (uint32_t i = 0; i < 0x10000; ++i) {
        const unsigned char pair[2] = {static_cast<unsigned char>(i >> 8), static_cast<unsigned char>(i)};
        if (cp.char_len(pair, 2) != 2) continue;
        text.append(reinterpret_cast<const char*>(pair), 2);
        units.push_back(static_cast<GCUchar>(GCCpMbToUnicode(page, pair)));
    }
    ASSERT_FALSE(units.empty());
    std::vector<GCUchar> got(units.size() + 1, 0xAAAA);
    ASSERT_EQ(GCStringToUnicode(got.data(), static_cast<int>(got.size()), &loc, text.data(),
                                static_cast<int>(text.size()), 0),
              static_cast<int>(units.size()));
    got.pop_back();
    EXPECT_TRUE(got == units);

    units.clear();
    std::string want;
    for (uint32_t u = 0; u < 0x10000; ++u) {
        if ((u >= 0xD800 && u <= 0xDFFF) || u == 0xFFFD) continue;
        units.push_back(static_cast<GCUchar>(u));
        unsigned char bytes[4];
        want.append(reinterpret_cast<const char*>(bytes), GCCpUnicodeToChar(page, u, bytes, cp.repl()));
    }
    std::string out(want.size() + 1, '#');
    ASSERT_EQ(GCUnicodeToString(&loc, out.data(), static_cast<int>(out.size()), units.data(),
                                static_cast<int>(units.size()), 0),
              static_cast<int>(want.size()));
    EXPECT_EQ(out, want + '#');
}

}  // namespace

TEST_F(Conversion, LongTextsConvertEveryCharacterAsTheOneCharacterCallsDo) {
    for (const char* name : {"Shift_JIS", "JapanEUC", "MS936"}) {
        SCOPED_TRACE(name);
        expect_long_texts_as_one_character_calls(codepage(name));
    }
}

TEST_F(Conversion, StringCallsTerminateCountAndReportReplacements) {
    GCLocale utf8 = gctest::locale_of(codepage("UTF-8"));
    GCLocale ascii = gctest::locale_of(codepage("US-ASCII"));
    char out[16] = "xxxxxxxxxxxxxxx";

    EXPECT_EQ(GCConvertString(&ascii, out, 1, &utf8, "abc", 3, GC_STR_TERMINATE), 1);
    EXPECT_EQ(out[0], '\0');
    EXPECT_EQ(out[1], 'x');

    EXPECT_EQ(GCConvertString(&ascii, out, sizeof out, &utf8, "\xC3\xA9", 2, GC_STR_TERMINATE), 2);
    EXPECT_STREQ(out, "?");
    EXPECT_EQ(ascii.lastrc, GC_REPLACED);
    EXPECT_EQ(GCConvertString(&ascii, out, sizeof out, &utf8, "?", 1, GC_STR_TERMINATE), 2);
    EXPECT_EQ(ascii.lastrc, GC_OK);

    // Lengths in characters: "a", "é", "日" are 1, 2 and 3 bytes.
    EXPECT_EQ(GCConvertString(&utf8, out, sizeof out, &utf8, "a\xC3\xA9\xE6\x97\xA5z", 3, GC_STR_CHARS), 3);
    EXPECT_EQ(std::string(out, 6), "a\xC3\xA9\xE6\x97\xA5");

    EXPECT_EQ(GCConvertString(&ascii, out, sizeof out, &utf8, "abc", 3, 3), -1);
    EXPECT_EQ(ascii.lastrc, GC_ERR_OPTION);

    // A source cut inside a character ends before it.
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(GCConvertString(&utf8, out, sizeof out, &utf8, "a\xC3\xA9", 2, 0), 1);
    EXPECT_EQ(out[0], 'a');
    EXPECT_EQ(out[1], 'x');

    // A terminated source wholly converted gets a terminator it does not count, room allowing.
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(GCConvertString(&ascii, out, 4, &utf8, "abc", -1, 0), 3);
    EXPECT_EQ(out[3], '\0');
    std::memset(out, 'x', sizeof out);
    EXPECT_EQ(GCConvertString(&ascii, out, 3, &utf8, "abc", -1, 0), 3);
    EXPECT_EQ(out[3], 'x');
}

TEST_F(Conversion, Utf16CallsKeepSurrogatePairsWholeAndReplaceLoneOnes) {
    GCLocale utf8 = gctest::locale_of(codepage("UTF-8"));
    GCLocale latin1 = gctest::locale_of(codepage("Latin1"));
    GCUchar units[8] = {};
    // "a" then U+1F600: with one unit of room left after "a", the pair is not split.
    EXPECT_EQ(GCStringToUnicode(units, 2, &utf8, "a\xF0\x9F\x98\x80", 5, 0), 1);
    EXPECT_EQ(GCStringToUnicode(units, 8, &utf8, "a\xF0\x9F\x98\x80", 5, GC_STR_TERMINATE), 4);
    EXPECT_EQ(std::u16string(reinterpret_cast<char16_t*>(units)), u"a\U0001F600");

    char out[16];
    const GCUchar text[] = {u'\u00E9', 0xD83D, 0xDE00, 0xD800, u'z', 0};
    // A lone surrogate is lost: the target's replacement byte.
    EXPECT_EQ(GCUnicodeToString(&utf8, out, sizeof out, text, -1, GC_STR_TERMINATE), 9);
    EXPECT_STREQ(out, "\xC3\xA9\xF0\x9F\x98\x80?z");
    EXPECT_EQ(utf8.lastrc, GC_REPLACED);
    EXPECT_EQ(GCUnicodeToString(&latin1, out, sizeof out, text, -1, GC_STR_TERMINATE), 5);
    EXPECT_STREQ(out, "\xE9??z");
    EXPECT_EQ(latin1.lastrc, GC_REPLACED);
}

namespace {

// A text converted between two pages, written as UTF-8 pieces: `good` pieces are converted by
// iconv for the reference, a `bad` piece is raw source bytes that become one replacement byte.
struct Piece {
    bool good;
    std::string bytes;
};

struct StringCase {
    const char* label;
    const char* from;
    const char* to;
    const char* from_set;  // iconv's names
    const char* to_set;
    std::vector<Piece> pieces;
};

void PrintTo(const StringCase& c, std::ostream* os) { *os << c.label; }

// ASCII runs of every length about the 8-byte steps, between characters of other lengths.
std::string runs_between(const std::string& other) {
    std::string text;
    for (size_t n = 1; n <= 18; ++n) text += std::string(n, static_cast<char>('a' + n)) + other;
    return text;
}

const std::string kLatin = "Größe déjà créé à Genève, señor Muñoz: façade naïve ÿ ";
const std::string kJapanese = "日本語のテキスト ｶﾀｶﾅ report_2026.txt 処理件数: 1024 件。";

const std::vector<StringCase> kStringCases = {
    {"Latin1ToUtf8", "Latin1", "UTF-8", "ISO-8859-1", "UTF-8", {{true, kLatin + runs_between("é")}}},
    {"Utf8ToLatin1", "UTF-8", "Latin1", "UTF-8", "ISO-8859-1", {{true, runs_between("ß") + kLatin}}},
    {"Latin1ToIso8859_15", "Latin1", "ISO-8859-15", "ISO-8859-1", "ISO-8859-15", {{true, runs_between("ü")}}},
    {"Koi8rToUtf8", "KOI8-R", "UTF-8", "KOI8-R", "UTF-8", {{true, runs_between("Привет")}}},
    {"Utf8ToIso8859_7", "UTF-8", "ISO-8859-7", "UTF-8", "ISO-8859-7", {{true, runs_between("Ωμέγα")}}},
    {"ShiftJisToUtf8", "Shift_JIS", "UTF-8", "SHIFT_JIS", "UTF-8", {{true, kJapanese + runs_between("語ｱ")}}},
    {"Utf8ToShiftJis", "UTF-8", "Shift_JIS", "UTF-8", "SHIFT_JIS", {{true, runs_between("東ｶ") + kJapanese}}},
    {"EucJpToUtf8", "JapanEUC", "UTF-8", "EUC-JP", "UTF-8", {{true, runs_between("丂ｱ日")}}},
    {"Utf8ToMs936", "UTF-8", "MS936", "UTF-8", "CP936", {{true, runs_between("中文")}}},
    {"Utf8ToUtf8", "UTF-8", "UTF-8", "UTF-8", "UTF-8", {{true, runs_between("é日\U0001F600")}}},
    {"Utf8StrayBytes",
     "UTF-8",
     "Latin1",
     "UTF-8",
     "ISO-8859-1",
     {{true, "abcdefghij"}, {false, "\x80"}, {true, "klmnopqrstu"}, {false, "\xFF"}, {true, "é"}}},
    {"Utf8StrayBytesToUtf8",
     "UTF-8",
     "UTF-8",
     "UTF-8",
     "UTF-8",
     {{true, "abcdefghijklmnop"}, {false, "\xBF"}, {true, "日本"}}},
    {"ShiftJisUnassigned",
     "Shift_JIS",
     "UTF-8",
     "SHIFT_JIS",
     "UTF-8",
     {{true, "abcdefghijklmnopq"}, {false, "\x85"}, {true, "@日本 abc"}}},
    {"Utf8Unmappable",
     "UTF-8",
     "Latin1",
     "UTF-8",
     "ISO-8859-1",
     {{true, "abcdefghijklmnopq"}, {false, "\xE6\x97\xA5"}, {true, "é xyz"}}},
    {"Utf8UnmappableInShiftJis",
     "UTF-8",
     "Shift_JIS",
     "UTF-8",
     "SHIFT_JIS",
     {{true, "日本語 abcdefghijklmnop"}, {false, "\xC3\xA9"}, {true, "語"}}},
};

class StringAgainstIconv : public gctest::Library, public ::testing::WithParamInterface<StringCase> {};

}  // namespace

// The whole text as iconv converts it (the replacement byte for a bad piece, reported); cut
// output buffers hold the longest run of whole characters that fits and nothing past it; lengths
// in characters count the same characters; UTF-16 on either side agrees.
TEST_P(StringAgainstIconv, ConvertsAsIconvDoesAndCutsOnlyBetweenCharacters) {
    const StringCase& c = GetParam();
    GCLocale from = gctest::locale_of(codepage(c.from));
    GCLocale to = gctest::locale_of(codepage(c.to));
    const char repl = static_cast<char>(gc::CodePage(to.codepage).repl());
    gctest::Iconv to_source(c.from_set, "UTF-8");
    gctest::Iconv to_target(c.to_set, c.from_set);
    gctest::Iconv check_target("UTF-16LE", c.to_set);
    std::string source;
    std::string want;
    bool replaced = false;
    for (const Piece& piece : c.pieces) {
        if (!piece.good) {
            // Raw bytes of the source, or, on a UTF-8 source, a character the target lacks.
            source += piece.bytes;
            want += repl;
            replaced = true;
            continue;
        }
        const std::string bytes = to_source.run(piece.bytes.data(), piece.bytes.size()).value();
        source += bytes;
        want += to_target.run(bytes.data(), bytes.size()).value();
    }

    std::string out(want.size() + 16, '#');
    const int n = GCConvertString(&to, out.data(), static_cast<int>(out.size()), &from, source.data(),
                                  static_cast<int>(source.size()), 0);
    ASSERT_EQ(n, static_cast<int>(want.size()));
    EXPECT_EQ(out.substr(0, want.size()), want);
    EXPECT_EQ(out.substr(want.size()), std::string(16, '#'));
    EXPECT_EQ(to.lastrc, replaced ? GC_REPLACED : GC_OK);

    // Every output size: a prefix of the whole, ending between characters, no character that fit
    // left out, nothing written past the count or into the terminator's byte.
    auto whole_chars = [&](size_t k) { return k == 0 || check_target.run(want.data(), k).has_value(); };
    for (size_t size = 0; size <= want.size(); ++size) {
        for (const uint32_t flags : {0u, static_cast<uint32_t>(GC_STR_TERMINATE)}) {
            const size_t nul = flags && size ? 1 : 0;  // the terminator's byte
            const size_t room = size - nul;
            std::string cut(size + 8, '#');
            const int m = GCConvertString(&to, cut.data(), static_cast<int>(size), &from, source.data(),
                                          static_cast<int>(source.size()), flags);
            const size_t k = static_cast<size_t>(m) - nul;
            ASSERT_LE(k, room) << size;
            ASSERT_EQ(cut.substr(0, k), want.substr(0, k)) << size;
            ASSERT_TRUE(whole_chars(k)) << size;
            size_t next = k + 1;
            while (next < want.size() && !whole_chars(next)) ++next;
            ASSERT_GT(next, room) << size << ": stopped at " << k;
            if (nul) {
                ASSERT_EQ(cut[k], '\0') << size;
            }
            ASSERT_EQ(cut.substr(k + nul), std::string(cut.size() - k - nul, '#')) << size;
        }
    }

    // Lengths in characters: as many characters of source and output as asked for (room allowing).
    const int chars = static_cast<int>(GCCpStrByteToCharLen(
        from.codepage, reinterpret_cast<const unsigned char*>(source.data()), 0, static_cast<int>(source.size())));
    for (int asked : {1, 7, 8, 9, chars / 2, chars}) {
        std::string part(want.size() + 16, '#');
        const int m =
            GCConvertString(&to, part.data(), static_cast<int>(part.size()), &from, source.data(), asked, GC_STR_CHARS);
        ASSERT_EQ(m, std::min(asked, chars));
        const size_t k = part.find('#');
        EXPECT_EQ(part.substr(0, k), want.substr(0, k));
        EXPECT_TRUE(k == want.size() || whole_chars(k)) << asked;
    }

    // Through UTF-16: the same characters as iconv's, and back to the same bytes.
    if (!replaced) {
        std::vector<GCUchar> units(source.size() + 8, 0xAAAA);
        const int u = GCStringToUnicode(units.data(), static_cast<int>(units.size()), &from, source.data(),
                                        static_cast<int>(source.size()), 0);
        gctest::Iconv to_utf16("UTF-16LE", c.from_set);
        const std::string want_units = to_utf16.run(source.data(), source.size()).value();
        ASSERT_EQ(static_cast<size_t>(u) * 2, want_units.size());
        EXPECT_EQ(std::memcmp(units.data(), want_units.data(), want_units.size()), 0);
        EXPECT_EQ(units[static_cast<size_t>(u)], 0xAAAA);
        std::string back(want.size() + 8, '#');
        EXPECT_EQ(GCUnicodeToString(&to, back.data(), static_cast<int>(back.size()), units.data(), u, 0),
                  static_cast<int>(want.size()));
        EXPECT_EQ(back.substr(0, want.size()), want);
    }
}

INSTANTIATE_TEST_SUITE_P(Pages, StringAgainstIconv, ::testing::ValuesIn(kStringCases),
                         [](const ::testing::TestParamInfo<StringCase>& info) {
                             return std::string(info.param.label);
                         });

TEST_F(Conversion, HandleFedOneByteAtATimeGivesTheSameTextAsOneCall) {
    GCLocale euc = gctest::locale_of(codepage("JapanEUC"));
    GCLocale utf8 = gctest::locale_of(codepage("UTF-8"));
    const std::string japanese = "\xC6\xFC\xCB\xDC\xB8\xEC\x20\x8E\xB1\x8F\xB0\xA1!";  // 日本語 ｱ 丂 !
    gctest::Iconv iconv("UTF-8", "EUC-JP");
    const std::string want = iconv.run(japanese.data(), japanese.size()).value();

    GCCnvDesc* h = GCOpenConversion(&utf8, &euc);
    ASSERT_NE(h, nullptr);
    std::string whole(64, '\0');
    auto* out = reinterpret_cast<unsigned char*>(whole.data());
    uint32_t out_left = 64;
    const auto* in = reinterpret_cast<const unsigned char*>(japanese.data());
    uint32_t in_left = static_cast<uint32_t>(japanese.size());
    EXPECT_EQ(GCConvertBuffer(h, &out, &out_left, &in, &in_left), GC_OK);
    whole.resize(64 - out_left);
    EXPECT_EQ(whole, want);
    EXPECT_EQ(GCCloseConversion(h), GC_OK);

    h = GCOpenConversion(&utf8, &euc);
    std::string pieces(64, '\0');
    out = reinterpret_cast<unsigned char*>(pieces.data());
    out_left = 64;
    std::vector<uint32_t> results;
    for (char c : japanese) {
        const unsigned char byte = static_cast<unsigned char>(c);
        const unsigned char* p = &byte;
        uint32_t left = 1;
        results.push_back(GCConvertBuffer(h, &out, &out_left, &p, &left));
        EXPECT_EQ(left, 0u);
    }
    pieces.resize(64 - out_left);
    EXPECT_EQ(pieces, want);
    EXPECT_EQ(results, (std::vector<uint32_t>{53, 0, 53, 0, 53, 0, 0, 53, 0, 53, 53, 0, 0}));
    GCCloseConversion(h);
}

TEST_F(Conversion, FullOutputKeepsTheRestOfACharacterForTheNextCall) {
    GCLocale utf8 = gctest::locale_of(codepage("UTF-8"));
    GCLocale ms936 = gctest::locale_of(codepage("MS936"));
    GCCnvDesc* h = GCOpenConversion(&utf8, &ms936);
    const std::string text = "\xC8\xD5";  // 日 in MS936: three bytes of UTF-8
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    uint32_t in_left = 2;
    unsigned char buffer[4] = {};
    unsigned char* out = buffer;
    uint32_t out_left = 2;
    EXPECT_EQ(GCConvertBuffer(h, &out, &out_left, &in, &in_left), GC_BUFFER_FULL);
    EXPECT_EQ(out_left, 0u);
    EXPECT_EQ(in_left, 0u);
    out_left = 0;
    EXPECT_EQ(GCConvertBuffer(h, &out, &out_left, &in, &in_left), GC_BUFFER_FULL);
    out_left = 2;
    EXPECT_EQ(GCConvertBuffer(h, &out, &out_left, &in, &in_left), GC_OK);
    EXPECT_EQ(out_left, 1u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 3), "\xE6\x97\xA5");
    GCCloseConversion(h);
}

TEST_F(Conversion, StatefulTargetGetsShiftCodesAsIconvWritesThem) {
    GCLocale utf8 = gctest::locale_of(codepage("UTF-8"));
    GCLocale ibm = gctest::locale_of(codepage("IBM939"));
    const std::string text =
        "AB\xE6\x97\xA5\xE6\x9C\xAC"
        "C\xE8\xAA\x9E"
        "D";  // AB日本C語D
    gctest::Iconv iconv("IBM939", "UTF-8");
    const std::string want = iconv.run(text.data(), text.size()).value();
    GCCnvDesc* h = GCOpenConversion(&ibm, &utf8);
    std::string got(64, '\0');
    auto* out = reinterpret_cast<unsigned char*>(got.data());
    uint32_t out_left = 64;
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    uint32_t in_left = static_cast<uint32_t>(text.size());
    EXPECT_EQ(GCConvertBuffer(h, &out, &out_left, &in, &in_left), GC_OK);
    got.resize(64 - out_left);
    EXPECT_EQ(got, want);
    // And back, the shift codes read.
    GCCnvDesc* back = GCOpenConversion(&utf8, &ibm);
    std::string again(64, '\0');
    out = reinterpret_cast<unsigned char*>(again.data());
    out_left = 64;
    in = reinterpret_cast<const unsigned char*>(got.data());
    in_left = static_cast<uint32_t>(got.size());
    EXPECT_EQ(GCConvertBuffer(back, &out, &out_left, &in, &in_left), GC_OK);
    again.resize(64 - out_left);
    EXPECT_EQ(again, text);
    GCCloseConversion(h);
    GCCloseConversion(back);
}

TEST_F(Conversion, CaseOfEveryCharacterEachPageHoldsFollowsIcu) {
    std::map<uint32_t, std::pair<uint32_t, uint32_t>> icu;
    for (const std::string& line : gctest::icu_facts("case")) {
        unsigned c, up, lo;
        ASSERT_EQ(std::sscanf(line.c_str(), "%x %x %x", &c, &up, &lo), 3);
        icu[c] = {up, lo};
    }
    ASSERT_GT(icu.size(), 2000u);
    GCObjManager* m = gc::state().ocx;
    for (uint16_t i = m->first[GC_OBJ_CODEPAGE]; i < m->first[GC_OBJ_SORT]; ++i) {
        GCObjEntry* e = GCGetObjFromID(m, GC_OBJ_CODEPAGE, m->table[i].id, 0, nullptr);
        ASSERT_NE(e, nullptr);
        const gc::CodePage cp(e);
        size_t differences = 0;
        std::string first;
        for (const auto& [c, mapping] : icu) {
            unsigned char bytes[4];
            const uint32_t n = cp.encode(c, bytes, 0);
            if (cp.decode(bytes, n) != c) continue;  // the page does not hold it
            for (int dir = 0; dir < 2; ++dir) {
                const uint32_t target = dir == 0 ? mapping.first : mapping.second;
                unsigned char want[4];
                uint32_t wn = cp.encode(target, want, 0);
                // No mapping the page holds (or, on a stateful page, one in the other state):
                // unchanged.
                if (target == c || cp.decode(want, wn) != target || (cp.stateful() && wn != n)) {
                    std::memcpy(want, bytes, n);
                    wn = n;
                }
                unsigned char got[4];
                const uint32_t gn = n == 1 && cp.cp().maxlen == 1
                                        ? (got[0] = dir == 0 ? cp.cp().upper[bytes[0]] : cp.cp().lower[bytes[0]], 1)
                                    : cp.stateful() && n == 2
                                        ? GCCpMbCaseConvS(e, bytes, got, dir == 0 ? GC_CT_LOWER : GC_CT_UPPER)
                                        : GCCpMbCaseConv(e, bytes, got, dir == 0 ? GC_CT_LOWER : GC_CT_UPPER);
                if (std::string(reinterpret_cast<char*>(got), gn) != std::string(reinterpret_cast<char*>(want), wn)) {
                    if (!differences) {
                        std::ostringstream o;
                        o << "U+" << std::hex << c << (dir == 0 ? " upper" : " lower");
                        first = o.str();
                    }
                    ++differences;
                }
            }
        }
        EXPECT_EQ(differences, 0u) << e->name << ": first " << first;
    }
}

TEST_F(Conversion, TitleCaseDigraphsStepToTheirUpperAndLowerForms) {
    GCObjEntry* utf8 = codepage("UTF-8");
    for (uint32_t title : {0x01C5u, 0x01C8u, 0x01CBu, 0x01F2u}) {
        unsigned char in[4];
        const uint32_t n = GCUnicodeToUTF8(title, in);
        unsigned char out[4];
        uint16_t len;
        ASSERT_EQ(GCCpMbCaseConv(utf8, in, out, GC_CT_LOWER), n);
        EXPECT_EQ(GCUTF8ToUnicode(out, &len), title - 1);
        ASSERT_EQ(GCCpMbCaseConv(utf8, in, out, GC_CT_UPPER), n);
        EXPECT_EQ(GCUTF8ToUnicode(out, &len), title + 1);
    }
    // Case moves across lengths: U+0131 dotless i (two bytes) upper-cases to "I".
    unsigned char out[4];
    EXPECT_EQ(GCCpMbCaseConv(utf8, reinterpret_cast<const unsigned char*>("\xC4\xB1"), out, GC_CT_LOWER), 1u);
    EXPECT_EQ(out[0], 'I');
}

TEST(SpecialCasing, TableHoldsIcusExpandingUpperCaseMappingsRowByRow) {
    std::vector<std::vector<unsigned>> icu;
    for (const std::string& line : gctest::icu_facts("special")) {
        std::istringstream in(line);
        std::vector<unsigned> row;
        for (unsigned v; in >> std::hex >> v;) row.push_back(v);
        row.resize(4, 0);
        icu.push_back(row);
    }
    icu.push_back({0x03A3, 0x03A3, 0, 0});
    std::sort(icu.begin(), icu.end());
    ASSERT_EQ(icu.size(), static_cast<size_t>(GC_SPECIAL_CASING_ROWS));
    for (size_t i = 0; i < icu.size(); ++i) {
        const uint16_t* row = GC_SpecialCasing_Table[i];
        EXPECT_EQ((std::vector<unsigned>{row[0], row[1], row[2], row[3]}), icu[i]) << "row " << i;
        uint16_t r[3];
        EXPECT_EQ(GCGetUnicode3SpecialCase(row[0], &r[0], &r[1], &r[2]), row[3] ? 3u : row[2] ? 2u : 1u);
    }
    EXPECT_EQ(GC_SpecialCasing_Table[0][0], 0x00DF);
    EXPECT_EQ(GC_SpecialCasing_Table[GC_SPECIAL_CASING_ROWS - 1][0], 0xFB17);
    EXPECT_EQ(GCGetUnicode3SpecialCase(u'a', nullptr, nullptr, nullptr), 0u);
}

TEST_F(Conversion, HalfAndFullWidthFormsOfShiftJis) {
    GCObjEntry* sjis = codepage("Shift_JIS");
    EXPECT_EQ(GCCpMbHalfToFullW(sjis, 0xB1), 0x8341u);  // ｱ -> ア
    EXPECT_EQ(GCCpFullToHalfW(sjis, 0x8341), 0xB1u);
    EXPECT_EQ(GCCpMbHalfToFullW(sjis, 'A'), 0x8260u);  // U+FF21
    EXPECT_EQ(GCCpFullToHalfW(sjis, 0x8260), static_cast<uint32_t>('A'));
    EXPECT_EQ(GCCpMbHalfToFullW(sjis, 0x8341), 0u);
}

TEST_F(Conversion, CountingSkipsATruncatedCharacterAndFollowsShiftCodes) {
    GCObjEntry* sjis = codepage("Shift_JIS");
    const auto* text = reinterpret_cast<const unsigned char*>("a\x82\xA0\x82");
    EXPECT_EQ(GCCpStrByteToCharLen(sjis, text, 0, 4), 2u);
    EXPECT_EQ(GCCpStrByteToCharLen(sjis, text, 0, -1), 2u);
    EXPECT_EQ(GCCpStrCharToByteLen(sjis, text, 0, 2), 3u);
    EXPECT_EQ(GCCpStrCharToByteLen(sjis, text, 0, 5), 3u);

    GCObjEntry* ibm = codepage("IBM939");
    const auto* shifted = reinterpret_cast<const unsigned char*>("\xC1\x0E\x45\x41\x45\x42\x0F\xC2");
    EXPECT_EQ(GCCpStrByteToCharLen(ibm, shifted, 0, 8), 4u);
    EXPECT_EQ(GCCpStrCharToByteLen(ibm, shifted, 0, 3), 6u);
    EXPECT_EQ(GCOffsetOfLastShftCodeEx(reinterpret_cast<const unsigned char*>("\x0E\x0F\x0E\xC1"), 0x0F, 0x0E), 2u);
    EXPECT_EQ(GCOffsetOfLastShftCodeEx(reinterpret_cast<const unsigned char*>("\xC1\x0E"), 0x0F, 0x0E), 0u);

    GCUchar units[8];
    EXPECT_EQ(GCCpStrToUnicode(ibm, shifted, 8, units), 4);
    EXPECT_EQ(units[0], u'A');
    EXPECT_EQ(units[3], u'B');
    unsigned char back[16];
    EXPECT_EQ(GCCpUnicodeToStr(ibm, units, 0, 4, back), 8);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(back), 8), std::string(reinterpret_cast<const char*>(shifted), 8));
    EXPECT_EQ(GCCpStrToUnicode(ibm, reinterpret_cast<const unsigned char*>(""), -1, units), -1);
    unsigned char ascii[8];
    const GCUchar abc[] = {u'a', u'\u00E9', 0};
    EXPECT_EQ(GCComUnicodeToStr(abc, -1, ascii), 2);
    EXPECT_STREQ(reinterpret_cast<char*>(ascii), "a?");
    EXPECT_EQ(GCComStrToUnicode(reinterpret_cast<const unsigned char*>("ok"), -1, units), 2);
}

namespace {

struct BadIndex {
    const char* label;
    std::function<void(std::string& s1, std::string& s2)> damage;
};

void PrintTo(const BadIndex& b, std::ostream* os) { *os << b.label; }

class DamagedPage : public ::testing::TestWithParam<BadIndex> {
protected:
    void SetUp() override {
        std::string file = data.read("cp_0031.nls");  // Shift_JIS
        std::string s[4];
        for (int i = 0; i < 4; ++i) s[i] = gctest::section_of(file, i);
        GetParam().damage(s[0], s[1]);
        data.write("cp_0031.nls", gctest::data_file({s[0], s[1], s[2], s[3]}));
        ASSERT_EQ(GCInit(data.path.c_str(), nullptr, nullptr, nullptr, GC_INIT_STRICT), GC_OK);
        uint32_t rc = 0;
        entry = GCGetObjFromID(gc::state().ocx, GC_OBJ_CODEPAGE, 31, 0, &rc);
        ASSERT_NE(entry, nullptr) << rc;
    }
    void TearDown() override { GCTerm(); }
    gctest::DataDir data;
    GCObjEntry* entry = nullptr;
};

}  // namespace

TEST_P(DamagedPage, ConvertsWithoutReadingOutsideItsSectionsAndNeverStandsStill) {
    GCLocale sjis = gctest::locale_of(entry);
    GCLocale utf8 = gctest::locale_of(gctest::Library::codepage("UTF-8"));
    const std::string text = "a\x82\xA0\x81\x40z\x88\x9F";
    char out[64];
    const int n = GCConvertString(&utf8, out, sizeof out, &sjis, text.data(), static_cast<int>(text.size()), 0);
    EXPECT_GT(n, 0);
    EXPECT_EQ(out[0], 'a');
    GCUchar units[16];
    EXPECT_GT(GCStringToUnicode(units, 16, &sjis, text.data(), static_cast<int>(text.size()), 0), 0);
    char back[64];
    EXPECT_GT(GCConvertString(&sjis, back, sizeof back, &utf8, out, n, 0), 0);
    EXPECT_GT(GCCpStrByteToCharLen(entry, reinterpret_cast<const unsigned char*>(text.data()), 0, -1), 0u);
    GCCnvDesc* h = GCOpenConversion(&utf8, &sjis);
    unsigned char buffer[64];
    unsigned char* o = buffer;
    uint32_t out_left = sizeof buffer;
    const auto* in = reinterpret_cast<const unsigned char*>(text.data());
    uint32_t in_left = static_cast<uint32_t>(text.size());
    EXPECT_EQ(GCConvertBuffer(h, &o, &out_left, &in, &in_left), GC_OK);
    GCCloseConversion(h);
    unsigned char cased[4];
    GCCpMbCaseConv(entry, reinterpret_cast<const unsigned char*>("\x82\x81"), cased, GC_CT_LOWER);
    GCGetMbCtype(entry, reinterpret_cast<const unsigned char*>("\x88\x9F"));
    expect_long_texts_as_one_character_calls(entry);
}

TEST_P(DamagedPage, IndexesOutsideTheirSectionGiveReplacementsAndNoType) {
    const std::string label = GetParam().label;
    unsigned char out[4];
    if (label == "NodeBase") {
        EXPECT_EQ(GCCpMbToUnicode(entry, reinterpret_cast<const unsigned char*>("\x88\x9F")), 0xFFFDu);
    }
    if (label == "RowOffsets") {
        EXPECT_EQ(GCCpUnicodeToChar(entry, 0x4E9C, out, 0), 1u);  // 亜
        EXPECT_EQ(out[0], '?');
    }
    if (label == "TypeRecords") {
        const GCCpTypeRec rec = GCGetMbCtype(entry, reinterpret_cast<const unsigned char*>("\x82\x81"));
        EXPECT_EQ(rec.flags, 0u);
        EXPECT_EQ(rec.delta, 0);
    }
    if (label == "ZeroLength") {
        GCLocale sjis = gctest::locale_of(entry);
        GCLocale utf8 = gctest::locale_of(gctest::Library::codepage("UTF-8"));
        char text[] = "\x81\x40z";
        char buffer[16];
        EXPECT_EQ(GCConvertString(&utf8, buffer, sizeof buffer, &sjis, text, 3, GC_STR_TERMINATE), 4);
        EXPECT_STREQ(buffer, "?@z");
        EXPECT_EQ(GCCpStrByteToCharLen(entry, reinterpret_cast<unsigned char*>(text), 0, 3), 3u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Indexes, DamagedPage,
    ::testing::Values(BadIndex{"NodeBase",
                               [](std::string&, std::string& s2) {
                                   // Every node's base far beyond the section.
                                   for (size_t at = 0; at + 6 <= 6 * 300; at += 6) gctest::put16(s2, at + 4, 0xFFF0);
                               }},
                      BadIndex{"RowOffsets",
                               [](std::string& s1, std::string&) {
                                   for (size_t row = 0; row < 256; ++row) {
                                       const size_t at = offsetof(GCCp, enc) + 8 * row;
                                       if (static_cast<uint8_t>(s1[at + 2]) <= static_cast<uint8_t>(s1[at + 3])) {
                                           gctest::put16(s1, at + 4, 0xFFF0);
                                           gctest::put16(s1, at + 6, 0xFFF0);
                                       }
                                   }
                               }},
                      BadIndex{"TypeRecords",
                               [](std::string& s1, std::string&) {
                                   gctest::put32(s1, offsetof(GCCp, recoff), static_cast<uint32_t>(s1.size() - 8));
                               }},
                      BadIndex{"ZeroLength",
                               [](std::string& s1, std::string&) { s1[offsetof(GCCp, len) + 0x81] = 0; }}),
    [](const ::testing::TestParamInfo<BadIndex>& info) { return std::string(info.param.label); });
