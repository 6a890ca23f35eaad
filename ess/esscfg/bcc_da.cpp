/* INI document model: reading a file into sections and attributes (the line rules of the format),
 * the section and attribute lists, and saving the document through the shared-file rewrite (a
 * temporary file renamed over the old one). Owns every section, attribute and text it holds. */
#include "bcc_da.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "ess_catalog_internal.h"
#include "ess_str_utils.h"
#include "globalchelper.h"
#include "os_file_nofollow.h"
#include "os_shared_file_internal.h"

namespace {

constexpr int kNativePathRoom = 1024;
constexpr mode_t kNewFileMode = 0600;  // a saved configuration file that did not exist yet

/* A rule of 73 ';', the maker's notice, the editing warning, and the rule again. */
constexpr const char* kDefaultPreamble =
    ";;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;\n"
    ";\n"
    ";  Security configuration of the appbridge plug-in.\n"
    ";  Written by its security library, which rewrites this file as a whole:\n"
    ";  comments and lines it does not know are not kept.\n"
    ";\n"
    ";      EDITING THIS FILE DIRECTLY IS NOT RECOMMENDED\n"
    ";\n"
    ";;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;;\n";

bool blank_or_tab(char c) { return c == ' ' || c == '\t'; }

/* [begin, end) without blanks and tabs at both ends; a value also loses the line end. */
std::string trimmed(const char* begin, const char* end, bool value = false) {
    while (begin < end && blank_or_tab(*begin)) ++begin;
    while (end > begin && (blank_or_tab(end[-1]) || (value && (end[-1] == '\n' || end[-1] == '\r')))) --end;
    return std::string(begin, end);
}

bool native_path(const char* path, char* native) {
    return std::strlen(path) < kNativePathRoom && EssUtf8ToNativeString(native, kNativePathRoom, path) > 0;
}

/* The stored attribute of a name, walking the nodes without moving the list's cursor. */
BCC_IniAttribute* find_attribute(BCC_IniStanza* stanza, const char* name) {
    if (!stanza || !name || !stanza->m_attrList) return nullptr;
    for (ESS_LIST_node* n = stanza->m_attrList->head; n; n = n->next) {
        auto* a = static_cast<BCC_IniAttribute*>(n->data);
        if (a && a->m_attrName && std::strcmp(a->m_attrName, name) == 0) return a;
    }
    return nullptr;
}

BCC_IniAttribute* copy_of(const BCC_IniAttribute* a) {
    return a ? New_BCC_IniAttribute(a->m_attrName, a->m_attrValue) : nullptr;
}

BCC_IniAttribute* walked_attribute(BCC_IniStanza* stanza, bool first) {
    if (!stanza || !stanza->m_attrList) return nullptr;
    if (first) ESS_LIST_reset(stanza->m_attrList);
    void* p = nullptr;
    int size = 0;
    return ESS_LIST_next_ptr(stanza->m_attrList, &p, &size) == 0 ? static_cast<BCC_IniAttribute*>(p) : nullptr;
}

/* Unlinks the first node for which `take` (which frees the node's data) says yes; `absent` when
 * there is none. */
template <typename Take>
int delete_first(ESS_LIST_typ** list, int absent, Take take) {
    if (!*list) return absent;
    ESS_LIST_reset(*list);
    void* p = nullptr;
    int size = 0;
    while (ESS_LIST_next_ptr(*list, &p, &size) == 0)
        if (take(p)) return ESS_LIST_delete_curr(list) == 0 ? ESS_CONFIG_OK : ESS_CONFIG_FAIL;
    return absent;
}

/* Reads the whole file into the document. -3 when an attribute comes before the first section. */
int parse(BCC_IniAccess* acc) {
    BCC_IniFile* file = acc->m_store;
    auto* line = static_cast<char*>(std::malloc(BCC_INI_LINE_ROOM));
    if (!line) return ESS_CONFIG_UNREADABLE;
    BCC_IniStanza* current = nullptr;
    int rc = ESS_CONFIG_OK;
    while (rc == ESS_CONFIG_OK && BCC_IniFile_GetNextString(file, line, BCC_INI_LINE_ROOM)) {
        const char* p = line;
        while (blank_or_tab(*p)) ++p;
        if (*p == ';' || *p == '#' || *p == '\n' || *p == '\0' || std::strncmp(p, "REGEDIT4", 8) == 0) continue;
        const char* open = std::strchr(p, '[');
        const char* close = std::strchr(p, ']');
        if (open && close && close > open) {
            const std::string name = trimmed(open + 1, close);
            BCC_IniStanza* stanza = New_BCC_IniStanza(name.c_str());
            if (!stanza || ESS_LIST_add_ptr_tail(&acc->m_stanzaList, stanza) != 0) {
                Free_BCC_IniStanza(stanza);
                rc = ESS_CONFIG_UNREADABLE;
                break;
            }
            current = stanza;
            continue;
        }
        const char* eq = std::strchr(p, '=');
        if (eq && eq != p) {
            if (!current) {
                rc = ESS_CONFIG_UNREADABLE;  // an attribute before any section
                break;
            }
            const std::string name = trimmed(p, eq);
            const std::string value = trimmed(eq + 1, p + std::strlen(p), true);
            if (BCC_IniStanza_AddAttribute(current, name.c_str(), value.c_str()) != 0) rc = ESS_CONFIG_UNREADABLE;
            continue;
        }
        const std::string shown = trimmed(p, p + std::strlen(p), true);
        char text[BCC_INI_LINE_ROOM + BCC_INI_FILENAME_ROOM + 32];
        EssGlobalcUtf8Sprintf(text, sizeof text, ESS_MSG(ess_catalog::kIniSyntax), file->m_filename, shown.c_str());
        EssGlobalcWriteStringErr(text, static_cast<int>(std::strlen(text)));
        EssGlobalcWriteStringErr("\n", 1);  // one line a report, not a run of them
    }
    std::free(line);
    return rc;
}

}  // namespace

