// Text layer of the security library: UTF-8 and UTF-16 conversion (also of cut-short input), the
// native copies, the password readers over a pseudo-terminal, and the mode with a globalization
// table, through a fake table with a catalog and a recording stream.
#include <gtest/gtest.h>

#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "ess_time.h"
#include "globalchelper.h"
#include "testbed.h"

namespace {

using Units = std::vector<GCUchar>;
using Bytes = std::string;

TEST(EssUtf, Utf16ToUtf8) {
    struct Case {
        Units in;
        Bytes out;
    };
    const Case cases[] = {
        {{0x41}, "A"},
        {{0xE9}, "\xC3\xA9"},
        {{0x20AC}, "\xE2\x82\xAC"},
        {{0x7FF, 0x800}, "\xDF\xBF\xE0\xA0\x80"},
    };
    for (const auto& c : cases) {
        char buf[16] = {};
        const int n = UTF16_to_UTF8(buf, sizeof buf, c.in.data(), static_cast<int>(c.in.size()));
        EXPECT_EQ(Bytes(buf, static_cast<size_t>(n)), c.out);
        EXPECT_EQ(UTF16_to_UTF8(nullptr, 0, c.in.data(), static_cast<int>(c.in.size())),
                  static_cast<int>(c.out.size()));
    }
    const GCUchar euro[] = {0x20AC, 0};
    char small[3];
    EXPECT_EQ(UTF16_to_UTF8(small, sizeof small, euro, -1), -2);
    EXPECT_EQ(UTF16_to_UTF8(nullptr, 4, euro, -1), -1);
    EXPECT_EQ(UTF16_to_UTF8(small, 3, nullptr, -1), 0);

    testbed::StdoutCapture out;
    const GCUchar lone[] = {0xD800};
    char buf[4];
    EXPECT_EQ(UTF16_to_UTF8(buf, sizeof buf, lone, 1), 3);
    EXPECT_EQ(out.text(), "WARNING encountered part of a surrogate pair : ignoring");
}

TEST(EssUtf, Utf8ToUtf16) {
    struct Case {
        Bytes in;
        Units out;
        const char* warning;
    };
    const Case cases[] = {
        {"A\xC3\xA9", {0x41, 0xE9}, ""},
        {"\xE2\x82\xAC", {0x20AC}, ""},
        {"\xF0\x9F\x98\x80"
         "A",
         {'?', 'A'},
         "WARNING: got surrogate pair; ignoring"},
        {"a\x80z", {'a', 'z'}, "WARNING: invalid byte value 0x80 in UTF-8 sequence, ignoring it!\n"},
    };
    for (const auto& c : cases) {
        testbed::StdoutCapture out;
        GCUchar buf[8];
        const int n = UTF8_to_UTF16(buf, 8, c.in.data(), static_cast<int>(c.in.size()));
        EXPECT_EQ(Units(buf, buf + (n < 0 ? 0 : n)), c.out);
        EXPECT_EQ(out.text(), c.warning);
    }
    GCUchar buf[4];
    EXPECT_EQ(UTF8_to_UTF16(nullptr, 0, "ab", -1), 3);  // with the terminator
    EXPECT_EQ(UTF8_to_UTF16(buf, 2, "abc", -1), -2);
    EXPECT_EQ(UTF8_to_UTF16(buf, 4, nullptr, -1), -1);
    EXPECT_EQ(UTF8_to_UTF16(nullptr, 4, "a", -1), -1);
    ASSERT_EQ(UTF8_to_UTF16(buf, 4, "ab", -1), 3);
    EXPECT_EQ(buf[2], 0);
}

// Inputs in blocks of their exact size, so that the sanitizer catches a read past them.
TEST(EssUtf, CutShortSequencesReadNothingPastTheEnd) {
    struct Case {
        std::vector<unsigned char> bytes;
        int length;  // -1: the bytes hold their terminator
        Units out;
    };
    const Case cases[] = {
        {{'a', 0xC3, 0}, -1, {'a', 0}}, {{0xE2, 0x82, 0}, -1, {0}}, {{'x', 0xF0, 0x9F}, 3, {'x'}},
        {{0xF0, 0x9F}, 2, {}},          {{0xFF, 'a'}, 2, {}},       {{0xC3, 0xA9}, 2, {0xE9}},
    };
    for (const auto& c : cases) {
        auto* in = static_cast<char*>(std::malloc(c.bytes.size()));
        std::memcpy(in, c.bytes.data(), c.bytes.size());
        testbed::StdoutCapture quiet;
        GCUchar buf[8];
        const int needed = UTF8_to_UTF16(nullptr, 0, in, c.length);
        const int n = UTF8_to_UTF16(buf, 8, in, c.length);
        EXPECT_EQ(Units(buf, buf + (n < 0 ? 0 : n)), c.out);
        EXPECT_GE(needed, n);
        std::free(in);
    }
}

TEST(EssUtf, NativeCopiesWithoutATable) {
    char out[8];
    const char* twenty = "abcdefghijklmnopqrst";
    EXPECT_EQ(EssUtf8ToNativeString(out, sizeof out, twenty), 8);
    EXPECT_STREQ(out, "abcdefg");
    EXPECT_EQ(EssNativeStringToUtf8(out, sizeof out, "abc"), 3);
    char* text = EssGetUtf8String(157, "default text");
    EXPECT_STREQ(text, "default text");
    std::free(text);
    EXPECT_EQ(EssGlobalcInit(), -1);
    char buf[32];
    EXPECT_EQ(EssGlobalcUtf8Sprintf(buf, sizeof buf, 160, "empty: %s", "lib.so"), 13);
    EXPECT_STREQ(buf, "empty: lib.so");
}

TEST(EssUtf, WriteStringTakesItsBytesAsData) {
    testbed::StdoutCapture out;
    EXPECT_EQ(EssGlobalcWriteString("100%s", 5), 5);
    EXPECT_EQ(EssGlobalcWriteString("ab\0cd", 5), 5);
    EXPECT_EQ(out.text(), std::string("100%sab\0cd", 10));
}

// Standard input on the slave side of a pseudo-terminal while alive; the test types on the master.
class PtyStdin {
public:
    PtyStdin() {
        EXPECT_EQ(openpty(&master_, &slave_, nullptr, nullptr, nullptr), 0);
        saved_ = dup(STDIN_FILENO);
        dup2(slave_, STDIN_FILENO);
    }
    ~PtyStdin() {
        dup2(saved_, STDIN_FILENO);
        close(saved_);
        close(slave_);
        close(master_);
    }
    void type(const std::string& keys) {
        ASSERT_EQ(write(master_, keys.data(), keys.size()), static_cast<ssize_t>(keys.size()));
    }
    bool echo_on() {
        termios t{};
        tcgetattr(slave_, &t);
        return (t.c_lflag & ECHO) != 0;
    }

private:
    int master_ = -1;
    int slave_ = -1;
    int saved_ = -1;
};

TEST(EssPassword, ReadsWithoutEchoAndRestoresTheTerminal) {
    struct Case {
        std::string keys;
        int size;
        std::string read;
    };
    const Case cases[] = {
        {"secret\n", 16, "secret"},
        {"sex\bcret\r", 16, "secret"},
        {"\b\bab\n", 16, "ab"},
        {"abcdefghij\n", 5, "abcd"},
    };
    for (const auto& c : cases) {
        PtyStdin pty;
        ASSERT_TRUE(pty.echo_on());
        pty.type(c.keys);
        char buf[16];
        EXPECT_EQ(gets_psw(buf, c.size), static_cast<int>(c.read.size()));
        EXPECT_EQ(buf, c.read);
        EXPECT_TRUE(pty.echo_on());
    }
    PtyStdin pty;
    pty.type("pw\n");
    testbed::StdoutCapture out;
    char buf[8];
    EXPECT_EQ(EssGlobalcGetsPsw(buf, sizeof buf), 2);
    EXPECT_STREQ(buf, "pw");
    EXPECT_EQ(out.text(), "\n");
}

// A globalization table that answers from a small catalog and records what its streams receive.
struct FakeGlobalc {
    static inline int init_result = 0;
    static inline std::map<int, std::string> catalog;
    static inline std::string written;
    static inline int streams_open = 0;
    static inline int terminated = 0;
    static inline int locale_tag = 0;

