// Arbitrary bytes as what a peer sends: the frame parser on the first ten bytes, the framed read and
// the read that keeps the frame, each fed the bytes through a socket pair whose far end is closed
// after them (so a read never waits), and the framed read of a file holding the bytes. A message
// that is read must hold what its frame announced, within the reads' limits.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ag_dsect.h"
#include "quiet_log.h"

namespace {

// A session reading what `bytes` holds, then the end of the stream.
struct Fed {
    OS_COMM_sess_typ sess{};
    int other = -1;
    explicit Fed(const std::string& bytes) {
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) std::abort();
        const int size = 1 << 20;
        setsockopt(fds[1], SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
        setsockopt(fds[0], SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        if (!bytes.empty() && write(fds[1], bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            std::abort();
        shutdown(fds[1], SHUT_WR);
        fcntl(fds[0], F_SETFL, fcntl(fds[0], F_GETFL) | O_NONBLOCK);
        sess.fd = fds[0];
        sess.timeout_interval = 1;
        other = fds[1];
    }
    ~Fed() {
        close(sess.fd);
        close(other);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string frame = bytes.substr(0, AG_DSECT_FRAME_LEN);
    frame.resize(AG_DSECT_FRAME_LEN + 1, '\0');
    unsigned announced = 0;
    AG_dsect_parse_gds(frame.c_str(), &announced);

    {
        Fed fed(bytes);
        DSECT_MSG_typ msg{};
        if (AG_DSECT_comm_message_read(&fed.sess, &msg) == CM_RC_OK) {
            if (msg.size > AG_DSECT_MESSAGE_MAX || msg.size > size || msg.message[msg.size] != '\0') std::abort();
            AG_DSECT_message_delete(&msg);
        } else if (msg.message) {
            std::abort();
        }
    }
    {
        Fed fed(bytes);
        DSECT_MSG_typ msg{};
        if (AG_DSECT_comm_message_read_all(&fed.sess, &msg) == CM_RC_OK) {
            if (msg.size > AG_DSECT_READ_ALL_ROOM || msg.size > size || msg.size < AG_DSECT_FRAME_LEN) std::abort();
            AG_DSECT_message_delete(&msg);
        } else if (msg.message) {
            std::abort();
        }
    }
    {
        FILE* f = std::fopen("./ag_frame_fuzz.dat", "wb");
        if (!f) std::abort();
        if (size) std::fwrite(data, 1, size, f);
        std::fclose(f);
        DSECT_MSG_typ msg{};
        if (AG_DSECT_file_read("./ag_frame_fuzz.dat", &msg) == CM_RC_OK) {
            if (msg.size + AG_DSECT_FRAME_LEN > size) std::abort();
            AG_DSECT_message_delete(&msg);
        }
    }
    return 0;
}
