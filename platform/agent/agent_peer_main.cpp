// agentpeer: the agent peer as a program, for tests and the demo that run the product as a whole
// process. Usage: agentpeer --port-file FILE [--script FILE] [--journal FILE] [--release-file FILE]
// It listens on 127.0.0.1 at a free port, writes the port to the port file and serves until SIGTERM
// or SIGINT. --help prints the usage; a missing or unknown argument, or a script that cannot be
// read, prints the usage on standard error and ends with 2.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <string>

#include <unistd.h>

#include "agent_peer.h"

namespace {

constexpr char kUsage[] = "usage: agentpeer --port-file FILE [--script FILE] [--journal FILE] [--release-file FILE]\n";

volatile std::sig_atomic_t stop_requested = 0;
void on_signal(int) { stop_requested = 1; }

// A command line the peer cannot start from.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string read_script(const std::string& path) {
    std::ifstream in(path);
    if (!in) throw UsageError("cannot read the script " + path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

agent_peer::Options parse(int argc, char** argv) {
    agent_peer::Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        std::string* target = flag == "--script"         ? &options.script
                              : flag == "--journal"      ? &options.journal_file
                              : flag == "--port-file"    ? &options.port_file
                              : flag == "--release-file" ? &options.release_file
                                                         : nullptr;
        if (!target) throw UsageError("unknown option " + flag);
        if (++i >= argc) throw UsageError("missing value after " + flag);
        *target = flag == "--script" ? read_script(argv[i]) : argv[i];
    }
    // Without the port file nobody learns where the peer listens.
    if (options.port_file.empty()) throw UsageError("--port-file is missing");
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    agent_peer::Options options;
    try {
        options = parse(argc, argv);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "agentpeer: %s\n%s", e.what(), kUsage);
        return 2;
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
