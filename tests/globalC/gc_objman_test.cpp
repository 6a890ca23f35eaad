// The object manager over generated and hand-made data: the control table, look-ups by id and by
// name, older data versions read as their version 3 form, and damaged files refused before they
// can be read out of bounds.
#include <cstddef>
#include <functional>
#include <string>

#include "gc_data.h"

namespace {

class ObjectManager : public ::testing::Test {
protected:
    void TearDown() override {
        if (m) GCTermObjManager(m);
    }
    void open(uint32_t options = GC_INIT_STRICT) {
        if (m) GCTermObjManager(m);
        m = GCInitObjManager(data.path.c_str(), options, &rc);
        ASSERT_NE(m, nullptr) << rc;
    }
    GCObjEntry* by_id(uint16_t type, uint16_t id) { return GCGetObjFromID(m, type, id, 0, &rc); }

    gctest::DataDir data;
    GCObjManager* m = nullptr;
    uint32_t rc = 99;
};

std::string builtin_section(uint8_t type, int i) {
    void* sect[4];
    uint32_t sizes[4];
    gc::builtin_sections(type, sect, sizes);
    return sect[i] ? std::string(static_cast<const char*>(sect[i]), sizes[i]) : std::string();
}

}  // namespace

TEST_F(ObjectManager, ControlTableTakesWholeRowsAndFindsEachTypeById) {
    std::string table = gctest::control_row(GC_OBJ_LANGUAGE, 1, "English") +
                        gctest::control_row(GC_OBJ_TERRITORY, 1, "UnitedStates") +
                        gctest::control_row(GC_OBJ_CODEPAGE, 2, "Latin1") + std::string(17, 'x');
    data.write("control.nls", gctest::data_file({table}));
    open();
    EXPECT_EQ(m->count, 3);
    EXPECT_STREQ(by_id(GC_OBJ_LANGUAGE, 1)->name, "English");
    EXPECT_STREQ(by_id(GC_OBJ_TERRITORY, 1)->name, "UnitedStates");
    EXPECT_STREQ(by_id(GC_OBJ_CODEPAGE, 2)->name, "Latin1");
    EXPECT_EQ(rc, GC_OK);
    EXPECT_EQ(by_id(GC_OBJ_CODEPAGE, 1), nullptr);
    EXPECT_EQ(rc, GC_ERR_NOTFOUND);
    EXPECT_EQ(by_id(GC_OBJ_SORT, 1), nullptr);  // no sort in the table: an empty range
    EXPECT_EQ(rc, GC_ERR_NOTFOUND);
    EXPECT_EQ(by_id(GC_OBJ_SORT, 0), nullptr);  // the binary order
    EXPECT_EQ(rc, GC_OK);
}

TEST_F(ObjectManager, EveryGeneratedCodePageIsFoundByIdAndLoads) {
    open();
    for (uint16_t i = m->first[GC_OBJ_CODEPAGE]; i < m->first[GC_OBJ_SORT]; ++i) {
        const GCObjEntry& row = m->table[i];
        GCObjEntry* e = by_id(GC_OBJ_CODEPAGE, row.id);
        ASSERT_EQ(e, &row) << row.name;
        EXPECT_EQ(rc, GC_OK);
        EXPECT_NE(e->sect[0], nullptr) << row.name;
        const auto* cp = static_cast<const GCCp*>(e->sect[0]);
        if (cp->maxlen == 1)
            EXPECT_EQ(gc::section_size(e, 0), GC_CP_FIXED_SIZE) << row.name;
        else
            EXPECT_GT(gc::section_size(e, 0), GC_CP_MB_OFFSET) << row.name;
    }
}

