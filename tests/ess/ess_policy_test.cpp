// Security policies over the configuration provider stand-in: which stanzas are read and in what
// order, policy links and overrides, what reaches the provider (its journal), the refusals (no
// entry, nothing readable, an unsigned or altered provider), the forwarders with and without a
// provider, and the secrets kept out of error texts.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ess.h"
#include "ess_policy.h"
#include "qel_testmod.h"
#include "testbed.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kSite = "./data/SSL/cert/site.plc";
constexpr const char* kApps = "./data/SSL/cert/ag.plc";
constexpr const char* kKeyStore = "./data/SSL/cert/agkeystore.plc";

std::string signed_module(const std::string& name) { return std::string(APPBRIDGE_ESS_SIGNED_DIR) + "/" + name; }

bool resident(const std::string& path) {
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h) dlclose(h);
    return h != nullptr;
}

struct PolicyDeleter {
    void operator()(ESS_Policy* p) const { ESS_Policy_Delete(p); }
};
using PolicyPtr = std::unique_ptr<ESS_Policy, PolicyDeleter>;

// A temporary agent home with the signed providers in ./lib, the library started, and the
// provider's journal and the modules' marker file in the home.
class PolicyTest : public testbed::AgentHomeTest {
protected:
    void SetUp() override {
        ASSERT_EQ(ESS_Init(), 0);
        provider("libqelcfg.so");
        provider("libqelcfgnl.so");
        setenv("QELCFG_JOURNAL", (home.path() + "/journal").c_str(), 1);
        setenv(QEL_TESTMOD_MARKER_ENV, (home.path() + "/marker").c_str(), 1);
        home.write_file(kSite, "[common]\nbindir64 = ./lib\nloglevel=ERROR\n");
    }
    void TearDown() override { ESS_End(); }

    void provider(const std::string& name, const std::string& as = "") {
        fs::create_directories("lib");
        fs::copy_file(signed_module(name), "lib/" + (as.empty() ? name : as), fs::copy_options::overwrite_existing);
    }
    std::vector<std::string> journal() {
        return testbed::lines_of(home.exists("journal") ? home.read_file("journal") : "");
    }
    bool journal_has(const std::string& line) {
        for (const auto& l : journal())
            if (l == line) return true;
        return false;
    }
    PolicyPtr initialised(const char* site, const char* apps, int role, int expected = 0) {
        PolicyPtr p(ESS_Policy_New(site, apps, role));
        EXPECT_NE(p, nullptr);
        if (p) {
            EXPECT_EQ(ESS_Policy_InitSecurityPolicy(p.get()), expected) << ESS_Policy_GetLastError(p.get());
        }
        return p;
    }
    std::string value(ESS_Policy* p, const char* name) {
        const char* v = ESS_Policy_GetValueByName(p, name);
        return v ? v : "(none)";
    }
};

TEST_F(PolicyTest, RolesByIndex) {
    EXPECT_EQ(ESS_Policy_New(kSite, kApps, -1), nullptr);
    EXPECT_EQ(ESS_Policy_New(kSite, kApps, 8), nullptr);
    const char* names[] = {"client",   "server",        "signer",     "verifier",
                           "keystore", "authenticator", "authorizer", "encryptor"};
    for (int role = 0; role < 8; ++role) {
        PolicyPtr p = initialised(kSite, nullptr, role);
        EXPECT_TRUE(journal_has(std::string("SecurityPolicyNew ") + names[role])) << names[role];
        EXPECT_EQ(ESS_Policy_GetLevel(p.get()), 1);
    }
}

TEST_F(PolicyTest, LaterStanzasWinAndBothLocationsArePassed) {
    home.write_file(kSite,
                    "[common]\nbindir64 = ./lib\na = site-common\nb = site-common\n"
                    "[server]\nb = site-role\nc = site-role\n");
    home.write_file(kApps,
                    "[common]\nc = app-common\nd = app-common\n[server]\nd = app-role\n[client]\nd = other-role\n");
    PolicyPtr p = initialised(kSite, kApps, ESS_POLICY_ROLE_SERVER);
    EXPECT_EQ(value(p.get(), "a"), "site-common");
    EXPECT_EQ(value(p.get(), "b"), "site-role");
    EXPECT_EQ(value(p.get(), "c"), "app-common");
    EXPECT_EQ(value(p.get(), "d"), "app-role");
    EXPECT_TRUE(journal_has(std::string("ParamListSet PARAM_site_plc_loc=") + kSite));
    EXPECT_TRUE(journal_has(std::string("ParamListSet PARAM_app_plc_loc=") + kApps));
    EXPECT_EQ(journal().back(), "Init");
    EXPECT_STREQ(ESS_Policy_GetBinDir(p.get()), "./lib");

    /* Only the site's stanzas when the mask says so. */
    PolicyPtr q(ESS_Policy_New(kSite, kApps, ESS_POLICY_ROLE_SERVER));
    ASSERT_EQ(ESS_Policy_InitSecurityPolicyEx(q.get(), ESS_POLICY_SITE_COMMON | ESS_POLICY_SITE_ROLE), 0);
    EXPECT_EQ(value(q.get(), "d"), "(none)");
}

