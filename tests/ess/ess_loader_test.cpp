// Module loader: the SHA-0 digest, the signature check of the signed file format, loading and the
// entry-symbol steps, the reference-counted cache, and what is never loaded (unsigned or altered
// files, links, a missing path, a namesake on the library path).
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "ess.h"
#include "qel_module.h"
#include "qel_module_internal.h"
#include "qel_testmod.h"
#include "testbed.h"

namespace fs = std::filesystem;

namespace {

std::string hex(const unsigned char* d, size_t n) {
    static const char* digits = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) (out += digits[d[i] >> 4]) += digits[d[i] & 15];
    return out;
}

std::string sha0(const std::string& text, size_t piece) {
    qel_module::Sha0 sha;
    for (size_t i = 0; i < text.size(); i += piece) sha.update(text.data() + i, std::min(piece, text.size() - i));
    unsigned char d[qel_module::Sha0::kDigestSize];
    sha.final(d);
    return hex(d, sizeof d);
}

TEST(Sha0, KnownDigestsInOnePieceAndByteByByte) {
    const std::pair<std::string, std::string> vectors[] = {
        {"abc", "0164b8a914cd2a5e74c4f7ff082c4d97f1edf880"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", "d2516ee1acfa5baf33dfc1c471e438449ef134c8"},
    };
    for (const auto& [text, digest] : vectors) {
        EXPECT_EQ(sha0(text, text.size()), digest);
        EXPECT_EQ(sha0(text, 1), digest);
    }
    const std::string long_text(1000, 'q');
    EXPECT_EQ(sha0(long_text, 1), sha0(long_text, 300));
}

std::string signed_module(const std::string& name) { return std::string(APPBRIDGE_ESS_SIGNED_DIR) + "/" + name; }
std::string unsigned_module(const std::string& name) { return std::string(APPBRIDGE_ESS_UNSIGNED_DIR) + "/" + name; }

bool resident(const std::string& path) {
    void* h = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h) dlclose(h);
    return h != nullptr;
}

int run(const std::string& command) { return std::system(command.c_str()); }

// A temporary agent home (the working directory) with the library started and a marker file that
// every test module's constructor appends its path to.
class LoaderTest : public testbed::AgentHomeTest {
protected:
    void SetUp() override {
        ASSERT_EQ(ESS_Init(), 0);
        if (const char* dir = std::getenv("ESS_LOADER_CHILD")) {
            /* The child works in its parent's home and marks into its parent's file. */
            fs::current_path(dir);
            marker_ = std::getenv(QEL_TESTMOD_MARKER_ENV);
            return;
        }
        marker_ = home.path() + "/marker";
        setenv(QEL_TESTMOD_MARKER_ENV, marker_.c_str(), 1);
    }
    void TearDown() override { ESS_End(); }

    std::string copy(const std::string& from, const std::string& to) {
        fs::create_directories(fs::path(to).parent_path().empty() ? "." : fs::path(to).parent_path());
        fs::copy_file(from, to, fs::copy_options::overwrite_existing);
        return to;
    }
    std::string marker() { return home.exists("marker") ? home.read_file("marker") : ""; }

    std::string marker_;
};

QelTestModApi* api(QEL_ModuleHandle* m) { return static_cast<QelTestModApi*>(m->APIHandle); }