TEST_F(ObjectManager, NamesMatchIgnoringCaseWithOrWithoutTheTerminator) {
    open();
    GCObjEntry* plain = GCGetObjFromName(m, GC_OBJ_TERRITORY, "unitedstates", 12, 1, &rc);
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->sect[0], nullptr);  // noload
    EXPECT_EQ(GCGetObjFromName(m, GC_OBJ_TERRITORY, "UNITEDSTATES", 13, 0, &rc), plain);
    EXPECT_NE(plain->sect[0], nullptr);
    EXPECT_EQ(GCGetObjFromName(m, GC_OBJ_TERRITORY, "UnitedState", 11, 0, &rc), nullptr);
    EXPECT_EQ(rc, GC_ERR_NOTFOUND);
    const uint32_t wide[] = {'L', 'a', 't', 'i', 'n', '1'};
    EXPECT_STREQ(GCGetObjFromNameW(m, GC_OBJ_CODEPAGE, wide, 6, 0, &rc)->name, "Latin1");

    struct Case {
        const char* name;
        uint32_t length;
        uint32_t rc;
    };
    for (const Case& c : {Case{"BINARY", 6, GC_OK}, Case{"binary\0", 7, GC_OK}, Case{"Binary", 6, GC_OK},
                          Case{"BINARYX", 7, GC_ERR_NOTFOUND}, Case{"BINAR", 5, GC_ERR_NOTFOUND}}) {
        EXPECT_EQ(GCGetObjFromName(m, GC_OBJ_SORT, c.name, c.length, 0, &rc), nullptr) << c.name;
        EXPECT_EQ(rc, c.rc) << c.name;
    }
}

TEST_F(ObjectManager, NameOfThirtySixBytesIsCutToThirtyFive) {
    data.write("control.nls", gctest::data_file({gctest::control_row(GC_OBJ_CODEPAGE, 2, std::string(36, 'A'))}));
    open();
    EXPECT_EQ(std::string(m->table[0].name), std::string(35, 'A'));
    EXPECT_NE(GCGetObjFromName(m, GC_OBJ_CODEPAGE, std::string(35, 'A').c_str(), 35, 1, &rc), nullptr);
    EXPECT_EQ(GCGetObjFromName(m, GC_OBJ_CODEPAGE, std::string(36, 'A').c_str(), 36, 1, &rc), nullptr);
}

TEST_F(ObjectManager, GeneratedUsAsciiAndEnglishEqualTheBuiltInObjects) {
    open();
    GCObjEntry* cp = by_id(GC_OBJ_CODEPAGE, 1);
    ASSERT_NE(cp, nullptr);
    EXPECT_FALSE(cp->flags & GC_OBJ_BUILTIN);
    EXPECT_EQ(gctest::loaded_section(cp, 0), builtin_section(GC_OBJ_CODEPAGE, 0));
    EXPECT_EQ(gctest::loaded_section(cp, 2), builtin_section(GC_OBJ_CODEPAGE, 2));
    EXPECT_EQ(gctest::loaded_section(by_id(GC_OBJ_LANGUAGE, 1), 0), builtin_section(GC_OBJ_LANGUAGE, 0));
}

TEST_F(ObjectManager, OlderCodePagesAndHeadersReadAsTheirVersion3Form) {
    open();
    std::string v3[3];
    for (int i = 0; i < 3; ++i) v3[i] = gctest::loaded_section(by_id(GC_OBJ_CODEPAGE, 2), i);
    const std::string language = gctest::loaded_section(by_id(GC_OBJ_LANGUAGE, 1), 0);
    for (const char* version : {"1", "2", "3.2"}) {
        SCOPED_TRACE(version);
        data.generate("cp_0002,la_0001,control", {std::string("cp_0002=") + version, std::string("la_0001=") + version,
                                                  std::string("control=") + version});
        open();
        GCObjEntry* cp = by_id(GC_OBJ_CODEPAGE, 2);
        ASSERT_NE(cp, nullptr) << rc;
        EXPECT_EQ(cp->flags, GC_OBJ_HEAP(1));
        EXPECT_EQ(gctest::loaded_section(cp, 0), v3[0]);
        EXPECT_EQ(gctest::loaded_section(cp, 1), v3[1]);
        EXPECT_EQ(gctest::loaded_section(cp, 2), v3[2]);
        EXPECT_EQ(gctest::loaded_section(by_id(GC_OBJ_LANGUAGE, 1), 0), language);
    }
}

