// The agent's key store and the current Blowfish key, over the real security library and the
// provider stand-ins: how a failed store leaves nothing loaded, the key a stored secret gives, the
// default key whenever nothing (or nothing usable) is stored, and a key stored by one process and
// used by another.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "ess.h"
#include "gm_blowf.h"
#include "os_blowf.h"
#include "os_diag.h"
#include "os_keystore.h"
#include "os_proc.h"
#include "testbed.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kSite = OS_BLOWF_SITE_POLICY;
constexpr const char* kApp = OS_BLOWF_APP_POLICY;

bool resident(const std::string& path) {
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h) dlclose(h);
    return h != nullptr;
}

std::string default_key() {
    unsigned char* key = GM_BLOWF_init_key();
    std::string out(reinterpret_cast<char*>(key), GM_BLOWF_KEY_LEN);
    std::free(key);
    return out;
}

std::string current_key() {
    unsigned char key[GM_BLOWF_KEY_LEN];
    EXPECT_EQ(OS_BLOWF_GetCurrentKey(key, GM_BLOWF_KEY_LEN), CM_RC_OK);
    return std::string(reinterpret_cast<char*>(key), GM_BLOWF_KEY_LEN);
}

// Runs f in a child process (a process of its own, with nothing loaded yet); its exit status.
int in_child(const std::function<int()>& f) {
    pid_t pid = fork();
    if (pid == 0) _exit(f());
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A temporary agent home with the key store's policy files and both signed providers in ./lib.
class KeyStoreTest : public testbed::AgentHomeTest {
protected:
    void SetUp() override {
        fs::create_directories("lib");
        for (const char* name : {"libqelcfg.so", "libqelbca.so"})
            fs::copy_file(std::string(APPBRIDGE_ESS_SIGNED_DIR) + "/" + name, std::string("lib/") + name);
        home.write_file(kSite, "[common]\nbindir64 = ./lib\nsksdir = ./data/SSL/sks\n");
        home.write_file(kApp, "[keystore]\nloglevel = ERROR\n");
        setenv("QELCFG_JOURNAL", (home.path() + "/cfg-journal").c_str(), 1);
        setenv("QELBCA_JOURNAL", (home.path() + "/bca-journal").c_str(), 1);
    }
    std::string journals() {
        return (home.exists("cfg-journal") ? home.read_file("cfg-journal") : "") +
               (home.exists("bca-journal") ? home.read_file("bca-journal") : "");
    }
    CM_RC insert(const char* secret, char* err) {
        return OS_BLOWF_KeyStoreInsertKey(secret, kApp, kSite, OS_BLOWF_KEY_IDENTITY, err);
    }
};

TEST_F(KeyStoreTest, AFailedCreateLeavesNothingLoaded) {
    struct Case {
        const char* policy;  // content of the key-store policy; nullptr: no policy files at all
        std::string reason;
    };
    const Case cases[] = {
        {nullptr, "ESS_Policy_InitSecurityPolicy failed with error='Security policy is either missing or unreadable: "},
        {"[keystore]\nstandin_fail = Load\n", "ESS_Policy_Load failed with error='stand-in: Load failed as asked'"},
        {"[keystore]\nstandin_fail = Open\n", "ESS_Policy_Open failed with error='stand-in: Open failed as asked'"},
        {"[keystore]\nstandin_fail = GetModule\n",
         "ESS_Policy_GetModule failed with error='security module not loaded', for level '1'"},
        {"[keystore]\nstandin_fail = GetBCA\n", "ESS_Policy_GetBCA failed"},
    };
    for (const auto& c : cases) {
        if (c.policy) {
            home.write_file(kSite, "[common]\nbindir64 = ./lib\nsksdir = ./data/SSL/sks\n");
            home.write_file(kApp, c.policy);
        } else {
            fs::remove(kSite);
            fs::remove(kApp);
        }
        OrvKeyStore store;
        char err[ORV_KEYSTORE_ERROR_ROOM] = "";
        EXPECT_EQ(OrvKeyStoreCreate(&store, kSite, kApp, err), CM_RC_FAIL);
        EXPECT_EQ(std::string(err).rfind(c.reason, 0), 0u) << err;
        EXPECT_EQ(store.policy, nullptr);
        EXPECT_EQ(store.sitePolicy, nullptr);
        EXPECT_FALSE(resident("lib/libqelcfg.so")) << c.reason;
        EXPECT_FALSE(resident("lib/libqelbca.so")) << c.reason;
        EXPECT_EQ(ESS_End(), -1);  // the failed create ended what it started
    }
}

TEST_F(KeyStoreTest, AStoredSecretBecomesTheCurrentKeyOnce) {
    char err[ORV_KEYSTORE_ERROR_ROOM] = "";
    ASSERT_EQ(insert("0123456789", err), CM_RC_OK) << err;
    ASSERT_EQ(OS_BLOWF_LoadKey(), CM_RC_OK);
    EXPECT_EQ(current_key(), std::string("0123456789") + '\0' + std::string(21, ' '));
    const std::string before = journals();
    EXPECT_EQ(OS_BLOWF_LoadKey(), CM_RC_OK);
    EXPECT_EQ(journals(), before);  // no provider call
    EXPECT_FALSE(resident("lib/libqelcfg.so"));
    EXPECT_FALSE(resident("lib/libqelbca.so"));

    OrvKeyStore store;
    ASSERT_EQ(OrvKeyStoreCreate(&store, kSite, kApp, err), CM_RC_OK) << err;
    OrvKeyStoreSecret secret = OrvKeyStoreGetSecret(&store, OS_BLOWF_KEY_IDENTITY, err);
    ASSERT_NE(secret, nullptr);
    EXPECT_STREQ(secret, "0123456789");
    OrvKeyStoreFreeSecret(&store, secret);
    EXPECT_EQ(OrvKeyStoreGetSecret(&store, "OTHER", err), nullptr);
    EXPECT_STREQ(err, "BCA_GetPassword failed with error='stand-in: no secret under 'OTHER''");
    EXPECT_EQ(OrvKeyStoreDestroy(&store), CM_RC_OK);
    EXPECT_STREQ(isnull(nullptr), "null");
}

TEST_F(KeyStoreTest, WithoutPolicyFilesTheDefaultKeyStays) {
    fs::remove(kSite);
    fs::remove(kApp);
    char key[GM_BLOWF_KEY_LEN + 1];
    char err[ORV_KEYSTORE_ERROR_ROOM] = "";
    EXPECT_EQ(OS_BLOWF_KeyStoreGetKey(key, kApp, kSite, OS_BLOWF_KEY_IDENTITY, err), CM_RC_FAIL);
    EXPECT_NE(std::string(err).find("Security policy is either missing or unreadable"), std::string::npos);
    EXPECT_EQ(OS_BLOWF_LoadKey(), CM_RC_FAIL);
    EXPECT_EQ(current_key(), default_key());
    EXPECT_EQ(OS_BLOWF_SetDefaultKey(kApp, kSite), CM_RC_OK);
}

TEST_F(KeyStoreTest, ASecretTooLongForTheKeyIsRefusedWhole) {
    char err[ORV_KEYSTORE_ERROR_ROOM] = "";
    const std::string forty(40, 'k');
    ASSERT_EQ(insert(forty.c_str(), err), CM_RC_OK) << err;
    char key[GM_BLOWF_KEY_LEN + 1];
    std::memset(key, '#', sizeof key);
    EXPECT_EQ(OS_BLOWF_KeyStoreGetKey(key, kApp, kSite, OS_BLOWF_KEY_IDENTITY, err), CM_RC_FAIL);
    EXPECT_STREQ(err, "the secret of 'BLOWFISHKEY_CURRENT' is longer than 32 characters");
    EXPECT_EQ(std::string(key, sizeof key), std::string(sizeof key, '#'));
    EXPECT_EQ(OS_BLOWF_LoadKey(), CM_RC_FAIL);
    EXPECT_EQ(current_key(), default_key());

    const std::string exactly(32, 'x');
    ASSERT_EQ(insert(exactly.c_str(), err), CM_RC_OK);
    EXPECT_EQ(OS_BLOWF_KeyStoreGetKey(key, kApp, kSite, OS_BLOWF_KEY_IDENTITY, err), CM_RC_OK);
    EXPECT_EQ(std::string(key), exactly);
}

TEST_F(KeyStoreTest, SetDefaultKeyDeletesOnlyAnExistingEntry) {
    EXPECT_EQ(OS_BLOWF_SetDefaultKey(kApp, kSite), CM_RC_OK);
    EXPECT_EQ(journals().find("Option 20"), std::string::npos);
    char err[ORV_KEYSTORE_ERROR_ROOM] = "";
    ASSERT_EQ(insert("abc", err), CM_RC_OK);
    EXPECT_EQ(OS_BLOWF_SetDefaultKey(kApp, kSite), CM_RC_OK);
    EXPECT_NE(journals().find("Option 20"), std::string::npos);
    const std::string expected = default_key();
    EXPECT_EQ(in_child([&] { return OS_BLOWF_LoadKey() == CM_RC_FAIL && current_key() == expected ? 0 : 1; }), 0);
    char key[GM_BLOWF_KEY_LEN + 1];
    EXPECT_EQ(OS_BLOWF_KeyStoreDeleteKey(kApp, kSite, OS_BLOWF_KEY_IDENTITY, err), CM_RC_FAIL);
    EXPECT_STREQ(err, "BCA_DeletePassword failed with error='stand-in: no secret under 'BLOWFISHKEY_CURRENT''");
    EXPECT_EQ(OS_BLOWF_KeyStoreGetKey(key, kApp, kSite, OS_BLOWF_KEY_IDENTITY, err), CM_RC_FAIL);
}

TEST_F(KeyStoreTest, TheTraceHoldsNoSecret) {
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(6);
    char err[ORV_KEYSTORE_ERROR_ROOM] = "";
    ASSERT_EQ(insert("TopSecretKey42", err), CM_RC_OK) << err;
    ASSERT_EQ(OS_BLOWF_LoadKey(), CM_RC_OK);
    char value[256] = "plain value";
    ASSERT_EQ(GM_BLOWF_encrypt_password(value, sizeof value), CM_RC_OK);
    const std::string log = testbed::read_diag_log("Oebs_CM");
    EXPECT_NE(log.find("OrvKeyStoreCreate"), std::string::npos);
    EXPECT_EQ(log.find("TopSecretKey42"), std::string::npos);
    EXPECT_EQ(journals().find("TopSecretKey42"), std::string::npos);
}

TEST_F(KeyStoreTest, AKeyStoredByOneProcessEncryptsInAnother) {
    const std::string key = "key-of-the-agent-0123456789";
    ASSERT_EQ(in_child([&] {
                  char err[ORV_KEYSTORE_ERROR_ROOM];
                  return insert(key.c_str(), err) == CM_RC_OK ? 0 : 1;
              }),
              0);
    unsigned char full_key[GM_BLOWF_KEY_LEN];
    std::memset(full_key, ' ', sizeof full_key);
    std::memcpy(full_key, key.c_str(), key.size() + 1);
    EXPECT_EQ(in_child([&] {
                  if (OS_BLOWF_LoadKey() != CM_RC_OK) return 1;
                  char value[256] = "the database password";
                  if (GM_BLOWF_encrypt_password(value, sizeof value) != CM_RC_OK) return 2;
                  char with_default[256];
                  std::strcpy(with_default, value);
                  if (GM_BLOWF_decrypt_with_key(value, sizeof value, full_key) != CM_RC_OK) return 3;
                  if (std::strcmp(value, "the database password") != 0) return 4;
                  /* The default key does not give the value back. */
                  if (GM_BLOWF_decrypt(with_default, sizeof with_default) == CM_RC_OK &&
                      std::strcmp(with_default, "the database password") == 0)
                      return 5;
                  return 0;
              }),
              0);
    EXPECT_EQ(current_key(), default_key());  // this process loaded nothing
}

// The agent process loads the stored key at start-up (and reads its machine details); with
// nothing stored the default key stays and the failure is traced.
TEST_F(KeyStoreTest, AgentStartUpLoadsTheCurrentKey) {
    const std::string key = "key-loaded-at-start-up";
    home.write_file("data/CONFIG.dat", "DBGLVL 4\n");
    home.write_file("data/get_cpu_specs_encrypted.dat", "echo specs\n");
    fs::create_directories("locks");
    unsigned char full_key[GM_BLOWF_KEY_LEN];
    std::memset(full_key, ' ', sizeof full_key);
    std::memcpy(full_key, key.c_str(), key.size() + 1);
    for (const bool stored : {false, true}) {
        SCOPED_TRACE(stored ? "stored" : "nothing stored");
        if (stored) {
            ASSERT_EQ(in_child([&] {
                          char err[ORV_KEYSTORE_ERROR_ROOM];
                          return insert(key.c_str(), err) == CM_RC_OK ? 0 : 1;
                      }),
                      0);
        }
        int pipe_ends[2];
        ASSERT_EQ(pipe(pipe_ends), 0);
        EXPECT_EQ(in_child([&] {
                      const pid_t own = getpid();
                      if (write(pipe_ends[1], &own, sizeof own) != sizeof own) return 9;
                      if (OS_PROC_init(const_cast<char*>("AG"), 0, nullptr) != CM_RC_OK) return 1;
                      if (std::strcmp(OS_PROC_getCpuSpecsBuffer(), "echo specs\n") != 0) return 2;
                      if (os_blowf_is_key_loaded() != (stored ? 1 : 0)) return 3;
                      const std::string expected =
                          stored ? std::string(reinterpret_cast<char*>(full_key), GM_BLOWF_KEY_LEN) : default_key();
                      return current_key() == expected ? 0 : 4;
                  }),
                  0);
        pid_t child = 0;
        ASSERT_EQ(read(pipe_ends[0], &child, sizeof child), static_cast<ssize_t>(sizeof child));
        close(pipe_ends[0]);
        close(pipe_ends[1]);
        const std::string log = home.read_file("proclog/AG_" + std::to_string(child) + ".log");
        EXPECT_EQ(log.find("AG:Failed to retrieve blowfish key.\n") != std::string::npos, !stored) << log;
        EXPECT_EQ(log.find(key), std::string::npos);
    }
}

}  // namespace
