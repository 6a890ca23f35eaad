// The diagnostic log and the SSL-policy rewrite in a home that another user owns, while the test
// runs as root: the owner's links, FIFOs and folders must not lead root to write or read where the
// owner could not.
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "os_diag.h"
#include "owned_home.h"

namespace {

using testbed::kHomeOwnerGid;
using testbed::kHomeOwnerUid;

class DiagHomeTest : public testbed::OwnedHomeTest {
protected:
    // Replaces a folder or file of the home by a link.
    static void plant_link(const std::string& name, const std::string& target) {
        std::filesystem::remove_all(name);
        ASSERT_EQ(symlink(target.c_str(), name.c_str()), 0) << name;
        ASSERT_EQ(lchown(name.c_str(), kHomeOwnerUid, kHomeOwnerGid), 0);
    }

    static void plant_fifo(const std::string& name) {
        std::filesystem::remove_all(name);
        ASSERT_EQ(mkfifo(name.c_str(), 0666), 0) << name;
        ASSERT_EQ(chown(name.c_str(), kHomeOwnerUid, kHomeOwnerGid), 0);
    }

    static void plant_file(const std::string& name, const std::string& content) {
        std::filesystem::remove_all(name);
        testbed::write_whole_file(name, content);
        ASSERT_EQ(chown(name.c_str(), kHomeOwnerUid, kHomeOwnerGid), 0);
    }

    // A call that would block on a FIFO ends the test instead of holding it forever.
    struct Deadline {
        Deadline() { alarm(30); }
        ~Deadline() { alarm(0); }
    };
};

TEST_F(DiagHomeTest, TheLogsFolderIsFollowedOnlyToAFolderOfTheHomesOwner) {
    const std::string disk = outside() + "/disk";
    std::filesystem::create_directories(disk);
    ASSERT_EQ(chown(disk.c_str(), kHomeOwnerUid, kHomeOwnerGid), 0);
    const std::string before = outside_snapshot();

    plant_link("proclog", outside() + "/tree");
    OS_DIAG_initialize(nullptr, "Oebs_CM");
    DIAG_set_debug_level(4);
    testbed::StderrCapture err;
    DIAG_ERROR("into root's folder");
    DIAG_ERROR("again");
    EXPECT_EQ(err.text(), "Oebs_CM: cannot write the log in " + home.path() +
                              "/proclog: a link to a folder that is not the agent owner's\n");
    EXPECT_EQ(outside_snapshot(), before);

    plant_link("proclog", disk);
    DIAG_ERROR("onto the owner's disk");
    EXPECT_EQ(
        testbed::strip_diag_times(testbed::read_whole_file(disk + "/Oebs_CM_" + std::to_string(getpid()) + ".log")),
        "Oebs_CM:onto the owner's disk\n");
    EXPECT_EQ(err.text(), "Oebs_CM: cannot write the log in " + home.path() +
                              "/proclog: a link to a folder that is not the agent owner's\n");
}

// The critical-error report copies installed-versions.txt of the home owner's home directory
// (here the agent home itself, the owner's entry seen through a private copy of the user list):
// a FIFO there does not hold the process, and a link there does not bring root's file into the
// log, which the owner can read.
TEST_F(DiagHomeTest, TheReportReadsTheInstalledVersionsOnlyFromARegularFile) {
    std::ifstream users("/etc/passwd");
    std::ostringstream rewritten;
    for (std::string entry; std::getline(users, entry);) {
        if (entry.rfind("nobody:", 0) == 0) {
            // name:password:uid:gid:comment:home:shell -- the home is the sixth field
            size_t at = 0;
            for (int field = 0; field < 5; ++field) at = entry.find(':', at) + 1;
            entry = entry.substr(0, at) + home.path() + entry.substr(entry.find(':', at));
        }
        rewritten << entry << '\n';
    }
    const std::string users_copy = outside() + "/passwd";
    testbed::write_whole_file(users_copy, rewritten.str());
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount(users_copy.c_str(), "/etc/passwd", nullptr, MS_BIND, nullptr) != 0)
        GTEST_SKIP() << "needs a private mount namespace";

    const std::string versions = home.path() + "/installed-versions.txt";
    const std::string refused = "Oebs_CM:boom\n\nfailed to open input file '" + versions + "'\n\nFull debug log";
    struct Case {
        const char* what;
        void (*plant)(const std::string& name, const std::string& secret);
        std::string shown;
    } const cases[] = {
        {"a FIFO", [](const std::string& name, const std::string&) { plant_fifo(name); }, refused},
        {"a link to root's file", [](const std::string& name, const std::string& secret) { plant_link(name, secret); },
         refused},
        {"a regular file", [](const std::string& name, const std::string&) { plant_file(name, "agent 9.0.21\n"); },
         "Oebs_CM:boom\n\nagent 9.0.21\n\nFull debug log"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.plant(versions, outside() + "/secret");
        std::remove(testbed::diag_log_path("Oebs_CM").c_str());
        OS_DIAG_initialize(nullptr, "Oebs_CM");
        DIAG_set_debug_level(0);
        {
            Deadline deadline;
            DIAG_ERROR("boom");
        }
        const std::string log = testbed::read_diag_log_texts("Oebs_CM");
        EXPECT_NE(log.find(c.shown), std::string::npos) << log;
        EXPECT_EQ(log.find("root's own text"), std::string::npos);
    }
}

// The policy is read only as a regular file, never through a link or from a FIFO at its name, and
// its copy is made anew, never written through a link planted at the copy's name.
TEST_F(DiagHomeTest, TheSslPolicyIsReadAndRewrittenOnlyAsTheOwnersFiles) {
    const std::string policy = "data/SSL/cert/site.plc";
    const std::string before = outside_snapshot();
    struct Case {
        const char* what;
        void (*plant)(const std::string& policy, const std::string& secret);
        CM_RC rc;
    } const cases[] = {
        {"the policy a link to root's file",
         [](const std::string& policy, const std::string& secret) { plant_link(policy, secret); }, CM_RC_FAIL},
        {"the policy a FIFO", [](const std::string& policy, const std::string&) { plant_fifo(policy); }, CM_RC_FAIL},
        {"a link at the copy's name",
         [](const std::string& policy, const std::string& secret) {
             plant_file(policy, "loglevel=WARNING\n");
             plant_link(policy + ".temp", secret);
         },
         CM_RC_OK},
    };
    home.write_file(policy, "");
    give_home_to_owner();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.plant(policy, outside() + "/secret");
        {
            Deadline deadline;
            EXPECT_EQ(OS_DIAG_set_ssl_debug(3), c.rc);
        }
        EXPECT_EQ(outside_snapshot(), before);
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(policy + ".temp")));
        if (c.rc == CM_RC_OK) {
            EXPECT_EQ(home.read_file(policy), "loglevel=ERROR,API,TRACE,WARNING,INFO,DATA\n");
            struct stat status {};
            ASSERT_EQ(lstat(policy.c_str(), &status), 0);
            EXPECT_TRUE(S_ISREG(status.st_mode));
            EXPECT_EQ(status.st_uid, kHomeOwnerUid);
        }
    }
}

}  // namespace
