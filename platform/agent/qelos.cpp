// The agent's OS-services library (libQELOS.so): answers OS_PROC_name with the name that the
// environment variable APPBRIDGE_PROC_NAME sets, or with the program's short name. Each thread
// gets its own answer buffer.
#include "qelos.h"

#include <cerrno>
#include <cstdlib>
#include <string>

CM_EXTERN_C_BEGIN

char* OS_PROC_name(void) {
    static thread_local std::string name;
    try {
        const char* set = std::getenv("APPBRIDGE_PROC_NAME");
        name = set ? set : program_invocation_short_name;
    } catch (...) {
        name.clear();
    }
    return name.data();
}

CM_EXTERN_C_END