TEST_F(LoaderTest, ASignedModuleLoadsOnceAndClosesWithItsLastUnload) {
    const std::string path = copy(signed_module("libqeltest_full.so"), "lib/full.so");
    int rc = -1;
    QEL_ModuleHandle* m = QEL_LoadModule(path.c_str(), &rc, 0, const_cast<char*>("1.0"));
    ASSERT_NE(m, nullptr) << QEL_LoadError();
    EXPECT_EQ(rc, 0);
    EXPECT_STREQ(m->loadedBy, "loaded by user");
    ASSERT_EQ(api(m)->magic, QEL_TESTMOD_MAGIC);
    EXPECT_EQ(api(m)->put_environment_calls, 1);
    EXPECT_NE(m->pvcf, nullptr);
    EXPECT_NE(m->pcapf, nullptr);

    EXPECT_EQ(QEL_LoadModule(path.c_str(), &rc, 0, nullptr), m);
    EXPECT_EQ(api(m)->put_environment_calls, 1);  // the cache answered
    EXPECT_EQ(QEL_UnloadModule(m), 0);
    EXPECT_TRUE(resident(path));
    EXPECT_EQ(api(m)->crypto_cleanup_calls, 1);
    EXPECT_EQ(QEL_UnloadModule(m), 0);
    EXPECT_FALSE(resident(path));
    EXPECT_EQ(testbed::lines_of(marker()).size(), 1u);  // its code ran once
    EXPECT_EQ(QEL_UnloadModule(nullptr), -1);
}

// Two files loaded one after the other, the first kept: each load runs its own file, although
// the descriptor that loaded the first is long closed and its number comes round again.
TEST_F(LoaderTest, ModulesKeptLoadedStayApartFromTheNextLoad) {
    const std::string first = copy(signed_module("libqeltest_full.so"), "a/full.so");
    const std::string second = copy(signed_module("libqeltest_full.so"), "b/full.so");
    int rc = -1;
    QEL_ModuleHandle* a = QEL_LoadModule(first.c_str(), &rc, 0, nullptr);
    ASSERT_NE(a, nullptr) << QEL_LoadError();
    QEL_ModuleHandle* b = QEL_LoadModule(second.c_str(), &rc, 0, nullptr);
    ASSERT_NE(b, nullptr) << QEL_LoadError();
    EXPECT_NE(api(a), api(b));
    EXPECT_EQ(testbed::lines_of(marker()).size(), 2u);
    EXPECT_EQ(QEL_UnloadModule(a), 0);
    EXPECT_FALSE(resident(first));
    EXPECT_TRUE(resident(second));
    EXPECT_EQ(QEL_UnloadModule(b), 0);
    EXPECT_FALSE(resident(second));
}

// Each row alters a copy of the signed module; the refused file never runs and is not kept, and
// the next load of the same path checks again.
TEST_F(LoaderTest, SignatureChecksRefuseAlteredFiles) {
    const std::string good = testbed::read_whole_file(signed_module("libqeltest_full.so"));
    const std::string body = testbed::read_whole_file(unsigned_module("libqeltest_full.so"));
    ASSERT_EQ(run(std::string(APPBRIDGE_QELSIGN) + " keygen other.der other.inc"), 0);
    ASSERT_EQ(
        run(std::string(APPBRIDGE_QELSIGN) + " sign other.der " + unsigned_module("libqeltest_full.so") + " other.so"),
        0);
    std::string flipped = good;
    flipped[flipped.size() / 3] ^= 0x01;
    std::string beyond = good;
    beyond.resize(40);
    beyond.back() = static_cast<char>(200);
    struct Case {
        std::string content;
        std::string message;
    };
    const std::string path = "lib/mod.so";
    const Case cases[] = {
        {body + std::string(1, '\0'), "Error: shared library lib/mod.so is not signed\n"},
        {"x", "Error: empty shared lib: lib/mod.so\n"},
        {"", "Error: empty shared lib: lib/mod.so\n"},
        {beyond, "Error reading signature\n"},
        {flipped, "Cannot verify module's signature\n"},
        {testbed::read_whole_file("other.so"), "Cannot verify module's signature\n"},
        {body, ""},  // unsigned: its last byte is taken as a length and nothing verifies
    };
    for (const auto& c : cases) {
        home.write_file(path, c.content);
        int rc = 0;
        EXPECT_EQ(QEL_LoadModule(path.c_str(), &rc, 0, nullptr), nullptr);
        EXPECT_EQ(rc, -1);
        if (!c.message.empty()) {
            EXPECT_STREQ(QEL_LoadError(), c.message.c_str());
        }
        EXPECT_EQ(QEL_VerifyModuleSignature(path.c_str(), 0), -1);
        EXPECT_FALSE(resident(path));
        EXPECT_EQ(marker(), "");
    }
    home.write_file(path, good);
    EXPECT_EQ(QEL_VerifyModuleSignature(path.c_str(), 0), 0);
    int rc = -1;
    QEL_ModuleHandle* m = QEL_LoadModule(path.c_str(), &rc, 0, nullptr);
    ASSERT_NE(m, nullptr) << QEL_LoadError();
    EXPECT_EQ(QEL_UnloadModule(m), 0);
    EXPECT_EQ(QEL_VerifyModuleSignature(nullptr, 0), -1);
    EXPECT_STREQ(QEL_LoadError(), "Error: no module path\n");
}

