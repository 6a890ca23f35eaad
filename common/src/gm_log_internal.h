// Appending an entry to a log file whole or not at all (not exported): the daily log, the
// watcher's action log and the other files that grow by entries use it, so that a write that
// fails or is cut short (a full disk, a file-size limit) never leaves a piece of an entry for the
// next one to be glued onto.
#pragma once

#include <mutex>
#include <string_view>

#include "cmpltfrm.h"

namespace gm_log {

// The turn of one appender of this process, held from the open of its file to its close. The lockf
// lock keeps other processes out of a file, but a close by any thread drops the whole process's
// lock, so the threads of one process take turns for the whole open, write and close. A forked
// child gets it fresh.
std::unique_lock<std::mutex> appender_turn();

// Appends `entry` to the file open at fd for appending; the caller holds its turn and the file's
// lockf lock. A write that fails or stops short is undone: the file is cut back to the size it had.
// CM_RC_OK when the entry went in whole; CM_RC_FAIL otherwise (errno says why), the file then as it
// was.
CM_RC append_whole(int fd, std::string_view entry);

}  // namespace gm_log
