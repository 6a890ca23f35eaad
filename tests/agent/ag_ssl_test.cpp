// SSL sessions over 127.0.0.1 with certificates made for the test: framed messages both ways, the
// SSL decision putting a utility line on TLS, a server certificate from another authority, a
// client that never speaks, the process's profiles kept after the policy files go, a provider that
// gives no profile, and the allow-list in front of a TLS peer.
#include <arpa/inet.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "ag_dsect.h"
#include "gm_param.h"
#include "joined.h"
#include "os_diag.h"
#include "os_proc.h"
#include "testbed.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr char kCertDir[] = "data/SSL/cert";

// ---- certificates made at run time

EVP_PKEY* new_key() { return EVP_EC_gen("P-256"); }

X509* new_cert(EVP_PKEY* key, const char* cn, X509* issuer, EVP_PKEY* issuer_key, bool ca) {
    static long serial = 1;
    X509* x = X509_new();
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), serial++);
    X509_gmtime_adj(X509_getm_notBefore(x), -60);
    X509_gmtime_adj(X509_getm_notAfter(x), 3600);
    X509_set_pubkey(x, key);
    X509_NAME* name = X509_get_subject_name(x);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(cn), -1, -1, 0);
    X509_set_issuer_name(x, issuer ? X509_get_subject_name(issuer) : name);
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, issuer ? issuer : x, x, nullptr, nullptr, 0);
    X509_EXTENSION* ext =
        X509V3_EXT_conf_nid(nullptr, &ctx, NID_basic_constraints, ca ? "critical,CA:TRUE" : "CA:FALSE");
    X509_add_ext(x, ext, -1);
    X509_EXTENSION_free(ext);
    X509_sign(x, issuer_key ? issuer_key : key, EVP_sha256());
    return x;
}

void write_pem(const std::string& path, X509* cert, EVP_PKEY* key) {
    FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    if (cert) PEM_write_X509(f, cert);
    if (key) PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr);
    std::fclose(f);
}

// An authority and a server certificate signed by it, written as <prefix>ca.pem, <prefix>server.pem
// and <prefix>server.key in the certificate folder.
void make_authority(const std::string& prefix) {
    EVP_PKEY* ca_key = new_key();
    X509* ca = new_cert(ca_key, (prefix + "test CA").c_str(), nullptr, nullptr, true);
    EVP_PKEY* server_key = new_key();
    X509* server = new_cert(server_key, "localhost", ca, ca_key, false);
    const std::string dir = std::string(kCertDir) + "/";
    write_pem(dir + prefix + "ca.pem", ca, nullptr);
    write_pem(dir + prefix + "server.pem", server, nullptr);
    write_pem(dir + prefix + "server.key", nullptr, server_key);
    X509_free(server);
    EVP_PKEY_free(server_key);
    X509_free(ca);
    EVP_PKEY_free(ca_key);
}

// A temporary agent home with the signed providers in ./lib, a test authority, the policies that
// name its files, and a CONFIG that puts lines on SSL.
class SslTest : public testbed::AgentHomeTest {
protected:
    void SetUp() override {
        fs::create_directories("lib");
        for (const char* module : {"libqelcfg.so", "libqelbca.so"})
            fs::copy_file(std::string(APPBRIDGE_ESS_SIGNED_DIR) + "/" + module, std::string("lib/") + module);
        fs::create_directories(kCertDir);
        make_authority("");
        make_authority("other_");
        home.write_file("data/SSL/cert/site.plc", "[common]\nbindir64 = ./lib\n");
        policy("server");
        config("");
        OS_DIAG_initialize(nullptr, "comm");
    }
    void policy(const std::string& server_prefix, const std::string& client_extra = "") {
        home.write_file("data/SSL/cert/ag.plc", "[client]\nstandin_tls_ca = ./data/SSL/cert/ca.pem\n" + client_extra +
                                                    "[server]\nstandin_tls_cert = ./data/SSL/cert/" + server_prefix +
                                                    ".pem\nstandin_tls_key = ./data/SSL/cert/" + server_prefix +
                                                    ".key\n");
    }
    void config(const std::string& extra, const char* persistent = "N") {
        GM_PARAM_clear();
        home.write_file("data/CONFIG.dat", std::string("COMMOPT SSL=Y\nPERSISTENT_CONNECTION ") + persistent +
                                               "\nTCP_IP_TIMEOUT 2\nUTTIMEOUT 2\n" + extra);
    }
    std::string log() { return testbed::read_diag_log("comm"); }
};

// A server line on 127.0.0.1 at a free port.
struct Server {
    OS_COMM_line_typ line{};
    int port = 0;
    Server() {
        char host[] = "127.0.0.1";
        char port_text[] = "0";
        EXPECT_EQ(OS_COMM_init(OS_COMM_SERVER, OS_COMM_PROC_AG, host, port_text, &line), CM_RC_OK);
        struct sockaddr_in addr {};
        socklen_t length = sizeof addr;
        getsockname(line.fd, reinterpret_cast<sockaddr*>(&addr), &length);
        port = ntohs(addr.sin_port);
    }
    ~Server() { OS_COMM_shut(&line); }
};

