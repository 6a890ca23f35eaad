/* The security library's messages: each a catalog id and its built-in English text. Every module
 * of the library takes its texts from here and formats them through the text layer, which looks
 * the id up in the catalog when one is open and falls back to the text. Internal. */
#ifndef ESS_CATALOG_INTERNAL_H
#define ESS_CATALOG_INTERNAL_H

#include <cstdlib>
#include <string>

#include "globalchelper.h"

namespace ess_catalog {

struct Message {
    int id;
    const char* text;
};

/* For the text layer's calls that take an id and a default: EssGlobalcUtf8Sprintf(buf, size,
 * ESS_MSG(kNoModulePath)). */
#define ESS_MSG(message) (message).id, (message).text

/* No catalog lookup. */
inline constexpr int kNoId = -1;

/* Module loader */
inline constexpr Message kNoModulePath{157, "Error: no module path\n"};
inline constexpr Message kOpenLib{158, "Error opening shared lib: %s\n"};
inline constexpr Message kSeekLib{159, "Error repositioning shared lib: %s\n"};
inline constexpr Message kEmptyLib{160, "Error: empty shared lib: %s\n"};
inline constexpr Message kNotSigned{161, "Error: shared library %s is not signed\n"};
inline constexpr Message kReadLib{163, "Error reading shared lib: %s\n"};
inline constexpr Message kReadSignature{164, "Error reading signature\n"};
inline constexpr Message kBadSignature{165, "Cannot verify module's signature\n"};
inline constexpr Message kNoCacheLock{166, "QEL_LoadModule: Lock pointer is NULL, call ESS_Init first.\n"};
inline constexpr Message kCacheLockFailed{167, "QEL_LoadModule: unable to obtain a lock"};
inline constexpr Message kInitialStat{168, "Cannot get initial values of module stats: %s\n"};
inline constexpr Message kNotRegular{169, "%s must be a regular file\n"};
inline constexpr Message kNoModuleMemory{170, "Cannot allocate memory for the module\n"};
inline constexpr Message kFinalStat{171, "Cannot get final value of module inode: %s\n"};
inline constexpr Message kReplaced{172, "Intrusion detected - module %s has been replaced\n"};
inline constexpr Message kLoadLib{173, "Error loading shared lib: %s, %s\n"};
inline constexpr Message kNoSymbol{174, "Error: symbol (%s)::%s not found. %s\n"};
inline constexpr Message kIncompatible{175, "Error: shared lib %s is not version compatible with the application.\n"};
inline constexpr Message kNullApiHandle{176, "Error: shared lib %s API handle retriever returned NULL\n"};
inline constexpr Message kLoaderReason{177, "error %s\n"};
inline constexpr Message kCacheFull{kNoId, "Error: module cache is full: %s\n"};

/* Policy */
inline constexpr Message kPolicyOverrun{198, "Buffer Overrun in ESS_Policy_InitSecurityPolicy"};
inline constexpr Message kPolicyMissingEntry{199, "Security policy entry %s does not contain %s entry"};
inline constexpr Message kPolicyNoMemory{240, "Out of memory in ESS_Policy_InitSecurityPolicy"};

/* Locks and logs */
inline constexpr Message kLogInit{255, "Cannot initialize log."};
inline constexpr Message kLogLink{256, "%s is a link now. File substitution attemp detected!"};
inline constexpr int kNullLockId = 311;

/* Sessions */
inline constexpr Message kSessionNotFound{302, "session not found"};

/* INI store */
inline constexpr Message kIniSyntax{505, "Syntax error %s/%s"};
inline constexpr Message kIniEntryNotFound{767, "entry %s not found in %s"};
inline constexpr Message kIniAttrNotFound{767, "%s not found in %s"};
inline constexpr Message kIniAccessFailure{779, "BCC_IniAccess failure for file: %s, using defaults"};

/* The message's text as the catalog gives it (or its default). */
inline std::string text(const Message& message) {
    char* t = EssGetUtf8String(message.id, message.text);
    std::string out = t ? t : "";
    std::free(t);
    return out;
}

}  // namespace ess_catalog

#endif
