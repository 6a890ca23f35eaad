// Appending an entry to a log file whole or not at all (not exported): the daily log, the
// watcher's action log and the other files that grow by entries use it, so that a write that
// fails or is cut short (a full disk, a file-size limit) never leaves a piece of an entry for the
// next one to be glued onto.
#pragma once

#include <string_view>

#include "cmpltfrm.h"

namespace gm_log {

// Appends `entry` to the file open at fd for appending, whose lock the caller holds (the lock that
// keeps other processes out; the threads of this process append one at a time here). A write that
// fails or stops short is undone: the file is cut back to the size it had. CM_RC_OK when the entry
// went in whole; CM_RC_FAIL otherwise (errno says why), the file then as it was.
CM_RC append_whole(int fd, std::string_view entry);

}  // namespace gm_log
