// Directory listing and cleaning, and the free-disk-space check with its waits.
#include "os_file.h"

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "gm_param.h"
#include "os_file_internal.h"
#include "testbed.h"

using testbed::AgentHomeTest;

namespace {

std::set<std::string> listed(const char* dir) {
    std::set<std::string> names;
    OS_FILE_LIST_typ list = nullptr;
    if (OS_FILE_dir_open(&list, dir) != CM_RC_OK) return names;
    char name[256];
    while (OS_FILE_dir_next(&list, name) == CM_RC_OK) names.insert(name);
    OS_FILE_dir_close(&list);
    return names;
}

void age_days(const char* path, int days) {
    time_t when = time(nullptr) - static_cast<time_t>(days) * 86400;
    struct timeval times[2] = {{when, 0}, {when, 0}};
    utimes(path, times);
}

}  // namespace

TEST_F(AgentHomeTest, ListingSkipsDotEntriesAndEndsWith48) {
    home.write_file("procid/A_1.dat", "");
    home.write_file("procid/B_2.dat", "");
    OS_FILE_LIST_typ list = nullptr;
    ASSERT_EQ(OS_FILE_dir_open(&list, "procid"), CM_RC_OK);
    long start = OS_FILE_dir_telldir(&list);
    std::set<std::string> names;
    char name[256];
    while (OS_FILE_dir_next(&list, name) == CM_RC_OK) names.insert(name);
    EXPECT_EQ(names, (std::set<std::string>{"A_1.dat", "B_2.dat"}));
    EXPECT_EQ(OS_FILE_dir_next(&list, name), CM_RC_DIR_END);
    EXPECT_EQ(OS_FILE_dir_seekdir(&list, start), CM_RC_OK);
    EXPECT_EQ(OS_FILE_dir_next(&list, name), CM_RC_OK);
    EXPECT_EQ(OS_FILE_dir_close(&list), CM_RC_OK);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(OS_FILE_dir_close(&list), CM_RC_FAIL);
    EXPECT_EQ(OS_FILE_dir_next(&list, name), CM_RC_FAIL);
    EXPECT_EQ(OS_FILE_dir_telldir(&list), -1);
    EXPECT_EQ(OS_FILE_dir_open(&list, "no_such_dir"), CM_RC_FAIL);
}

// The entries deleted are those of the directory listed, with or without a trailing "/"; files
// of the same names beside it are not touched.
TEST_F(AgentHomeTest, DeleteFilesEmptiesTheListedDirectoryOnly) {
    for (const char* path : {"temp/work/", "temp/work"}) {
        SCOPED_TRACE(path);
        home.write_file("temp/work/a", "");
        home.write_file("temp/work/b", "");
        home.write_file("temp/a", "beside");
        EXPECT_EQ(OS_FILE_delete_files(path), CM_RC_OK);
        EXPECT_TRUE(listed("temp/work").empty());
        EXPECT_TRUE(home.exists("temp/a"));
    }
    EXPECT_EQ(OS_FILE_delete_files("no_such_dir/"), CM_RC_OK);
}

TEST_F(AgentHomeTest, DeletePatternMatchesWholeNames) {
    for (const char* name : {"a.log", "b.log", "a.log.1", "keep.txt"}) home.write_file(std::string("temp/") + name, "");
    EXPECT_EQ(OS_FILE_delete_pattern("temp", "*.log"), CM_RC_OK);
    EXPECT_EQ(listed("temp"), (std::set<std::string>{"a.log.1", "keep.txt"}));
}

TEST_F(AgentHomeTest, RemoveOldFilesKeepsTheLastDays) {
    for (auto [name, days] : std::map<std::string, int>{{"fresh", 0}, {"edge", 5}, {"old", 6}, {"older", 30}}) {
        home.write_file("proclog/" + name, "");
        age_days(("proclog/" + name).c_str(), days);
    }
    EXPECT_EQ(OS_FILE_dir_rm_old_files("proclog", 5), CM_RC_OK);
    EXPECT_EQ(listed("proclog"), (std::set<std::string>{"edge", "fresh"}));
    EXPECT_EQ(OS_FILE_dir_rm_old_files("no_such_dir", 5), CM_RC_FAIL);
}