struct ClientLine {
    OS_COMM_line_typ line{};
    OS_COMM_sess_typ sess{};
    CM_RC init_rc = 0, open_rc = 0;
    explicit ClientLine(int port) {
        std::string port_text = std::to_string(port);
        char host[] = "127.0.0.1";
        init_rc = OS_COMM_init(OS_COMM_CLIENT, OS_COMM_PROC_UT, host, port_text.data(), &line);
        if (init_rc == CM_RC_OK) open_rc = OS_COMM_sess_open(&line, &sess);
    }
    ~ClientLine() {
        OS_COMM_sess_close(&sess);
        OS_COMM_shut(&line);
    }
};

// One session accepted on the server line in a thread of its own, then closed: the open's result.
std::future<CM_RC> serve_one(Server& server) {
    return std::async(std::launch::async, [&server] {
        OS_COMM_sess_typ sess{};
        const CM_RC rc = OS_COMM_sess_open(&server.line, &sess);
        OS_COMM_sess_close(&sess);
        return rc;
    });
}

DSECT_MSG_typ message_of(std::string& body) { return DSECT_MSG_typ{body.data(), static_cast<unsigned>(body.size())}; }

std::string read_body(OS_COMM_sess_typ& sess) {
    DSECT_MSG_typ msg{};
    if (AG_DSECT_comm_message_read(&sess, &msg) != CM_RC_OK) return "<failed>";
    std::string body(msg.message, msg.size);
    AG_DSECT_message_delete(&msg);
    return body;
}

TEST_F(SslTest, ServerAndClientExchangeFramedMessagesBothWays) {
    Server server;
    std::string big(100 * 1024, 'b');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>('a' + i % 26);
    auto served = std::async(std::launch::async, [&] {
        OS_COMM_sess_typ sess{};
        if (OS_COMM_sess_open(&server.line, &sess) != CM_RC_OK) return std::string("<no session>");
        std::string got = read_body(sess);
        DSECT_MSG_typ reply = message_of(big);
        AG_DSECT_comm_message_write(&sess, &reply);
        got += testbed::joined("|", read_body(sess).size());
        OS_COMM_sess_close(&sess);
        return got;
    });
    ClientLine client(server.port);
    ASSERT_EQ(client.open_rc, CM_RC_OK);
    EXPECT_NE(client.line.ssl_profile, nullptr);
    EXPECT_EQ(client.sess.ssl_is_established, 1);
    std::string hello = "hello over TLS";
    DSECT_MSG_typ msg = message_of(hello);
    ASSERT_EQ(AG_DSECT_comm_message_write(&client.sess, &msg), CM_RC_OK);
    EXPECT_EQ(read_body(client.sess), big);
    msg = message_of(big);
    ASSERT_EQ(AG_DSECT_comm_message_write(&client.sess, &msg), CM_RC_OK);
    EXPECT_EQ(served.get(), "hello over TLS|" + std::to_string(big.size()));
}

// The first byte a plain listener gets from a utility line that opens a session and writes.
int first_byte() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(fd, 1);
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
    auto peer = std::async(std::launch::async, [&] {
        const int other = accept(fd, nullptr, nullptr);
        unsigned char byte = 0;
        const ssize_t n = recv(other, &byte, 1, 0);
        close(other);
        return n == 1 ? static_cast<int>(byte) : -1;
    });
    ClientLine client(ntohs(addr.sin_port));
    if (client.open_rc == CM_RC_OK) {
        std::string body = "x";
        DSECT_MSG_typ msg = message_of(body);
        AG_DSECT_comm_message_write(&client.sess, &msg);
    }
    const int byte = peer.get();
    close(fd);
    return byte;
}

TEST_F(SslTest, UtilityLineUsesTlsOnlyWithoutAPersistentConnection) {
    EXPECT_EQ(first_byte(), 0x16);
    config("", "Y");
    EXPECT_EQ(first_byte(), 'a');
}

TEST_F(SslTest, ServerCertificateFromAnotherAuthorityFailsTheClient) {
    policy("other_server");
    Server server;
    auto served = serve_one(server);
    ClientLine client(server.port);
    EXPECT_EQ(client.init_rc, CM_RC_OK);
    EXPECT_EQ(client.open_rc, CM_RC_FAIL);
    EXPECT_EQ(client.sess.fd, -1);
    EXPECT_EQ(served.get(), CM_RC_FAIL);
}

