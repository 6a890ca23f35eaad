// TCP lines and sessions on 127.0.0.1: time-outs by kind of line, reads from silent and closing
// peers, waits that signals interrupt or an exit request ends, whole writes to slow, closed and
// stalled readers, refused connections, the IP allow-list, finding a free port, the trace file,
// descriptors after close, and the SSL decision.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <clocale>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "gm_param.h"
#include "os_comm.h"
#include "os_diag.h"
#include "os_proc.h"
#include "testbed.h"

namespace {

using testbed::AgentHomeTest;
using Clock = std::chrono::steady_clock;

// A listening socket on 127.0.0.1 at a port the kernel picks.
struct Listener {
    int fd = -1;
    int port = 0;
    Listener() {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        struct sockaddr_in addr {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof addr;
        bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        listen(fd, 8);
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
        port = ntohs(addr.sin_port);
    }
    ~Listener() { close(fd); }
    int accept_one() const { return accept(fd, nullptr, nullptr); }
    std::string port_text() const { return std::to_string(port); }
};

// A client line and its session to a port on 127.0.0.1.
struct Client {
    OS_COMM_line_typ line{};
    OS_COMM_sess_typ sess{};
    CM_RC init_rc = 0;
    CM_RC open_rc = 0;
    explicit Client(int port, OS_COMM_proc_typ proc = OS_COMM_PROC_UT) {
        std::string port_text = std::to_string(port);
        char host[] = "127.0.0.1";
        init_rc = OS_COMM_init(OS_COMM_CLIENT, proc, host, port_text.data(), &line);
        if (init_rc == CM_RC_OK) open_rc = OS_COMM_sess_open(&line, &sess);
    }
    ~Client() {
        OS_COMM_sess_close(&sess);
        OS_COMM_shut(&line);
    }
};

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

TEST_F(AgentHomeTest, TimeOutOfALineComesFromItsKeyOrIs60) {
    Listener peer;
    const struct {
        OS_COMM_proc_typ proc;
        std::string config;
        int seconds;
    } cases[] = {
        {OS_COMM_PROC_UT, "UTTIMEOUT 0\nTCP_IP_TIMEOUT 7\n", 60},
        {OS_COMM_PROC_UT, "UTTIMEOUT x\n", 60},
        {OS_COMM_PROC_UT, "UTTIMEOUT 5\nTCP_IP_TIMEOUT 7\n", 5},
        {OS_COMM_PROC_AG, "UTTIMEOUT 5\nTCP_IP_TIMEOUT 0\n", 60},
        {OS_COMM_PROC_AG, "TCP_IP_TIMEOUT x\n", 60},
        {OS_COMM_PROC_AG, "UTTIMEOUT 5\nTCP_IP_TIMEOUT 5\n", 5},
        {OS_COMM_PROC_AG, "X 1\n", 60},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.config);
        GM_PARAM_clear();
        home.write_file("data/CONFIG.dat", c.config);
        Client client(peer.port, c.proc);
        ASSERT_EQ(client.init_rc, CM_RC_OK);
        EXPECT_EQ(client.line.timeout_interval, c.seconds);
        EXPECT_EQ(client.sess.timeout_interval, c.seconds);
        close(peer.accept_one());
    }
}

TEST_F(AgentHomeTest, ReadFromASilentPeerGivesThePartAndATimeOut) {
    home.write_file("data/CONFIG.dat", "UTTIMEOUT 1\n");
    Listener peer;
    Client client(peer.port);
    ASSERT_EQ(client.open_rc, CM_RC_OK);
    const int other = peer.accept_one();
    ASSERT_EQ(send(other, "abc", 3, 0), 3);
    char buffer[16] = {};
    const auto start = Clock::now();
    EXPECT_EQ(OS_COMM_sess_read(&client.sess, buffer, 10), 3);
    EXPECT_LT(seconds_since(start), 3.0);
    EXPECT_STREQ(buffer, "abc");
    EXPECT_EQ(client.sess.error, 46);
    EXPECT_EQ(OS_COMM_sess_error(&client.sess), 46);
    EXPECT_LT(OS_COMM_sess_read_all(&client.sess, buffer, 10), 0);
    EXPECT_EQ(OS_COMM_sess_error(&client.sess), 46);

    // The peer closes in the middle of a message: the exact read gives 0.
    ASSERT_EQ(send(other, "de", 2, 0), 2);
    close(other);
    EXPECT_EQ(OS_COMM_sess_read(&client.sess, buffer, 10), 0);
    EXPECT_EQ(OS_COMM_sess_active(&client.sess), CM_RC_FAIL);
}

// A wait that signals keep interrupting goes on for the time that remains instead of starting
// over; a wait in a process asked to exit ends within about a second as an unfinished wait (47),
// and one that begins after the request ends at once.
TEST_F(AgentHomeTest, InterruptedWaitGoesOnForTheRestAndAnExitRequestEndsIt) {
    home.write_file("data/CONFIG.dat", "UTTIMEOUT 2\n");
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: each signal interrupts the wait
    ASSERT_EQ(sigaction(SIGUSR1, &action, nullptr), 0);
    Listener peer;
    Client client(peer.port);
    ASSERT_EQ(client.open_rc, CM_RC_OK);
    const int other = peer.accept_one();
    char buffer[16] = {};

    const pthread_t reader = pthread_self();
    std::atomic<bool> done{false};
    std::thread interrupter([&] {
        const auto until = Clock::now() + std::chrono::seconds(8);
        while (!done && Clock::now() < until) {
            pthread_kill(reader, SIGUSR1);
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
        }
    });
    auto start = Clock::now();
    EXPECT_EQ(OS_COMM_sess_read(&client.sess, buffer, 10), 0);
    double waited = seconds_since(start);
    done = true;
    interrupter.join();
    EXPECT_GE(waited, 1.9);
    EXPECT_LT(waited, 5.0);  // starting over at each signal, it would last as long as the signals
    EXPECT_EQ(OS_COMM_sess_error(&client.sess), 46);

    client.sess.timeout_interval = 30;
    std::thread asker([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        OS_PROC_exit_request_set(1);
    });
    start = Clock::now();
    EXPECT_EQ(OS_COMM_sess_read(&client.sess, buffer, 10), 0);
    waited = seconds_since(start);
    asker.join();
    EXPECT_LT(waited, 5.0);  // not the 30 seconds of the time-out
    EXPECT_EQ(OS_COMM_sess_error(&client.sess), 47);
    start = Clock::now();
    EXPECT_LT(OS_COMM_sess_read_all(&client.sess, buffer, 10), 0);
    EXPECT_LT(seconds_since(start), 2.0);
    EXPECT_EQ(OS_COMM_sess_error(&client.sess), 47);
    OS_PROC_exit_request_set(0);
    close(other);
}

TEST_F(AgentHomeTest, WholeWritesReachASlowReaderAndFailOnClosedOrStalledOnes) {
    home.write_file("data/CONFIG.dat", "UTTIMEOUT 1\n");
    Listener peer;
    std::vector<char> data(4 * 1024 * 1024);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>('a' + i % 26);
    {
        Client client(peer.port);
        ASSERT_EQ(client.open_rc, CM_RC_OK);
        const int other = peer.accept_one();
        std::string received;
        std::thread reader([&] {
            char chunk[65536];
            ssize_t n;
            while ((n = recv(other, chunk, sizeof chunk, 0)) > 0) {
                received.append(chunk, static_cast<std::size_t>(n));
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
            }
        });
        EXPECT_EQ(OS_COMM_sess_write(&client.sess, data.data(), static_cast<int>(data.size())), CM_RC_OK);
        OS_COMM_sess_close(&client.sess);
        OS_COMM_shut(&client.line);
        reader.join();
        close(other);
        EXPECT_TRUE(received == std::string(data.begin(), data.end()));
    }
    {
        Client client(peer.port);
        close(peer.accept_one());
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(OS_COMM_sess_write(&client.sess, data.data(), static_cast<int>(data.size())), CM_RC_FAIL);
    }
    {
        Client client(peer.port);
        const int other = peer.accept_one();  // never read
        const auto start = Clock::now();
        std::vector<char> big(64 * 1024 * 1024, 'x');
        EXPECT_EQ(OS_COMM_sess_write(&client.sess, big.data(), static_cast<int>(big.size())), CM_RC_END);
        EXPECT_LT(seconds_since(start), 5.0);
        close(other);
    }
}

TEST_F(AgentHomeTest, SlowRefusedPortIsTriedFiveTimesASecondApart) {
    int port = 0;
    {
        Listener gone;
        port = gone.port;
    }
    const auto start = Clock::now();
    Client client(port);
    EXPECT_EQ(client.init_rc, CM_RC_FAIL);
    EXPECT_EQ(client.line.fd, -1);
    const double took = seconds_since(start);
    EXPECT_GE(took, 3.9);
    EXPECT_LT(took, 8.0);
}

TEST_F(AgentHomeTest, UnknownHostFailsTheLineAtOnce) {
    OS_COMM_line_typ line{};
    char host[] = "no-such-host.invalid";
    char port[] = "1";
    const auto start = Clock::now();
    EXPECT_EQ(OS_COMM_init(OS_COMM_CLIENT, OS_COMM_PROC_UT, host, port, &line), CM_RC_FAIL);
    EXPECT_LT(seconds_since(start), 3.0);
}

// A server line on 127.0.0.1 and a client socket bound to `from` that connects to it.
CM_RC accept_from(const char* from, OS_COMM_sess_typ& sess, std::string& sender) {
    OS_COMM_line_typ line{};
    char host[] = "127.0.0.1";
    char port[] = "0";
    EXPECT_EQ(OS_COMM_init(OS_COMM_SERVER, OS_COMM_PROC_AG, host, port, &line), CM_RC_OK);
    struct sockaddr_in bound {};
    socklen_t length = sizeof bound;
    getsockname(line.fd, reinterpret_cast<sockaddr*>(&bound), &length);
    const int client = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in mine {};
    mine.sin_family = AF_INET;
    inet_pton(AF_INET, from, &mine.sin_addr);
    EXPECT_EQ(bind(client, reinterpret_cast<sockaddr*>(&mine), sizeof mine), 0);
    EXPECT_EQ(connect(client, reinterpret_cast<sockaddr*>(&bound), sizeof bound), 0);
    const CM_RC rc = OS_COMM_sess_open(&line, &sess);
    sender = sess.sender_ip;
    OS_COMM_sess_close(&sess);
    OS_COMM_shut(&line);
    close(client);
    return rc;
}

TEST_F(AgentHomeTest, ServerSessionsCheckThePeerAgainstTheAllowList) {
    const struct {
        std::string config;
        const char* from;
        CM_RC expected;
    } cases[] = {
        {"AUTHORIZED_ORV_IP 10.0.0.5|10.0.0.6\n", "127.0.0.2", 44},
        {"AUTHORIZED_ORV_IP 10.0.0.5|10.0.0.6\n", "127.0.0.1", CM_RC_OK},
        {"AUTHORIZED_ORV_IP 10.0.0.5|127.0.0.2\n", "127.0.0.2", CM_RC_OK},
        {"X 1\n", "127.0.0.2", CM_RC_OK},
        {"AUTHORIZED_ORV_IP \n", "127.0.0.2", CM_RC_OK},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.config + c.from);
        GM_PARAM_clear();
        home.write_file("data/CONFIG.dat", c.config);
        OS_COMM_sess_typ sess{};
        std::string sender;
        EXPECT_EQ(accept_from(c.from, sess, sender), c.expected);
        EXPECT_EQ(sender, c.from);
        EXPECT_EQ(OS_COMM_sess_error(&sess), c.expected == CM_RC_OK ? CM_RC_OK : CM_RC_FAIL);
    }
    char ip[] = "10.0.0.7";
    GM_PARAM_clear();
    home.write_file("data/CONFIG.dat", "AUTHORIZED_ORV_IP 10.0.0.5|10.0.0.6\n");
    EXPECT_EQ(OS_COMM_is_IP_authorized(ip), 44);
}

