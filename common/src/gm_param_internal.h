/* Helpers shared by the parameter-table sources (not exported): the row layout, the line rules of
 * the table format, and the reading and writing of a whole table file. */
#ifndef GM_PARAM_INTERNAL_H
#define GM_PARAM_INTERNAL_H

#include "gm_param.h"
#include "os_shared_file_internal.h"
#include "zpalist_internal.h"

#include <sys/stat.h>

#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace gm_param {

constexpr int kKeyMax = 63;              // characters of a key
constexpr int kRowValueMax = 4095;       // characters of a stored value
constexpr int kValueBuffer = 2048;       // bytes of the value buffer of GM_PARAM_get
constexpr int kSavedValueMax = 2048;     // characters of a value written to a file
constexpr int kFlatPiece = 2120;         // characters per read of the flat reader
constexpr int kFlatPieceOption1 = 2111;  // characters per read of the flat reader, option 1
constexpr int kParseMax = 2112;          // characters of a line that the parser looks at
constexpr int kFlatKeyField = 35;        // key field width of a flat table file
constexpr int kSectionKeyField = 64;     // key field width of a sectioned table file
constexpr int kValueListMax = 2047;      // characters of a value-list text
constexpr int kTableNameMax = 64;        // a longer table name is refused

// Key and value of a stored row element (64-byte key field, then the value).
inline char* row_key(void* element) { return static_cast<char*>(element); }
inline char* row_value(void* element) { return static_cast<char*>(element) + sizeof(GM_PARAM_KEY_typ); }

// The bytes of a row element: the key cut to 63 characters in a 64-byte field, the value cut to
// 4095 characters, its terminator.
std::vector<char> make_row(std::string_view key, std::string_view value);

std::string unpad(std::string_view text);  // trailing blanks removed (blanks only)
void to_upper(std::string& text);          // by the locale's character rules
std::string cut_name(const char* name);    // cut to 63, trailing blanks removed

// One line split by the table rules: after leading blanks and tabs, the key runs to the first
// blank, tab or '='; one separator character is consumed, the blanks and tabs behind it are
// skipped, and the rest without trailing blanks is the value.
struct ParsedLine {
    bool comment = false;
    std::string key;
    std::string value;
};
ParsedLine split_line(std::string_view line);

// The one rule for values that never reach a log line or an error text, whatever the debug
// level: the agent's key list (GM_PARAM_get_keysToRemove_list, by exact name), and in any case of
// their letters: any name that speaks of a password ("DB_PASSWD", "APPSPassword", "KEY_PASSPHRASE")
// or a token, key material ("KEY", "NEW_KEY", "OLD_KEY": a name ending in "_KEY") and a central
// profile's data ("CP_DATA").
bool is_secret_key(const char* key);
// The value as the diagnostic log may show it: "Private Data" in place of a secret's value.
const char* loggable_value(const char* key, const char* value);
// A KEY VALUE line (table line, value-list entry, NAME=VALUE) as the log may show it: a secret
// key's value replaced by "Private Data".
std::string loggable_line(std::string_view line);
// A value list (entries separated by any of `separators`) with every secret entry's value replaced.
std::string loggable_value_list(std::string_view text, const char* separators);
// Traces a table line at level 6; the value of a secret key is replaced.
void trace_line(std::string_view line, const ParsedLine& parsed);

// What a table file cannot hold so that its reader gives it back as saved: the flaw of a key, a
// value or a section name, or null when there is none. The format's own rules stay as they are:
// keys of flat tables and section names come back upper-cased, and values longer than 2048
// characters are cut (the blanks before the cut go with the tail). Everything else must come back
// unchanged: a line feed would start a row or a section of its own, blanks or tabs in front of a
// value and blanks behind it would be dropped, a flat row's line longer than 2111 characters
// would come back as two rows (the reader of option 1 takes that many at once), a key with a
// blank, tab or '=' would split, a key starting with '#' would be a comment, a key holding '['
// and ']' a section header, an empty or over-long key would take the value's place or end the
// read; a section name with a blank, tab or '=' would split its header "[name]", and one longer
// than 61 characters would make the header a word too long for the reader, which then fails the
// whole file. (A carriage return, and a bracket in a section name, come back as
// they were: the reader ends a line at a line feed and a name at the header's last ']'.)
const char* key_flaw(const char* key);
const char* value_flaw(std::string_view value);
const char* flat_line_flaw(std::string_view key, std::string_view value);
// A free text (a database message, an alert output) made a value that a table file gives back as
// it is: line breaks become blanks, and the blanks and tabs in front and the blanks behind, which
// the reader would drop, are gone (of at most the 2048 characters a file keeps).
std::string free_text_value(std::string text);
const char* section_name_flaw(std::string_view name);
// The first row of a key/value list that has a flaw: the flaw, with its place (from 1) in *at.
// `flat`: the rows are written as a flat table, whose lines must also fit the reader's piece.
const char* rows_flaw(ZPALIST_handle_typ* rows, int* at, bool flat = false);
// Whether every row (and section name) of a list can be written to the file; false after the error
// line that names the first flaw. The writers check this before they touch the file, so a refused
// save leaves it as it was.
bool writable_rows(ZPALIST_handle_typ* list, const char* file_name);
bool writable_sections(ZPALIST_handle_typ* list, const char* file_name);

// A table file's content and the status it had when read.
struct FileImage {
    std::string content;
    struct stat status {};
};