TEST_F(PolicyTest, SiteCommonAloneIsEnough) {
    PolicyPtr p = initialised(kSite, nullptr, ESS_POLICY_ROLE_CLIENT);
    EXPECT_EQ(value(p.get(), "loglevel"), "ERROR");
    PolicyPtr q = initialised(kSite, "./data/SSL/cert/missing.plc", ESS_POLICY_ROLE_CLIENT);
    EXPECT_EQ(value(q.get(), "loglevel"), "ERROR");
}

TEST_F(PolicyTest, APolicyLinkLeadsToTheRoleStanzaOfTheOtherLocation) {
    home.write_file("data/SSL/link/other.plc", "[common]\nx = linked-common\n[client]\nx = linked-role\n");
    home.write_file(kApps, "[common]\npolicy_link = ./data/SSL/link/other.plc\nx = not read\n");
    PolicyPtr p = initialised(kSite, kApps, ESS_POLICY_ROLE_CLIENT);
    EXPECT_EQ(value(p.get(), "x"), "linked-role");
    EXPECT_EQ(value(p.get(), "policy_link"), "./data/SSL/link/other.plc");

    home.write_file(kApps, "[common]\npolicy_link = ./data/SSL/link/missing.plc\n");
    initialised(kSite, kApps, ESS_POLICY_ROLE_CLIENT);  // the site's stanza was read
    PolicyPtr q = initialised(nullptr, kApps, ESS_POLICY_ROLE_CLIENT, ESS_POLICY_UNREADABLE);
}

TEST_F(PolicyTest, RequiredEntryAndReadableStanzas) {
    home.write_file(kSite, "[common]\nloglevel=ERROR\n");
    PolicyPtr p = initialised(kSite, nullptr, ESS_POLICY_ROLE_KEYSTORE, ESS_POLICY_MISSING_ENTRY);
    EXPECT_STREQ(ESS_Policy_GetLastError(p.get()), "Security policy entry keystore does not contain bindir64 entry");
    EXPECT_EQ(ESS_Policy_GetLevel(p.get()), 0);
    EXPECT_EQ(ESS_Policy_GetModule(p.get()), nullptr);

    testbed::StdoutCapture out;
    PolicyPtr q = initialised("./nowhere/site.plc", "./nowhere/ag.plc", ESS_POLICY_ROLE_CLIENT, ESS_POLICY_UNREADABLE);
    const std::string expected =
        "Security policy is either missing or unreadable: ./nowhere/site.plc/common "
        "./nowhere/site.plc/client ./nowhere/ag.plc/common ./nowhere/ag.plc/client";
    EXPECT_STREQ(ESS_Policy_GetLastError(q.get()), expected.c_str());
    EXPECT_EQ(out.text(), expected + "\n");

    /* A location whose stanza address would be cut is not read at all. */
    const std::string deep = "./" + std::string(505, 'd');
    PolicyPtr r = initialised(deep.c_str(), nullptr, ESS_POLICY_ROLE_CLIENT, ESS_POLICY_UNREADABLE);
    PolicyPtr none(ESS_Policy_New(nullptr, "", ESS_POLICY_ROLE_CLIENT));
    EXPECT_EQ(ESS_Policy_InitSecurityPolicy(none.get()), -1);
    EXPECT_EQ(ESS_Policy_InitSecurityPolicy(nullptr), -1);
}

TEST_F(PolicyTest, ModuleNameSelectsTheNlProvider) {
    home.write_file(kApps, "[client]\nmodule_name = default_name_nl\n");
    PolicyPtr p = initialised(kSite, kApps, ESS_POLICY_ROLE_CLIENT);
    ASSERT_NE(p->m_bcfgAPI, nullptr);
    EXPECT_STREQ(p->m_bcfgAPI->pBCFG_GetVersion(p->m_bcfgHandle), "qelcfg stand-in 1.0 nl");
    EXPECT_TRUE(resident("lib/libqelcfgnl.so"));
    EXPECT_FALSE(resident("lib/libqelcfg.so"));
}

