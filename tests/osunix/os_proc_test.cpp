// The process accessors before start-up has run: the configuration table, the exit request and the
// user the process runs as.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <string>

#include "os_proc.h"

namespace {

TEST(ProcessState, AccessorsAnswerBeforeStartUp) {
    EXPECT_STREQ(OS_PROC_config_file(), "CONFIG");
    EXPECT_EQ(OS_PROC_exit_request_get(), 0);
    OS_PROC_exit_request_set(1);
    EXPECT_EQ(OS_PROC_exit_request_get(), 1);
    const uid_t uid = getuid();
    const struct passwd* entry = getpwuid(uid);
    const std::string expected = uid == 0 ? "root" : (entry ? entry->pw_name : "");
    EXPECT_EQ(std::string(OS_PROC_get_curr_user()), expected.substr(0, 30));
}

}  // namespace
