// Inside of the agent-utility client (not exported): the reply text with its room, and the walk
// over the records of a received reply, which the exchange and the reply fuzz target share.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "ag_util.h"
#include "dsect_list.h"

namespace ag_util {

// What the exchange learns from the server: the reply text within the room of its buffer (the
// buffer holds at most room - 1 characters), the exit status and code, and the result so far.
struct Reply {
    std::string text;
    std::size_t room = AG_UTIL_REPLY_STEP;
    char exit_status = '\0';
    int exit_code = 0;
    CM_RC result = CM_RC_OK;

    // Appends what fits the free room; the rest is cut.
    void append(std::string_view more);
    // Appends the whole text, growing the room by AG_UTIL_REPLY_STEP as often as needed; false (and
    // result 12) when it cannot grow.
    bool append_growing(std::string_view more);
};

// Reads the next framed message of a reply that goes on over several messages; false when none
// could be read. The message is freed by the walk.
using NextMessage = std::function<bool(DSECT_MSG_typ& message)>;

// Handles the records of one received reply in order: texts, the utility response, errors, pings,
// general parameters and data. False when the message could not be unpacked at all.
bool handle_reply(DSECT_MSG_typ& message, Reply& reply, const NextMessage& next);

// The room a buffer holding `text` has, by the rule it grew by (AG_UTIL_REPLY_STEP steps).
std::size_t room_of(const char* text);

}  // namespace ag_util
