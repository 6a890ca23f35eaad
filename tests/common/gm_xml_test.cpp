// XML writer (exact texts and escapes) and readers (single value under HEADER or BODY, leaf
// elements as rows) of the UVSCM request and answer texts.
#include "gm_xml.h"

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "gm_param.h"
#include "joined.h"
#include "os_diag.h"
#include "testbed.h"

using testbed::AgentHomeTest;

namespace {

std::string written(const std::function<void(char*)>& write) {
    std::vector<char> buffer(8192, '\0');
    write(buffer.data());
    return buffer.data();
}

std::vector<std::pair<std::string, std::string>> rows_of(ZPALIST_handle_typ* list) {
    std::vector<std::pair<std::string, std::string>> rows;
    ZPALIST_reset(list);
    void* p = nullptr;
    unsigned int size = 0;
    while (ZPALIST_next_ptr(list, &p, &size) == CM_RC_OK) {
        const char* row = static_cast<const char*>(p);
        EXPECT_EQ(size, GM_XML_ROW_NAME_SIZE + std::strlen(row + GM_XML_ROW_NAME_SIZE) + 1);
        rows.emplace_back(row, row + GM_XML_ROW_NAME_SIZE);
    }
    return rows;
}

// The declaration reads CONFIG through the process's table cache, which is emptied afterwards.
class XmlDocumentTest : public AgentHomeTest {
protected:
    void TearDown() override { GM_PARAM_clear(); }
};

}  // namespace

TEST_F(XmlDocumentTest, EmptyDocumentWithoutI18nDeclaresLatin1) {
    EXPECT_EQ(written([](char* b) {
                  GM_XML_BufInit(b);
                  GM_XML_BufEnd(b);
              }),
              "<?xml version='1.0' encoding='iso-8859-1'?><UVSCM></UVSCM>");
}

TEST_F(XmlDocumentTest, DocumentWithI18nCjkDeclaresUtf8) {
    home.write_file("data/CONFIG.dat", "I18N CJK\n");
    EXPECT_EQ(written([](char* b) {
                  GM_XML_BufInit(b);
                  GM_XML_BufEnd(b);
              }),
              "<?xml version='1.0' encoding='UTF-8'?><UVSCM></UVSCM>");
}

