/* INI back end of the configuration store: opens the document and the section a path names, and
 * carries out the facade's operations on the current section. */
#include <cstdlib>
#include <cstring>
#include <string>

#include "ess_catalog_internal.h"
#include "ess_config.h"
#include "ess_str_utils.h"
#include "globalchelper.h"

namespace {

using Ini = ESS_Config_Ini_Context;

Ini* ini(void* impl) { return static_cast<Ini*>(impl); }

template <typename... Args>
void set_error(Ini* c, const ess_catalog::Message& message, Args... args) {
    ESS_Config_Context* ctx = c->m_ConfigContextPtr;
    EssGlobalcUtf8Sprintf(ctx->m_error, sizeof ctx->m_error, ESS_MSG(message), args...);
}

int give_attribute(BCC_IniAttribute* a, char** name, char** value) {
    if (!a) return ESS_CONFIG_NO_ATTRIBUTE;
    if (name) *name = ess_strdup(a->m_attrName);
    if (value) *value = ess_strdup(a->m_attrValue);
    return ESS_CONFIG_OK;
}

int give_stanza(Ini* c, BCC_IniStanza* s, char** name) {
    if (!s) return ESS_CONFIG_NOT_FOUND;
    c->m_stanza = s;
    if (name) *name = ess_strdup(s->m_stanzaName);
    return ESS_CONFIG_OK;
}

int ess_config_Ini_Context_Delete(void* impl) {
    Ini* c = ini(impl);
    if (!c) return ESS_CONFIG_FAIL;
    Free_BCC_IniAccess(c->m_da);
    std::free(c);
    return ESS_CONFIG_OK;
}

int ess_config_Ini_GetAttribute(void* impl, const char* name, char** value) {
    Ini* c = ini(impl);
    if (!c || !name || !value) return ESS_CONFIG_FAIL;
    *value = nullptr;
    BCC_IniAttribute* a = BCC_IniStanza_FindAttributePtr(c->m_stanza, name);
    if (!a) {
        set_error(c, ess_catalog::kIniAttrNotFound, name, c->m_ConfigContextPtr->m_PathStr);
        return ESS_CONFIG_NO_ATTRIBUTE;
    }
    *value = ess_strdup(a->m_attrValue);
    return ESS_CONFIG_OK;
}

int ess_config_Ini_GetFirstAttribute(void* impl, char** name, char** value) {
    Ini* c = ini(impl);
    if (!c) return ESS_CONFIG_FAIL;
    return give_attribute(BCC_IniStanza_GetFirstAttributePtr(c->m_stanza), name, value);
}

int ess_config_Ini_GetNextAttribute(void* impl, char** name, char** value) {
    Ini* c = ini(impl);
    if (!c) return ESS_CONFIG_FAIL;
    return give_attribute(BCC_IniStanza_GetNextAttributePtr(c->m_stanza), name, value);
}

int ess_config_Ini_SetAttribute(void* impl, const char* name, const char* value) {
    Ini* c = ini(impl);
    if (!c || !name || !c->m_stanza) return ESS_CONFIG_FAIL;
    if (BCC_IniAttribute* a = BCC_IniStanza_FindAttributePtr(c->m_stanza, name))
        return BCC_IniAttribute_SetValue(a, value);
    return BCC_IniStanza_AddAttribute(c->m_stanza, name, value);
}

int ess_config_Ini_DeleteAttribute(void* impl, const char* name) {
    Ini* c = ini(impl);
    if (!c || !name) return ESS_CONFIG_FAIL;
    if (!std::strchr(name, '*')) return BCC_IniStanza_DeleteAttribute(c->m_stanza, name);
    /* Every attribute whose name matches the wildcard. */
    int rc = ESS_CONFIG_NOT_FOUND;
    for (bool again = true; again;) {
        again = false;
        for (BCC_IniAttribute* a = BCC_IniStanza_GetFirstAttributePtr(c->m_stanza); a;
             a = BCC_IniStanza_GetNextAttributePtr(c->m_stanza)) {
            if (a->m_attrName && ESS_WILD_match(a->m_attrName, name) == 0) {
                const std::string match = a->m_attrName;
                rc = BCC_IniStanza_DeleteAttribute(c->m_stanza, match.c_str());
                again = rc == ESS_CONFIG_OK;
                break;
            }
        }
    }
    return rc;
}

int ess_config_Ini_Context_Save(void* impl) {
    Ini* c = ini(impl);
    if (!c) return ESS_CONFIG_FAIL;
    return BCC_IniAccess_Save(c->m_da);
}

int ess_config_Ini_GetFirstSubKey(void* impl, char** name) {
    Ini* c = ini(impl);
    if (!c) return ESS_CONFIG_FAIL;
    return give_stanza(c, BCC_IniAccess_GetFirstStanza(c->m_da), name);
}

int ess_config_Ini_GetNextSubKey(void* impl, char** name) {
    Ini* c = ini(impl);
    if (!c) return ESS_CONFIG_FAIL;
    return give_stanza(c, BCC_IniAccess_GetNextStanza(c->m_da), name);
}

int ess_config_Ini_SetOptionStr(void*, const char*, const char*) { return ESS_CONFIG_OK; }
int ess_config_Ini_SetOptionInt(void*, const char*, int) { return ESS_CONFIG_OK; }
int ess_config_Ini_GetOptionStr(void*, const char*, char** value) {
    if (value) *value = nullptr;
    return ESS_CONFIG_OK;
}
int ess_config_Ini_GetOptionInt(void*, const char*, int* value) {
    if (value) *value = -1;
    return ESS_CONFIG_OK;
}

char mode_letter(unsigned int mode) {
    if (mode & ESS_CONFIG_MODE_UPDATE) return BCC_INI_MODE_UPDATE;
    if (mode & ESS_CONFIG_MODE_CREATE) return BCC_INI_MODE_CREATE;
    return BCC_INI_MODE_READ;
}

}  // namespace

