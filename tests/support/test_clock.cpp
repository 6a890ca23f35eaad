#include "test_clock.h"

#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace testbed {

namespace {

const char* const kClockFiles[] = {"/tmp/ORVANTA_FACTOR", "/tmp/ORVANTA_ODAT", "/tmp/ORVANTA_START_SYS"};

bool make_private_tmp() {
    return unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
           mount("tmpfs", "/tmp", "tmpfs", 0, nullptr) == 0;
}

}  // namespace

void TestClockTest::SetUp() {
    private_tmp_ = make_private_tmp();
    for (const char* file : kClockFiles) {
        if (!private_tmp_ && access(file, F_OK) == 0) saved_[file] = read_whole_file(file);
        std::remove(file);
    }
    setenv("TZ", "UTC", 1);
    tzset();
    setenv("ORVANTA_TIME_ACC", "1", 1);
    home = std::make_unique<AgentHome>();
}

void TestClockTest::TearDown() {
    home.reset();
    for (const char* file : kClockFiles) std::remove(file);
    for (const auto& [file, content] : saved_) write_whole_file(file, content);
    unsetenv("ORVANTA_TIME_ACC");
}

void TestClockTest::write_clock_file(const std::string& path, const std::string& text) { write_whole_file(path, text); }

}  // namespace testbed
