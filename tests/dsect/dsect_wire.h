// Wire texts for the message tests, written by hand from the record layout: a record is its type
// (two digits), its size (four digits) and its fields; a header of a version with its fields.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dsect_list.h"

namespace wire {

inline std::string counted(int width, const std::string& text) {
    char prefix[8];
    std::snprintf(prefix, sizeof prefix, "%0*zu", width, text.size());
    return prefix + text;
}
inline std::string var2(const std::string& t) { return counted(2, t); }
inline std::string var3(const std::string& t) { return counted(3, t); }
inline std::string var4(const std::string& t) { return counted(4, t); }
inline std::string var5(const std::string& t) { return counted(5, t); }

// A record of a type with a decimal size (bodies up to 9999 bytes).
inline std::string record(int type, const std::string& body) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%02d%04zu", type, body.size());
    return prefix + body;
}

// A header record of a version: stamp, appid "CM", sid, mid, last, siid, seq, then the counted
// texts the version carries (task class for "04" and "05", application type and version from "06").
inline std::string header(const std::string& version, const std::string& mid = "R", const std::string& last = "T",
                          const std::string& agent = "agent1", const std::string& host = "server1",
                          const std::string& task_class = "", const std::string& appl_type = "",
                          const std::string& appl_version = "", const std::string& sid = "U ",
                          const std::string& siid = "100000100001", const std::string& seq = "000001") {
    std::string body = "20260102030405" + version + "CM" + sid + mid + last + siid + seq + var2(agent) + var2(host);
    if (version == "04" || version == "05") body += var2(task_class);
    if (version >= "06") body += var2(appl_type) + var2(appl_version);
    return record(1, body);
}

// A message buffer owned by the test (malloc'ed as the readers' buffers are).
struct Msg {
    DSECT_MSG_typ msg{};
    explicit Msg(const std::string& text) {
        msg.message = static_cast<char*>(std::malloc(text.size() + 1));
        std::memcpy(msg.message, text.data(), text.size());
        msg.message[text.size()] = '\0';
        msg.size = static_cast<unsigned>(text.size());
    }
    ~Msg() { std::free(msg.message); }
    Msg(const Msg&) = delete;
    Msg& operator=(const Msg&) = delete;
};

}  // namespace wire

namespace wire {

// The text with the header's time stamp (and, when asked, its session instance id) replaced by the
// fixed values of header(), for messages whose stamp is the current time.
inline std::string masked(std::string text, bool siid = false) {
    if (text.size() >= 20) text.replace(6, 14, "20260102030405");
    if (siid && text.size() >= 40) text.replace(28, 12, "100000100001");
    return text;
}

}  // namespace wire