extern "C" {

const ESS_Config_FunctionPointers gESS_Config_Ini_FunctionPointers = {
    ess_config_Ini_Context_Delete,   ess_config_Ini_GetAttribute,   ess_config_Ini_GetFirstAttribute,
    ess_config_Ini_GetNextAttribute, ess_config_Ini_SetAttribute,   ess_config_Ini_DeleteAttribute,
    ess_config_Ini_Context_Save,     ess_config_Ini_GetFirstSubKey, ess_config_Ini_GetNextSubKey,
    ess_config_Ini_SetOptionStr,     ess_config_Ini_SetOptionInt,   ess_config_Ini_GetOptionStr,
    ess_config_Ini_GetOptionInt,
};

int ess_config_Ini_Context_New(ESS_Config_Context* ctx) {
    if (!ctx) return ESS_CONFIG_FAIL;
    std::string file;
    std::string section;
    if (ctx->m_subkey[0]) {
        if (std::strlen(ctx->m_PathStr) > ESS_CONFIG_FILE_MAX) return ESS_CONFIG_FAIL;
        file = ctx->m_PathStr;
        section = ctx->m_subkey;
    } else {
        std::string path = ctx->m_PathStr;
        section = BCM_Profile_SplitDnEntry(path.data());
        file = BCM_Profile_SplitDnPath(path.data());
    }
    auto* c = static_cast<Ini*>(std::calloc(1, sizeof(Ini)));
    if (!c) return ESS_CONFIG_FAIL;
    c->m_ConfigContextPtr = ctx;
    ctx->m_ConfigContextImplPtr = c;
    ctx->m_FuncTable = gESS_Config_Ini_FunctionPointers;

    const char mode = mode_letter(ctx->m_mode);
    int rc = ESS_CONFIG_OK;
    c->m_da = New_BCC_IniAccess(nullptr, 0, file.c_str(), mode, &rc);
    if (!c->m_da) {
        set_error(c, ess_catalog::kIniAccessFailure, file.c_str());
        return ESS_CONFIG_UNREADABLE;
    }
    if (ctx->m_preambleText[0]) BCC_IniAccess_SetPreambleText(c->m_da, ctx->m_preambleText);
    if (section == "*") return ESS_CONFIG_OK;
    c->m_stanza = BCC_IniAccess_FindStanza(c->m_da, section.c_str(), &rc);
    if (c->m_stanza) return ESS_CONFIG_OK;
    if (mode == BCC_INI_MODE_READ) {
        set_error(c, ess_catalog::kIniEntryNotFound, section.c_str(), file.c_str());
        return ESS_CONFIG_NOT_FOUND;
    }
    if (BCC_IniAccess_AddStanza(c->m_da, section.c_str(), nullptr) != ESS_CONFIG_OK) return ESS_CONFIG_NOT_ADDED;
    c->m_stanza = BCC_IniAccess_FindStanza(c->m_da, section.c_str(), &rc);
    return c->m_stanza ? ESS_CONFIG_OK : ESS_CONFIG_NOT_ADDED;
}

}  // extern "C"