TEST_F(LoaderTest, EntrySymbolsFollowTheLoadMask) {
    struct Case {
        const char* module;
        const char* message;
    };
    const Case cases[] = {
        {"libqeltest_nosyms.so", "Error: symbol (lib/m.so)::QEL_DllVersionCompatibilityFunc not found. error "},
        {"libqeltest_noapi.so", "Error: symbol (lib/m.so)::QEL_DllAPIHandle not found. error "},
        {"libqeltest_incompatible.so", "Error: shared lib lib/m.so is not version compatible with the application.\n"},
        {"libqeltest_nullapi.so", "Error: shared lib lib/m.so API handle retriever returned NULL\n"},
    };
    for (const auto& c : cases) {
        const std::string path = copy(signed_module(c.module), "lib/m.so");
        int rc = 0;
        EXPECT_EQ(QEL_LoadModule(path.c_str(), &rc, 0, nullptr), nullptr) << c.module;
        EXPECT_EQ(std::string(QEL_LoadError()).rfind(c.message, 0), 0u) << QEL_LoadError();
        EXPECT_FALSE(resident(path)) << c.module;
    }
    QEL_LoadModuleMask(0);
    const std::string path = copy(signed_module("libqeltest_nosyms.so"), "lib/m.so");
    int rc = -1;
    QEL_ModuleHandle* m = QEL_LoadModule(path.c_str(), &rc, 0, nullptr);
    ASSERT_NE(m, nullptr) << QEL_LoadError();
    EXPECT_EQ(m->APIHandle, nullptr);
    EXPECT_EQ(QEL_UnloadModule(m), 0);
}

TEST_F(LoaderTest, LinksAndMissingFilesAreRefused) {
    copy(signed_module("libqeltest_full.so"), "lib/full.so");
    ASSERT_EQ(symlink("full.so", "lib/link.so"), 0);
    int rc = 0;
    EXPECT_EQ(QEL_LoadModule("lib/link.so", &rc, 0, nullptr), nullptr);
    EXPECT_STREQ(QEL_LoadError(), "lib/link.so must be a regular file\n");
    EXPECT_EQ(QEL_LoadModule("lib/none.so", &rc, 0, nullptr), nullptr);
    EXPECT_STREQ(QEL_LoadError(), "Cannot get initial values of module stats: No such file or directory\n");
    EXPECT_EQ(marker(), "");
}

// A thread keeps renaming a signed and an unsigned build of the module over the loaded path: the
// file that runs is always the one whose signature was checked, and the signed one still loads.
TEST_F(LoaderTest, AFileRenamedOverTheModuleDuringItsLoadNeverRunsUnsigned) {
    copy(signed_module("libqeltest_full.so"), "lib/signed.so");
    copy(unsigned_module("libqeltest_full.so"), "lib/unsigned.so");
    copy("lib/signed.so", "lib/mod.so");
    std::atomic<bool> stop{false};
    std::thread swapper([&] {
        for (bool with_signature = false; !stop; with_signature = !with_signature) {
            if (link(with_signature ? "lib/signed.so" : "lib/unsigned.so", "lib/next.so") == 0)
                rename("lib/next.so", "lib/mod.so");
        }
    });
    int loaded = 0;
    int unsigned_loads = 0;
    for (int i = 0; i < 3000; ++i) {
        int rc = 0;
        QEL_ModuleHandle* m = QEL_LoadModule("lib/mod.so", &rc, 0, nullptr);
        if (!m) continue;
        ++loaded;
        if (resident("lib/unsigned.so")) ++unsigned_loads;
        EXPECT_EQ(QEL_UnloadModule(m), 0);
    }
    stop = true;
    swapper.join();
    EXPECT_EQ(unsigned_loads, 0);
    EXPECT_GT(loaded, 0);
    EXPECT_FALSE(resident("lib/signed.so"));
}

