// Plain-text helpers on the plug-in's XML answers.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "be_def.h"
#include "be_fixture.h"

namespace {

using XmlTextTest = betest::HomeTest;

// Escapes a copy of text in a buffer of the given room; returns the result and the code.
std::pair<std::string, int> escaped(const std::string& text, long room) {
    std::vector<char> buf(static_cast<std::size_t>(std::max<long>(room, static_cast<long>(text.size()) + 1)), '\0');
    std::memcpy(buf.data(), text.c_str(), text.size() + 1);
    int rc = BE_DUZ_replace_XML_chars(buf.data(), room, BE_DUZ_XML_ESCAPE);
    return {buf.data(), rc};
}

std::string unescaped(const std::string& text) {
    std::vector<char> buf(text.begin(), text.end());
    buf.push_back('\0');
    EXPECT_EQ(BE_DUZ_replace_XML_chars(buf.data(), static_cast<long>(buf.size()), BE_DUZ_XML_UNESCAPE), 0);
    return buf.data();
}

TEST(XmlEscape, EscapeAndUnescapeAreInverses) {
    struct Case {
        const char* text;
        const char* escaped;
    } cases[] = {
        {"A<B&'C'", "A&lt;B&amp;&apos;C&apos;"},
        {"&quot;", "&amp;quot;"},
        {"&amp;", "&amp;amp;"},
        {"&lt;&gt;&apos;", "&amp;lt;&amp;gt;&amp;apos;"},
        {"\"<>&'", "&quot;&lt;&gt;&amp;&apos;"},
        {"&&&", "&amp;&amp;&amp;"},
        {"plain text", "plain text"},
        {"", ""},
    };
    for (const Case& c : cases) {
        auto [text, rc] = escaped(c.text, 200);
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(text, c.escaped) << c.text;
        EXPECT_EQ(unescaped(text), c.text) << c.escaped;
    }
}

TEST(XmlEscape, UnescapeDecodesEachEntityOnce) {
    struct Case {
        const char* text;
        const char* plain;
    } cases[] = {
        {"&amp;quot;", "&quot;"},
        {"&amp;amp;", "&amp;"},
        {"a &lt; b &amp;&amp; c &gt; d", "a < b && c > d"},
        {"&unknown; &", "&unknown; &"},
    };
    for (const Case& c : cases) EXPECT_EQ(unescaped(c.text), c.plain) << c.text;
}

TEST(XmlEscape, EscapedTextThatDoesNotFitEmptiesTheBuffer) {
    struct Case {
        const char* text;
        long room;
        const char* result;
        int rc;
    } cases[] = {
        {"A<B&'C'", 40, "A&lt;B&amp;&apos;C&apos;", 0},
        {"A<B&'C'", 10, "", 1},
        {"A<B&'C'", 25, "A&lt;B&amp;&apos;C&apos;", 0},  // 24 characters and the terminator
        {"A<B&'C'", 24, "", 1},
        {"x", 0, "", 1},
        {"", 0, "", 0},
    };
    for (const Case& c : cases) {
        auto [text, rc] = escaped(c.text, c.room);
        EXPECT_EQ(text, c.result) << c.text << " in " << c.room;
        EXPECT_EQ(rc, c.rc) << c.text << " in " << c.room;
    }
}

TEST(XmlTags, ValueWalkReturnsEachInstanceThenNone) {
    char buffer[] = "<ROW><NAME>first</NAME></ROW><ROW><NAME>second</NAME></ROW>";
    char value[BE_DUZ_XML_VALUE_SIZE] = "";
    char* next = BE_DUZ_get_XML_value(buffer, "NAME", value);
    ASSERT_NE(next, nullptr);
    EXPECT_STREQ(value, "first");
    next = BE_DUZ_get_XML_value(next, "NAME", value);
    ASSERT_NE(next, nullptr);
    EXPECT_STREQ(value, "second");
    EXPECT_EQ(BE_DUZ_get_XML_value(next, "NAME", value), nullptr);
    EXPECT_STREQ(value, "second");

    char reversed[] = "</NAME><NAME>x";
    EXPECT_EQ(BE_DUZ_get_XML_value(reversed, "NAME", value), nullptr);
    char empty[] = "<A></A>";
    EXPECT_NE(BE_DUZ_get_XML_value(empty, "A", value), nullptr);
    EXPECT_STREQ(value, "");
}

TEST(XmlTags, ValueLongerThanItsRoomIsCut) {
    std::string text = "<V>" + std::string(BE_DUZ_XML_VALUE_SIZE + 100, 'v') + "</V>";
    std::vector<char> value(BE_DUZ_XML_VALUE_SIZE, 'S');
    ASSERT_NE(BE_DUZ_get_XML_value(text.data(), "V", value.data()), nullptr);
    EXPECT_EQ(std::strlen(value.data()), static_cast<std::size_t>(BE_DUZ_XML_VALUE_SIZE - 1));
}

TEST(XmlTags, FindTagCopiesAWholeElementWithContent) {
    struct Case {
        const char* text;
        const char* tag;
        const char* element;  // null: none
    } cases[] = {
        {"<UVSCM><HEADER><A>1</A></HEADER></UVSCM>", "HEADER", "<HEADER><A>1</A></HEADER>"},
        {"<X> \n\t </X>", "X", nullptr},
        {"<X>", "X", nullptr},
        {"</X>", "X", nullptr},
        {"no tags", "X", nullptr},
    };
    for (const Case& c : cases) {
        char* element = BE_DUZ_find_XML_tag(c.text, c.tag);
        if (c.element) {
            ASSERT_NE(element, nullptr) << c.text;
            EXPECT_STREQ(element, c.element);
        } else {
            EXPECT_EQ(element, nullptr) << c.text;
        }
        std::free(element);
    }
}

TEST(XmlTags, NextTagNameIsTheFirstElementsName) {
    char buffer[] = "  <ITEM>1</ITEM><OTHER/>";
    char name[BE_DUZ_XML_TAG_MAX + 1] = "";
    char* next = BE_DUZ_get_next_tag_name(buffer, name);
    EXPECT_STREQ(name, "ITEM");
    ASSERT_NE(next, nullptr);
    EXPECT_STREQ(next, "<OTHER/>");
    char unclosed[] = "<ITEM>1";
    EXPECT_EQ(BE_DUZ_get_next_tag_name(unclosed, name), nullptr);
    char backwards[] = "> <";
    EXPECT_EQ(BE_DUZ_get_next_tag_name(backwards, name), nullptr);
}

TEST(XmlText, ReplaceWritesEveryOccurrenceWithoutOverlap) {
    struct Case {
        const char* source;
        const char* from;
        const char* to;
        const char* result;
    } cases[] = {
        {"a-b-c", "-", "--", "a--b--c"}, {"aaaa", "aa", "b", "bb"}, {"abc", "", "x", "abc"},
        {"abc", "z", "x", "abc"},        {"", "a", "b", ""},
    };
    for (const Case& c : cases) {
        char dest[64] = "";
        EXPECT_EQ(BE_DUZ_replace(c.source, dest, c.from, c.to), static_cast<long>(std::strlen(c.result)));
        EXPECT_STREQ(dest, c.result);
    }
}

TEST(XmlText, DoublingABufferKeepsItsContentAndZeroesTheNewHalf) {
    long size = 1024;
    char* buffer = BE_DUZ_handle_buffer(B_INIT, nullptr, &size);
    ASSERT_NE(buffer, nullptr);
    std::memset(buffer, 'x', 1024);
    buffer = BE_DUZ_handle_buffer(B_DOUBLE, buffer, &size);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(size, 2048);
    EXPECT_EQ(std::string(buffer, 1024), std::string(1024, 'x'));
    EXPECT_EQ(std::string(buffer + 1024, 1024), std::string(1024, '\0'));
    EXPECT_EQ(BE_DUZ_handle_buffer(B_FREE, buffer, &size), nullptr);
}

TEST_F(XmlTextTest, AnswerBodyFollowsTheRequestsHeader) {
    const char* request =
        "<?xml version='1.0'?><UVSCM><HEADER><ACTION>GetUsers</ACTION></HEADER><BODY><X>1</X></BODY></UVSCM>";
    char answer[1024] = "";
    ZPAError error{};
    ASSERT_EQ(BE_DUZ_init_xml_body(answer, request, &error), 0);
    ASSERT_EQ(BE_DUZ_end_xml_body(answer, &error), 0);
    std::string text(answer);
    EXPECT_NE(text.find("<UVSCM><HEADER><ACTION>GetUsers</ACTION></HEADER><BODY>"), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.size() - std::strlen("</BODY></UVSCM>")), "</BODY></UVSCM>") << text;
    EXPECT_EQ(text.find("<X>"), std::string::npos);
}

}  // namespace
