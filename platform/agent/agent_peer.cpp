// The agent peer: listens on 127.0.0.1, reads framed utility requests and pings, journals them and
// answers from its script. The wire code here is written from the protocol tables on its own: a
// frame is "a", a blank, the length in hexadecimal and a NUL in 10 bytes; a record is a two-digit
// type, a four-character size (decimal up to 9999, base 26 above) and its fields.
#include "agent_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

using nlohmann::json;

namespace agent_peer {

namespace {

constexpr std::size_t kFrame = 10;
constexpr std::size_t kBodyMax = 16 * 1024 * 1024;
constexpr int kReadSeconds = 10;

// ---- writing ----

std::string counted(int width, const std::string& text) {
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "%0*zu", width, text.size());
    return prefix + text;
}

std::string fixed_number(int width, long value) {
    char text[24];
    std::snprintf(text, sizeof text, "%0*ld", width, value);
    return text;
}

std::string size_field(std::size_t size) {
    if (size <= 9999) return fixed_number(4, static_cast<long>(size));
    std::string text(4, 'a');
    for (int i = 3; i >= 0; --i, size /= 26) text[static_cast<std::size_t>(i)] = static_cast<char>('a' + size % 26);
    return text;
}

std::string record(int type, const std::string& body) { return fixed_number(2, type) + size_field(body.size()) + body; }

std::string encode_record(const json& r, const std::string& version) {
    const std::string type = r.value("type", "");
    if (type == "TEXT") return record(17, counted(version <= "04" ? 4 : 5, r.value("text", "")));
    if (type == "UTILRESP") {
        const std::string code = std::to_string(r.value("code", 0));
        return record(20, r.value("status", "Y").substr(0, 1) + std::to_string(code.size()) + code);
    }
    if (type == "ERRCD") return record(4, fixed_number(6, r.value("code", 1)) + counted(3, r.value("message", "")));
    if (type == "PING") return record(9, "");
    if (type == "GENERAL_PARAM") return record(28, counted(4, r.value("name", "")) + counted(4, r.value("value", "")));
    if (type == "GNRLDTA") return record(32, counted(2, r.value("subject", "")) + fixed_number(3, r.value("count", 0)));
    throw std::runtime_error("agent peer: unknown record type " + type);
}

struct Header {
    std::string version = "01", appid = "CM", sid = "U ", mid = "R", last = "T", siid, agent, host;
    long seq = 0;
};

std::string encode_header(const Header& h) {
    std::string body = "20260101000000" + h.version.substr(0, 2) + h.appid + h.sid + h.mid + h.last;
    body += (h.siid + std::string(12, ' ')).substr(0, 12) + fixed_number(6, h.seq) + counted(2, h.agent) +
            counted(2, h.host);
    if (h.version == "04" || h.version == "05") body += counted(2, "");
    if (h.version >= "06") body += counted(2, "") + counted(2, "");
    return record(1, body);
}

std::string frame(std::size_t length) {
    char text[kFrame + 8] = {};
    const int n = std::snprintf(text, sizeof text, "a %04zx", length);
    std::string out(text, static_cast<std::size_t>(n));
    out.push_back('\0');
    while (out.size() < kFrame) out.push_back(' ');
    return out.substr(0, kFrame);
}

// ---- reading ----

// A cursor over a received body; every read is checked against its end.
struct Reader {
    const std::string& text;
    std::size_t pos = 0;
    bool ok = true;
    std::string take(std::size_t n) {
        if (!ok || pos + n > text.size()) {
            ok = false;
            return "";
        }
        std::string out = text.substr(pos, n);
        pos += n;
        return out;
    }
    long number(std::size_t width) {
        const std::string digits = take(width);
        for (char c : digits)
            if (!std::isdigit(static_cast<unsigned char>(c))) ok = false;
        return ok ? std::stol(digits) : 0;
    }
    std::string var(std::size_t width) { return take(static_cast<std::size_t>(number(width))); }
};

long size_value(const std::string& text) {
    bool decimal = true;
    for (char c : text) decimal = decimal && std::isdigit(static_cast<unsigned char>(c));
    if (decimal) return std::stol(text);
    long value = 0;
    for (char c : text) {
        if (c == ' ') continue;
        if (!std::isalpha(static_cast<unsigned char>(c))) return -1;
        value = value * 26 + (std::tolower(static_cast<unsigned char>(c)) - 'a');
    }
    return value;
}

struct Message {
    Header header;
    std::vector<std::pair<int, std::string>> records;  // type, fields
};

bool decode(const std::string& body, Message& m) {
    Reader r{body};
    std::size_t at = 0;
    bool first = true;
    while (body.size() - at > 1) {
        r.pos = at;
        const long type = r.number(2);
        const std::string size_text = r.take(4);
        const long size = r.ok ? size_value(size_text) : -1;
        if (!r.ok || size < 0 || at + 6 + static_cast<std::size_t>(size) > body.size()) return false;
        const std::string fields = body.substr(at + 6, static_cast<std::size_t>(size));
        if (first) {
            Reader h{fields};
            h.take(14);
            m.header.version = h.take(2);
            m.header.appid = h.take(2);
            m.header.sid = h.take(2);
            m.header.mid = h.take(1);
            m.header.last = h.take(1);
            m.header.siid = h.take(12);
            m.header.seq = h.number(6);
            m.header.agent = h.var(2);
            m.header.host = h.var(2);
            if (!h.ok) return false;
        } else {
            m.records.emplace_back(static_cast<int>(type), fields);
        }
        first = false;
        at += 6 + static_cast<std::size_t>(size);
    }
    return !first;
}

bool read_exact(int fd, char* buffer, std::size_t n, int seconds = kReadSeconds) {
    std::size_t got = 0;
    while (got < n) {
        struct pollfd p {
            fd, POLLIN, 0
        };
        if (poll(&p, 1, seconds * 1000) <= 0) return false;
        const ssize_t r = recv(fd, buffer + got, n - got, 0);
        if (r <= 0) return false;
        got += static_cast<std::size_t>(r);
    }
    return true;
}

bool read_message(int fd, Message& m, std::string& body, int seconds = kReadSeconds) {
    char block[kFrame];
    do {
        if (!read_exact(fd, block, kFrame, seconds)) return false;
    } while (block[0] != 'a' || block[1] != ' ');
    std::size_t length = 0;
    int digits = 0;
    for (std::size_t i = 2; i < kFrame && std::isxdigit(static_cast<unsigned char>(block[i])); ++i, ++digits)
        length =
            length * 16 + static_cast<std::size_t>(std::isdigit(static_cast<unsigned char>(block[i]))
                                                       ? block[i] - '0'
                                                       : std::tolower(static_cast<unsigned char>(block[i])) - 'a' + 10);
    if (digits == 0 || length > kBodyMax) return false;
    body.assign(length, '\0');
    return read_exact(fd, body.data(), length, seconds) && decode(body, m);
}

// UTILACT fields: USER VAR2, HOSTNAME VAR2, TEXT VAR4 (up to "04") or VAR5.
bool utilact(const Message& m, std::string& user, std::string& host, std::string& text) {
    for (const auto& [type, fields] : m.records) {
        if (type != 19) continue;
        Reader r{fields};
        user = r.var(2);
        host = r.var(2);
        text = r.var(m.header.version <= "04" ? 4 : 5);
        return r.ok;
    }
    return false;
}

bool send_all(int fd, const std::string& data, std::size_t piece) {
    for (std::size_t at = 0; at < data.size(); at += piece) {
        const std::string part = data.substr(at, piece);
        if (send(fd, part.data(), part.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(part.size())) return false;
        if (piece < data.size()) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

json record_fields(int type, const std::string& fields, const std::string& version) {
    Reader r{fields};
    json out{{"type", type}};
    switch (type) {
    case 17: out["text"] = r.var(version <= "04" ? 4 : 5); break;
    case 20:
        out["status"] = r.take(1);
        out["code"] = std::atoi(r.take(static_cast<std::size_t>(r.number(1))).c_str());
        break;
    case 4:
        out["code"] = r.number(6);
        out["message"] = r.var(3);
        break;
    case 27:
        out["code"] = r.number(4);
        out["message"] = r.var(4);
        out["count"] = r.number(4);
        break;
    case 28:
        out["name"] = r.var(4);
        out["value"] = r.var(4);
        break;
    case 32:
        out["subject"] = r.var(2);
        out["count"] = r.number(3);
        break;
    default: out["fields"] = fields;
    }
    if (!r.ok) out["unreadable"] = true;
    return out;
}

}  // namespace

json read_reply(int fd, int seconds) {
    Message m;
    std::string body;
    if (!read_message(fd, m, body, seconds)) return nullptr;
    json out{{"version", m.header.version}, {"sid", m.header.sid},   {"mid", m.header.mid},
             {"last", m.header.last},       {"siid", m.header.siid}, {"seq", m.header.seq},
             {"agent", m.header.agent},     {"host", m.header.host}, {"records", json::array()}};
    for (const auto& [type, fields] : m.records)
        out["records"].push_back(record_fields(type, fields, m.header.version));
    return out;
}

std::vector<std::string> split_command_line(const std::string& line) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false, quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\\') {
            std::size_t run = 0;
            while (i < line.size() && line[i] == '\\') ++run, ++i;
            if (i < line.size() && line[i] == '"') {
                word.append(run / 2, '\\');
                if (run % 2) {
                    word.push_back('"');
                } else {
                    quoted = !quoted;
                }
            } else {
                word.append(run, '\\');
                --i;
            }
            in_word = true;
            continue;
        }
        if (c == '"') {
            quoted = !quoted;
            in_word = true;
        } else if ((c == ' ' || c == '\n' || c == '\t') && !quoted) {
            if (in_word) words.push_back(word);
            word.clear();
            in_word = false;
        } else {
            word.push_back(c);
            in_word = true;
        }
    }
    if (in_word) words.push_back(word);
    return words;
}

