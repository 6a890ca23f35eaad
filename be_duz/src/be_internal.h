// Helpers shared by the be_duz modules and not exported from the plug-in.
#ifndef BE_INTERNAL_H
#define BE_INTERNAL_H

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "be_def.h"
#include "gm_param.h"
#include "os_shared_file_internal.h"
#include "zpaapi.h"

namespace be_duz {

// An attribute's value, or null when the list has no attribute of that name (a null list has none).
// The name is matched as ZPAAPI_UTILS_AttrListValueGet matches it: "NAME" also finds a stored "%%NAME".
// Defined out of line: inlined, its out-parameter made GCC 12 at -O3 take every value read for a
// pointer into the helper's own frame.
char* attr(ZPAAttrList* list, const char* name);

inline bool non_empty(const char* text) { return text != nullptr && *text != '\0'; }

// A mandatory attribute's value; null, after "keyword <name> not found" is stored with the
// look-up's result as code (1 for an attribute without a value), when the list has none. rc, when
// given, receives that code (0 when found).
char* mandatory_attr(ZPAAttrList* list, const char* name, ZPAError* Error, ZPARC* rc = nullptr);

}  // namespace be_duz

// A run number as the agent gives it: decimal text read like atoi ("003" is 3, junk is 0),
// clamped to the int range.
inline int be_run_number(const char* runno) {
    if (!runno) return 0;
    long n = std::strtol(runno, nullptr, 10);
    if (n > 0x7fffffffL) return 0x7fffffff;
    if (n < -0x7fffffffL - 1) return -0x7fffffff - 1;
    return static_cast<int>(n);
}

// A part of a work-file name taken from the request (order number, job or member name): it is
// joined to its folder, so a '/' would lead the file out of that folder.
inline bool be_plain_name_part(const char* text) { return text && !std::strchr(text, '/'); }

// The section names of a loaded sectioned table, taken before any section is changed: the
// section look-ups move the list's cursor.
inline std::vector<std::string> be_section_names(ZPALIST_handle_typ* sections) {
    std::vector<std::string> names;
    ZPALIST_reset(sections);
    void* element = nullptr;
    unsigned int size = 0;
    while (ZPALIST_next_ptr(sections, &element, &size) == CM_RC_OK)
        names.emplace_back(static_cast<GM_PARAM_subtable_row*>(element)->key);
    return names;
}

// A sectioned table loaded by its user, freed with it.
struct BeSections {
    ZPALIST_handle_typ list{};
    BeSections() { ZPALIST_init(&list); }
    ~BeSections() { BE_DUZ_subtable_list_clear(&list); }
    BeSections(const BeSections&) = delete;
    BeSections& operator=(const BeSections&) = delete;
};

// How the accounts file, its backup and the central-profile cache files are written: they hold
// the accounts' database passwords, so every rewrite makes them 0600 and gives them to the agent
// owner, table saves inside their cycles too.
inline os_shared::Options be_accounts_file_options() {
    os_shared::Options options;
    options.secret = true;
    return options;
}

// A key/value list (GM_PARAM rows) cleared when the object goes.
struct be_param_list {
    ZPALIST_handle_typ list;
    be_param_list() { ZPALIST_init(&list); }
    ~be_param_list() { GM_PARAM_list_clear(&list); }
    be_param_list(const be_param_list&) = delete;
    be_param_list& operator=(const be_param_list&) = delete;
};

// Appends copies of source's attributes to target, which gets a new array. The array target had
// before is released when the plug-in built it (an earlier append); the agent's own arrays are
// never freed. The new array is the agent's to release through ZPAAPI_ReleaseAttr. 0, or 1.
// With move_source, source's blocks are moved rather than copied (zpaapi::append_moving): they
// are the target's from then on and source holds null Names, so its release frees its array alone.
ZPARC be_append_attributes(ZPAAttrList* source, ZPAAttrList* target, bool move_source = false);

// A data read's navigation: "NAVIGATE" must be there ("keyword NAVIGATE not found") and be "NEXT"
// ("'NAVIGATE' value '...' is invalid"). 0, or 1 with the reason in Error (a missing attribute keeps
// the look-up's code there, but is never taken for the end of the data).
ZPARC be_navigate_next(ZPAAttrList* AttributesIn, ZPAError* Error);

// The next piece of a text file for the output slot "TEXT": as many bytes as the slot holds, the
// last piece terminated. 0 a full piece, 2 the end of the file (a last piece, maybe empty, is in the
// slot), 1 failure (a missing slot or one without room, a read error) with the reason in Error.
ZPARC be_read_text_piece(FILE* file, ZPAAttrList* AttributesOut, ZPAError* Error);

