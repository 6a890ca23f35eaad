// Start-up without ORVANTA: the agent home and the environment come from the installation file at
// its fixed path, which these tests write (saving and restoring what was there).
#include "os_proc.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "process_probe.h"
#include "testbed.h"

namespace {

namespace fs = std::filesystem;
using process_probe::ChildOutcome;
using process_probe::in_child;
using process_probe::tell;

const fs::path kInstallFile = "/etc/QELSoftware/ORVANTA-Agent/ORVZPAAPI";

class InstallationFileTest : public testbed::AgentHomeTest {
protected:
    void SetUp() override {
        if (access("/etc", W_OK) != 0) GTEST_SKIP() << "/etc is not writable here";
        if (fs::exists(kInstallFile)) saved_ = testbed::read_whole_file(kInstallFile);
        for (fs::path dir = kInstallFile.parent_path(); !fs::exists(dir); dir = dir.parent_path()) made_.push_back(dir);
        fs::remove(kInstallFile);
        home.write_file("data/CONFIG.dat", "OTHER 1\n");
    }
    void TearDown() override {
        if (saved_) {
            testbed::write_whole_file(kInstallFile, *saved_);
        } else {
            std::error_code ignored;
            fs::remove(kInstallFile, ignored);
            for (const fs::path& dir : made_) fs::remove(dir, ignored);  // the deepest first
        }
        EXPECT_TRUE(process_probe::no_children_left());
    }
    void install(const std::string& rows) const {
        fs::create_directories(kInstallFile.parent_path());
        testbed::write_whole_file(kInstallFile, rows);
    }
    // Start-up of "AB" without ORVANTA: what it printed, its result, and what it found.
    ChildOutcome start() const {
        return in_child([](int out) {
            unsetenv("ORVANTA");
            unsetenv("ROW_ONE");
            std::string printed;
            CM_RC rc;
            {
                testbed::StdoutCapture captured;
                rc = OS_PROC_init(const_cast<char*>("AB"), 0, nullptr);
                printed = captured.text();
            }
            tell(out, "stdout=" + printed);
            tell(out, "rc=" + std::to_string(rc));
            const char* row = std::getenv("ROW_ONE");
            const char* home = std::getenv("ORVANTA");
            tell(out, std::string("row=") + (row ? row : "(unset)"));
            tell(out, std::string("home=") + (home ? home : "(unset)"));
            tell(out, "cwd=" + fs::current_path().string());
        });
    }

    std::optional<std::string> saved_;
    std::vector<fs::path> made_;
};

std::string told(const ChildOutcome& outcome, const std::string& key) {
    for (const std::string& line : outcome.lines)
        if (line.compare(0, key.size() + 1, key + "=") == 0) return line.substr(key.size() + 1);
    return "";
}

TEST_F(InstallationFileTest, WithoutTheFileStartUpFailsBeforeAnyLog) {
    const ChildOutcome outcome = start();
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(told(outcome, "rc"), "2");
    EXPECT_EQ(told(outcome, "stdout"),
              "failed to locate ORVANTA from env variable and from /etc/QELSoftware/ORVANTA-Agent/ORVZPAAPI");
    EXPECT_FALSE(fs::exists(home.path() + "/proclog/AB_" + std::to_string(outcome.pid) + ".log"));
}

TEST_F(InstallationFileTest, RowsReachTheEnvironmentAndTheOrvantaRowIsTheHome) {
    install("# installation\nROW_one first value\nORVANTA " + home.path() + "\n");
    chdir("/");
    const ChildOutcome outcome = start();
    chdir(home.path().c_str());
    ASSERT_TRUE(outcome.exited);
    EXPECT_EQ(told(outcome, "stdout"), "");
    EXPECT_EQ(told(outcome, "rc"), "1");
    EXPECT_EQ(told(outcome, "row"), "first value");  // keys are upper-cased as in every table
    EXPECT_EQ(told(outcome, "home"), home.path());
    EXPECT_EQ(told(outcome, "cwd"), fs::canonical(home.path()).string());
}

TEST_F(InstallationFileTest, FileWithoutAHomeRowFailsAfterExportingItsRows) {
    for (const char* rows : {"ROW_ONE x\n", "ROW_ONE x\nORVANTA\n"}) {
        SCOPED_TRACE(rows);
        install(rows);
        const ChildOutcome outcome = start();
        ASSERT_TRUE(outcome.exited);
        EXPECT_EQ(told(outcome, "rc"), "2");
        EXPECT_EQ(told(outcome, "stdout"), "failed to locate ORVANTA from /etc/QELSoftware/ORVANTA-Agent/ORVZPAAPI");
        EXPECT_EQ(told(outcome, "row"), "x");
    }
}

}  // namespace