// Reads a whole file as its last writer left it (os_shared::read_file). 1, or 2 when it cannot be
// opened or read.
CM_RC read_file(const std::string& path, FileImage& image);

// How table files are written: new ones with bits 0644, existing ones widened by 0644; a table
// whose text holds a password's or a key's row (holds_secrets) is made 0600 and given to the agent
// owner instead.
os_shared::Options table_file_options();
bool holds_secrets(std::string_view text);

// Rewrites a file whole under its shared-file locks (os_shared::FileLock, created when missing),
// private when the text holds secrets (holds_secrets).
// When `hooks` is given and the file exists, before_write is called under the lock with the
// file's status and current content and may replace the text to write. `written` receives the
// status after the write. 1, or 2 when the lock or the write fails (the old file is then kept).
struct WriteHooks {
    virtual ~WriteHooks() = default;
    virtual void before_write(const struct stat& status, const std::string& current, std::string& text) = 0;
};
CM_RC write_file(const std::string& path, std::string text, WriteHooks* hooks, struct stat* written);

// fgets-like cutting of a content into pieces of at most `max_chars` characters each (a piece
// ends behind a newline); each piece is handed on as a C text, so it ends at an embedded NUL.
template <typename F>
void for_each_piece(const std::string& content, std::size_t max_chars, F&& f) {
    std::size_t pos = 0;
    while (pos < content.size()) {
        std::size_t end = pos;
        while (end < content.size() && end - pos < max_chars) {
            if (content[end++] == '\n') break;
        }
        std::string piece = content.substr(pos, end - pos);
        if (std::size_t nul = piece.find('\0'); nul != std::string::npos) piece.resize(nul);  // a C text ends there
        if (!f(piece)) return;
        pos = end;
    }
}

// The 14-digit local time text (YYYYMMDDHHMMSS) of a time.
std::string time_text(time_t when);

// Text of the table file of a table name.
inline std::string table_path(const char* table_name) { return std::string("./data/") + table_name + ".dat"; }

// Text of a flat table file / a sectioned table file written from a list.
std::string flat_text(ZPALIST_handle_typ* list);
std::string sectioned_text(ZPALIST_handle_typ* list);

// Appends key/value rows in order at a constant cost a row: each row as GM_PARAM_list_append makes
// it (key cut to 63 characters, value to 4095 with its trace line), through a zpalist::Builder. For
// every loop that builds a key/value list row by row.
class RowBuilder {
public:
    explicit RowBuilder(ZPALIST_handle_typ* list) : rows_(list) {}
    CM_RC append(const char* key, const char* value);

private:
    zpalist::Builder rows_;
};

// For a loop that looks keys up in, sets or appends to the key/value list it is building:
// GM_PARAM_list_get_ptr, GM_PARAM_list_set and GM_PARAM_list_append, answered from an index of the
// list's keys (first row of each key, last DEFAULT row) held for the loop instead of a walk of the
// list per call. Rows, order, count, trace lines, results and where the list's cursor is left are
// those of the same calls. Nothing else may change the list while it is in use. Building the
// index may throw std::bad_alloc; the calls return 2 instead.
class KeyedRows {
public:
    explicit KeyedRows(ZPALIST_handle_typ* list);
    // As GM_PARAM_list_get_ptr: the value of the key's first row, else of the DEFAULT row (traced
    // "accepting default value"); null when neither is there. The cursor goes where the walk ends.
    char* find(const char* key);
    CM_RC set(const char* key, const char* value);
    CM_RC append(const char* key, const char* value);

private:
    CM_RC add(const std::vector<char>& row);  // appends a made row and indexes it
    ZPALIST_handle_typ* list_;
    std::unordered_map<std::string, ZPALIST_entry_typ*> first_;  // the first row of each key
    ZPALIST_entry_typ* last_default_ = nullptr;                  // the last row keyed DEFAULT
    ZPALIST_entry_typ* last_ = nullptr;                          // the list's last row
};

// Parses one table line (GM_param_parse_str, or its option-1 form) and appends its row through
// the builder. 1 (row stored or nothing to store), 2 key too long, 48 a section header (option 1).
CM_RC parse_line(zpalist::Builder& rows, const char* text, bool option1, int force_upper_case);

// Reading a flat content into a list (the list is initialised first).
CM_RC parse_flat(ZPALIST_handle_typ* list, const std::string& content, std::size_t piece, bool option1,
                 int force_upper_case);
// Reading a sectioned content into a list (the list is initialised first).
CM_RC parse_sectioned(ZPALIST_handle_typ* list, const std::string& content);

// Frees the rows of every section of a sectioned list and the sections.
void free_sections(ZPALIST_handle_typ* list);

// Sets the debug level from the list's DBGLVL row, else from table CONFIG (GM_PARAM_load_args).
void apply_debug_level(ZPALIST_handle_typ* list);
// A key of table CONFIG, empty when missing.
std::string config_value(const char* key);

// A key of a table for the diagnostic log's own settings, read as GM_PARAM_get reads it (the
// table is loaded on first use) but without moving the table's row cursor, which a caller may be
// walking while it logs. On a thread already inside a cache operation (a line logged by the
// parameter code) nothing is loaded, so the cache never changes under its user. Absent when the
// table or the key is missing.
std::optional<std::string> config_lookup(const char* table_name, const char* key);

}  // namespace gm_param

#endif