TEST_F(LoaderTest, TheCacheHoldsSixtyFourEntries) {
    copy(signed_module("libqeltest_full.so"), "d/m.so");
    std::vector<QEL_ModuleHandle*> loaded;
    std::string spelling = "d/m.so";
    for (int i = 0; i < QEL_MODULE_CACHE_SIZE; ++i) {
        spelling.insert(1, "/.");  // d/./m.so, d/././m.so, ...: one file, another path each time
        int rc = -1;
        QEL_ModuleHandle* m = QEL_LoadModule(spelling.c_str(), &rc, 0, nullptr);
        ASSERT_NE(m, nullptr) << i << " " << QEL_LoadError();
        loaded.push_back(m);
    }
    spelling.insert(1, "/.");
    int rc = 0;
    EXPECT_EQ(QEL_LoadModule(spelling.c_str(), &rc, 0, nullptr), nullptr);
    EXPECT_EQ(rc, -1);
    for (QEL_ModuleHandle* m : loaded) EXPECT_EQ(QEL_UnloadModule(m), 0);
    EXPECT_FALSE(resident("d/m.so"));
}

// Runs this test again in a child process with LD_LIBRARY_PATH set (the loader reads it only at
// start); the child's part of the test runs under ESS_LOADER_CHILD, which names the parent's home.
int run_child_with_library_path(const std::string& dir) {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string filter = std::string("--gtest_filter=") + info->test_suite_name() + "." + info->name();
    pid_t pid = fork();
    if (pid == 0) {
        setenv("ESS_LOADER_CHILD", fs::current_path().c_str(), 1);
        setenv("LD_LIBRARY_PATH", dir.c_str(), 1);
        execl("/proc/self/exe", "test_ess", filter.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool in_child() { return std::getenv("ESS_LOADER_CHILD") != nullptr; }

TEST_F(LoaderTest, AMissingPathLoadsNothingFromTheLibraryPath) {
    if (in_child()) {
        int rc = 0;
        EXPECT_EQ(QEL_LoadModule(nullptr, &rc, 0, nullptr), nullptr);
        EXPECT_EQ(rc, -1);
        EXPECT_STREQ(QEL_LoadError(), "Error loading shared lib: (missing), error (missing)\n\n");
        return;
    }
    const std::string dir = home.path() + "/libpath";
    copy(signed_module("libqeltest_full.so"), dir + "/(missing)");
    ASSERT_EQ(run_child_with_library_path(dir), 0);
    EXPECT_EQ(testbed::read_whole_file(marker_), "");
}

TEST_F(LoaderTest, ABareNameLoadsTheCheckedFileOfTheWorkingDirectory) {
    const std::string dir = in_child() ? std::getenv("LD_LIBRARY_PATH") : home.path() + "/libpath";
    if (in_child()) {
        int rc = -1;
        QEL_ModuleHandle* m = QEL_LoadModule("m.so", &rc, 0, nullptr);
        ASSERT_NE(m, nullptr) << QEL_LoadError();
        EXPECT_TRUE(resident("./m.so"));
        EXPECT_FALSE(resident(dir + "/m.so"));
        EXPECT_EQ(QEL_UnloadModule(m), 0);
        return;
    }
    copy(unsigned_module("libqeltest_full.so"), dir + "/m.so");
    copy(signed_module("libqeltest_full.so"), "m.so");
    ASSERT_EQ(run_child_with_library_path(dir), 0);
    EXPECT_EQ(testbed::lines_of(testbed::read_whole_file(marker_)).size(), 1u);
}

}  // namespace
