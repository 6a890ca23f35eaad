// The process environment as threads share it (not exported): one lock for every change to it
// and for code that must see several variables unchanged while it works (an OCI environment being
// created reads ORACLE_HOME, TNS_ADMIN and NLS_LANG).
#pragma once

#include <mutex>

namespace os_logical {

// Held while the environment is changed, and around a read of variables that must not change
// meanwhile. Recursive: a holder may set variables through set_variable.
std::recursive_mutex& environment_lock();

// Sets a variable under the lock, unless it already holds exactly this value: a value that is
// right is never written again while other threads read the environment. false when the
// environment refuses it.
bool set_variable(const char* name, const char* value);

}  // namespace os_logical
