// Secure-communication interface over the provider stand-in libqelbca.so: argument checks that
// never reach the provider, dispatch of each operation to the entry of its own name with the
// provider's profile, the option wrappers, the password store (also across processes), the error
// texts, and sessions over a socket pair.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bca_api.h"
#include "ess.h"
#include "qel_module.h"
#include "testbed.h"

namespace fs = std::filesystem;

namespace {

std::string signed_module(const std::string& name) { return std::string(APPBRIDGE_ESS_SIGNED_DIR) + "/" + name; }

// A temporary agent home with the provider in ./lib, loaded, and a client profile whose store
// folder is ./data/SSL/sks; the provider's journal is in the home.
class BcaTest : public testbed::AgentHomeTest {
protected:
    void SetUp() override {
        ASSERT_EQ(ESS_Init(), 0);
        fs::create_directories("lib");
        fs::copy_file(signed_module("libqelbca.so"), "lib/libqelbca.so");
        setenv("QELBCA_JOURNAL", (home.path() + "/journal").c_str(), 1);
        int rc = -1;
        module = BCA_LoadModule("lib/libqelbca.so", &rc, 0);
        ASSERT_NE(module, nullptr) << BCA_LoadError();
        profile = make_profile("retries=0");
        ASSERT_NE(profile, nullptr);
        clear_journal();
    }
    void TearDown() override {
        if (profile) BCA_Close(profile);
        if (module) BCA_CloseModule(module);
        ESS_End();
    }
    BCA_PRF* make_profile(const char* mconf) {
        int status = -1;
        std::string host = "localhost";
        std::string dconf = "./data/SSL/sks";
        std::string m = mconf;
        BCA_PRF* p = BCA_CreateClientProfile(module, host.data(), 0, dconf.data(), m.data(), &status);
        EXPECT_EQ(status, 0);
        return p;
    }
    std::vector<std::string> journal() {
        return testbed::lines_of(home.exists("journal") ? home.read_file("journal") : "");
    }
    void clear_journal() { std::remove((home.path() + "/journal").c_str()); }

