// Files read and written by root in an agent home that an unprivileged user owns: every FIFO, link
// (to a root-only file or to /dev/zero) and linked folder that owner can plant is refused or
// harmless, nothing of root's outside the home changes, a folder linked on purpose to the owner's
// own disk keeps working, and the files that hold passwords are the agent owner's alone.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ag_dsect.h"
#include "be_internal.h"
#include "ess_config.h"
#include "gc_wrapper.h"
#include "gm_param.h"
#include "os_blowf.h"
#include "os_file.h"
#include "os_file_nofollow.h"
#include "os_shared_file_internal.h"
#include "owned_home.h"

namespace {

using testbed::kHomeOwnerGid;
using testbed::kHomeOwnerUid;

constexpr int kHung = 255;  // the child the call ran in was ended by its alarm (or crashed)

// Runs a call in a child process that an alarm ends after a few seconds, so that a call waiting on
// a FIFO fails the case instead of holding the test; the child's exit code is the call's result.
int within_seconds(const std::function<int()>& call) {
    const pid_t pid = fork();
    if (pid == 0) {
        alarm(10);
        _exit(call() & 0xff);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : kHung;
}

// A key/value list freed with it.
struct Rows {
    ZPALIST_handle_typ list{};
    Rows(std::initializer_list<std::pair<const char*, const char*>> rows) {
        ZPALIST_init(&list);
        for (const auto& [key, value] : rows) GM_PARAM_list_append(&list, key, value);
    }
    ~Rows() { GM_PARAM_list_clear(&list); }
};

// A sectioned list of one section freed with it.
struct Sections {
    ZPALIST_handle_typ list{};
    Sections(const char* section, std::initializer_list<std::pair<const char*, const char*>> rows) {
        ZPALIST_init(&list);
        for (const auto& [key, value] : rows) GM_PARAM_subtable_list_set(&list, section, key, value);
    }
    ~Sections() { GM_PARAM_subtable_list_clear(&list); }
};

class OwnedHomeFiles : public testbed::OwnedHomeTest {
protected:
    void SetUp() override {
        OwnedHomeTest::SetUp();
        if (IsSkipped()) return;
        // A second agent home of root's, beside the private file: its accounts file holds passwords.
        std::filesystem::create_directories(outside() + "/home2/data");
        write_outside("home2/data/DUZ_inst.dat", "[PROD]\nDB_PASSWD  cipher\n", 0600);
        // The owner's bigger disk, outside the home but the owner's own.
        disk_ = outside() + "/disk";
        std::filesystem::create_directories(disk_);
        ASSERT_EQ(chown(disk_.c_str(), kHomeOwnerUid, kHomeOwnerGid), 0);
        for (const char* folder : {"data/SSL/cert", "cm/DUZ/data", "exe/locale", "locks", "pid"})
            std::filesystem::create_directories(folder);
        give_home_to_owner();
    }

    void write_outside(const std::string& relative, const std::string& text, mode_t mode) const {
        const std::string path = outside() + "/" + relative;
        testbed::write_whole_file(path, text);
        ASSERT_EQ(chmod(path.c_str(), mode), 0);
    }

    // The owner's moves: a link or a FIFO at a name of the home, a folder of the home replaced by a
    // link (put back as a folder of the owner's by restore()).
    void plant_link(const std::string& name, const std::string& target) const {
        std::filesystem::remove_all(name);
        ASSERT_EQ(symlink(target.c_str(), name.c_str()), 0) << name;
        ASSERT_EQ(lchown(name.c_str(), kHomeOwnerUid, kHomeOwnerGid), 0);
    }
    void plant_fifo(const std::string& name) const {
        std::filesystem::remove_all(name);
        ASSERT_EQ(mkfifo(name.c_str(), 0666), 0) << name;
        ASSERT_EQ(lchown(name.c_str(), kHomeOwnerUid, kHomeOwnerGid), 0);
    }
    void link_folder(const std::string& folder, const std::string& target) {
        plant_link(folder, target);
        linked_.push_back(folder);
    }
    void restore() {
        for (const std::string& folder : linked_) {
            unlink(folder.c_str());
            std::filesystem::create_directories(folder);
        }
        linked_.clear();
        give_home_to_owner();
    }

    std::string disk_;
    std::vector<std::string> linked_;
};

TEST_F(OwnedHomeFiles, PlantedFifosLinksAndLinkedFoldersAreRefusedAndLeaveRootsFilesAlone) {
    const std::string secret = outside() + "/secret";
    const std::string roots_data = outside() + "/home2/data";
    const std::string roots_folder = outside() + "/tree";
    const std::string home_path = home.path();
    struct Case {
        const char* what;
        std::function<void()> plant;
        std::function<int()> call;  // the call's result, run in a child with an alarm
        int expected;
    };
    const auto no_context = [](ESS_Config_Context* ctx) {
        if (!ctx) return 2;
        ESS_Config_Delete(&ctx);
        return 1;
    };
    const auto fopen_rc = [](const char* name, OS_FILE_MODE_typ mode) {
        FILE* file = nullptr;
        const CM_RC rc = OS_FILE_fopen(name, &file, mode);
        if (file) OS_FILE_fclose(file);
        return static_cast<int>(rc);
    };
    const auto open_rc = [](const char* name, OS_FILE_MODE_typ mode) {
        OS_FD_typ fd = -1;
        const CM_RC rc = OS_FILE_open(&fd, name, mode);
        if (fd >= 0) close(fd);
        return static_cast<int>(rc);
    };
    const Case cases[] = {
        // Reads that hung on a FIFO or a link to /dev/zero, or read through a link.
        {"a FIFO at the site policy: every INI read of the security library",
         [&] { plant_fifo("data/SSL/cert/site.plc"); },
         [&] { return no_context(ESS_Config_New(0, "data/SSL/cert/site.plc/common", ESS_CONFIG_MODE_READ)); }, 2},
        {"a link to root's file at the site policy: no line of it reaches standard error",
         [&] { plant_link("data/SSL/cert/site.plc", secret); },
         [&] {
             testbed::StderrCapture err;
             const int rc = no_context(ESS_Config_New(0, "data/SSL/cert/site.plc/common", ESS_CONFIG_MODE_READ));
             return err.text().find("root's own text") == std::string::npos ? rc : 99;
         },
         2},
        {"a link to /dev/zero at the key store's policy: the key load",
         [&] { plant_link("data/SSL/cert/agkeystore.plc", "/dev/zero"); },
         [] { return static_cast<int>(OS_BLOWF_LoadKey()); }, CM_RC_FAIL},
        {"a FIFO at the locale control file: the globalization start", [&] { plant_fifo("exe/locale/control.nls"); },
         [&] {
             unsetenv("GC_LOCALEDIR");
             return static_cast<int>(GC_init(const_cast<char*>(home_path.c_str())));
         },
         CM_RC_FAIL},
        {"a FIFO at a table file", [&] { plant_fifo("data/FIFO.dat"); },
         [] {
             ZPALIST_handle_typ list{};
             return static_cast<int>(GM_PARAM_load_file(&list, "./data/FIFO.dat"));
         },
         CM_RC_FAIL},
        {"a link to /dev/zero read as a stream", [&] { plant_link("data/zero", "/dev/zero"); },
         [&] { return fopen_rc("data/zero", OS_FILE_READ); }, CM_RC_FAIL},
        {"a link to root's file read as a stream", [&] { plant_link("data/peek", secret); },
         [&] { return fopen_rc("data/peek", OS_FILE_READ); }, CM_RC_FAIL},
        {"a FIFO read through a descriptor", [&] { plant_fifo("data/pipe"); },
         [&] { return open_rc("data/pipe", OS_FILE_READ); }, CM_RC_OPEN_FAILED},
        {"a FIFO at a message file", [&] { plant_fifo("data/msg.dat"); },
         [] {
             DSECT_MSG_typ msg{};
             return static_cast<int>(AG_DSECT_file_read("data/msg.dat", &msg));
         },
         CM_RC_FAIL},
        // Writes at a fixed name through a link planted there.
        {"a link at a stream written", [&] { plant_link("data/out", secret); },
         [&] { return fopen_rc("data/out", OS_FILE_WRITE); }, CM_RC_FAIL},
        {"a link at a file created", [&] { plant_link("data/created", secret); },
         [&] { return open_rc("data/created", OS_FILE_CREATE); }, CM_RC_CREATE_FAILED},
        {"a link at a file appended to", [&] { plant_link("data/appended", secret); },
         [&] { return open_rc("data/appended", OS_FILE_APPEND); }, CM_RC_OPEN_FAILED},
        {"a link at a private file", [&] { plant_link("data/private", secret); },
         [&] { return open_rc("data/private", OS_FILE_WRITE_NOLOCK); }, CM_RC_FAIL},
        {"a link at a file emptied", [&] { plant_link("data/emptied", secret); },
         [] { return static_cast<int>(OS_FILE_create_empty("data/emptied")); }, CM_RC_FAIL},
        {"a link at a copy's destination", [&] { plant_link("data/copy", secret); },
         [&] {
             testbed::write_whole_file("data/source", "copied\n");
             return static_cast<int>(OS_FILE_copy("data/source", "data/copy", OS_FILE_WRITE));
         },
         CM_RC_FAIL},
        {"a link at a file whose bits are set", [&] { plant_link("data/bits", secret); },
         [] {
             return static_cast<int>(OS_FILE_set_permission("data/bits", OS_FILE_READ_WRITE_EXEC_PERMISSION,
                                                            OS_FILE_READ_WRITE_PERMISSION, OS_FILE_READ_PERMISSION));
         },
         CM_RC_FAIL},
        {"a link at a file given to the agent owner", [&] { plant_link("data/owned", secret); },
         [] { return static_cast<int>(OS_FILE_set_agent_owner("data/owned")); }, CM_RC_FAIL},
        {"a link at a message file written", [&] { plant_link("data/msg_out.dat", secret); },
         [] {
             char text[] = "hello";
             DSECT_MSG_typ msg{};
             msg.message = text;
             msg.size = 5;
             return static_cast<int>(AG_DSECT_file_write("data/msg_out.dat", &msg));
         },
         CM_RC_FAIL},
        // Fixed subfolders replaced by links to root's folders.
        {"data linked to a second home's data: the accounts file saved", [&] { link_folder("data", roots_data); },
         [] {
             Sections accounts("PROD", {{"DB_PASSWD", "owner's own"}});
             return static_cast<int>(GM_PARAM_subtable_list_save(&accounts.list, "./data/DUZ_inst.dat"));
         },
         CM_RC_FAIL},
        {"data linked to a second home's data: the accounts file read", [&] { link_folder("data", roots_data); },
         [] {
             ZPALIST_handle_typ list{};
             return static_cast<int>(GM_PARAM_subtable_load_file(&list, "./data/DUZ_inst.dat"));
         },
         CM_RC_FAIL},
        {"locks linked to root's folder: a lock file created", [&] { link_folder("locks", roots_folder); },
         [&] { return open_rc("./locks/AGENT.lock", OS_FILE_CREATE); }, CM_RC_CREATE_FAILED},
        {"proclog linked to root's folder: a log appended to", [&] { link_folder("proclog", roots_folder); },
         [&] { return open_rc("./proclog/AG_1.log", OS_FILE_APPEND); }, CM_RC_OPEN_FAILED},
        {"temp linked to root's folder: a fresh script", [&] { link_folder("temp", roots_folder); },
         [] { return os_file::create_fresh("temp/get_cpu_specs_1.sh", 0700) < 0 ? 2 : 1; }, 2},
        {"pid linked to root's folder: a pid file", [&] { link_folder("pid", roots_folder); },
         [] { return os_file::write_fresh("pid/ag_1", "", 0644) ? 1 : 2; }, 2},
        {"cm/DUZ/data linked to root's folder: a watcher file rewritten",
         [&] { link_folder("cm/DUZ/data", roots_folder); },
         [] { return static_cast<int>(os_shared::write_file("cm/DUZ/data/event_cfg.dat", "[A]\n")); },
         CM_RC_OPEN_FAILED},
        {"data linked to root's folder: a file read through it", [&] { link_folder("data", roots_folder + "/deeper"); },
         [&] { return fopen_rc("data/kept", OS_FILE_READ); }, CM_RC_FAIL},
        {"data linked to root's folder: a copy into it", [&] { link_folder("data", roots_folder + "/deeper"); },
         [&] {
             testbed::write_whole_file("temp/source", "copied\n");
             return static_cast<int>(OS_FILE_copy("temp/source", "data/kept", OS_FILE_WRITE));
         },
         CM_RC_FAIL},
        {"data linked to root's folder: a file renamed into it", [&] { link_folder("data", roots_folder + "/deeper"); },
         [&] {
             testbed::write_whole_file("temp/moved", "owner's text\n");
             return static_cast<int>(OS_FILE_rename("temp/moved", "data/kept"));
         },
         CM_RC_FAIL},
        {"data linked to root's folder: a file deleted in it", [&] { link_folder("data", roots_folder + "/deeper"); },
         [] { return static_cast<int>(OS_FILE_delete("data/kept")); }, CM_RC_FAIL},
    };
    const std::string before = outside_snapshot();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.plant();
        EXPECT_EQ(within_seconds(c.call), c.expected);
        restore();
        EXPECT_EQ(outside_snapshot(), before);
    }
}

TEST_F(OwnedHomeFiles, AFolderLinkedOnPurposeToTheOwnersDiskKeepsWorking) {
    link_folder("data", disk_);
    Rows rows({{"DBGLVL", "4"}});
    ASSERT_EQ(GM_PARAM_list_save(&rows.list, "./data/CONFIG.dat"), CM_RC_OK);
    EXPECT_EQ(testbed::read_whole_file(disk_ + "/CONFIG.dat"), "DBGLVL" + std::string(29, ' ') + " 4\n\n");
    ZPALIST_handle_typ back{};
    ASSERT_EQ(GM_PARAM_load_file(&back, "./data/CONFIG.dat"), CM_RC_OK);
    GM_PARAM_list_clear(&back);
    FILE* file = nullptr;
    ASSERT_EQ(OS_FILE_fopen("data/CONFIG.dat", &file, OS_FILE_READ), CM_RC_OK);
    OS_FILE_fclose(file);
    ASSERT_EQ(OS_FILE_copy("data/CONFIG.dat", "data/CONFIG.bak", OS_FILE_WRITE), CM_RC_OK);
    EXPECT_TRUE(std::filesystem::exists(disk_ + "/CONFIG.bak"));
}

TEST_F(OwnedHomeFiles, PasswordFilesAreTheAgentOwnersAloneWhileOtherTablesStayReadable) {
    struct stat st {};
    const auto mode_and_owner = [&](const char* path) {
        if (stat(path, &st) != 0) return std::string("missing");
        return std::to_string(st.st_mode & 07777) + " " + std::to_string(st.st_uid) + ":" + std::to_string(st.st_gid);
    };
    const std::string private_to_owner =
        std::to_string(0600) + " " + std::to_string(kHomeOwnerUid) + ":" + std::to_string(kHomeOwnerGid);
    Sections accounts("PROD", {{"DB_USER", "apps"}, {"DB_PASSWD", "cipher"}});

    // Created by a save, and saved again over a 0600 file and over a 0644 one an older save left.
    ASSERT_EQ(GM_PARAM_subtable_list_save(&accounts.list, "./data/DUZ_inst.dat"), CM_RC_OK);
    EXPECT_EQ(mode_and_owner("data/DUZ_inst.dat"), private_to_owner);
    ASSERT_EQ(GM_PARAM_subtable_list_save(&accounts.list, "./data/DUZ_inst.dat"), CM_RC_OK);
    EXPECT_EQ(mode_and_owner("data/DUZ_inst.dat"), private_to_owner);
    ASSERT_EQ(chmod("data/DUZ_inst.dat", 0644), 0);
    ASSERT_EQ(GM_PARAM_subtable_list_save(&accounts.list, "./data/DUZ_inst.dat"), CM_RC_OK);
    EXPECT_EQ(mode_and_owner("data/DUZ_inst.dat"), private_to_owner);

    // A save inside an accounts cycle keeps the file private even when no password is left in it.
    {
        os_shared::FileLock lock("./data/DUZ_inst.dat", be_accounts_file_options());
        ASSERT_TRUE(lock);
        Sections emptied("PROD", {{"DB_USER", "apps"}});
        ASSERT_EQ(GM_PARAM_subtable_list_save(&emptied.list, "./data/DUZ_inst.dat"), CM_RC_OK);
    }
    EXPECT_EQ(mode_and_owner("data/DUZ_inst.dat"), private_to_owner);

    // The cache's save of a table that holds a password too; every other table stays 0644.
    ASSERT_EQ(GM_PARAM_set("KEYS", "NEW_KEY", "material"), CM_RC_OK);
    ASSERT_EQ(GM_PARAM_save("KEYS"), CM_RC_OK);
    EXPECT_EQ(mode_and_owner("data/KEYS.dat"), private_to_owner);
    Rows config({{"DBGLVL", "4"}, {"COMMOPT", "SSL=N"}});
    ASSERT_EQ(GM_PARAM_list_save(&config.list, "./data/CONFIG.dat"), CM_RC_OK);
    ASSERT_EQ(stat("data/CONFIG.dat", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0644u);
}

}  // namespace
