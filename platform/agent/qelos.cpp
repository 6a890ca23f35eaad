// The agent's OS-services library (libQELOS.so): answers OS_PROC_name with the name that the
// environment variable APPBRIDGE_PROC_NAME sets, or with the program's short name. Each thread
// gets its own answer buffer.
#include "qelos.h"

#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>

namespace {

// The answer buffers by thread. A library that is loaded with dlopen keeps no thread_local data:
// the leak checker of the sanitized test builds cannot always walk such a library's thread storage.
std::mutex buffers_mutex;
std::map<std::thread::id, std::string> buffers;  // freed when the library is unloaded

}  // namespace

CM_EXTERN_C_BEGIN

char* OS_PROC_name(void) {
    std::lock_guard<std::mutex> lock(buffers_mutex);
    try {
        std::string& name = buffers[std::this_thread::get_id()];
        const char* set = std::getenv("APPBRIDGE_PROC_NAME");
        name = set ? set : program_invocation_short_name;
        return name.data();
    } catch (...) {
        static char empty[1] = "";
        return empty;
    }
}

CM_EXTERN_C_END
