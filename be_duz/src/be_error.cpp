// The plug-in's one error helper (BE_DUZ_UpdateErrorSet), the names of a job's work files
// (procid, backup and sysout files), the system error text, and the small file helpers that read
// one key, append a whole key/value file to an attribute list, read a line and give a file's size.
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "be_def.h"
#include "be_internal.h"
#include "gm_param.h"
#include "gm_param_internal.h"
#include "gm_str.h"
#include "os_file.h"
#include "zpaapi_internal.h"

namespace {

constexpr const char* kProcidDir = "./procid";
constexpr const char* kSysoutDir = "./sysout";
constexpr int kSysoutNameSize = 200;
constexpr int kPrintNameWidth = 8;
// Debug level from which BE_DUZ_print_attr writes its dump.
constexpr int kPrintLevel = 4;

void copy_path(char* out, const std::string& dir, const std::string& name) {
    std::snprintf(out, sizeof(PATHNAME_D_typ), "%s/%s", dir.c_str(), name.c_str());
}

// "<ORDERNO>_<run>.DAT": the name part of procid and sysout files, upper-cased whole.
std::string order_run_name(const char* orderno, const char* runno) {
    std::string name = std::string(orderno ? orderno : "") + "_" + std::to_string(be_run_number(runno)) + ".dat";
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

// Arrays that BE_DUZ_append_file2Attr built and handed to a caller's list. Only those may be
// released when the list is grown again: any other array belongs to whoever built it (the agent's
// own lists in particular). An entry records the array with its count and name blocks, so that an
// address reused after the array was released elsewhere is not taken for ours. The record is
// bounded; an entry that falls out only means that array is left to its owner.
struct BuiltArray {
    ZPAAttr* array;
    int count;
    std::vector<char*> names;
};
constexpr std::size_t kBuiltArraysKept = 64;
std::mutex built_mutex;
std::vector<BuiltArray> built_arrays;

BuiltArray describe(const ZPAAttrList& list) {
    BuiltArray entry{list.Attributes, list.Count, {}};
    for (int i = 0; i < list.Count; ++i) entry.names.push_back(list.Attributes[i].Name);
    return entry;
}

bool same(const BuiltArray& a, const BuiltArray& b) {
    return a.array == b.array && a.count == b.count && a.names == b.names;
}

// Removes the entry describing list's current array; true when it was there.
bool take_built(const ZPAAttrList& list) {
    if (!list.Attributes || list.Count <= 0) return false;
    BuiltArray current = describe(list);
    std::lock_guard<std::mutex> lock(built_mutex);
    for (auto it = built_arrays.begin(); it != built_arrays.end(); ++it) {
        if (same(*it, current)) {
            built_arrays.erase(it);
            return true;
        }
    }
    return false;
}

void remember_built(const ZPAAttrList& list) {
    if (!list.Attributes || list.Count <= 0) return;
    BuiltArray entry = describe(list);
    std::lock_guard<std::mutex> lock(built_mutex);
    if (built_arrays.size() >= kBuiltArraysKept) built_arrays.erase(built_arrays.begin());
    built_arrays.push_back(std::move(entry));
}

}  // namespace

char* be_duz::attr(ZPAAttrList* list, const char* name) {
    char* value = nullptr;
    if (list == nullptr || ZPAAPI_UTILS_AttrListValueGet(list, const_cast<char*>(name), &value) != ZPA_SUCCESS)
        return nullptr;
    return value;
}

char* be_duz::mandatory_attr(ZPAAttrList* list, const char* name, ZPAError* Error, ZPARC* rc) {
    char* value = nullptr;
    ZPARC found = ZPAAPI_UTILS_AttrListValueGet(list, const_cast<char*>(name), &value);
    if (found == ZPA_SUCCESS && value == nullptr) found = ZPA_FAIL;
    if (rc != nullptr) *rc = found;
    if (found == ZPA_SUCCESS) return value;
    BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(found), "keyword %s not found", name);
    return nullptr;
}

ZPARC be_navigate_next(ZPAAttrList* AttributesIn, ZPAError* Error) {
    ZPARC rc = ZPA_SUCCESS;
    const char* navigate = be_duz::mandatory_attr(AttributesIn, "NAVIGATE", Error, &rc);
    if (navigate == nullptr) return ZPA_FAIL;  // never the end of the text: the code keeps the look-up's
    if (std::strcmp(navigate, "NEXT") != 0) {
        BE_DUZ_UpdateErrorSet(Error, 1, "'%s' value '%s' is invalid", "NAVIGATE", navigate);
        return ZPA_FAIL;
    }
    return ZPA_SUCCESS;
}