// Appends an entry whole or not at all to a file that this process and others append to (a job's
// sysout, the watcher's action log, the error-message file), opened as OS_FILE_fopen appends
// (created with 0666 less the umask, its bits widened by 0644, locked whole, waiting) but never
// through a link at its name: a link, another kind of file or a file with a second name is refused.
// CM_RC_OK; CM_RC_OPEN_FAILED when the file does not open, CM_RC_FAIL when the entry does not go in
// (the file then as it was); errno says why.
CM_RC be_append_whole(const char* path, std::string_view entry);

// One row of a job's procid file: the key padded to 64 columns, two blanks, the value cut to 2048
// characters, a line feed.
std::string be_procid_row(const char* key, const char* value);
// Writes a job's procid file whole through the shared-file facility (its bits widened by 0644).
// 1, or 2 (nothing written for an empty path).
CM_RC be_write_procid_file(const char* path, const std::string& text);

// A job's account as the job actions read it: its section of the local accounts file, else of its
// central profile's cache file for the request type req_type. The rows live as long as the object.
class be_account_rows {
public:
    be_account_rows() { ZPALIST_init(&all_); }
    ~be_account_rows();
    be_account_rows(const be_account_rows&) = delete;
    be_account_rows& operator=(const be_account_rows&) = delete;

    // 0 when the account was found in either place; otherwise the central lookup's result (the
    // reason may be in Error) and no rows.
    ZPARC load(const char* account, ZPAAttrList* request, const char* req_type, ZPAError* Error);
    ZPALIST_handle_typ* rows() const { return section_; }
    // The value of key in the account's rows; false when it has none.
    bool get(const char* key, std::string* value) const;

private:
    ZPALIST_handle_typ all_;
    ZPALIST_handle_typ* section_ = nullptr;
};

// One piece of an agent utility's output as it is read (a line with its newline, or the first
// BE_DUZ_UTIL_LINE_SIZE - 1 characters of a longer one): true when it holds `key`, with `value`
// the text after its first ':' (the blanks and colons that follow skipped, the final newline
// removed; empty without a ':').
bool be_utility_output_value(const char* piece, const char* key, std::string& value);
// Whether a piece of a program's output may reach the diagnostic log: never from a utility whose
// output is itself a secret (the profile utility), never a line whose label (the text before its
// ':') names a secret by gm_param::is_secret_key.
bool be_utility_output_loggable(const char* program, const char* piece);

// The rows of a requests file's content, appended to list by the file's line rules (each line from
// its first digit on, a section line or a key of more than 63 characters fails the read, a byte
// 0xFF or a last line without newline ends it). 1, or 2 with the line that failed.
CM_RC be_reqs_parse(const std::string& content, ZPALIST_handle_typ* list, std::string* failed_line);
// As be_reqs_parse for a rewrite of the file: a line that fails the read is dropped (and logged)
// instead. 1, or 2 when a row cannot be appended.
CM_RC be_reqs_parse_readable(const std::string& content, ZPALIST_handle_typ* list);
// The requests file's text of a list of rows (key padded to 64 columns, two blanks, the value cut
// to 2048 characters, a newline and an empty line).
std::string be_reqs_text(ZPALIST_handle_typ* list);
// Removes the rows older than a day at `now` (BE_DUZ_remove_old_req at a given time).
CM_RC be_reqs_drop_old(ZPALIST_handle_typ* list, std::time_t now);
// The text a submission writes: the content's rows (be_reqs_parse_readable) without those older
// than a day at `now`, the given row set in them as GM_PARAM_list_set sets it (in place of the
// first row of its key, else last), in the file's format (be_reqs_text); rows are read and written
// one by one, without a list.
std::string be_reqs_record_text(const std::string& content, const char* key, const char* value, std::time_t now);
// A submission's turn on a requests file under its locks: be_reqs_update with GM_PARAM_list_set of
// the row, at the cost of a read and a write of the text. 1, or 2 with the reason in Error (the file
// left as it was).
CM_RC be_reqs_record(const char* path, const char* key, const char* value, ZPAError* Error);
// One user's whole turn on a requests file, under the file's locks from start to end: the file is
// read (created when missing; be_reqs_parse_readable), rows older than a day removed, change(rows) called and, when it
// returns true, the rows written back. 1, or 2 with the reason in Error (the file left as it was).
CM_RC be_reqs_update(const char* path, const std::function<bool(ZPALIST_handle_typ*)>& change, ZPAError* Error);

#endif