TEST_F(AgentHomeTest, ServerWithoutAConnectionTimesOut) {
    home.write_file("data/CONFIG.dat", "TCP_IP_TIMEOUT 1\n");
    OS_COMM_line_typ line{};
    OS_COMM_sess_typ sess{};
    char host[] = "127.0.0.1";
    char port[] = "0";
    ASSERT_EQ(OS_COMM_init(OS_COMM_SERVER, OS_COMM_PROC_AG, host, port, &line), CM_RC_OK);
    const auto start = Clock::now();
    EXPECT_EQ(OS_COMM_sess_open(&line, &sess), 46);
    EXPECT_LT(seconds_since(start), 3.0);
    OS_COMM_shut(&line);
}

TEST_F(AgentHomeTest, FindPortServerMovesPastPortsInUse) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        Listener first;
        std::vector<std::unique_ptr<Listener>> taken;
        bool all_taken = true;
        for (int next = 1; next <= 2 && all_taken; ++next) {
            auto l = std::make_unique<Listener>();
            // Re-bind a listener exactly at first.port + next.
            close(l->fd);
            l->fd = socket(AF_INET, SOCK_STREAM, 0);
            struct sockaddr_in addr {};
            addr.sin_family = AF_INET;
            addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            addr.sin_port = htons(static_cast<uint16_t>(first.port + next));
            all_taken = bind(l->fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && listen(l->fd, 1) == 0;
            taken.push_back(std::move(l));
        }
        if (!all_taken || OS_COMM_is_port_free(first.port + 3) != CM_RC_OK) continue;
        EXPECT_EQ(OS_COMM_is_port_free(first.port), CM_RC_FAIL);
        OS_COMM_line_typ line{};
        char host[] = "127.0.0.1";
        std::string port = first.port_text();
        ASSERT_EQ(OS_COMM_init(OS_COMM_SERVER_FIND_PORT, OS_COMM_PROC_AG, host, port.data(), &line), CM_RC_OK);
        EXPECT_EQ(port, std::to_string(first.port + 3));
        EXPECT_EQ(ntohs(line.addr.sin_port), first.port + 3);
        OS_COMM_shut(&line);

        OS_COMM_line_typ plain{};
        port = first.port_text();
        EXPECT_EQ(OS_COMM_init(OS_COMM_SERVER, OS_COMM_PROC_AG, host, port.data(), &plain), CM_RC_FAIL);
        return;
    }
    GTEST_SKIP() << "no run of four free ports found";
}

