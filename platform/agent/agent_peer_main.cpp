// agentpeer: the agent peer as a program, for tests and the demo that run the product as a whole
// process. Usage: agentpeer --script FILE --journal FILE --port-file FILE [--release-file FILE]
// It listens on 127.0.0.1 at a free port, writes the port to the port file and serves until SIGTERM
// or SIGINT.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include <unistd.h>

#include "agent_peer.h"

namespace {
volatile std::sig_atomic_t stop_requested = 0;
void on_signal(int) { stop_requested = 1; }
}  // namespace

int main(int argc, char** argv) {
    agent_peer::Options options;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i], value = argv[i + 1];
        if (flag == "--script") {
            std::ifstream in(value);
            std::stringstream text;
            text << in.rdbuf();
            options.script = text.str();
        } else if (flag == "--journal") {
            options.journal_file = value;
        } else if (flag == "--port-file") {
            options.port_file = value;
        } else if (flag == "--release-file") {
            options.release_file = value;
        } else {
            std::fprintf(stderr, "agentpeer: unknown option %s\n", flag.c_str());
            return 2;
        }
    }
    std::signal(SIGTERM, on_signal);
    std::signal(SIGINT, on_signal);
    try {
        agent_peer::Peer peer(options);
        while (!stop_requested) pause();
        peer.stop();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "agentpeer: %s\n", e.what());
        return 1;
    }
    return 0;
}
