// Folders of the agent layer reached by descriptor (not exported): the folders in which the library
// makes, reads, runs or deletes files while it may run as root in a home that another user owns.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <string>

#include "os_file_nofollow.h"

namespace os_file {

// A descriptor closed when it goes out of scope (-1: none).
struct Descriptor {
    int fd;
    explicit Descriptor(int opened) : fd(opened) {}
    ~Descriptor() {
        if (fd >= 0) close(fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
};

// Opens a folder for making, reading or deleting files in it. A relative path, or an absolute one
// inside the agent home ($ORVANTA when it names the working directory), is walked as
// open_home_folder walks it: a link on the way leads only to a folder of the home's owner. Any
// other absolute path is opened as it stands, a link at its last name followed only when
// `follow_last_link`. Trailing slashes are ignored. An O_DIRECTORY descriptor, or -1 with errno
// (ELOOP for a refused link).
int open_agent_folder(const std::string& path, bool follow_last_link);

}  // namespace os_file