TEST_F(AgentHomeTest, TraceFileTakesWhatTheCallersWriteWhenCommTraceIsOn) {
    home.write_file("data/CONFIG.dat", "COMM_TRACE 1\n");
    Listener peer;
    Client client(peer.port);
    ASSERT_EQ(client.open_rc, CM_RC_OK);
    EXPECT_EQ(std::string(client.sess.trace_file), "./proclog/trace_" + std::to_string(getpid()));
    OS_COMM_trace_write(&client.sess, "SIZE: %s", "a 0004");
    OS_COMM_trace_write(&client.sess, "DATA: <<<%s>>>", "abcd");
    const std::string trace = home.read_file("proclog/trace_" + std::to_string(getpid()));
    const auto lines = testbed::lines_of(trace);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[1], "SIZE: a 0004");
    EXPECT_EQ(lines[3], "DATA: <<<abcd>>>");
    EXPECT_EQ(lines[0].size(), std::string("MMDD HH:MM:SS").size());
    struct stat status {};
    stat(("proclog/trace_" + std::to_string(getpid())).c_str(), &status);
    EXPECT_EQ(status.st_mode & 0777, 0666u);
    close(peer.accept_one());

    GM_PARAM_clear();
    home.write_file("data/CONFIG.dat", "COMM_TRACE 0\n");
    Client quiet(peer.port);
    OS_COMM_trace_write(&quiet.sess, "SIZE: %s", "never");
    EXPECT_EQ(home.read_file("proclog/trace_" + std::to_string(getpid())), trace);
    close(peer.accept_one());
}

