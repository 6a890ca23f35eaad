// Folders of the agent home walked for root: a link on the way is followed only to a folder of the
// home's owner (a folder linked on purpose to a bigger disk), never to someone else's.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "os_file_nofollow.h"
#include "owned_home.h"

namespace {

using testbed::kHomeOwnerGid;
using testbed::kHomeOwnerUid;
using testbed::OwnedHomeTest;

// The device and inode of the folder open at fd, to tell which folder a walk ended in.
std::string identity_of(int fd) {
    struct stat status {};
    if (fstat(fd, &status) != 0) return "none";
    return std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
}

std::string identity_of(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) return "none";
    return std::to_string(status.st_dev) + ":" + std::to_string(status.st_ino);
}

class HomeFolderTest : public OwnedHomeTest {
protected:
    void SetUp() override {
        OwnedHomeTest::SetUp();
        if (IsSkipped()) return;
        // The owner's bigger disk: a folder outside the home that belongs to the home's owner.
        disk_ = outside() + "/disk";
        std::filesystem::create_directories(disk_ + "/DUZ/data");
        ASSERT_EQ(chown(outside().c_str(), 0, 0), 0);
        for (const std::string& dir : {disk_, disk_ + "/DUZ", disk_ + "/DUZ/data"})
            ASSERT_EQ(chown(dir.c_str(), kHomeOwnerUid, kHomeOwnerGid), 0);
    }

    // Replaces a folder of the home by a link.
    void link_folder(const std::string& folder, const std::string& target) {
        std::filesystem::remove_all(folder);
        ASSERT_EQ(symlink(target.c_str(), folder.c_str()), 0);
    }

    std::string disk_;
};

TEST_F(HomeFolderTest, ALinkIsFollowedOnlyToAFolderOfTheHomesOwner) {
    struct Case {
        const char* what;
        std::string link;    // folder of the home replaced by a link, "" for none
        std::string target;  // where the link leads
        const char* walked;  // the path handed to the walk
        int expected_errno;  // 0: the walk ends in `ends_in`
        std::string ends_in;
    };
    const std::string root_folder = outside() + "/tree";
    const Case cases[] = {
        {"a real folder", "", "", "cm/DUZ/data", 0, home.path() + "/cm/DUZ/data"},
        {"the dot and doubled slashes", "", "", "./data//", 0, home.path() + "/data"},
        {"data linked to the owner's disk", "data", disk_, "./data", 0, disk_},
        {"cm linked to the owner's disk", "cm", disk_, "cm/DUZ/data", 0, disk_ + "/DUZ/data"},
        {"data linked to root's folder", "data", root_folder, "./data", ELOOP, ""},
        {"a middle folder linked to root's folder", "cm/DUZ", root_folder, "cm/DUZ/data", ELOOP, ""},
        {"a link to a link to root's folder", "temp", "proclog/hop", "temp", ELOOP, ""},
        {"a file where a folder stands", "", "", "sysout/CONFIG.dat", ENOTDIR, ""},
        {"a link to a file", "locks", root_folder + "/deeper/kept", "locks", ENOTDIR, ""},
    };
    ASSERT_EQ(symlink(root_folder.c_str(), "proclog/hop"), 0);
    home.write_file("sysout/CONFIG.dat", "DBGLVL 0\n");
    give_home_to_owner();
    const std::string before = outside_snapshot();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (!c.link.empty()) link_folder(c.link, c.target);
        errno = 0;
        const int fd = os_file::open_home_folder(c.walked);
        if (c.expected_errno == 0) {
            ASSERT_GE(fd, 0) << std::strerror(errno);
            EXPECT_EQ(identity_of(fd), identity_of(c.ends_in));
            close(fd);
        } else {
            EXPECT_EQ(fd, -1);
            EXPECT_EQ(errno, c.expected_errno);
        }
        if (!c.link.empty()) {
            ASSERT_EQ(unlink(c.link.c_str()), 0);
            std::filesystem::create_directories(c.link);
        }
    }
    EXPECT_EQ(outside_snapshot(), before);
    EXPECT_STREQ(os_file::folder_failure_text(ELOOP), "a link to a folder that is not the agent owner's");
}

TEST_F(HomeFolderTest, AHomeOfRootsOwnFollowsItsLinksWherever) {
    ASSERT_EQ(chown(home.path().c_str(), 0, 0), 0);
    link_folder("data", outside() + "/tree");
    const int fd = os_file::open_home_folder("data");
    ASSERT_GE(fd, 0);
    EXPECT_EQ(identity_of(fd), identity_of(outside() + "/tree"));
    close(fd);
}

TEST(HomeFolder, TheParentFolderAndTheLastName) {
    testbed::AgentHome home;
    struct Case {
        const char* path;
        const char* folder;  // relative to the home, nullptr: refused with EINVAL
        const char* name;
    } const cases[] = {
        {"./data/DUZ_inst.dat", "data", "DUZ_inst.dat"},
        {"OW.lock", ".", "OW.lock"},
        {"cm/DUZ/data/event_cfg.dat", "cm/DUZ/data", "event_cfg.dat"},
        {"data/", nullptr, ""},
        {"", nullptr, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        std::string name = "left over";
        const int fd = os_file::open_parent_folder(c.path, name);
        if (!c.folder) {
            EXPECT_EQ(fd, -1);
            EXPECT_EQ(errno, EINVAL);
            continue;
        }
        ASSERT_GE(fd, 0);
        EXPECT_EQ(identity_of(fd), identity_of(home.path() + "/" + c.folder));
        EXPECT_EQ(name, c.name);
        close(fd);
    }
}

}  // namespace