TEST(XmlWriter, GoldenTextsOfElementsAttributesAndEscapes) {
    const char* pairs[] = {"k", "v'1\"<&", "n", "cut\1here", nullptr};
    struct Case {
        const char* label;
        std::function<void(char*)> write;
        const char* text;
    };
    const std::vector<Case> cases = {
        {"element text escapes", [](char* b) { GM_XML_WriteElement(b, "A", "a<b&\"c\"\t", nullptr); },
         "<A>a&lt;b&amp;&quot;c&quot;&#9;</A>"},
        {"line breaks, apostrophe and high bytes kept as such",
         [](char* b) { GM_XML_WriteElement(b, "A", "l1\nl2\r'\xe9", nullptr); }, "<A>l1&#10;l2&#13;'\xe9</A>"},
        {"ready-made attribute text keeps its quotes",
         [](char* b) { GM_XML_WriteElement(b, "ROW", "v", "id=\"1\" name='a&b'\t"); },
         "<ROW id=\"1\" name='a&amp;b'&#9;>v</ROW>"},
        {"ready-made attribute text ends at byte 1", [](char* b) { GM_XML_StartParentElement(b, "P", "x='1'\1y='2'"); },
         "<P x='1'>"},
        {"attribute pairs quoted and escaped, value ends at byte 1",
         [&pairs](char* b) { GM_xml_writeStartElem(b, "E", pairs); }, "<E k='v&apos;1&quot;&lt;&amp;' n='cut'>"},
        {"parent open and close",
         [](char* b) {
             GM_XML_StartParentElement(b, "BODY", nullptr);
             GM_XML_WriteElement(b, "EMPTY", "", nullptr);
             GM_XML_CloseParentElement(b, "BODY");
         },
         "<BODY><EMPTY></EMPTY></BODY>"},
        {"character data by length", [](char* b) { GM_xml_writeCharacterData(b, "abc>def", 4); }, "abc&gt;"},
        {"header appended as it is", [](char* b) { GM_xml_writeHeader(b, "<?x a&b?>"); }, "<?x a&b?>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        EXPECT_EQ(written(c.write), c.text);
    }
}

TEST(XmlWriter, DuplicateCopiesTheFirstElementOfThatName) {
    const char* source = "<UVSCM><ROW><A>1</A></ROW><ROW><A>2</A></ROW></UVSCM>";
    EXPECT_EQ(written([&](char* b) { EXPECT_EQ(GM_XML_DuplicateParentElement(source, b, "ROW"), 1); }),
              "<ROW><A>1</A></ROW>");
    EXPECT_EQ(written([&](char* b) { GM_XML_DuplicateParentElement(source, b, "NONE"); }), "");
    EXPECT_EQ(written([&](char* b) { GM_XML_DuplicateParentElement("</X><X>", b, "X"); }), "</X>");
}

namespace {

constexpr const char* kRequest =
    "<?xml version='1.0' encoding='iso-8859-1'?>\n"
    "<UVSCM>\n"
    "<HEADER><ACTION type='list' page='2'>GetPrinters</ACTION><ID>h</ID></HEADER>\n"
    "<BODY><ID>first</ID><ID>last</ID><NAME>a&amp;b</NAME></BODY>\n"
    "</UVSCM>";

struct Outputs {
    char value[64] = "untouched";
    char att_name[32] = "untouched";
    char att_value[32] = "untouched";
};

}  // namespace

TEST(XmlReader, SingleValuesUnderHeaderAndBodyTable) {
    struct Case {
        const char* label;
        bool header;
        const char* element;
        const char* value;
        const char* att_name;
        const char* att_value;
    };
    const std::vector<Case> cases = {
        {"header value and its last attribute", true, "ACTION", "GetPrinters", "page", "2"},
        {"same name, other parent", true, "ID", "h", "untouched", "untouched"},
        {"last of several occurrences", false, "ID", "last", "untouched", "untouched"},
        {"references resolved", false, "NAME", "a&b", "untouched", "untouched"},
        {"missing element leaves outputs", false, "ACTION", "untouched", "untouched", "untouched"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Outputs out;
        auto parse = c.header ? GM_XML_ParseHeader : GM_XML_ParseBody;
        EXPECT_EQ(parse(kRequest, c.element, out.value, sizeof out.value, out.att_name, sizeof out.att_name,
                        out.att_value, sizeof out.att_value),
                  1);
        EXPECT_STREQ(out.value, c.value);
        EXPECT_STREQ(out.att_name, c.att_name);
        EXPECT_STREQ(out.att_value, c.att_value);
    }
}

TEST(XmlReader, OutputsAreCutAtTheirSizes) {
    const std::string long_action(100, 'A');
    const std::string long_attr(50, 'v');
    const std::string xml = "<UVSCM><HEADER><ACTION " + std::string(40, 'n') + "='" + long_attr + "'>" + long_action +
                            "</ACTION></HEADER></UVSCM>";
    char value[64];
    char att_name[8];
    char att_value[16];
    ASSERT_EQ(GM_XML_ParseHeader(xml.c_str(), "ACTION", value, sizeof value, att_name, sizeof att_name, att_value,
                                 sizeof att_value),
              1);
    EXPECT_EQ(std::string(value), long_action.substr(0, 63));
    EXPECT_EQ(std::string(att_name), std::string(7, 'n'));
    EXPECT_EQ(std::string(att_value), long_attr.substr(0, 15));
}

TEST(XmlReader, WantedNamesAreCutAt31Characters) {
    const std::string name31(31, 'e');
    const std::string name40(40, 'e');
    const std::string xml =
        "<UVSCM><BODY><" + name31 + ">short</" + name31 + "><" + name40 + ">long</" + name40 + "></BODY></UVSCM>";
    Outputs out;
    ASSERT_EQ(GM_XML_ParseBody(xml.c_str(), name40.c_str(), out.value, sizeof out.value, out.att_name,
                               sizeof out.att_name, out.att_value, sizeof out.att_value),
              1);
    EXPECT_STREQ(out.value, "short");
}

TEST_F(AgentHomeTest, MalformedTextFailsWithItsLineInTheLog) {
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(1);
    Outputs out;
    const char* xml = "<UVSCM>\n<BODY>\n<ID>1</NAME>\n</BODY></UVSCM>";
    EXPECT_EQ(GM_XML_ParseBody(xml, "ID", out.value, sizeof out.value, out.att_name, sizeof out.att_name, out.att_value,
                               sizeof out.att_value),
              2);
    EXPECT_NE(testbed::read_diag_log("Oebs_CM").find("Parse error at line 3:\nmismatched tag\n"), std::string::npos);
}

TEST(XmlReader, MissingOrSizelessOutputsAreRefused) {
    Outputs out;
    EXPECT_EQ(GM_XML_ParseHeader(kRequest, "ACTION", nullptr, 64, out.att_name, 32, out.att_value, 32), 2);
    EXPECT_EQ(GM_XML_ParseBody(kRequest, "ID", out.value, 0, out.att_name, 32, out.att_value, 32), 2);
    EXPECT_EQ(GM_XML_ParseByParentElement(kRequest, "ID", "BODY", out.value, 64, nullptr, 32, out.att_value, 32), 2);
    EXPECT_STREQ(out.value, "untouched");
}

TEST(XmlReader, LeafElementsUnderTheParentBecomeRowsInDocumentOrder) {
    using Rows = std::vector<std::pair<std::string, std::string>>;
    const std::pair<const char*, Rows> cases[] = {
        {"<UVSCM><HEADER><ACTION>x</ACTION></HEADER><BODY><a>1</a><b/><grp><c>3</c></grp><d>mixed&lt;</d></BODY>"
         "</UVSCM>",
         {{"a", "1"}, {"b", ""}, {"c", "3"}, {"d", "mixed<"}}},
        // An element with a child gives no row, whatever text stands around the child.
        {"<BODY><a>1<b>2</b>3</a><c>4</c></BODY>", {{"b", "2"}, {"c", "4"}}},
        // An element named like the parent inside it ends the parent's part at its own end.
        {"<R><BODY><a>1</a><BODY><b>2</b></BODY><c>3</c></BODY></R>", {{"a", "1"}, {"b", "2"}}},
    };
    for (const auto& [xml, expected] : cases) {
        ZPALIST_handle_typ list{};
        ASSERT_EQ(GM_XML_ParseBuf2List(xml, "BODY", &list), 1) << xml;
        EXPECT_EQ(rows_of(&list), expected) << xml;
        ZPALIST_clear(&list);
    }
}

TEST_F(AgentHomeTest, OverLongLeafNamesAndTextsAreSkippedAndFailTheParse) {
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(1);
    struct Case {
        std::string xml;
        const char* line;
    };
    const std::string long_name(32, 'n');
    const std::vector<Case> cases = {
        {"<P><a>1</a><big>" + std::string(3000, 'x') + "</big><z>2</z></P>", "xml element value too long: 3000"},
        {"<P><a>1</a><" + long_name + ">v</" + long_name + "><z>2</z></P>", "xml element name too long: 32"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        ZPALIST_handle_typ list{};
        EXPECT_EQ(GM_XML_ParseBuf2List(c.xml.c_str(), "P", &list), 2);
        const std::vector<std::pair<std::string, std::string>> kept = {{"a", "1"}, {"z", "2"}};
        EXPECT_EQ(rows_of(&list), kept);
        ZPALIST_clear(&list);
        EXPECT_NE(testbed::read_diag_log("Oebs_CM").find(c.line), std::string::npos);
    }
    // The longest text that fits is kept whole.
    ZPALIST_handle_typ list{};
    const std::string fits = "<P><a>" + std::string(2047, 'x') + "</a></P>";
    EXPECT_EQ(GM_XML_ParseBuf2List(fits.c_str(), "P", &list), 1);
    EXPECT_EQ(rows_of(&list).at(0).second.size(), 2047u);
    ZPALIST_clear(&list);
}

// One process reads text after text (the parser of one read serves the next): each read gives
// what its own text holds, after a text the parser refused, one in another encoding, a long one
// of many names, or one too big for the parser to be kept.
TEST(XmlReader, EachReadOfASeriesGivesItsOwnText) {
    using Rows = std::vector<std::pair<std::string, std::string>>;
    std::string big = "<P>";
    for (int i = 0; i < 60000; ++i) big += "<v>" + std::string(12, 'b') + "</v>";
    big += "<last>z</last></P>";
    // Longer than a request: 1,500 names, each value split around an entity reference.
    std::string many = "<P>";
    Rows many_rows;
    for (int i = 0; i < 1500; ++i) {
        const std::string name = testbed::joined("n", i);
        many += testbed::joined("<", name, ">a&amp;", i, "</", name, ">");
        many_rows.emplace_back(name, testbed::joined("a&", i));
    }
    many += "</P>";
    struct Read {
        std::string xml;
        const char* encoding;  // through GM_XML_ParseBuf2ListByEncoding when set
        int rc;
        Rows rows;
    };
    const std::vector<Read> reads = {
        {"<P><a>1</a><b>2</b></P>", nullptr, 1, {{"a", "1"}, {"b", "2"}}},
        {"<P><a>1</a><b>2</P>", nullptr, 2, {{"a", "1"}}},
        {"<P><c>\xe9</c></P>", "ISO-8859-1", 1, {{"c", "\xc3\xa9"}}},
        {"<P><d>4</d></P>", nullptr, 1, {{"d", "4"}}},
        {many, nullptr, 1, many_rows},
        {big, nullptr, 1, {}},
        {"<?xml version='1.0' encoding='iso-8859-1'?><P><e>\xe9</e></P>", nullptr, 1, {{"e", "\xc3\xa9"}}},
        {many, nullptr, 1, many_rows},
    };
    for (int round = 0; round < 2; ++round) {
        for (const Read& read : reads) {
            SCOPED_TRACE(read.xml.substr(0, 40));
            ZPALIST_handle_typ list{};
            const CM_RC rc = read.encoding ? GM_XML_ParseBuf2ListByEncoding(read.xml.c_str(), "P", &list, read.encoding)
                                           : GM_XML_ParseBuf2List(read.xml.c_str(), "P", &list);
            EXPECT_EQ(rc, read.rc);
            const Rows rows = rows_of(&list);
            if (read.xml == big) {
                ASSERT_EQ(rows.size(), 60001u);
                EXPECT_EQ(rows.back(), (std::pair<std::string, std::string>("last", "z")));
            } else {
                EXPECT_EQ(rows, read.rows);
            }
            ZPALIST_clear(&list);
            Outputs out;
            EXPECT_EQ(
                GM_XML_ParseByParentElement("<R><P><x>v</x></P></R>", "x", "P", out.value, sizeof out.value,
                                            out.att_name, sizeof out.att_name, out.att_value, sizeof out.att_value),
                1);
            EXPECT_STREQ(out.value, "v");
        }
    }
}

TEST(XmlReader, TwoThreadsParseAtOnceWithoutMixingTheirResults) {
    auto worker = [](const std::string& tag, bool* ok) {
        const std::string xml = "<UVSCM><BODY><V>" + tag + "</V><W>" + tag + "</W></BODY></UVSCM>";
        for (int i = 0; i < 300 && *ok; ++i) {
            Outputs out;
            ZPALIST_handle_typ list{};
            *ok = GM_XML_ParseBody(xml.c_str(), "V", out.value, sizeof out.value, out.att_name, sizeof out.att_name,
                                   out.att_value, sizeof out.att_value) == 1 &&
                  out.value == tag && GM_XML_ParseBuf2List(xml.c_str(), "BODY", &list) == 1 &&
                  rows_of(&list).size() == 2 && rows_of(&list)[1].second == tag;
            ZPALIST_clear(&list);
        }
    };
    bool ok1 = true, ok2 = true;
    std::thread t1(worker, std::string(20, 'a'), &ok1);
    std::thread t2(worker, std::string(30, 'b'), &ok2);
    t1.join();
    t2.join();
    EXPECT_TRUE(ok1);
    EXPECT_TRUE(ok2);
}