ZPARC be_read_text_piece(FILE* file, ZPAAttrList* AttributesOut, ZPAError* Error) {
    if (!file) {
        BE_DUZ_UpdateErrorSet(Error, 1, "File Pointer is NULL.");
        return ZPA_FAIL;
    }
    ZPARC rc = ZPA_SUCCESS;
    char* text = be_duz::mandatory_attr(AttributesOut, "TEXT", Error, &rc);
    if (text == nullptr) return ZPA_FAIL;
    int size = 0;
    rc = ZPAAPI_UTILS_AttrListValueSizeGet(AttributesOut, const_cast<char*>("TEXT"), &size);
    if (rc != ZPA_SUCCESS || size < 1) {
        // A slot without room would read nothing for ever and never reach the end.
        rc = rc != ZPA_SUCCESS ? rc : ZPA_FAIL;
        BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc), "keyword %s size not found", "TEXT");
        return rc;
    }
    const std::size_t wanted = static_cast<std::size_t>(size);
    const std::size_t got = std::fread(text, 1, wanted, file);
    if (got == wanted) return ZPA_SUCCESS;
    if (std::ferror(file)) {
        char system_error[256];
        BE_DUZ_get_system_error(system_error);
        std::clearerr(file);
        BE_DUZ_UpdateErrorSet(Error, 1, "failed to read file. error '%s'", system_error);
        return ZPA_FAIL;
    }
    // The end of the text: the slot has room for size + 1 bytes, so the last piece is terminated.
    text[got] = '\0';
    return ZPA_EOS;
}

ZPARC be_append_attributes(ZPAAttrList* source, ZPAAttrList* target, bool move_source) {
    if (!source || !target) return ZPA_FAIL;
    try {
        const ZPAAttrList previous = *target;
        const bool previous_is_ours = take_built(previous);
        const ZPARC appended =
            move_source ? zpaapi::append_moving(source, target) : ZPAAPI_UTILS_AttrListAppend_Attr2Attr(source, target);
        if (appended != ZPA_SUCCESS) {
            if (previous_is_ours) remember_built(previous);
            return ZPA_FAIL;
        }
        // The append copied the previous attributes; their array is released only when the
        // plug-in built it. The agent's lists are the agent's to free.
        if (previous_is_ours) {
            ZPAAttrList old = previous;
            ZPAAPI_utils_release_attr(&old);
        }
        remember_built(*target);
        return ZPA_SUCCESS;
    } catch (...) {
        return ZPA_FAIL;
    }
}

extern "C" {

ZPARC BE_DUZ_UpdateErrorSet(ZPAError* Error, ZPAErrorCode code, const char* format, ...) {
    char text[BE_DUZ_ERROR_WORK_SIZE];
    const std::size_t prefix = std::strlen(BE_DUZ_ERROR_PREFIX);
    std::memcpy(text, BE_DUZ_ERROR_PREFIX, prefix + 1);
    if (format) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(text + prefix, sizeof text - prefix, format, args);
        va_end(args);
    }
    if (std::strlen(text) > BE_DUZ_ERROR_MAX_LEN) {
        BE_TRACE(4, "BE_DUZ_UpdateErrorSet: error message too long");
        BE_TRACE(4, "%s", text);
        return ZPA_SUCCESS;
    }
    // The finished text is passed as an argument: a '%' from an Oracle message stays as it is.
    if (Error) ZPAAPI_UTILS_ErrorSet(Error, code, "%s", text);
    BE_TRACE(4, "%s: %s", "BE_DUZ_UpdateErrorSet", text);
    return ZPA_SUCCESS;
}

char* BE_DUZ_get_system_error(char* systemMsg) {
    if (!systemMsg) return systemMsg;
    const int err = errno;
    systemMsg[0] = '\0';
    if (err != BE_DUZ_NO_SYSTEM_ERROR) {
        char work[256];
        std::strcpy(systemMsg, strerror_r(err, work, sizeof work));  // thread-safe form of strerror
    }
    return systemMsg;
}

