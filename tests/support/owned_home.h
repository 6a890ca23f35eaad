// The setting in which the agent home's owner is the attacker: the test runs as root, the home and
// every folder in it belong to an unprivileged user, and root keeps a private folder outside the
// home whose files no call may read, change or delete. Tests skip, saying so, when not run as root.
#pragma once

#include "testbed.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace testbed {

constexpr uid_t kHomeOwnerUid = 65534;  // nobody
constexpr gid_t kHomeOwnerGid = 65534;  // nogroup

class OwnedHomeTest : public AgentHomeTest {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "runs only as root: the home's owner attacks a root process";
        char tmpl[] = "/tmp/appbridge-root-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        outside_ = tmpl;
        ASSERT_EQ(chmod(outside_.c_str(), 0700), 0);
        write_whole_file(outside_ + "/secret", "root's own text\n");
        ASSERT_EQ(chmod((outside_ + "/secret").c_str(), 0600), 0);
        std::filesystem::create_directories(outside_ + "/tree/deeper");
        write_whole_file(outside_ + "/tree/deeper/kept", "root's own tree\n");
        give_home_to_owner();
    }

    void TearDown() override {
        if (!outside_.empty()) {
            std::error_code ec;
            std::filesystem::remove_all(outside_, ec);
        }
    }

    // Root's private folder outside the home (0700, owned by root).
    const std::string& outside() const { return outside_; }

    // Gives the home and everything in it to the owner; call again after making folders as root.
    void give_home_to_owner() const {
        namespace fs = std::filesystem;
        lchown(home.path().c_str(), kHomeOwnerUid, kHomeOwnerGid);
        for (const auto& entry : fs::recursive_directory_iterator(home.path()))
            lchown(entry.path().c_str(), kHomeOwnerUid, kHomeOwnerGid);
    }

    // Runs `step` in a child process with the owner's rights; returns its exit code (255 when the
    // child did not exit normally, 254 when it could not drop root).
    static int as_owner(const std::function<int()>& step) {
        pid_t pid = fork();
        if (pid == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(kHomeOwnerGid) != 0 || setuid(kHomeOwnerUid) != 0) _exit(254);
            _exit(step());
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 255;
    }

    // Every entry below the outside folder with its type, mode, owner and content, in name order:
    // equal before and after a call when the call left root's files alone.
    std::string outside_snapshot() const {
        namespace fs = std::filesystem;
        std::vector<std::string> rows;
        for (const auto& entry : fs::recursive_directory_iterator(outside_)) {
            struct stat st = {};
            if (lstat(entry.path().c_str(), &st) != 0) continue;
            std::ostringstream row;
            row << entry.path().string() << ' ' << std::oct << st.st_mode << std::dec << ' ' << st.st_uid << ':'
                << st.st_gid;
            if (S_ISREG(st.st_mode)) row << ' ' << read_whole_file(entry.path().string());
            rows.push_back(row.str());
        }
        std::sort(rows.begin(), rows.end());
        std::string all;
        for (const auto& row : rows) all += row + '\n';
        return all;
    }

private:
    std::string outside_;
};

}  // namespace testbed