// A link inside the tree to a directory outside it is removed as a link; what it points to stays.
TEST_F(AgentHomeTest, DirDeleteRemovesTheTreeButNotWhatLinksPointTo) {
    home.write_file("exe_old/bin/prog", "x");
    home.write_file("exe_old/readme", "x");
    home.write_file("data/keep/table.dat", "precious");
    ASSERT_EQ(symlink("../data/keep", "exe_old/link"), 0);
    EXPECT_EQ(OS_FILE_dir_delete("exe_old"), CM_RC_OK);
    EXPECT_FALSE(home.exists("exe_old"));
    EXPECT_EQ(home.read_file("data/keep/table.dat"), "precious");
    EXPECT_EQ(OS_FILE_dir_delete("exe_old"), CM_RC_FAIL);
}

namespace {

// Feeds the disk-space check with measurements, configuration and a clock that only counts.
class DiskSpace : public AgentHomeTest {
protected:
    std::vector<std::optional<unsigned long>> measures;  // the last one repeats
    std::map<std::string, std::string> config;
    std::vector<unsigned> waits;
    std::vector<std::string> paths;

    void SetUp() override {
        os_file::DiskProbe probe;
        probe.free_megabytes = [this](const char* path) {
            paths.push_back(path);
            size_t i = std::min(paths.size() - 1, measures.size() - 1);
            return measures[i];
        };
        probe.sleep = [this](unsigned seconds) { waits.push_back(seconds); };
        probe.config = [this](const char* key, char* value) {
            auto it = config.find(key);
            if (it == config.end()) return false;
            snprintf(value, 2048, "%s", it->second.c_str());
            return true;
        };
        os_file::set_disk_probe(probe);
    }
    void TearDown() override { os_file::reset_disk_probe(); }
};

}  // namespace

TEST_F(DiskSpace, ComparesFreeSpaceWithRequiredAndRecommendedAmounts) {
    struct Case {
        std::map<std::string, std::string> config;
        std::vector<std::optional<unsigned long>> measures;
        CM_RC rc;
        std::vector<unsigned> waits;
    } cases[] = {
        {{}, {150}, CM_RC_OK, {}},
        {{}, {80}, CM_RC_DISK_LOW, {}},
        {{}, {100}, CM_RC_DISK_LOW, {}},
        {{}, {40}, CM_RC_FAIL, {60, 60, 60, 60, 60}},
        {{}, {40, 40, 120}, CM_RC_OK, {60, 60}},
        {{}, {std::nullopt}, CM_RC_FAIL, {5, 5, 5, 5, 5}},
        {{}, {std::nullopt, 80}, CM_RC_DISK_LOW, {5}},
        {{{"MIN_FREE_SPACE", "200"}, {"MIN_FREE_SPACE_WARN", "300"}}, {250}, CM_RC_DISK_LOW, {}},
        {{{"MIN_FREE_SPACE", "0"}, {"MIN_FREE_SPACE_WARN", "-3"}}, {80}, CM_RC_DISK_LOW, {}},
        {{{"SLEEP_COUNT", "0"}}, {40}, CM_RC_FAIL, {}},
        {{{"SLEEP_COUNT", "2"}}, {40}, CM_RC_FAIL, {60, 60}},
        {{{"SLEEP_COUNT", "121"}}, {40}, CM_RC_FAIL, {60, 60, 60, 60, 60}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.waits));
        config = c.config;
        measures = c.measures;
        waits.clear();
        paths.clear();
        EXPECT_EQ(OS_FILE_checkDiskFreeSpace("temp/out"), c.rc);
        EXPECT_EQ(waits, c.waits);
    }
}

TEST_F(DiskSpace, MeasuresTheFileOrTheWorkingDirectoryWhenItIsMissing) {
    measures = {500};
    home.write_file("temp/out", "");
    OS_FILE_checkDiskFreeSpace("temp/out");
    OS_FILE_checkDiskFreeSpace("temp/missing");
    OS_FILE_checkDiskFreeSpace(nullptr);
    EXPECT_EQ(paths, (std::vector<std::string>{"temp/out", ".", "."}));
}

TEST_F(DiskSpace, AmountsComeFromTheConfigTable) {
    home.write_file("data/CONFIG.dat",
                    "MIN_FREE_SPACE                      200\n\nMIN_FREE_SPACE_WARN                 300\n\n");
    os_file::DiskProbe probe = os_file::current_disk_probe();  // the fixture's measures and waits
    os_file::reset_disk_probe();
    probe.config = os_file::current_disk_probe().config;  // the real CONFIG table
    os_file::set_disk_probe(probe);
    measures = {250};
    EXPECT_EQ(OS_FILE_checkDiskFreeSpace("temp/out"), CM_RC_DISK_LOW);
    measures = {301};
    EXPECT_EQ(OS_FILE_checkDiskFreeSpace("temp/out"), CM_RC_OK);
    GM_PARAM_clear();  // the table cache lives for the process; empty it before the leak check
}