void BE_DUZ_build_procid_fname(char* ProcIdPath, const char* orderno, const char* runno) {
    if (!ProcIdPath) return;
    try {
        BE_TRACE(4, "Starting: '%s'", "BE_DUZ_build_procid_fname");
        if (orderno && !be_plain_name_part(orderno)) {
            // No path at all: every open of it fails, none reaches a file outside ./procid.
            BE_TRACE(2, "order number '%s' is no plain file name part", orderno);
            ProcIdPath[0] = '\0';
            return;
        }
        copy_path(ProcIdPath, kProcidDir, order_run_name(orderno, runno));
    } catch (...) {
        ProcIdPath[0] = '\0';
    }
}

void BE_DUZ_build_procid_fname2(char* ProcIdPath, const char* orderno) {
    BE_TRACE(2, "Starting: '%s'", "BE_DUZ_build_procid_fname2");
    if (!ProcIdPath || !orderno || !*orderno) {
        BE_TRACE(2, "Fail to locate procid file for orderno '%s'", orderno ? orderno : "");
        return;
    }
    OS_FILE_LIST_typ dir = nullptr;
    bool found = false;
    if (OS_FILE_dir_open(&dir, kProcidDir) == CM_RC_OK) {
        char entry[256];
        const std::size_t length = std::strlen(orderno);
        while (!found && OS_FILE_dir_next(&dir, entry) == CM_RC_OK) {
            if (std::strncmp(entry, orderno, length) == 0) {
                std::snprintf(ProcIdPath, sizeof(PATHNAME_D_typ), "%s/%s", kProcidDir, entry);
                found = true;
            }
        }
        OS_FILE_dir_close(&dir);
    }
    if (!found) BE_TRACE(2, "Fail to locate procid file for orderno '%s'", orderno);
}

ZPARC BE_DUZ_build_sysout_fname(ZPAAttrList* AttributesIn, char* SysoutPath, ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_build_sysout_fname");
    if (!SysoutPath) return ZPA_FAIL;
    try {
        char* orderno = nullptr;
        char* runno = nullptr;
        const char* mandatory[] = {"ORDERNO", "RUNNO"};
        char** values[] = {&orderno, &runno};
        for (int i = 0; i < 2; ++i) {
            ZPARC rc = ZPAAPI_UTILS_AttrListValueGet(AttributesIn, const_cast<char*>(mandatory[i]), values[i]);
            if (rc != ZPA_SUCCESS) {
                BE_DUZ_UpdateErrorSet(Error, static_cast<ZPAErrorCode>(rc), "the attribute '%s' is mandatory",
                                      mandatory[i]);
                return rc;
            }
        }
        GM_PARAM_VALUE_typ choice = "";
        std::string prefix;
        if (GM_PARAM_get("OEBS", "SYSOUT_NAME", choice) == CM_RC_OK) {
            choice[kSysoutNameSize - 1] = '\0';
            struct Rule {
                const char* choice;
                const char* attribute;
                const char* fallback;
            };
            for (const Rule& rule : {Rule{"JOBNAME", "JOBNAME", "job"}, Rule{"MEMNAME", "MEMNAME", "mem"}}) {
                if (std::strcmp(choice, rule.choice) != 0) continue;
                char* value = nullptr;
                bool have = ZPAAPI_UTILS_AttrListValueGet(AttributesIn, const_cast<char*>(rule.attribute), &value) ==
                                ZPA_SUCCESS &&
                            value && *value;
                prefix = have ? value : rule.fallback;
            }
        }
        std::string name = order_run_name(orderno, runno);
        if (!prefix.empty()) name = prefix + "_" + name;
        if (!be_plain_name_part(name.c_str())) {
            BE_DUZ_UpdateErrorSet(Error, 1, "sysout file name '%s' would leave %s", name.c_str(), kSysoutDir);
            return ZPA_FAIL;
        }
        copy_path(SysoutPath, kSysoutDir, name);
        BE_TRACE(4, "sysout file: '%s'", SysoutPath);
        return ZPA_SUCCESS;
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "%s: out of memory", "BE_DUZ_build_sysout_fname");
        return ZPA_FAIL;
    }
}

