// Every code page built, checked against iconv: every single byte, every sequence of each
// multi-byte form together with the bytes just outside its ranges, and every BMP character
// encoded. Older data versions (1 and 2) of one single-byte and one double-byte page must read
// the same. Failures show the first ten differences.
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "gc_data.h"
#include "gc_iconv.h"
#include "gccp_internal.h"

namespace {

using gctest::Seq;

struct Page {
    const char* name;     // name in the control file
    const char* charset;  // iconv's name
    const char* version;  // "" for the generated version 3, else the version written for the test
};

void PrintTo(const Page& p, std::ostream* os) { *os << p.name << (*p.version ? " v" : "") << p.version; }

std::string hex(const Seq& s) {
    std::ostringstream o;
    for (uint8_t b : s) o << std::hex << (b < 16 ? "0" : "") << int(b);
    return o.str();
}

class Differences {
public:
    void add(const std::string& what) {
        if (list_.size() < 10) list_.push_back(what);
        ++count_;
    }
    std::string report() const {
        std::string r = std::to_string(count_) + " differences:";
        for (const auto& d : list_) r += "\n  " + d;
        return r;
    }
    bool empty() const { return count_ == 0; }

private:
    std::vector<std::string> list_;
    size_t count_ = 0;
};

class PageAgainstIconv : public ::testing::TestWithParam<Page> {
protected:
    void SetUp() override {
        const Page& p = GetParam();
        if (*p.version) {
            uint32_t rc = 0;
            GCObjManager* m = GCInitObjManager(data.path.c_str(), GC_INIT_STRICT, &rc);
            ASSERT_NE(m, nullptr);
            const GCObjEntry* e =
                GCGetObjFromName(m, GC_OBJ_CODEPAGE, p.name, static_cast<uint32_t>(strlen(p.name)), 1, &rc);
            ASSERT_NE(e, nullptr);
            char stem[16];
            std::snprintf(stem, sizeof stem, "cp_%04d", e->id);
            GCTermObjManager(m);
            data.generate(stem, {std::string(stem) + "=" + p.version});
        }
        ASSERT_EQ(GCInit(data.path.c_str(), nullptr, nullptr, nullptr, GC_INIT_STRICT), GC_OK);
        uint32_t rc = 0;
        entry =
            GCGetObjFromName(gc::state().ocx, GC_OBJ_CODEPAGE, p.name, static_cast<uint32_t>(strlen(p.name)), 0, &rc);
        ASSERT_NE(entry, nullptr) << rc;
        if (*p.version) {
            ASSERT_TRUE(entry->flags & GC_OBJ_HEAP(1));
        }
    }
    void TearDown() override { GCTerm(); }

    gctest::DataDir data;
    const GCObjEntry* entry = nullptr;
};

// Byte ranges, by lead byte and position, of the sequences that encode BMP characters.
using Ranges = std::map<std::pair<uint8_t, size_t>, std::pair<uint8_t, uint8_t>>;

std::vector<unsigned> around(const Ranges& ranges, uint8_t lead, size_t position) {
    const auto it = ranges.find({lead, position});
    if (it == ranges.end()) return {};
    std::vector<unsigned> bytes;
    const unsigned low = it->second.first > 0 ? it->second.first - 1u : 0u;
    const unsigned high = it->second.second < 255 ? it->second.second + 1u : 255u;
    for (unsigned b = low; b <= high; ++b) bytes.push_back(b);
    return bytes;
}

}  // namespace