Peer::Peer(Options options) : options_(std::move(options)) {
    script_ = options_.script.empty() ? json::object() : json::parse(options_.script);
    listen_fd_ = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t length = sizeof addr;
    if (listen_fd_ < 0 || bind(listen_fd_, reinterpret_cast<struct sockaddr*>(&addr), sizeof addr) != 0 ||
        listen(listen_fd_, 16) != 0 || getsockname(listen_fd_, reinterpret_cast<struct sockaddr*>(&addr), &length) != 0)
        throw std::runtime_error("agent peer: cannot listen on 127.0.0.1");
    port_ = ntohs(addr.sin_port);
    if (!options_.port_file.empty()) std::ofstream(options_.port_file) << port_ << "\n";
    thread_ = std::thread([this] { serve(); });
}

Peer::~Peer() { stop(); }

void Peer::stop() {
    if (stopping_.exchange(true)) return;
    changed_.notify_all();
    if (thread_.joinable()) thread_.join();
    if (listen_fd_ >= 0) close(listen_fd_);
    listen_fd_ = -1;
}

void Peer::release() {
    std::lock_guard<std::mutex> lock(mutex_);
    released_ = true;
    changed_.notify_all();
}

void Peer::set_script(const std::string& script) {
    std::lock_guard<std::mutex> lock(mutex_);
    script_ = json::parse(script);
}