ZPARC BE_DUZ_file_get(const char* File_Path, const char* attr_key, int attr_size, char* attr_value, ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_file_get");
    if (!File_Path || !attr_key || !attr_value || attr_size < 0) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to load file: '%s'", File_Path ? File_Path : "");
        return ZPA_FAIL;
    }
    ZPALIST_handle_typ list{};
    ZPARC rc = ZPA_SUCCESS;
    if (GM_PARAM_load_file(&list, File_Path) != CM_RC_OK) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to load file: '%s'", File_Path);
        rc = ZPA_FAIL;
    } else if (GM_PARAM_list_get(&list, attr_key, attr_value, attr_size + 1) != CM_RC_OK) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Can not retrive value of attribute '%s' from %s file", attr_key, File_Path);
        rc = ZPA_FAIL;
    }
    GM_PARAM_list_clear(&list);
    return rc;
}

ZPARC BE_DUZ_append_file2Attr(ZPAAttrList* Attributes, const char* File_Path, ZPAError* Error) {
    BE_TRACE(4, "Starting: '%s'", "BE_DUZ_append_file2Attr");
    if (!Attributes || !File_Path) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to load file: '%s'", File_Path ? File_Path : "");
        return ZPA_FAIL;
    }
    ZPALIST_handle_typ list{};
    ZPAAttrList file_attrs{0, nullptr, 0};
    ZPARC rc = ZPA_FAIL;
    try {
        if (GM_PARAM_load_file(&list, File_Path) != CM_RC_OK) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to load file: '%s'", File_Path);
        } else if (ZPAAPI_UTILS_list2attr(&list, &file_attrs) != ZPA_SUCCESS) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to convert list to listAttributes.");
        } else if (be_append_attributes(&file_attrs, Attributes) != ZPA_SUCCESS) {
            BE_DUZ_UpdateErrorSet(Error, 1, "Failed to append listAttributes to Attributes.");
        } else {
            rc = ZPA_SUCCESS;
        }
    } catch (...) {
        BE_DUZ_UpdateErrorSet(Error, 1, "Failed to append listAttributes to Attributes.");
        rc = ZPA_FAIL;
    }
    if (file_attrs.Attributes) ZPAAPI_utils_release_attr(&file_attrs);
    GM_PARAM_list_clear(&list);
    return rc;
}

int BE_DUZ_file_read_line(FILE* filePtr, char* aline) {
    if (!filePtr || !aline) return 2;
    int c = std::fgetc(filePtr);
    if (c == EOF) {
        // Nothing was left: report the end instead of a line (the buffer holds nothing read).
        aline[0] = '\0';
        return 2;
    }
    std::size_t n = 0;
    while (c != EOF && c != '\n') {
        aline[n++] = static_cast<char>(c);
        if (n == BE_DUZ_LINE_SIZE - 1) {
            // The buffer is full: the rest of the line comes with the next call. A newline that
            // follows at once belongs to this piece.
            int next = std::fgetc(filePtr);
            if (next != '\n' && next != EOF) std::ungetc(next, filePtr);
            aline[n] = '\0';
            return 0;
        }
        c = std::fgetc(filePtr);
    }
    aline[n] = '\0';
    return c == EOF ? 2 : 0;
}

int BE_DUZ_get_file_size(const char* File_Path, char* size) {
    if (!size) return 1;
    long bytes = 0;
    DATETIME_D_typ created = "";
    DATETIME_D_typ modified = "";
    if (!File_Path || OS_FILE_stat(File_Path, &bytes, nullptr, created, modified) != CM_RC_OK) {
        std::strcpy(size, "0");
        BE_TRACE(2, "OS_FILE_stat for file '%s' failed", File_Path ? File_Path : "");
        return 1;
    }
    std::sprintf(size, "%ld", bytes);
    return 0;
}

void BE_DUZ_print_attr(ZPAAttrList* AttrList) {
    if (!AttrList || !AttrList->Attributes || DIAG_debug_level() < kPrintLevel) return;
    DIAG_printf("Attributes begin");
    for (int i = 0; i < AttrList->Count; ++i) {
        const ZPAAttr& attr = AttrList->Attributes[i];
        const char* name = attr.Name ? attr.Name : "";
        // Passwords and keys never reach the log.
        const char* value = gm_param::loggable_value(name, attr.Value ? attr.Value : "");
        DIAG_printf("\t'%-*s' = '%.500s'", kPrintNameWidth, name, value);
    }
    DIAG_printf("Attributes end");
}

}  // extern "C"