TEST(OlderFormats, Version2SingleBytePageBecomes4388BytesWithZeroOffsets) {
    std::string v2(sizeof(GCCpV2), '\x5A');
    v2[offsetof(GCCp, maxlen)] = 1;
    void* v3 = GCCpV2toV3(v2.data(), static_cast<uint32_t>(v2.size()));
    ASSERT_NE(v3, nullptr);
    const auto* cp = static_cast<const GCCp*>(v3);
    EXPECT_EQ(std::string(static_cast<const char*>(v3), offsetof(GCCp, pad1)), v2.substr(0, offsetof(GCCp, pad1)));
    EXPECT_EQ(cp->flags, 0x5A5A);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&cp->mboff), 20), std::string(20, '\0'));
    gc::release(v3);
}

TEST(OlderFormats, Version1MultiBytePageGetsRangedNodesAndMovedValues) {
    std::string s1(sizeof(GCCpV1) + 1024 + 16, '\0');
    auto* old = reinterpret_cast<GCCpV1*>(s1.data());
    old->maxlen = 2;
    old->mboff = sizeof(GCCpV1);
    old->suboff[0] = sizeof(GCCpV1) + 1024;
    old->suboff[1] = sizeof(GCCpV1) + 1032;
    old->suboff[2] = sizeof(GCCpV1) + 1036;
    old->nodesize = 8;
    old->flags = 0x4;
    s1[sizeof(GCCpV1)] = '\x77';  // first full-width value
    // Two nodes, then three values.
    const std::string s2(
        "\x00\xFF\x01\x00"
        "\x01\x7F\x00\x00"
        "\x41\x00\x42\x00\x43\x00",
        14);
    void* new2 = nullptr;
    void* v3 = GCCpV1toV3(s1.data(), static_cast<uint32_t>(s1.size()), s2.data(), 14, &new2);
    ASSERT_NE(v3, nullptr);
    ASSERT_NE(new2, nullptr);
    const auto* cp = static_cast<const GCCp*>(v3);
    EXPECT_EQ(cp->so, 0x0E);
    EXPECT_EQ(cp->si, 0x0F);
    EXPECT_EQ(cp->flags, 0x4);
    EXPECT_EQ(cp->mboff, GC_CP_MB_OFFSET);
    EXPECT_EQ(static_cast<const uint8_t*>(v3)[GC_CP_MB_OFFSET], 0x77);
    EXPECT_EQ(cp->pairoff, GC_CP_MB_OFFSET + 1024);
    EXPECT_EQ(cp->trieoff, GC_CP_MB_OFFSET + 1032);
    EXPECT_EQ(cp->recoff, GC_CP_MB_OFFSET + 1036);
    EXPECT_EQ(cp->valoff, 24u);
    EXPECT_EQ(gc::cp_v1_section2_size(14, 8), 14u - 8 + 24);
    const std::string nodes(static_cast<const char*>(new2), 30);
    EXPECT_EQ(nodes.substr(0, 12), std::string("\x00\xFF\x00\xFF\x01\x00"
                                               "\x01\x7F\x00\xFF\x00\x00",
                                               12));
    EXPECT_EQ(nodes.substr(24, 6), s2.substr(8));
    gc::release(v3);
    gc::release(new2);
}