extern "C" {

BCC_IniFile* New_BCC_IniFile(const char* fileName, char mode) {
    if (!fileName || std::strlen(fileName) >= BCC_INI_FILENAME_ROOM) return nullptr;
    auto* file = static_cast<BCC_IniFile*>(std::calloc(1, sizeof(BCC_IniFile)));
    if (!file) return nullptr;
    ess_strncpy(file->m_filename, fileName, sizeof file->m_filename);
    if (mode == BCC_INI_MODE_CREATE) return file;  // nothing to read; the save writes the file
    /* Only a regular file, never through a link at its name nor a folder linked to someone else's,
     * and never waiting on a FIFO: the security library runs as root in a home another user owns. */
    char native[kNativePathRoom];
    const bool update = mode == BCC_INI_MODE_UPDATE;
    const int fd = native_path(fileName, native) ? os_file::open_regular(native, update ? O_RDWR : O_RDONLY) : -1;
    file->fd = fd >= 0 ? fdopen(fd, update ? "r+" : "r") : nullptr;
    if (!file->fd) {
        if (fd >= 0) close(fd);
        std::free(file);
        return nullptr;
    }
    return file;
}

void Free_BCC_IniFile(BCC_IniFile* file) {
    if (!file) return;
    if (file->fd) std::fclose(file->fd);
    std::free(file);
}

char* BCC_IniFile_GetNextString(BCC_IniFile* file, char* buffer, int length) {
    if (!file || !file->fd || !buffer || length < 2) return nullptr;
    if (!std::fgets(buffer, length, file->fd)) return nullptr;
    const size_t n = std::strlen(buffer);
    if (n >= 2 && buffer[n - 2] == '\r' && buffer[n - 1] == '\n') {
        buffer[n - 2] = '\n';
        buffer[n - 1] = '\0';
    }
    return buffer;
}

int BCC_IniFile_PutNextString(BCC_IniFile* file, const char* text) {
    if (!file || !file->fd || !text) return -1;
    return std::fputs(text, file->fd) >= 0 && std::fputc('\n', file->fd) != EOF ? 0 : -1;
}

BCC_IniAttribute* New_BCC_IniAttribute(const char* name, const char* value) {
    auto* a = static_cast<BCC_IniAttribute*>(std::calloc(1, sizeof(BCC_IniAttribute)));
    if (!a) return nullptr;
    if ((name && !(a->m_attrName = ess_strdup(name))) || (value && !(a->m_attrValue = ess_strdup(value)))) {
        Free_BCC_IniAttribute(a);
        return nullptr;
    }
    return a;
}

void Free_BCC_IniAttribute(BCC_IniAttribute* attr) {
    if (!attr) return;
    std::free(attr->m_attrName);
    std::free(attr->m_attrValue);
    std::free(attr);
}

int BCC_IniAttribute_SetValue(BCC_IniAttribute* attr, const char* value) {
    if (!attr) return -1;
    char* copy = nullptr;
    if (value && !(copy = ess_strdup(value))) return -1;
    std::free(attr->m_attrValue);
    attr->m_attrValue = copy;
    return 0;
}

char* BCC_IniAttribute_GetName(BCC_IniAttribute* attr) { return attr ? attr->m_attrName : nullptr; }
char* BCC_IniAttribute_GetValue(BCC_IniAttribute* attr) { return attr ? attr->m_attrValue : nullptr; }

BCC_IniStanza* New_BCC_IniStanza(const char* name) {
    if (!name || !*name) return nullptr;
    auto* s = static_cast<BCC_IniStanza*>(std::calloc(1, sizeof(BCC_IniStanza)));
    if (!s) return nullptr;
    if (!(s->m_stanzaName = ess_strdup(name))) {
        std::free(s);
        return nullptr;
    }
    return s;
}

void Free_BCC_IniStanza(BCC_IniStanza* stanza) {
    if (!stanza) return;
    if (stanza->m_attrList)
        for (ESS_LIST_node* n = stanza->m_attrList->head; n; n = n->next)
            Free_BCC_IniAttribute(static_cast<BCC_IniAttribute*>(n->data));
    ESS_LIST_clear(&stanza->m_attrList);
    std::free(stanza->m_stanzaName);
    std::free(stanza);
}

char* BCC_IniStanza_GetName(BCC_IniStanza* stanza) { return stanza ? stanza->m_stanzaName : nullptr; }

int BCC_IniStanza_AddAttribute(BCC_IniStanza* stanza, const char* name, const char* value) {
    if (!stanza) return -1;
    BCC_IniAttribute* a = New_BCC_IniAttribute(name, value);
    if (!a) return -1;
    if (ESS_LIST_add_ptr_tail(&stanza->m_attrList, a) != 0) {
        Free_BCC_IniAttribute(a);
        return -1;
    }
    return 0;
}

int BCC_IniStanza_DeleteAttribute(BCC_IniStanza* stanza, const char* name) {
    if (!stanza || !name) return ESS_CONFIG_NOT_FOUND;
    return delete_first(&stanza->m_attrList, ESS_CONFIG_NOT_FOUND, [name](void* p) {
        auto* a = static_cast<BCC_IniAttribute*>(p);
        if (!a || !a->m_attrName || std::strcmp(a->m_attrName, name) != 0) return false;
        Free_BCC_IniAttribute(a);
        return true;
    });
}

BCC_IniAttribute* BCC_IniStanza_FindAttributePtr(BCC_IniStanza* stanza, const char* name) {
    return find_attribute(stanza, name);
}
BCC_IniAttribute* BCC_IniStanza_GetFirstAttributePtr(BCC_IniStanza* stanza) { return walked_attribute(stanza, true); }
BCC_IniAttribute* BCC_IniStanza_GetNextAttributePtr(BCC_IniStanza* stanza) { return walked_attribute(stanza, false); }
BCC_IniAttribute* BCC_IniStanza_FindAttribute(BCC_IniStanza* stanza, const char* name) {
    return copy_of(find_attribute(stanza, name));
}
BCC_IniAttribute* BCC_IniStanza_GetFirstAttribute(BCC_IniStanza* stanza) {
    return copy_of(walked_attribute(stanza, true));
}
BCC_IniAttribute* BCC_IniStanza_GetNextAttribute(BCC_IniStanza* stanza) {
    return copy_of(walked_attribute(stanza, false));
}

const char* BCC_IniAccess_DefaultPreamble(void) { return kDefaultPreamble; }

BCC_IniAccess* New_BCC_IniAccess(const char*, int, const char* file, char mode, int* rc) {
    int local;
    if (!rc) rc = &local;
    *rc = ESS_CONFIG_UNREADABLE;
    auto* acc = static_cast<BCC_IniAccess*>(std::calloc(1, sizeof(BCC_IniAccess)));
    if (!acc) return nullptr;
    acc->m_strPreamble = ess_strdup(kDefaultPreamble);
    acc->m_store = New_BCC_IniFile(file, mode);
    if (!acc->m_strPreamble || !acc->m_store || parse(acc) != ESS_CONFIG_OK) {
        Free_BCC_IniAccess(acc);
        return nullptr;
    }
    /* The document is in memory; a save rewrites the file as a whole. */
    if (acc->m_store->fd) {
        std::fclose(acc->m_store->fd);
        acc->m_store->fd = nullptr;
    }
    *rc = ESS_CONFIG_OK;
    return acc;
}

void Free_BCC_IniAccess(BCC_IniAccess* acc) {
    if (!acc) return;
    if (acc->m_stanzaList)
        for (ESS_LIST_node* n = acc->m_stanzaList->head; n; n = n->next)
            Free_BCC_IniStanza(static_cast<BCC_IniStanza*>(n->data));
    ESS_LIST_clear(&acc->m_stanzaList);
    Free_BCC_IniFile(acc->m_store);
    std::free(acc->m_strPreamble);
    std::free(acc);
}

BCC_IniStanza* BCC_IniAccess_FindStanza(BCC_IniAccess* acc, const char* name, int* rc) {
    if (rc) *rc = ESS_CONFIG_NOT_FOUND;
    if (!acc || !name || !acc->m_stanzaList) return nullptr;
    for (ESS_LIST_node* n = acc->m_stanzaList->head; n; n = n->next) {
        auto* s = static_cast<BCC_IniStanza*>(n->data);
        if (s && std::strcmp(s->m_stanzaName, name) == 0) {
            if (rc) *rc = ESS_CONFIG_OK;
            return s;
        }
    }
    return nullptr;
}

int BCC_IniAccess_DeleteStanza(BCC_IniAccess* acc, const char* name) {
    if (!acc || !name) return ESS_CONFIG_NO_STANZA;
    return delete_first(&acc->m_stanzaList, ESS_CONFIG_NO_STANZA, [name](void* p) {
        auto* s = static_cast<BCC_IniStanza*>(p);
        if (!s || std::strcmp(s->m_stanzaName, name) != 0) return false;
        Free_BCC_IniStanza(s);
        return true;
    });
}

int BCC_IniAccess_AddStanza(BCC_IniAccess* acc, const char* name, ESS_StringArray* pars) {
    if (!acc) return ESS_CONFIG_FAIL;
    BCC_IniStanza* stanza = New_BCC_IniStanza(name);
    if (!stanza) return ESS_CONFIG_FAIL;
    for (int i = 0; pars && i < pars->cur; ++i) {
        const char* item = pars->argv[i];
        if (!item || !*item) continue;
        char* value = nullptr;
        char* key = ess_strSplit2Name_Value(item, &value);
        const int added = key ? BCC_IniStanza_AddAttribute(stanza, key, value) : ESS_CONFIG_FAIL;
        std::free(key);
        if (added != 0) {
            Free_BCC_IniStanza(stanza);
            return ESS_CONFIG_FAIL;
        }
    }
    if (ESS_LIST_add_ptr_tail(&acc->m_stanzaList, stanza) != 0) {
        Free_BCC_IniStanza(stanza);
        return ESS_CONFIG_FAIL;
    }
    return ESS_CONFIG_OK;
}

BCC_IniStanza* BCC_IniAccess_GetFirstStanza(BCC_IniAccess* acc) {
    if (!acc || !acc->m_stanzaList) return nullptr;
    ESS_LIST_reset(acc->m_stanzaList);
    return BCC_IniAccess_GetNextStanza(acc);
}

BCC_IniStanza* BCC_IniAccess_GetNextStanza(BCC_IniAccess* acc) {
    if (!acc || !acc->m_stanzaList) return nullptr;
    void* p = nullptr;
    int size = 0;
    return ESS_LIST_next_ptr(acc->m_stanzaList, &p, &size) == 0 ? static_cast<BCC_IniStanza*>(p) : nullptr;
}

int BCC_IniAccess_SetPreambleText(BCC_IniAccess* acc, const char* text) {
    if (!acc || !text) return ESS_CONFIG_FAIL;
    char* copy = ess_strdup(text);
    if (!copy) return ESS_CONFIG_FAIL;
    std::free(acc->m_strPreamble);
    acc->m_strPreamble = copy;
    return ESS_CONFIG_OK;
}

int BCC_IniAccess_Save(BCC_IniAccess* acc) {
    if (!acc || !acc->m_store) return ESS_CONFIG_FAIL;
    std::string out = acc->m_strPreamble ? acc->m_strPreamble : "";
    if (acc->m_stanzaList)
        for (ESS_LIST_node* n = acc->m_stanzaList->head; n; n = n->next) {
            auto* s = static_cast<BCC_IniStanza*>(n->data);
            out += "\n[" + std::string(s->m_stanzaName) + "]\n";
            if (!s->m_attrList) continue;
            for (ESS_LIST_node* m = s->m_attrList->head; m; m = m->next) {
                auto* a = static_cast<BCC_IniAttribute*>(m->data);
                out += std::string(a->m_attrName ? a->m_attrName : "") + " = " +
                       (a->m_attrValue ? a->m_attrValue : "") + "\n";
            }
        }
    char native[kNativePathRoom];
    if (!native_path(acc->m_store->m_filename, native)) return ESS_CONFIG_UNWRITABLE;
    /* Written in the native encoding (the same bytes without a globalization table). */
    std::string content(out.size() * 4 + 16, '\0');
    if (EssUtf8ToNativeString(content.data(), static_cast<int>(content.size()), out.c_str()) > 0)
        content.resize(std::strlen(content.c_str()));
    else
        content = out;
    os_shared::Options options;
    options.new_mode = kNewFileMode;
    return os_shared::write_file(native, content, options) == CM_RC_OK ? ESS_CONFIG_OK : ESS_CONFIG_UNWRITABLE;
}

char* BCM_Profile_SplitDnPath(char* dn) {
    if (!dn) return nullptr;
    if (char* slash = std::strrchr(dn, '/')) *slash = '\0';
    return dn;
}

char* BCM_Profile_SplitDnEntry(char* dn) {
    if (!dn) return nullptr;
    char* slash = std::strrchr(dn, '/');
    return slash ? slash + 1 : dn;
}

}  // extern "C"