TEST_P(PageAgainstIconv, DecodesEveryByteAndSequenceAndEncodesEveryBmpCharacterAsIconvDoes) {
    const Page& p = GetParam();
    const gc::CodePage cp(entry);
    ASSERT_TRUE(cp.ok());
    const bool stateful = cp.stateful();
    const bool utf8 = cp.utf8();
    const bool lead938 = entry->id == gc::kLeadByteCodePage;
    gctest::Iconv to_utf16("UTF-16LE", p.charset);
    gctest::Iconv from_utf16(p.charset, "UTF-16LE");
    Differences diffs;

    // Encoding, and the ranges of each form from the encodings.
    Ranges ranges;
    for (uint32_t u = 0; u <= 0xFFFF; ++u) {
        if (u >= 0xD800 && u <= 0xDFFF) continue;
        auto want = gctest::iconv_encode(from_utf16, static_cast<uint16_t>(u), stateful);
        if (want)
            for (size_t i = 1; i < want->size(); ++i) {
                auto [it, fresh] =
                    ranges.emplace(std::make_pair((*want)[0], i), std::make_pair((*want)[i], (*want)[i]));
                if (!fresh) {
                    it->second.first = std::min(it->second.first, (*want)[i]);
                    it->second.second = std::max(it->second.second, (*want)[i]);
                }
            }
        if (!want || (lead938 && want->size() > 2)) want = Seq{cp.repl()};
        unsigned char out[4];
        const uint32_t n = GCCpUnicodeToChar(entry, u, out, cp.repl());
        const Seq got(out, out + n);
        if (got != *want)
            diffs.add("encode U+" + hex(Seq{uint8_t(u >> 8), uint8_t(u)}) + ": " + hex(got) + " want " + hex(*want));
    }

    auto check = [&](const Seq& seq) {
        Seq input = seq;
        if (stateful && seq.size() == 2) input = Seq{0x0E, seq[0], seq[1], 0x0F};
        std::optional<uint32_t> want = gctest::iconv_decode(to_utf16, input);
        if (want && *want > 0xFFFF && !utf8) want.reset();  // table pages hold BMP values only
        if (lead938 && seq.size() == 4 && seq[0] != 0x81 && seq[0] != 0x82) want.reset();
        const uint32_t got = cp.decode(seq.data(), static_cast<uint32_t>(seq.size()));
        if (got != want.value_or(0xFFFD)) {
            std::ostringstream o;
            o << "decode " << hex(seq) << ": " << std::hex << got << " want " << want.value_or(0xFFFD);
            diffs.add(o.str());
        }
    };

    for (unsigned b0 = 0; b0 < 256; ++b0) {
        const uint8_t lead = static_cast<uint8_t>(b0);
        if (stateful) {
            check(Seq{lead});
            if (lead == 0x0E || lead == 0x0F) continue;
            for (unsigned b1 = 0; b1 < 256; ++b1)
                if (b1 != 0x0E && b1 != 0x0F) check(Seq{lead, static_cast<uint8_t>(b1)});
            continue;
        }
        if (cp.cp().len[lead] <= 1 && !(lead938 && lead >= 0x81 && lead <= 0x84)) {
            check(Seq{lead});
            continue;
        }
        if (utf8) {
            const std::vector<unsigned> edge = {0x7F, 0x80, 0x81, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0};
            const uint32_t n = cp.cp().len[lead];
            std::vector<unsigned> full;
            for (unsigned b = 0x7F; b <= 0xC0; ++b) full.push_back(b);
            if (n == 2)
                for (unsigned b1 = 0; b1 < 256; ++b1) check(Seq{lead, uint8_t(b1)});
            if (n == 3)
                for (unsigned b1 : full)
                    for (unsigned b2 : full) check(Seq{lead, uint8_t(b1), uint8_t(b2)});
            if (n == 4)
                for (unsigned b1 : edge)
                    for (unsigned b2 : edge)
                        for (unsigned b3 : edge) check(Seq{lead, uint8_t(b1), uint8_t(b2), uint8_t(b3)});
            continue;
        }
        for (unsigned b1 = 0; b1 < 256; ++b1) {
            const Seq two{lead, static_cast<uint8_t>(b1), 0, 0};
            const uint32_t n = cp.char_len(two.data(), two.size());
            if (n == 2) {
                check(Seq{lead, uint8_t(b1)});
                continue;
            }
            const std::vector<unsigned> second = around(ranges, lead, 1);
            if (std::find(second.begin(), second.end(), b1) == second.end()) continue;
            for (unsigned b2 : around(ranges, lead, 2)) {
                if (n == 3) {
                    check(Seq{lead, uint8_t(b1), uint8_t(b2)});
                    continue;
                }
                for (unsigned b3 : around(ranges, lead, 3)) check(Seq{lead, uint8_t(b1), uint8_t(b2), uint8_t(b3)});
            }
        }
    }
    EXPECT_TRUE(diffs.empty()) << diffs.report();
}

INSTANTIATE_TEST_SUITE_P(Generated, PageAgainstIconv,
                         ::testing::Values(Page{"US-ASCII", "ASCII", ""}, Page{"Latin1", "ISO-8859-1", ""},
                                           Page{"ISO-8859-2", "ISO-8859-2", ""}, Page{"ISO-8859-4", "ISO-8859-4", ""},
                                           Page{"ISO-8859-5", "ISO-8859-5", ""}, Page{"ISO-8859-6", "ISO-8859-6", ""},
                                           Page{"ISO-8859-7", "ISO-8859-7", ""}, Page{"ISO-8859-8", "ISO-8859-8", ""},
                                           Page{"ISO-8859-9", "ISO-8859-9", ""}, Page{"ISO-8859-14", "ISO-8859-14", ""},
                                           Page{"ISO-8859-15", "ISO-8859-15", ""}, Page{"KOI8-R", "KOI8-R", ""},
                                           Page{"MS1251", "CP1251", ""}, Page{"MS874", "CP874", ""},
                                           Page{"BALTIC", "BALTIC", ""}, Page{"JapanEUC", "EUC-JP", ""},
                                           Page{"Shift_JIS", "SHIFT_JIS", ""}, Page{"MS936", "CP936", ""},
                                           Page{"MS949", "CP949", ""}, Page{"MS950", "CP950", ""},
                                           Page{"EUC-TW", "EUC-TW", ""}, Page{"UTF-8", "UTF-8", ""},
                                           Page{"GB938", "GB18030", ""}, Page{"IBM939", "IBM939", ""}),
                         [](const ::testing::TestParamInfo<Page>& info) {
                             std::string n = info.param.name;
                             for (char& c : n)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return n;
                         });

INSTANTIATE_TEST_SUITE_P(OlderVersions, PageAgainstIconv,
                         ::testing::Values(Page{"Latin1", "ISO-8859-1", "1"}, Page{"Latin1", "ISO-8859-1", "2"},
                                           Page{"Shift_JIS", "SHIFT_JIS", "1"}, Page{"Shift_JIS", "SHIFT_JIS", "2"}),
                         [](const ::testing::TestParamInfo<Page>& info) {
                             return std::string(info.param.name[0] == 'L' ? "Latin1" : "ShiftJis") + "V" +
                                    info.param.version;
                         });