    static Globalc_FunctionPtrs table() {
        Globalc_FunctionPtrs t{};
        t.pGCCloseCatalog = [](void*) { return 0; };
        t.pGCReleaseLocale = [](void*) { return 0; };
        t.pGCTerm = []() { return ++terminated, 0; };
        t.pGCInit = [](char*, void*, void*, void*, unsigned int) { return init_result; };
        t.pGCSetLocale = [](const char* name, unsigned int) { return std::string(name) == "en_US.UTF-8" ? 0 : -1; };
        t.pGCGetLocale = [](const char*, unsigned int, unsigned int*) -> void* { return &locale_tag; };
        t.pGCGetLocaleTextInfo = [](void*, int item, char* buf, int size) {
            std::snprintf(buf, static_cast<size_t>(size), "%s", item == 2 || item == 3 ? "en" : "US");
            return 0;
        };
        t.pGCOpenCatalog = [](void*, const char*, const char*, unsigned int*) -> void* { return &catalog; };
        t.pGCGetMessage = [](void*, int, int id, char* buf, int size) {
            auto it = catalog.find(id);
            if (it == catalog.end()) return -1;
            std::snprintf(buf, static_cast<size_t>(size), "%s", it->second.c_str());
            return static_cast<int>(it->second.size());
        };
        t.pGCOpenStream = [](void*, void*, EssGlobalcStreamProc, unsigned int) -> void* {
            return ++streams_open, &written;
        };
        t.pGCCloseStream = [](void*) { return --streams_open, 0; };
        t.pGCByteLength = [](void*, const char*) { return 1; };
        t.pGCWriteChar = [](void* s, const char* ch, int len) {
            static_cast<std::string*>(s)->append(ch, static_cast<size_t>(len));
            return len;
        };
        t.pGCFlushStream = [](void*) { return 0; };
        t.pGCVsprintf = [](void*, char* buf, int size, const char* format, va_list args) {
            return std::vsnprintf(buf, static_cast<size_t>(size), format, args);
        };
        return t;
    }
};

TEST(EssGlobalcTable, InitAcceptsTheWarningResult) {
    static Globalc_FunctionPtrs t = FakeGlobalc::table();
    EssGlobalcSetFunctionPtrs(&t);
    for (int result : {0, 10, 11, -1}) {
        FakeGlobalc::init_result = result;
        EXPECT_EQ(EssGlobalcInit(), result == 0 || result == 10 ? 0 : -1) << result;
        EssGlobalcTerminate();
    }
    EXPECT_EQ(FakeGlobalc::terminated, 2);
}

TEST(EssGlobalcTable, MessagesComeFromTheCatalogUnlessTheIdIsNegative) {
    static Globalc_FunctionPtrs t = FakeGlobalc::table();
    FakeGlobalc::catalog = {{157, "catalog text"}};
    EssGlobalcSetFunctionPtrs(&t);
    ASSERT_EQ(EssGlobalcInit(), 0);
    ASSERT_NE(EssGetCatalog(), nullptr);
    for (auto [id, expected] :
         std::vector<std::pair<int, std::string>>{{157, "catalog text"}, {158, "default"}, {-1, "default"}}) {
        char* text = EssGetUtf8String(id, "default");
        EXPECT_EQ(text, expected) << id;
        std::free(text);
    }
    EssGlobalcTerminate();
    EXPECT_EQ(EssGetCatalog(), nullptr);
}

TEST(EssGlobalcTable, WriteStringGoesThroughTheStreamAsData) {
    static Globalc_FunctionPtrs t = FakeGlobalc::table();
    EssGlobalcSetFunctionPtrs(&t);
    ASSERT_EQ(EssGlobalcInit(), 0);
    EXPECT_EQ(EssGlobalcWriteString("100%s", 5), 5);
    EXPECT_EQ(EssGlobalcPrintf("%d%%", 7), 2);
    EXPECT_EQ(FakeGlobalc::written, "100%s7%");
    EXPECT_EQ(FakeGlobalc::streams_open, 1);
    EssGlobalcTerminate();
    EXPECT_EQ(FakeGlobalc::streams_open, 0);
}

}  // namespace
