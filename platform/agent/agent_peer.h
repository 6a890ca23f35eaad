// A stand-in for the agent's utility port and the scheduling server: a TCP peer on 127.0.0.1 that
// reads framed agent-protocol utility requests and pings, journals each one as a JSON line and
// answers from a script keyed by utility name and call count. Its frame and record code is its own,
// written from the wire tables, so that tests of the product's codec do not check it against itself.
#pragma once

#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

namespace agent_peer {

// Script (JSON): an object keyed by utility name in upper case ("AG_PING" for pings, "*" for any
// other name); each value is an array of answers for the 1st, 2nd, ... call, the last one repeating.
// An answer is an object:
//   "messages": [ { "mid": "D", "last": "T", "version": "04", "records": [ ... ] }, ... ]
//       records: {"type": "TEXT", "text": ".."}, {"type": "UTILRESP", "status": "Y", "code": 0},
//       {"type": "ERRCD", "code": 5, "message": ".."}, {"type": "PING"},
//       {"type": "GENERAL_PARAM", "name": "..", "value": ".."},
//       {"type": "GNRLDTA", "subject": "..", "count": 2}
//       mid defaults to "D", version to the request's, last to "T" for one message and " " ... "L"
//       for several.
//   "junk": true          a 10-byte block without a frame goes first
//   "hold": true          the answer waits until release() (or the release file appears)
//   "close": "at_once"    the connection closes after the request, no answer;
//            "mid_frame"  half of the first frame is sent, then the connection closes
//   "announce": "ffffffff" a frame announcing that hexadecimal length, then the connection closes
//   "pieces": 1           the answer is written this many bytes at a time
// A top-level "stop_reading": true makes the peer read nothing of any connection it accepts: the
// connection stays open until release(), so a client's writes back up.
// An answer without "messages" (or no script entry at all) gives a utility one message with TEXT
// "ok" and UTILRESP "Y" 0, and a ping one with a PING record.
struct Options {
    std::string script;        // the JSON text of the script ("" = defaults only)
    std::string journal_file;  // journal lines are appended here too when set
    std::string port_file;     // the port is written here once listening, when set
    std::string release_file;  // a held answer goes on once this file exists, when set
};

// Splits a command line as a receiver does: words at blanks outside double quotes; a run of
// backslashes counts only before a double quote (2n of them and a quote: n backslashes and the
// quote delimits; 2n+1: n backslashes and a literal quote).
std::vector<std::string> split_command_line(const std::string& line);

// Reads one framed message from fd (each wait at most `seconds`) and decodes it with the peer's own
// reader: {"version", "sid", "mid", "last", "siid", "seq", "agent", "host", "records": [...]}, each
// record {"type": n} with its fields for TEXT (17: text), UTILRESP (20: status, code), ERRCD
// (4: code, message), GENERAL_RESPONSE (27: code, message, count), GENERAL_PARAM (28: name, value)
// and GNRLDTA (32: subject, count); other types keep their raw "fields". null when nothing readable
// arrives.
nlohmann::json read_reply(int fd, int seconds);

class Peer {
public:
    explicit Peer(Options options);
    ~Peer();
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;

    int port() const { return port_; }
    void release();
    void set_script(const std::string& script);
    std::vector<nlohmann::json> journal() const;
    // Waits up to `seconds` until the journal holds `count` entries.
    bool wait_for_journal(std::size_t count, int seconds) const;
    void stop();

private:
    void serve();
    void handle(int fd);
    void answer(int fd, const nlohmann::json& request, const nlohmann::json& reply);
    bool wait_released();
    nlohmann::json reply_for(const std::string& utility, int call) const;
    void record(const nlohmann::json& entry);

    Options options_;
    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    nlohmann::json script_;
    std::vector<nlohmann::json> journal_;
    std::map<std::string, int> calls_;
    bool released_ = false;
};

}  // namespace agent_peer