TEST_F(SslTest, ServerHandshakeEndsWithinTheTimeOutWhenTheClientIsSilent) {
    config("", "N");
    home.write_file("data/CONFIG.dat", "COMMOPT SSL=Y\nPERSISTENT_CONNECTION N\nTCP_IP_TIMEOUT 1\n");
    Server server;
    const int silent = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(server.port));
    ASSERT_EQ(connect(silent, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    OS_COMM_sess_typ sess{};
    const auto start = Clock::now();
    EXPECT_EQ(OS_COMM_sess_open(&server.line, &sess), CM_RC_FAIL);
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 3.0);
    EXPECT_NE(log().find("OS_COMM_sess_ssl_accept: SSL session failed."), std::string::npos);
    close(silent);
}

TEST_F(SslTest, ClientHandshakeWithASilentServerEndsSoonAfterAnExitRequest) {
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof addr;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(listener, 1), 0);  // the peer accepts and never says a word
    getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &length);
    // The exit is asked for once the client's connection stands, while its handshake waits.
    Clock::time_point asked;
    int peer = -1;
    std::thread stop([&] {
        struct pollfd waiting = {listener, POLLIN, 0};
        if (poll(&waiting, 1, 30000) == 1) peer = accept(listener, nullptr, nullptr);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        asked = Clock::now();
        OS_PROC_exit_request_set(1);
    });
    ClientLine client(ntohs(addr.sin_port));
    const auto ended = Clock::now();
    stop.join();
    const double took = std::chrono::duration<double>(ended - asked).count();
    OS_PROC_exit_request_set(0);
    EXPECT_EQ(client.open_rc, CM_RC_FAIL);
    EXPECT_LT(took, 2.5);  // a handshake waits up to a minute in all when no exit is asked for
    close(peer);
    close(listener);
}

TEST_F(SslTest, ClientProfileOutlivesItsPolicyFiles) {
    Server server;
    auto first = serve_one(server);
    BCA_PRF* profile = nullptr;
    {
        ClientLine client(server.port);
        ASSERT_EQ(client.open_rc, CM_RC_OK);
        profile = client.line.ssl_profile;
    }
    EXPECT_EQ(first.get(), CM_RC_OK);
    fs::remove("data/SSL/cert/site.plc");
    fs::remove("data/SSL/cert/ag.plc");
    auto second = serve_one(server);
    ClientLine again(server.port);
    EXPECT_EQ(again.open_rc, CM_RC_OK);
    EXPECT_EQ(again.line.ssl_profile, profile);
    EXPECT_EQ(second.get(), CM_RC_OK);
}

TEST_F(SslTest, MissingPolicyLeavesNoProfileAndTheNextLineTriesAgain) {
    Server server;
    const std::string site = home.read_file("data/SSL/cert/site.plc");
    fs::remove("data/SSL/cert/site.plc");
    {
        ClientLine client(server.port);
        EXPECT_EQ(client.init_rc, CM_RC_FAIL);
    }
    EXPECT_NE(log().find("unable to initialize policy ./data/SSL/cert/ag.plc"), std::string::npos);
    home.write_file("data/SSL/cert/site.plc", site);
    auto served = serve_one(server);
    ClientLine client(server.port);
    EXPECT_EQ(client.open_rc, CM_RC_OK);
    EXPECT_EQ(served.get(), CM_RC_OK);
}

TEST_F(SslTest, ProviderWithoutAProfileFailsTheLineWithThePolicysReason) {
    policy("server", "standin_fail = GetBCA\n");
    int port = 0;
    {
        Server server;
        port = server.port;
        ClientLine client(port);
        EXPECT_EQ(client.init_rc, CM_RC_FAIL);
    }
    EXPECT_NE(log().find("Error creating BCA Profile for policy site ./data/SSL/cert/site.plc, apps "
                         "./data/SSL/cert/ag.plc, error stand-in: GetBCA failed as asked"),
              std::string::npos);
}

TEST_F(SslTest, AllowListRefusesATlsPeerFrom127002) {
    config("AUTHORIZED_ORV_IP 10.0.0.5\n");
    Server server;
    auto peer = std::async(std::launch::async, [&] {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        struct sockaddr_in mine {};
        mine.sin_family = AF_INET;
        inet_pton(AF_INET, "127.0.0.2", &mine.sin_addr);
        bind(fd, reinterpret_cast<sockaddr*>(&mine), sizeof mine);
        struct sockaddr_in addr {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = htons(static_cast<uint16_t>(server.port));
        connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
        SSL* ssl = SSL_new(ctx);
        SSL_set_fd(ssl, fd);
        const int rc = SSL_connect(ssl);
        SSL_shutdown(ssl);
        SSL_free(ssl);
        SSL_CTX_free(ctx);
        close(fd);
        return rc;
    });
    OS_COMM_sess_typ sess{};
    EXPECT_EQ(OS_COMM_sess_open(&server.line, &sess), 44);
    EXPECT_EQ(sess.ssl_is_established, 1);
    EXPECT_STREQ(sess.sender_ip, "127.0.0.2");
    EXPECT_EQ(OS_COMM_sess_error(&sess), CM_RC_FAIL);
    OS_COMM_sess_close(&sess);
    EXPECT_EQ(peer.get(), 1);
}

}  // namespace
