// Arbitrary bytes as the reply a utility request gets: the bytes are cut at each "\xff\xfe" into
// the first message and the further messages that a continued text reads on. The walk over the
// records must stay inside each message and keep the reply text within its room.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ag_util_internal.h"
#include "quiet_log.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> pieces;
    for (std::size_t at = 0;;) {
        const std::size_t cut = input.find("\xff\xfe", at);
        pieces.push_back(input.substr(at, cut == std::string::npos ? std::string::npos : cut - at));
        if (cut == std::string::npos) break;
        at = cut + 2;
    }
    // Each message in a buffer of exactly its bytes and the NUL, as the framed reader hands it over.
    const auto message_of = [](const std::string& bytes) {
        char* text = static_cast<char*>(std::malloc(bytes.size() + 1));
        if (!text) std::abort();
        std::memcpy(text, bytes.data(), bytes.size());
        text[bytes.size()] = '\0';
        return DSECT_MSG_typ{text, static_cast<unsigned>(bytes.size())};
    };
    for (const std::size_t room : {std::size_t{16}, std::size_t{AG_UTIL_REPLY_STEP}}) {
        std::size_t next_piece = 1;
        ag_util::Reply reply;
        reply.room = room;
        DSECT_MSG_typ first = message_of(pieces[0]);
        ag_util::handle_reply(first, reply, [&](DSECT_MSG_typ& more) {
            if (next_piece >= pieces.size()) return false;
            more = message_of(pieces[next_piece++]);
            return true;
        });
        std::free(first.message);
        if (reply.text.size() >= reply.room) std::abort();
    }
    return 0;
}