TEST_F(AgentHomeTest, AFileOpenedBetweenSessionCloseAndLineShutStaysOpen) {
    Listener peer;
    Client client(peer.port);
    ASSERT_EQ(client.open_rc, CM_RC_OK);
    EXPECT_NE(client.sess.fd, client.line.fd);
    const int session_fd = client.sess.fd;
    OS_COMM_sess_close(&client.sess);
    const int file = open("data/probe", O_CREAT | O_RDWR, 0600);
    EXPECT_EQ(file, session_fd);
    OS_COMM_shut(&client.line);
    EXPECT_NE(fcntl(file, F_GETFD), -1);
    close(file);
    close(peer.accept_one());
}

TEST_F(AgentHomeTest, ChildOfForkRunsTheFunctionAndEnds) {
    OS_COMM_line_typ line{};
    line.fd = -1;
    OS_COMM_sess_typ sess{};
    sess.fd = 42;
    static const char* marker = "data/child_ran";
    ASSERT_EQ(OS_COMM_fork(
                  [](OS_COMM_sess_typ* s) {
                      FILE* f = std::fopen(marker, "w");
                      std::fprintf(f, "%d", s->fd);
                      std::fclose(f);
                  },
                  &line, &sess, nullptr),
              CM_RC_OK);
    int status = -1;
    ASSERT_GT(wait(&status), 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(home.read_file(marker), "42");
}

TEST_F(AgentHomeTest, SslDecisionByKindOfPeerAndConfiguration) {
    const struct {
        OS_COMM_proc_typ proc;
        std::string config;
        int ssl;
    } cases[] = {
        {OS_COMM_PROC_UT, "COMMOPT SSL=Y\nPERSISTENT_CONNECTION N\n", 1},
        {OS_COMM_PROC_UT, "COMMOPT SSL=Y\nPERSISTENT_CONNECTION Y\n", 0},
        {OS_COMM_PROC_UT, "COMMOPT SSL=N\nPERSISTENT_CONNECTION N\n", 0},
        {OS_COMM_PROC_UT, "COMMOPT SSL=y\nPERSISTENT_CONNECTION N\n", 0},
        {OS_COMM_PROC_UT, "COMMOPT X\nPERSISTENT_CONNECTION N\n", 0},
        {OS_COMM_PROC_UT, "COMMOPT SSL=Y\n", 0},
        {OS_COMM_PROC_AR_EXT, "COMMOPT X,SSL=Y\nPERSISTENT_CONNECTION Y\n", 1},
        {OS_COMM_PROC_AR_INT, "COMMOPT SSL=Y\nPERSISTENT_CONNECTION Y\n", 0},
        {OS_COMM_PROC_ATW, "COMMOPT SSL=Y\nPERSISTENT_CONNECTION N\n", 0},
        {OS_COMM_PROC_RU, "X 1\n", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.proc) + " " + c.config);
        GM_PARAM_clear();
        home.write_file("data/CONFIG.dat", c.config);
        EXPECT_EQ(OS_COMM_get_current_ssl_mode(c.proc), c.ssl);
    }
    const struct {
        const char* key;
        const char* value;
        CM_RC rc;
    } commopt[] = {{"COMMOPT", "SSL=Y", CM_RC_OK},
                   {"COMMOPT", "A=1,SSL=N", CM_RC_OK},
                   {"COMMOPT", "SSL=y", CM_RC_FAIL},
                   {"COMMOPT", "SSL", CM_RC_FAIL},
                   {"OTHER", "SSL=Y", CM_RC_FAIL}};
    for (const auto& c : commopt) {
        std::string key = c.key, value = c.value;
        EXPECT_EQ(OS_COMM_validate_commopt(key.data(), value.data()), c.rc) << c.key << " " << c.value;
    }
}