std::vector<json> Peer::journal() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return journal_;
}

bool Peer::wait_for_journal(std::size_t count, int seconds) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(seconds), [&] { return journal_.size() >= count; });
}

bool Peer::wait_released() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!released_ && !stopping_) {
        if (!options_.release_file.empty() && access(options_.release_file.c_str(), F_OK) == 0) return true;
        changed_.wait_for(lock, std::chrono::milliseconds(50));
    }
    return !stopping_;
}

json Peer::reply_for(const std::string& utility, int call) const {
    json answer = json::object();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const json* answers = nullptr;
        if (script_.is_object() && script_.contains(utility))
            answers = &script_[utility];
        else if (utility != "AG_PING" && script_.is_object() && script_.contains("*"))
            answers = &script_["*"];
        if (answers && answers->is_array() && !answers->empty())
            answer = (*answers)[std::min<std::size_t>(static_cast<std::size_t>(call - 1), answers->size() - 1)];
    }
    if (!answer.contains("messages")) {
        answer["messages"] =
            utility == "AG_PING"
                ? json::array({{{"records", {{{"type", "PING"}}}}}})
                : json::array(
                      {{{"records",
                         {{{"type", "TEXT"}, {"text", "ok"}}, {{"type", "UTILRESP"}, {"status", "Y"}, {"code", 0}}}}}});
    }
    return answer;
}

void Peer::record(const json& entry) {
    std::lock_guard<std::mutex> lock(mutex_);
    journal_.push_back(entry);
    if (!options_.journal_file.empty()) std::ofstream(options_.journal_file, std::ios::app) << entry.dump() << "\n";
    changed_.notify_all();
}

