/* Recognition of the configuration manager's request names: the requests that the plug-in answers
 * without a database session of the connection (they open what they need themselves). */
#include "be_def.h"

#include <cctype>
#include <cstring>

namespace {

bool starts_with_upper(const char* text, const char* prefix) {
    for (; *prefix != '\0'; ++text, ++prefix)
        if (*text == '\0' || std::toupper(static_cast<unsigned char>(*text)) != *prefix) return false;
    return true;
}

}  // namespace

CM_EXTERN_C_BEGIN

int BE_DUZ_PKM_isPKMrequest(const char* action) {
    if (action == nullptr || *action == '\0') return 0;
    return starts_with_upper(action, BE_DUZ_PKM_PREFIX_CM) || starts_with_upper(action, BE_DUZ_PKM_PREFIX_OEBS) ? 1 : 0;
}

CM_EXTERN_C_END

CM_EXTERN_C_BEGIN

ZPARC BE_DUZ_PKM_handle_pkm_request(char* action, char* pkmRequest, BE_DUZ_xmldata_handle* response_handle,
                                    ZPAError* Error) {
    (void)pkmRequest;
    (void)response_handle;
    BE_DUZ_UpdateErrorSet(Error, 1, "Unknown request: %s ", action != nullptr ? action : "");
    return ZPA_FAIL;
}

CM_EXTERN_C_END