TEST_F(AgentHomeTest, LineThatWantsSslFailsWithoutItsPolicies) {
    OS_DIAG_initialize(nullptr, "comm");
    home.write_file("data/CONFIG.dat", "COMMOPT SSL=Y\nPERSISTENT_CONNECTION N\n");
    Listener peer;
    Client client(peer.port);
    EXPECT_EQ(client.init_rc, CM_RC_FAIL);
    EXPECT_NE(testbed::read_diag_log("comm").find("unable to initialize policy ./data/SSL/cert/ag.plc"),
              std::string::npos);
}

TEST_F(AgentHomeTest, ServerHostIsThePeersAddress) {
    Listener peer;
    Client client(peer.port);
    char host[64] = "configured";
    EXPECT_EQ(OS_COMM_get_server_host(host, &client.sess), CM_RC_OK);
    EXPECT_STREQ(host, "127.0.0.1");
    close(peer.accept_one());
}

}  // namespace

namespace {

TEST_F(AgentHomeTest, ConfigurationValuesAreCheckedByType) {
    Listener busy;
    const std::string busy_port = busy.port_text();
    const struct {
        const char* validation;
        const char* name;
        std::string value;
        CM_RC rc;
        std::string message;
        const char* code;
    } cases[] = {
        {"6", "LOCALE", "C", CM_RC_OK, "", ""},
        {"6", "LOCALE", "xx_NOWHERE.none", CM_RC_FAIL,
         "Failed to set Orvanta/Agent configuration parameter. Cannot set locale: xx_NOWHERE.none.", "AGT7907"},
        {"11", "AGCMNDATA", busy_port, CM_RC_FAIL,
         "Failed to set Orvanta/Agent configuration parameter. Verify that the port: " + busy_port + " is free.",
         "AGT7906"},
        {"11", "MIN_FREE_SPACE", "0", CM_RC_OK, "", ""},
        {"11", "MIN_FREE_SPACE", "999999999999", CM_RC_FAIL,
         "Failed to set Orvanta/Agent configuration parameter. Free disk space is ", "AGT7907"},
        {"3", "ANYTHING", "x", CM_RC_OK, "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.name) + " " + c.value);
        std::string validation = c.validation, name = c.name, value = c.value;
        char message[OS_COMM_VALIDATE_MESSAGE_ROOM] = "";
        char code[8] = "";
        EXPECT_EQ(OS_COMM_validate(validation.data(), name.data(), value.data(), message, code), c.rc);
        EXPECT_EQ(std::string(message).substr(0, c.message.size()), c.message);
        EXPECT_STREQ(code, c.code);
    }
    EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C");
}

TEST(CommNames, DottedAddressesAndTheLocalName) {
    struct in_addr addr {};
    char dotted[] = "127.0.0.9";
    ASSERT_EQ(OS_COMM_gethostbyname(dotted, &addr), CM_RC_OK);
    EXPECT_EQ(ntohl(addr.s_addr), 0x7f000009u);
    char localhost[] = "localhost";
    EXPECT_EQ(OS_COMM_gethostbyname(localhost, &addr), CM_RC_OK);
    char bad[] = "no-such-host.invalid";
    EXPECT_EQ(OS_COMM_gethostbyname(bad, &addr), CM_RC_FAIL);
    char node[256], host[256], domain[256];
    char regular[] = "REGULAR";
    ASSERT_EQ(OS_COMM_gethostbyname_cmdb(node, sizeof node, regular, host, sizeof host, domain, sizeof domain),
              CM_RC_OK);
    char name[256] = {};
    gethostname(name, sizeof name - 1);
    EXPECT_STREQ(node, name);
    EXPECT_STREQ(host, name);
}

TEST(CommSockets, ReadinessAndLivenessOfAPair) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    char buff[32];
    EXPECT_EQ(OS_COMM_is_socket_ready(fds[0], SOCK_READ), CM_RC_FAIL);
    EXPECT_EQ(OS_COMM_is_socket_ready(fds[0], SOCK_WRITE), CM_RC_OK);
    EXPECT_EQ(OS_COMM_is_socket_ready(fds[0], static_cast<OS_COMM_SOCK_typ>(7)), CM_RC_FAIL);
    EXPECT_EQ(OS_COMM_connection_active(fds[0], buff, sizeof buff), CM_RC_OK);
    ASSERT_EQ(write(fds[1], "x", 1), 1);
    EXPECT_EQ(OS_COMM_is_socket_ready(fds[0], SOCK_READ), CM_RC_OK);
    EXPECT_EQ(OS_COMM_connection_active(fds[0], buff, sizeof buff), CM_RC_OK);
    char x;
    ASSERT_EQ(read(fds[0], &x, 1), 1);
    close(fds[1]);
    EXPECT_EQ(OS_COMM_connection_active(fds[0], buff, sizeof buff), CM_RC_FAIL);
    EXPECT_EQ(OS_COMM_connection_active(fds[0], nullptr, 0), CM_RC_FAIL);
    EXPECT_GT(OS_COMM_get_sndbuf(fds[0]), 0);
    OS_COMM_identifier one{fds[0]}, two{-1};
    EXPECT_EQ(OS_COMM_copy_identifier(&two, &one), CM_RC_OK);
    EXPECT_EQ(OS_COMM_disconnect_client(&two), CM_RC_OK);
    EXPECT_EQ(OS_COMM_disconnect_client(&one), CM_RC_FAIL);
}

}  // namespace