TEST(OlderFormats, Version1SortWidensRowsAndMovesItsTables) {
    std::string s1(sizeof(GCSortV1) + 6 * 3 + 14, '\0');
    auto* old = reinterpret_cast<GCSortV1*>(s1.data());
    old->head[0] = 7;
    old->nexp = 1;
    old->row[0] = GCSortRowV1{0, 3, 0x1234};
    old->row[255] = GCSortRowV1{1, 0, 0};
    old->wtoff = sizeof(GCSortV1);
    old->expoff = sizeof(GCSortV1) + 18;
    old->comboff = sizeof(GCSortV1) + 32;
    s1[sizeof(GCSortV1)] = '\x11';
    void* v3 = GCSortV1toV3(s1.data(), static_cast<uint32_t>(s1.size()));
    ASSERT_NE(v3, nullptr);
    const auto* so = static_cast<const GCSort*>(v3);
    EXPECT_EQ(so->head[0], 7);
    EXPECT_EQ(so->nexp, 1);
    EXPECT_EQ(so->row[0].cls, 3);
    EXPECT_EQ(so->row[0].base, 0x1234u);
    EXPECT_EQ(so->row[255].flags, 1);
    EXPECT_EQ(so->wtoff, GC_SORT_FIXED_SIZE);
    EXPECT_EQ(so->expoff, GC_SORT_FIXED_SIZE + 18);
    EXPECT_EQ(so->comboff, GC_SORT_FIXED_SIZE + 32);
    EXPECT_EQ(static_cast<const uint8_t*>(v3)[GC_SORT_FIXED_SIZE], 0x11);
    gc::release(v3);
}

namespace {

struct Damage {
    const char* label;
    const char* file;
    uint8_t type;
    std::function<std::string(const std::string&)> change;
    uint32_t code;
};

// A data file of one section.
std::string with_section(const std::string& section) { return gctest::data_file({section}); }

// A version 3 code-page file with one byte of its section 1 set in place (its other sections stay).
std::function<std::string(const std::string&)> cp_byte(size_t at, uint8_t value) {
    return [=](std::string f) {
        f[gctest::get32(f, 16) + at] = static_cast<char>(value);
        return f;
    };
}

void PrintTo(const Damage& d, std::ostream* os) { *os << d.label; }

class DamagedFile : public ObjectManager, public ::testing::WithParamInterface<Damage> {};

}  // namespace