TEST_F(PolicyTest, AnUnsignedOrAlteredProviderIsNeverRun) {
    std::string good = testbed::read_whole_file("lib/libqelcfg.so");
    std::string altered = good;
    altered[altered.size() / 2] ^= 0x20;
    const std::string unsigned_file =
        testbed::read_whole_file(std::string(APPBRIDGE_ESS_UNSIGNED_DIR) + "/libqelcfg.so");
    for (const std::string& content : {altered, unsigned_file}) {
        testbed::write_whole_file("lib/libqelcfg.so", content);
        PolicyPtr p = initialised(kSite, nullptr, ESS_POLICY_ROLE_CLIENT, ESS_POLICY_MODULE_FAILED);
        EXPECT_EQ(std::string(ESS_Policy_GetLastError(p.get())).rfind("Unable to load module './lib/libqelcfg.so',", 0),
                  0u);
        EXPECT_FALSE(home.exists("marker"));
        EXPECT_TRUE(journal().empty());
    }
}

TEST_F(PolicyTest, AProviderFailurePassesItsCode) {
    home.write_file(kApps, "[client]\nstandin_fail = Init\n");
    PolicyPtr p = initialised(kSite, kApps, ESS_POLICY_ROLE_CLIENT, -30);
    EXPECT_STREQ(ESS_Policy_GetLastError(p.get()), "stand-in: Init failed as asked");
    EXPECT_STREQ(p->m_strLastError, "stand-in: Init failed as asked");
}

TEST_F(PolicyTest, ForwardersWithoutAProvider) {
    PolicyPtr p(ESS_Policy_New(kSite, nullptr, ESS_POLICY_ROLE_CLIENT));
    ESS_Policy* q = p.get();
    char name[] = "n";
    char buf[8];
    struct IntCase {
        const char* what;
        int result;
        int expected;
    };
    const IntCase ints[] = {
        {"Load", ESS_Policy_Load(q), -1},
        {"Open", ESS_Policy_Open(q), -1},
        {"Close", ESS_Policy_Close(q), -1},
        {"Unload", ESS_Policy_Unload(q), -1},
        {"Shutdown", ESS_Policy_Shutdown(q), -1},
        {"BootStrapEE", ESS_Policy_BootStrapEE(q, name), -1},
        {"SetSecurityLevel", ESS_Policy_SetSecurityLevel(q, 2), -1},
        {"BindEE", ESS_Policy_BindEE(q, name), -1},
        {"BindEE_Ex", ESS_Policy_BindEE_Ex(q, name, 0), -1},
        {"SetPassword", ESS_Policy_SetPassword(q, name), -1},
        {"GetRole", ESS_Policy_GetRole(q), -1},
        {"GetLevel", ESS_Policy_GetLevel(q), 0},
        {"GetLevel(NULL)", ESS_Policy_GetLevel(nullptr), -1},
        {"GetPassword", ESS_Policy_GetPassword(q, buf, sizeof buf), -1},
        {"SetNameValue", ESS_Policy_SetNameValue(q, "other", "v"), -1},
        {"SetNameValue(logfile)", ESS_Policy_SetNameValue(q, "LOGFILE", "x.log"), 0},
        {"GetProviderOptionsMask", static_cast<int>(ESS_Policy_GetProviderOptionsMask(q)), 0},
        {"GetModuleLoadMask", static_cast<int>(ESS_Policy_GetModuleLoadMask(q)), 0},
    };
    for (const auto& c : ints) EXPECT_EQ(c.result, c.expected) << c.what;
    struct PtrCase {
        const char* what;
        const void* result;
    };
    const PtrCase ptrs[] = {
        {"GetModule", ESS_Policy_GetModule(q)},
        {"GetBCA", ESS_Policy_GetBCA(q)},
        {"GetBPW", ESS_Policy_GetBPW(q)},
        {"GetBAA", ESS_Policy_GetBAA(q)},
        {"GetBAZ", ESS_Policy_GetBAZ(q)},
        {"GetLog", ESS_Policy_GetLog(q)},
        {"GetKeyIdentity", ESS_Policy_GetKeyIdentity(q)},
        {"GetService", ESS_Policy_GetService(q)},
        {"GetKeyFile", ESS_Policy_GetKeyFile(q)},
        {"GetValueByName", ESS_Policy_GetValueByName(q, "a")},
        {"GetSecurityPath", ESS_Policy_GetSecurityPath(q)},
        {"GetArgvTab", ESS_Policy_GetArgvTab(q)},
        {"GetSKSPath", ESS_Policy_GetSKSPath(q)},
        {"GetLastError(NULL)", ESS_Policy_GetLastError(nullptr)},
    };
    for (const auto& c : ptrs) EXPECT_EQ(c.result, nullptr) << c.what;
    EXPECT_STREQ(ESS_Policy_GetLastError(q), "");
    ESS_Policy_SetModuleVersion(q, name);  // nothing to reach, nothing happens
    ESS_Policy_FreePtr(q, nullptr);
    EXPECT_STREQ(ESS_Policy_GetVersion(), "_v3.0");
    char location[64];
    EXPECT_STREQ(ESS_Policy_GetDefaultLocation(location, sizeof location, "QEL", "site.plc"),
                 "/etc/QEL/security_policy_v3.0/site.plc");
}