void Peer::serve() {
    while (!stopping_) {
        struct pollfd p {
            listen_fd_, POLLIN, 0
        };
        if (poll(&p, 1, 50) <= 0) continue;
        const int fd = accept(listen_fd_, nullptr, nullptr);
        if (fd < 0) continue;
        const int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        try {
            handle(fd);
        } catch (const std::exception& e) {
            std::fprintf(stderr, "agent peer: %s\n", e.what());
        }
        close(fd);
    }
}

void Peer::handle(int fd) {
    for (;;) {
        bool unread = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            unread = script_.is_object() && script_.value("stop_reading", false);
        }
        if (unread) {
            record(json{{"kind", "unread"}});
            wait_released();
            return;
        }
        Message first;
        std::string body;
        if (!read_message(fd, first, body)) return;
        json entry{{"siid", first.header.siid},
                   {"seq", first.header.seq},
                   {"version", first.header.version},
                   {"sid", first.header.sid},
                   {"last", json::array({first.header.last})}};
        std::string utility;
        if (first.header.sid == "P ") {
            utility = "AG_PING";
            entry["kind"] = "ping";
            for (const auto& [type, fields] : first.records) {
                if (type != 28) continue;
                Reader r{fields};
                const std::string name = r.var(4), value = r.var(4);
                if (r.ok && name == "Agent version") entry["agent_version"] = value;
            }
        } else {
            std::string user, host, text;
            if (!utilact(first, user, host, text)) return;
            entry["kind"] = "utility";
            entry["user"] = user;
            entry["hostname"] = host;
            entry["command"] = text;
            const auto args = split_command_line(text);
            entry["args"] = args;
            utility = args.empty() ? "" : args[0];
            for (char& c : utility) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            json chunks = json::array();
            json siids = json::array({first.header.siid});
            std::string last = first.header.last;
            while (last != "T" && last != "L") {
                Message more;
                if (!read_message(fd, more, body) || !utilact(more, user, host, text)) return;
                chunks.push_back(text);
                siids.push_back(more.header.siid);
                last = more.header.last;
                entry["last"].push_back(last);
            }
            entry["chunks"] = chunks;
            entry["siids"] = siids;
        }
        int call = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            call = ++calls_[utility];
        }
        entry["utility"] = utility;
        entry["call"] = call;
        record(entry);
        const json reply = reply_for(utility, call);
        if (reply.value("hold", false) && !wait_released()) return;
        Header request = first.header;
        answer(fd,
               json{{"version", request.version},
                    {"sid", request.sid},
                    {"siid", request.siid},
                    {"seq", request.seq},
                    {"agent", request.agent},
                    {"host", request.host}},
               reply);
        if (reply.contains("close") || reply.contains("announce")) return;
    }
}

void Peer::answer(int fd, const json& request, const json& reply) {
    const std::size_t piece =
        reply.value("pieces", 0) > 0 ? static_cast<std::size_t>(reply.value("pieces", 0)) : 1u << 30;
    const std::string close_mode = reply.value("close", "");
    if (close_mode == "at_once") return;
    std::string out;
    if (reply.value("junk", false)) out += "junkjunk!!";
    if (reply.contains("announce")) {
        out += frame(0).substr(0, 2) + reply.value("announce", "ffffffff");
        out.push_back('\0');
        send_all(fd, out.substr(0, kFrame), piece);
        return;
    }
    const json messages = reply.value("messages", json::array());
    long seq = request.value("seq", 0L);
    for (std::size_t i = 0; i < messages.size(); ++i) {
        const json& m = messages[i];
        Header h;
        h.version = m.value("version", request.value("version", std::string("01")));
        h.sid = request.value("sid", std::string("U "));
        h.siid = request.value("siid", std::string());
        h.agent = request.value("agent", std::string());
        h.host = request.value("host", std::string());
        h.mid = m.value("mid", "D");
        h.last = m.value("last", messages.size() == 1 ? "T" : (i + 1 == messages.size() ? "L" : " "));
        h.seq = ++seq;
        std::string body = encode_header(h);
        for (const json& r : m.value("records", json::array())) body += encode_record(r, h.version);
        out += frame(body.size()) + body;
    }
    if (close_mode == "mid_frame") {
        send_all(fd, out.substr(0, kFrame / 2), piece);
        return;
    }
    send_all(fd, out, piece);
}

}  // namespace agent_peer