TEST_P(DamagedFile, IsRefusedWithItsCodeAndReplacedByTheBuiltInUnlessStrict) {
    const Damage& d = GetParam();
    if (d.change)
        data.write(d.file, d.change(data.read(d.file)));
    else
        gctest::fs::remove(data.file(d.file));
    const uint16_t id = static_cast<uint16_t>(std::stoi(std::string(d.file).substr(3, 4)));
    open(GC_INIT_STRICT);
    EXPECT_EQ(by_id(d.type, id), nullptr);
    EXPECT_EQ(rc, d.code);
    open(0);
    GCObjEntry* e = by_id(d.type, id);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(rc, d.code);
    EXPECT_TRUE(e->flags & GC_OBJ_BUILTIN);
    EXPECT_EQ(e->file, nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Files, DamagedFile,
    ::testing::Values(
        Damage{"BadMagic", "cp_0002.nls", GC_OBJ_CODEPAGE,
               [](std::string f) {
                   f[0] = 'X';
                   return f;
               },
               GC_ERR_NOTLOCALE},
        Damage{"TruncatedSection", "cp_0002.nls", GC_OBJ_CODEPAGE,
               [](const std::string& f) { return f.substr(0, f.size() - 100); }, GC_ERR_IO},
        Damage{"TruncatedHeader", "cp_0002.nls", GC_OBJ_CODEPAGE, [](const std::string& f) { return f.substr(0, 40); },
               GC_ERR_IO},
        Damage{"EmptyFile", "cp_0002.nls", GC_OBJ_CODEPAGE, [](const std::string&) { return std::string(); },
               GC_ERR_NOTLOCALE},
        Damage{"ShortCodePage", "cp_0002.nls", GC_OBJ_CODEPAGE,
               [](const std::string& f) { return with_section(gctest::section_of(f, 0).substr(0, 4387)); },
               GC_ERR_NOTLOCALE},
        Damage{"PairTableOutsideTheSection", "cp_0002.nls", GC_OBJ_CODEPAGE,
               [](const std::string& f) {
                   std::string s = gctest::section_of(f, 0);
                   gctest::put16(s, offsetof(GCCp, npairs), 1);
                   gctest::put32(s, offsetof(GCCp, pairoff), 4384);
                   return with_section(s);
               },
               GC_ERR_NOTLOCALE},
        // Lengths that would overrun the conversions' buffers (pending bytes, wide codes, the output
        // of a case conversion): each is checked against the page's maximum, and that against four.
        Damage{"LengthEntryAboveTheMaximum", "cp_0031.nls", GC_OBJ_CODEPAGE, cp_byte(offsetof(GCCp, len) + 0x81, 60),
               GC_ERR_NOTLOCALE},
        Damage{"MaximumLengthAboveFour", "cp_0031.nls", GC_OBJ_CODEPAGE, cp_byte(offsetof(GCCp, maxlen), 9),
               GC_ERR_NOTLOCALE},
        Damage{"LengthEntryAndMaximumAboveFour", "cp_0031.nls", GC_OBJ_CODEPAGE,
               [](const std::string& f) {
                   return cp_byte(offsetof(GCCp, len) + 0x81, 9)(cp_byte(offsetof(GCCp, maxlen), 9)(f));
               },
               GC_ERR_NOTLOCALE},
        Damage{"LengthEntryOnASingleBytePage", "cp_0002.nls", GC_OBJ_CODEPAGE, cp_byte(offsetof(GCCp, len) + 'A', 2),
               GC_ERR_NOTLOCALE},
        Damage{"NoMaximumLength", "cp_0002.nls", GC_OBJ_CODEPAGE, cp_byte(offsetof(GCCp, maxlen), 0), GC_ERR_NOTLOCALE},
        Damage{"LeadByteRuleOnASingleBytePage", "cp_0002.nls", GC_OBJ_CODEPAGE,
               cp_byte(offsetof(GCCp, flags), GC_CP_ASCII | GC_CP_LEADBYTE), GC_ERR_NOTLOCALE},
        Damage{"ShortLanguage", "la_0001.nls", GC_OBJ_LANGUAGE,
               [](const std::string& f) { return with_section(gctest::section_of(f, 0).substr(0, 101)); },
               GC_ERR_NOTLOCALE},
        Damage{"LanguageTextOutsideTheSection", "la_0001.nls", GC_OBJ_LANGUAGE,
               [](const std::string& f) {
                   std::string s = gctest::section_of(f, 0);
                   gctest::put16(s, 2 * (5 + 3), static_cast<uint16_t>(s.size() + 1));
                   return with_section(s);
               },
               GC_ERR_NOTLOCALE},
        Damage{"TerritoryTextOutsideTheSection", "te_0001.nls", GC_OBJ_TERRITORY,
               [](const std::string& f) {
                   std::string s = gctest::section_of(f, 0);
                   gctest::put16(s, 44, static_cast<uint16_t>(s.size() + 2));
                   return with_section(s);
               },
               GC_ERR_NOTLOCALE},
        Damage{"MissingFile", "cp_0002.nls", GC_OBJ_CODEPAGE, nullptr, GC_ERR_NOFILE}),
    [](const ::testing::TestParamInfo<Damage>& info) { return std::string(info.param.label); });

TEST_F(ObjectManager, ControlFileWithATableBeyondItsEndIsRefused) {
    const std::string control = data.read("control.nls");
    data.write("control.nls", control.substr(0, control.size() - 80));
    EXPECT_EQ(GCInitObjManager(data.path.c_str(), GC_INIT_STRICT, &rc), nullptr);
    EXPECT_EQ(rc, GC_ERR_IO);
    m = GCInitObjManager(data.path.c_str(), 0, &rc);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(rc, GC_ERR_IO);
    EXPECT_EQ(m->count, 3);
}

TEST_F(ObjectManager, UnloadReleasesEverySectionAndLoadingAgainWorks) {
    data.generate("cp_0002", {"cp_0002=1"});
    open();
    GCObjEntry* e = by_id(GC_OBJ_CODEPAGE, 2);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(GCUnloadObj(m, e), GC_OK);
    EXPECT_EQ(e->sect[0], nullptr);
    EXPECT_EQ(e->file, nullptr);
    EXPECT_EQ(GCLoadObj(m, e, &rc), e);
    EXPECT_EQ(gc::section_size(e, 0), GC_CP_FIXED_SIZE);
}
