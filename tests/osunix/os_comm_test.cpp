// Communication lines: shutting a line and asking this host's name.
#include "os_comm.h"
#include "os_diag.h"
#include "testbed.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

namespace {

bool is_open(int fd) { return fcntl(fd, F_GETFD) != -1; }

std::string node_name() {
    struct utsname host = {};
    uname(&host);
    return host.nodename;
}

class CommHostnameLog : public testbed::AgentHomeTest {};

TEST(CommHostname, WritesTheNodeNameWhenItFitsWithItsTerminator) {
    const std::string expected = node_name();
    ASSERT_FALSE(expected.empty());
    char node[2048] = "stale";
    ASSERT_EQ(OS_COMM_hostname(node, sizeof node), CM_RC_OK);
    EXPECT_EQ(node, expected);

    std::string exact(expected.size() + 1, 'x');
    ASSERT_EQ(OS_COMM_hostname(exact.data(), static_cast<int>(exact.size())), CM_RC_OK);
    EXPECT_STREQ(exact.c_str(), expected.c_str());
}

TEST_F(CommHostnameLog, HostnameTooLongForTheBufferFailsWithAnEmptyTextAndALogLine) {
    OS_DIAG_initialize(nullptr, "comm");
    DIAG_set_debug_level(4);
    const std::string name = node_name();
    std::string small(name.size(), 'x');  // no room for the terminator
    EXPECT_EQ(OS_COMM_hostname(small.data(), static_cast<int>(small.size())), CM_RC_FAIL);
    EXPECT_EQ(small[0], '\0');
    EXPECT_NE(testbed::read_diag_log("comm").find("gethostname failed. error: "), std::string::npos);

    char one = 'x';
    EXPECT_EQ(OS_COMM_hostname(nullptr, 10), CM_RC_FAIL);
    EXPECT_EQ(OS_COMM_hostname(&one, 0), CM_RC_FAIL);
    EXPECT_EQ(one, 'x');
}

TEST(CommShut, ClosesTheLinesSocketOnceAndNeverADescriptorReusedAfterwards) {
    int pair[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    OS_COMM_line_typ line = {};
    line.fd = pair[0];
    EXPECT_EQ(OS_COMM_shut(&line), CM_RC_OK);
    EXPECT_EQ(line.fd, -1);
    EXPECT_FALSE(is_open(pair[0]));

    // The number is free again; whoever gets it next keeps it through a second shut.
    const int reused = dup(pair[1]);
    ASSERT_EQ(reused, pair[0]);
    EXPECT_EQ(OS_COMM_shut(&line), CM_RC_OK);
    EXPECT_TRUE(is_open(reused));

    // Without a line and with no socket recorded, nothing is closed.
    EXPECT_EQ(OS_COMM_shut(nullptr), CM_RC_OK);
    EXPECT_TRUE(is_open(reused));
    EXPECT_TRUE(is_open(pair[1]));
    close(reused);
    close(pair[1]);
}

}  // namespace