TEST_F(PolicyTest, ProviderWithEmptyLifeCycleEntries) {
    provider("libqelcfg_sparse.so", "libqelcfg.so");
    PolicyPtr p = initialised(kSite, nullptr, ESS_POLICY_ROLE_KEYSTORE);
    for (auto call : {ESS_Policy_Load, ESS_Policy_Open, ESS_Policy_Close, ESS_Policy_Unload, ESS_Policy_Shutdown})
        EXPECT_EQ(call(p.get()), -1);
    EXPECT_EQ(ESS_Policy_GetArgvTab(p.get()), nullptr);
}

TEST_F(PolicyTest, WithAProviderTheLifeCycleAndNamesReachIt) {
    home.write_file(kKeyStore, "[keystore]\npassword = 1234567\nsksdir = ./data/SSL/sks\n");
    PolicyPtr p = initialised(kSite, kKeyStore, ESS_POLICY_ROLE_KEYSTORE);
    EXPECT_EQ(ESS_Policy_Load(p.get()), 0);
    EXPECT_EQ(ESS_Policy_Open(p.get()), 0);
    char* module = ESS_Policy_GetModule(p.get());
    ASSERT_NE(module, nullptr);
    EXPECT_STREQ(module, "./lib/libqelbca.so");
    ESS_Policy_FreePtr(p.get(), module);
    EXPECT_STREQ(ESS_Policy_GetSKSPath(p.get()), "./data/SSL/sks");
    ASSERT_NE(ESS_Policy_GetArgvTab(p.get()), nullptr);
    EXPECT_EQ(ESS_Policy_SetNameValue(p.get(), "color", "blue"), 0);
    EXPECT_EQ(value(p.get(), "color"), "blue");

    char eight[8];
    EXPECT_EQ(ESS_Policy_GetPassword(p.get(), eight, sizeof eight), 0);
    EXPECT_STREQ(eight, "1234567");
    ESS_Policy_SetPassword(p.get(), const_cast<char*>("12345678"));
    EXPECT_EQ(ESS_Policy_GetPassword(p.get(), eight, sizeof eight), -1);
    ESS_Policy_SetLastError(p.get(), "custom %d", 7);
    EXPECT_STREQ(ESS_Policy_GetLastError(p.get()), "custom 7");
    EXPECT_EQ(ESS_Policy_Close(p.get()), 0);

    p.reset();  // Delete shuts the provider down and unloads it
    const auto lines = journal();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "SecurityPolicyDelete");
    EXPECT_EQ(lines.back(), "Shutdown");
    EXPECT_FALSE(resident("lib/libqelcfg.so"));
}

TEST_F(PolicyTest, OverridesReplaceTheFilesValues) {
    home.write_file(kApps, "[client]\nLogFile = file.log\nbindir = ./file-bin\n");
    PolicyPtr p(ESS_Policy_New(kSite, kApps, ESS_POLICY_ROLE_CLIENT));
    ASSERT_EQ(ESS_Policy_SetNameValue(p.get(), "logfile", "./proclog/mine.log"), 0);
    ASSERT_EQ(ESS_Policy_SetNameValue(p.get(), "BINDIR", "./mine-bin"), 0);
    ASSERT_EQ(ESS_Policy_InitSecurityPolicy(p.get()), 0);
    EXPECT_EQ(value(p.get(), "LogFile"), "./proclog/mine.log");
    EXPECT_EQ(value(p.get(), "bindir"), "./mine-bin");
    EXPECT_TRUE(journal_has("ParamListSet LogFile=./proclog/mine.log"));
}

TEST_F(PolicyTest, ARefusedPasswordIsShownAsPrivateData) {
    home.write_file(kApps, "[client]\ndb_password = standin_refuse\n");
    testbed::StdoutCapture out;
    PolicyPtr p = initialised(kSite, kApps, ESS_POLICY_ROLE_CLIENT, -1);
    EXPECT_STREQ(p->m_strLastError,
                 "pBCFG_SecurityPolicyParamListSet failed for name='db_password' value='Private Data'");
    EXPECT_EQ(out.text().find("standin_refuse"), std::string::npos);
}

}  // namespace
