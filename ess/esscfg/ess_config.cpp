/* Configuration store facade: the context with its path, section, preamble and last error, and
 * the dispatch of every operation through the back end's table. */
#include "ess_config.h"

#include <cstdlib>
#include <cstring>

#include "ess_str_utils.h"

namespace {

template <typename F, typename... Args>
int dispatch(ESS_Config_Context* ctx, F ESS_Config_FunctionPointers::*entry, Args... args) {
    if (!ctx || !(ctx->m_FuncTable.*entry)) return ESS_CONFIG_FAIL;
    return (ctx->m_FuncTable.*entry)(ctx->m_ConfigContextImplPtr, args...);
}

}  // namespace

extern "C" {

ESS_Config_Context* ESS_Config_New(int nConfigType, const char* PathStr, unsigned int mode) {
    return ESS_Config_NewBySubkey(nConfigType, PathStr, nullptr, nullptr, mode);
}

ESS_Config_Context* ESS_Config_NewBySubkey(int nConfigType, const char* PathStr, const char* subkey,
                                           const char* preambleText, unsigned int mode) {
    if (!PathStr || !*PathStr || nConfigType != ESS_CONFIG_TYPE_INI) return nullptr;
    /* A path or section cut to its room would name another file or section: refused. */
    if (std::strlen(PathStr) >= ESS_CONFIG_PATH_ROOM - 1 || (subkey && std::strlen(subkey) >= ESS_CONFIG_PATH_ROOM))
        return nullptr;
    auto* ctx = static_cast<ESS_Config_Context*>(std::calloc(1, sizeof(ESS_Config_Context)));
    if (!ctx) return nullptr;
    ctx->m_ConfigType = nConfigType;
    ctx->m_mode = mode;
    ess_strncpy(ctx->m_PathStr, PathStr, sizeof ctx->m_PathStr);
    if (subkey) ess_strncpy(ctx->m_subkey, subkey, sizeof ctx->m_subkey);
    if (preambleText) ess_strncpy(ctx->m_preambleText, preambleText, sizeof ctx->m_preambleText);
    if (ess_config_Ini_Context_New(ctx) != ESS_CONFIG_OK) {
        ESS_Config_Delete(&ctx);
        return nullptr;
    }
    return ctx;
}

void ESS_Config_Delete(ESS_Config_Context** ctx) {
    if (!ctx || !*ctx) return;
    if ((*ctx)->m_FuncTable.pfESS_Config_Delete && (*ctx)->m_ConfigContextImplPtr)
        (*ctx)->m_FuncTable.pfESS_Config_Delete((*ctx)->m_ConfigContextImplPtr);
    std::free(*ctx);
    *ctx = nullptr;
}

int ESS_Config_GetAttribute(ESS_Config_Context* ctx, const char* name, char** value) {
    return dispatch(ctx, &ESS_Config_FunctionPointers::pfESS_Config_GetAttribute, name, value);
}
int ESS_Config_GetFirstAttribute(ESS_Config_Context* ctx, char** name, char** value) {
    return dispatch(ctx, &ESS_Config_FunctionPointers::pfESS_Config_GetFirstAttribute, name, value);
}
int ESS_Config_GetNextAttribute(ESS_Config_Context* ctx, char** name, char** value) {
    return dispatch(ctx, &ESS_Config_FunctionPointers::pfESS_Config_GetNextAttribute, name, value);
}
int ESS_Config_SetAttribute(ESS_Config_Context* ctx, const char* name, const char* value) {
    return dispatch(ctx, &ESS_Config_FunctionPointers::pfESS_Config_SetAttribute, name, value);
}
int ESS_Config_DeleteAttribute(ESS_Config_Context* ctx, const char* name) {
    return dispatch(ctx, &ESS_Config_FunctionPointers::pfESS_Config_DeleteAttribute, name);
}
int ESS_Config_Save(ESS_Config_Context* ctx) { return dispatch(ctx, &ESS_Config_FunctionPointers::pfESS_Config_Save); }
int ESS_Config_GetFirstSubKey(ESS_Config_Context* ctx, char** name) {
    return dispatch(ctx, &ESS_Config_FunctionPointers::pfESS_Config_GetFirstSubKey, name);
}
int ESS_Config_GetNextSubKey(ESS_Config_Context* ctx, char** name) {
    return dispatch(ctx, &ESS_Config_FunctionPointers::pfESS_Config_GetNextSubKey, name);
}
int ESS_Config_SetOptionStr(ESS_Config_Context* ctx, const char* option, const char* value) {
    return dispatch(ctx, &ESS_Config_FunctionPointers::pfESS_Config_SetOptionStr, option, value);
}
int ESS_Config_SetOptionInt(ESS_Config_Context* ctx, const char* option, int value) {
    return dispatch(ctx, &ESS_Config_FunctionPointers::pfESS_Config_SetOptionInt, option, value);
}
int ESS_Config_GetOptionStr(ESS_Config_Context* ctx, const char* option, char** value) {
    return dispatch(ctx, &ESS_Config_FunctionPointers::pfESS_Config_GetOptionStr, option, value);
}
int ESS_Config_GetOptionInt(ESS_Config_Context* ctx, const char* option, int* value) {
    return dispatch(ctx, &ESS_Config_FunctionPointers::pfESS_Config_GetOptionInt, option, value);
}

char* ESS_Config_LastError(ESS_Config_Context* ctx) { return ctx ? ctx->m_error : nullptr; }

}  // extern "C"