    ESS_ModuleHandle* module = nullptr;
    BCA_PRF* profile = nullptr;
};

TEST_F(BcaTest, ArgumentChecksNeverReachTheProvider) {
    char buf[8] = "x";
    char name[] = "n";
    int fd = 0;
    void* h = &fd;
    ESS_Option in{};
    ESS_Option out{};
    int len = 1;
    /* A copy of the provider's table without its session-write entry. */
    FunctionPtrs sparse = *module->funcs;
    sparse.BCAF_SessionWrite = nullptr;
    ESS_ModuleHandle sparse_module = *module;
    sparse_module.funcs = &sparse;
    BCA_PRF sparse_profile = *profile;
    sparse_profile.module = &sparse_module;
    BCA_SESSION* fake_session = reinterpret_cast<BCA_SESSION*>(&fd);

    struct Case {
        const char* what;
        std::function<long()> call;
        long expected;
    };
    const std::vector<Case> cases = {
        {"Write of length 0", [&] { return (long)BCA_Write(profile, h, buf, 0); }, -1},
        {"Read without a buffer", [&] { return (long)BCA_Read(profile, h, nullptr, 4); }, -1},
        {"Connect without cname", [&] { return (long)BCA_Connect(profile, 0, h, nullptr, nullptr, nullptr, name); },
         -1},
        {"Connect without sname", [&] { return (long)BCA_Connect(profile, 0, h, nullptr, nullptr, name, nullptr); },
         -1},
        {"Accept without a handle", [&] { return (long)BCA_Accept(profile, 0, nullptr, nullptr, nullptr, name); }, -1},
        {"SessionWrite without its entry",
         [&] { return (long)BCA_SessionWrite(&sparse_profile, fake_session, buf, 1); }, -1},
        {"SessionWrite of length 0", [&] { return (long)BCA_SessionWrite(profile, fake_session, buf, 0); }, -1},
        {"Option without output", [&] { return (long)BCA_Option(profile, &in, nullptr); }, -1},
        {"GetPassword without a label", [&] { return (long)BCA_GetPassword(profile, nullptr, nullptr, nullptr); }, -1},
        {"StorePassword without data", [&] { return (long)BCA_StorePassword(profile, nullptr, 3, "l"); }, -1},
        {"CleanUp of nothing", [&] { return (long)BCA_CleanUp(profile, nullptr); }, -1},
        {"Close(NULL)", [&] { return (long)BCA_Close(nullptr); }, -1},
        {"CloseModule(NULL)", [&] { return (long)BCA_CloseModule(nullptr); }, -1},
        {"IsEstablished(NULL)", [&] { return (long)BCA_IsEstablished(nullptr, h); }, -1},
        {"GetSid(NULL)", [&] { return (long)BCA_GetSid(nullptr, h); }, -1},
        {"Terminate(NULL)", [&] { return (long)BCA_Terminate(nullptr, h); }, -1},
        {"Write(NULL)", [&] { return (long)BCA_Write(nullptr, h, buf, 1); }, -1},
        {"Read(NULL)", [&] { return (long)BCA_Read(nullptr, h, buf, 1); }, -1},
        {"PeerEvent(NULL)", [&] { return (long)BCA_PeerEvent(nullptr, h, buf, 1); }, -1},
        {"LoginUser(NULL)",
         [&] {
             char* pw = name;
             return (long)BCA_LoginUser(nullptr, name, &pw);
         },
         -1},
        {"Option(NULL)", [&] { return (long)BCA_Option(nullptr, &in, &out); }, -1},
        {"SessionOption(NULL)", [&] { return (long)BCA_SessionOption(nullptr, h, &in, &out); }, -1},
        {"GetProtocol(NULL)", [&] { return (long)BCA_GetProtocol(nullptr); }, -1},
        {"Peek(NULL)", [&] { return (long)BCA_Peek(nullptr, h); }, -1},
        {"Impersonate(NULL)", [&] { return (long)BCA_Impersonate(nullptr, h); }, -1},
        {"Revert(NULL)", [&] { return (long)BCA_Revert(nullptr, h); }, -1},
        {"SessionAccept(NULL)", [&] { return (long)BCA_SessionAccept(nullptr, fake_session); }, -1},
        {"SessionConnect(NULL)", [&] { return (long)BCA_SessionConnect(nullptr, fake_session); }, -1},
        {"SessionRead(NULL)", [&] { return (long)BCA_SessionRead(nullptr, fake_session, buf, 1); }, -1},
        {"SessionIsEstablished(NULL)", [&] { return (long)BCA_SessionIsEstablished(nullptr, fake_session); }, -1},
        {"SessionPeek(NULL)", [&] { return (long)BCA_SessionPeek(nullptr, fake_session); }, -1},
        {"GetLogLevel(NULL)", [&] { return (long)BCA_GetLogLevel(nullptr); }, -1},
        {"StorePassword(NULL)", [&] { return (long)BCA_StorePassword(nullptr, "d", 1, "l"); }, -1},
        {"DeletePassword(NULL)", [&] { return (long)BCA_DeletePassword(nullptr, "l"); }, -1},
        {"GetClientName(NULL)",
         [&] {
             int s = 0;
             return (long)(BCA_GetClientName(nullptr, &s) == nullptr && s == -1);
         },
         1},
        {"ErrList(NULL)", [&] { return (long)(BCA_ErrList(nullptr, 1) == nullptr); }, 1},
        {"Log(NULL)", [&] { return (long)(BCA_Log(nullptr, 1, name) == nullptr); }, 1},
        {"Log without text", [&] { return (long)(BCA_Log(profile, 1, nullptr) == nullptr); }, 1},
        {"ReadEvent(NULL)", [&] { return (long)(BCA_ReadEvent(nullptr, h, &len) == nullptr); }, 1},
        {"PacketBuffer(NULL)", [&] { return (long)(BCA_PacketBuffer(nullptr, h, buf, &len) == nullptr); }, 1},
        {"SessionCreate(NULL)",
         [&] { return (long)(BCA_SessionCreate(nullptr, 0, 0, h, nullptr, nullptr, name, name) == nullptr); }, 1},
        {"GetLastProfileError(NULL)", [&] { return (long)(BCA_GetLastProfileError(nullptr) == nullptr); }, 1},
        {"Caps(NULL)", [&] { return (long)(BCA_Caps(nullptr) == nullptr && BCA_Version(nullptr) == nullptr); }, 1},
        {"CreateClientProfile(NULL)",
         [&] {
             int s = 0;
             return (long)(BCA_CreateClientProfile(nullptr, name, 0, name, name, &s) == nullptr && s == -1);
         },
         1},
        {"DumpProfile(NULL) and friends",
         [&] {
             BCA_DumpProfile(nullptr);
             BCA_SetClientName(nullptr, name);
             BCA_SetClientName(profile, nullptr);
             BCA_AddAppCallback(nullptr, h, nullptr);
             BCA_AddHandler(profile, nullptr, nullptr);
             BCA_SessionTerminate(nullptr, fake_session);
             return 0L;
         },
         0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.call(), c.expected) << c.what;
        EXPECT_TRUE(journal().empty()) << c.what;
        clear_journal();
    }
}

TEST_F(BcaTest, EachOperationReachesItsOwnEntryWithTheProvidersProfile) {
    char buf[8] = "abc";
    char name[] = "n";
    int fd = -1;
    void* h = &fd;
    int len = 3;
    int status = 0;
    char* pw = name;
    ASSERT_EQ(BCA_Connect(profile, 0, h, nullptr, nullptr, name, name), 0);
    BCA_SESSION* session = BCA_SessionCreate(profile, 0, 0, h, nullptr, nullptr, name, name);
    ASSERT_NE(session, nullptr);
    clear_journal();
    struct Case {
        const char* entry;
        std::function<void()> call;
    };
    const std::vector<Case> cases = {
        {"DumpProfile", [&] { BCA_DumpProfile(profile); }},
        {"SetClientName", [&] { BCA_SetClientName(profile, name); }},
        {"SetServerName", [&] { BCA_SetServerName(profile, name); }},
        {"GetClientName", [&] { BCA_GetClientName(profile, &status); }},
        {"GetServerName", [&] { BCA_GetServerName(profile, &status); }},
        {"LoginUser", [&] { BCA_LoginUser(profile, name, &pw); }},
        {"GetUserName", [&] { BCA_GetUserName(profile); }},
        {"IsEstablished", [&] { BCA_IsEstablished(profile, h); }},
        {"GetSid", [&] { BCA_GetSid(profile, h); }},
        {"PeerEvent", [&] { BCA_PeerEvent(profile, h, buf, 3); }},
        {"AddAppCallback", [&] { BCA_AddAppCallback(profile, h, nullptr); }},
        {"AddHandler", [&] { BCA_AddHandler(profile, h, nullptr); }},
        {"ReadEvent", [&] { BCA_ReadEvent(profile, h, &len); }},
        {"PacketBuffer", [&] { BCA_PacketBuffer(profile, h, buf, &len); }},
        {"Log", [&] { BCA_Log(profile, 1, name); }},
        {"ErrList", [&] { BCA_ErrList(profile, 1); }},
        {"GetProtocol", [&] { BCA_GetProtocol(profile); }},
        {"Peek", [&] { BCA_Peek(profile, h); }},
        {"Impersonate", [&] { BCA_Impersonate(profile, h); }},
        {"Revert", [&] { BCA_Revert(profile, h); }},
        {"SessionOption", [&] { BCA_GetLastSessionError(profile, h); }},
        {"SessionConnect", [&] { BCA_SessionConnect(profile, session); }},
        {"SessionAccept", [&] { BCA_SessionAccept(profile, session); }},
        {"SessionIsEstablished", [&] { BCA_SessionIsEstablished(profile, session); }},
        {"SessionOptionSess", [&] { BCA_SessionGetLastError(profile, session); }},
        {"SessionPeek", [&] { BCA_SessionPeek(profile, session); }},
        {"SessionImpersonate", [&] { BCA_SessionImpersonate(profile, session); }},
        {"SessionRevert", [&] { BCA_SessionRevert(profile, session); }},
        {"Terminate", [&] { BCA_Terminate(profile, h); }},
        {"SessionTerminate", [&] { BCA_SessionTerminate(profile, session); }},
        {"Option 7", [&] { BCA_SetLogHandler(profile, nullptr, nullptr); }},
        {"Option 8", [&] { BCA_SetLogLevel(profile, 5); }},
        {"Option 9", [&] { EXPECT_EQ(BCA_GetLogLevel(profile), 5); }},
        {"Option 11",
         [&] { BCA_SetProfileAttributeChar(profile, const_cast<char*>("color"), const_cast<char*>("blue")); }},
        {"Option 10", [&] { EXPECT_STREQ(BCA_GetProfileAttributeChar(profile, const_cast<char*>("color")), "blue"); }},
        {"Option 11", [&] { BCA_SetProfileAttributeInt(profile, const_cast<char*>("retries"), 0); }},
        {"Option 10",
         [&] {
             int v = -1;
             BCA_GetProfileAttributeInt(profile, const_cast<char*>("retries"), &v);
             EXPECT_EQ(v, 0);
         }},
        {"Option 12", [&] { BCA_GetLastProfileError(profile); }},
        {"Option 33", [&] { BCA_SetAuthorizationCB(profile, 33, nullptr); }},
    };
    for (const auto& c : cases) {
        c.call();
        EXPECT_EQ(journal(), std::vector<std::string>{c.entry}) << c.entry;
        clear_journal();
    }
    EXPECT_STREQ(BCA_Version(module), "qelbca stand-in 1.0");
    ASSERT_NE(BCA_Caps(module), nullptr);
    EXPECT_STREQ(BCA_ApiVersion(), "BCA Version 1.0|ess3.0.11.0|linux_2.6_x86_64|Aug 11 2011|13:34:03");
}

TEST_F(BcaTest, PasswordStoreKeepsAnyBytesAcrossProcesses) {
    const std::string secret("a\0b\0c", 5);
    ASSERT_EQ(BCA_StorePassword(profile, secret.data(), static_cast<int>(secret.size()), ""), 0);
    char* data = nullptr;
    int length = 0;
    ASSERT_EQ(BCA_GetPassword(profile, &data, &length, ""), 0);
    EXPECT_EQ(std::string(data, static_cast<size_t>(length)), secret);
    EXPECT_EQ(BCA_CleanUp(profile, data), 0);
    EXPECT_EQ(BCA_CleanUp(profile, data), -1);  // given back once

    struct stat st;
    ASSERT_EQ(stat("data/SSL/sks/qelbca.store", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(home.read_file("journal").find(secret), std::string::npos);

    pid_t child = fork();
    if (child == 0) {
        /* Another process with a store of its own reads what this one stored. */
        BCA_PRF* other = make_profile("");
        char* d = nullptr;
        int l = 0;
        const bool same =
            other && BCA_GetPassword(other, &d, &l, "") == 0 && std::string(d, static_cast<size_t>(l)) == secret;
        _exit(same ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    ASSERT_EQ(BCA_DeletePassword(profile, ""), 0);
    data = reinterpret_cast<char*>(0x1);
    length = 77;
    EXPECT_EQ(BCA_GetPassword(profile, &data, &length, ""), -1);
    EXPECT_EQ(data, reinterpret_cast<char*>(0x1));  // untouched by a -1 answer
    EXPECT_EQ(length, 77);
    EXPECT_STREQ(BCA_GetLastProfileError(profile), "stand-in: no secret under ''");
    EXPECT_EQ(BCA_DeletePassword(profile, ""), -1);
}

TEST_F(BcaTest, ErrorTexts) {
    int unknown = 5;
    EXPECT_STREQ(BCA_GetLastSessionError(profile, &unknown), "session not found");
    fs::copy_file(std::string(APPBRIDGE_ESS_UNSIGNED_DIR) + "/libqelbca.so", "lib/unsigned.so");
    int rc = 0;
    EXPECT_EQ(BCA_LoadModule("lib/unsigned.so", &rc, 0), nullptr);
    EXPECT_EQ(rc, -1);
    const std::string refused = BCA_LoadError();
    EXPECT_EQ(refused.rfind("Error: shared library lib/unsigned.so is not signed\n", 0) == 0 ||
                  refused == "Cannot verify module's signature\n",
              true)
        << refused;
    EXPECT_EQ(QEL_VerifyModuleSignature("lib/libqelbca.so", 0), 0);  // clears the loader's own text
    EXPECT_EQ(BCA_LoadError(), refused);                             // the interface keeps its copy
    EXPECT_EQ(BCA_LoadModule(nullptr, &rc, 0), nullptr);
    EXPECT_STREQ(BCA_LoadError(), "Error loading shared lib: (missing), error (missing)\n\n");
}

TEST_F(BcaTest, SessionsPassBytesAfterTheAnswersToCallAgain) {
    BCA_PRF* retrying = make_profile("retries=2");
    ASSERT_NE(retrying, nullptr);
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    char name[] = "agent";
    void* h = &fds[0];  // the connection handle's first field is the socket
    EXPECT_EQ(BCA_Connect(retrying, 0, h, nullptr, nullptr, name, name), ESS_WOULD_BLOCK);
    EXPECT_EQ(BCA_IsEstablished(retrying, h), 0);
    EXPECT_EQ(BCA_Connect(retrying, 0, h, nullptr, nullptr, name, name), ESS_WOULD_BLOCK);
    EXPECT_EQ(BCA_Connect(retrying, 0, h, nullptr, nullptr, name, name), 0);
    EXPECT_EQ(BCA_IsEstablished(retrying, h), 1);
    char out[] = "hello";
    EXPECT_EQ(BCA_Write(retrying, h, out, 5), 5);
    char got[8] = {};
    ASSERT_EQ(read(fds[1], got, sizeof got), 5);
    EXPECT_STREQ(got, "hello");
    ASSERT_EQ(write(fds[1], "back", 4), 4);
    char in[8] = {};
    EXPECT_EQ(BCA_Read(retrying, h, in, sizeof in), 4);
    EXPECT_STREQ(in, "back");
    EXPECT_EQ(BCA_Terminate(retrying, h), 0);
    EXPECT_EQ(BCA_Write(retrying, h, out, 5), -1);
    EXPECT_EQ(BCA_Close(retrying), 0);
    close(fds[0]);
    close(fds[1]);
}

}  // namespace
