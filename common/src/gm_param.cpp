/* Parameter tables, flat form: the line rules of the table format, the reader and writer of flat
 * table files, and the operations on a key/value list (a generic list of GM_PARAM_table_row
 * elements). Also the whole-file reading and writing of table files (through the shared-file
 * facility) shared with the sectioned form. */
#include "gm_param.h"
#include "gm_bytes_internal.h"
#include "gm_param_internal.h"
#include "os_diag.h"
#include "os_shared_file_internal.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

namespace gm_param {

std::vector<char> make_row(std::string_view key, std::string_view value) {
    if (key.size() > static_cast<std::size_t>(kKeyMax)) key = key.substr(0, kKeyMax);
    if (value.size() > static_cast<std::size_t>(kRowValueMax)) value = value.substr(0, kRowValueMax);
    std::vector<char> row(sizeof(GM_PARAM_KEY_typ) + value.size() + 1, '\0');
    if (!key.empty()) std::memcpy(row.data(), key.data(), key.size());
    if (!value.empty()) std::memcpy(row.data() + sizeof(GM_PARAM_KEY_typ), value.data(), value.size());
    return row;
}

std::string unpad(std::string_view text) {
    std::size_t end = text.size();
    while (end > 0 && text[end - 1] == ' ') --end;
    return std::string(text.substr(0, end));
}

void to_upper(std::string& text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
}

std::string cut_name(const char* name) {
    std::string_view view(name);
    if (view.size() > static_cast<std::size_t>(kKeyMax)) view = view.substr(0, kKeyMax);
    return unpad(view);
}

ParsedLine split_line(std::string_view line) {
    ParsedLine parsed;
    std::size_t pos = 0;
    while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
    if (pos < line.size() && line[pos] == '#') {
        parsed.comment = true;
        return parsed;
    }
    const std::size_t key_end = line.find_first_of(" \t=", pos);
    if (key_end == std::string_view::npos) {
        parsed.key = std::string(line.substr(pos));
        return parsed;
    }
    parsed.key = std::string(line.substr(pos, key_end - pos));
    std::size_t value_pos = key_end + 1;  // exactly one separator character is consumed
    while (value_pos < line.size() && (line[value_pos] == ' ' || line[value_pos] == '\t')) ++value_pos;
    parsed.value = unpad(line.substr(value_pos));
    return parsed;
}

const char* key_flaw(const char* key) {
    const std::string_view text(key);
    if (text.empty()) return "an empty key";
    if (text.size() > static_cast<std::size_t>(kKeyMax)) return "a key longer than 63 characters";
    if (text.find_first_of(" \t=\n") != std::string_view::npos) return "a blank, tab, '=' or line feed in its key";
    if (text.front() == '#') return "a key that starts a comment";
    if (GM_PARAM_IsSubtable(key) == CM_RC_OK) return "a key that reads as a section header";
    return nullptr;
}

const char* value_flaw(std::string_view value) {
    if (value.find('\n') != std::string_view::npos) return "a line feed in its value";
    // The reader skips the blanks and tabs in front of a value and drops the blanks behind it. (A
    // value longer than a file keeps loses its tail anyway, and the blanks before the cut with it.)
    if (!value.empty() && (value.front() == ' ' || value.front() == '\t')) return "a blank or tab before its value";
    if (!value.empty() && value.back() == ' ' && value.size() <= static_cast<std::size_t>(kSavedValueMax))
        return "a blank at the end of its value";
    return nullptr;
}

std::string free_text_value(std::string text) {
    for (char& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    const std::size_t start = std::min(text.find_first_not_of(" \t"), text.size());
    text.erase(0, start);
    text = unpad(text.substr(0, kSavedValueMax));
    return text;
}

const char* flat_line_flaw(std::string_view key, std::string_view value) {
    // The line "%-35s %.2048s" must come whole in one piece of the reader that takes the fewest.
    const std::size_t line = std::max(key.size(), static_cast<std::size_t>(kFlatKeyField)) + 1 +
                             std::min(value.size(), static_cast<std::size_t>(kSavedValueMax));
    return line > static_cast<std::size_t>(kFlatPieceOption1) ? "a line longer than the reader takes at once" : nullptr;
}

const char* section_name_flaw(std::string_view name) {
    // The reader takes the header "[name]" as a word of at most 63 characters.
    if (name.size() > static_cast<std::size_t>(kKeyMax - 2)) return "a name longer than 61 characters";
    if (name.find_first_of(" \t=\n") != std::string_view::npos) return "a blank, tab, '=' or line feed in its name";
    return nullptr;
}

const char* rows_flaw(ZPALIST_handle_typ* rows, int* at, bool flat) {
    ZPALIST_handle_typ walker = *rows;
    ZPALIST_reset(&walker);
    void* element = nullptr;
    unsigned int size = 0;
    for (*at = 1; ZPALIST_next_ptr(&walker, &element, &size) == CM_RC_OK; ++*at) {
        const char* flaw = key_flaw(row_key(element));
        if (!flaw) flaw = value_flaw(row_value(element));
        if (!flaw && flat) flaw = flat_line_flaw(row_key(element), row_value(element));
        if (flaw) return flaw;
    }
    return nullptr;
}

bool writable_rows(ZPALIST_handle_typ* list, const char* file_name) {
    int at = 0;
    const char* flaw = rows_flaw(list, &at, true);
    if (flaw) DIAG_ERROR("%s not written: row %d holds %s", file_name, at, flaw);
    return flaw == nullptr;
}

CM_RC read_file(const std::string& path, FileImage& image) {
    // Writers replace a table file whole (os_shared), so a read without a lock never sees a torn one.
    return os_shared::read_file(path, image.content, &image.status) == CM_RC_OK ? CM_RC_OK : CM_RC_FAIL;
}

os_shared::Options table_file_options() {
    os_shared::Options options;
    options.new_mode = 0644;
    options.add_bits = 0644;  // a saved table is readable by every process of the agent
    return options;
}

bool holds_secrets(std::string_view text) {
    // Only the key of each line is looked at (a written line starts with it), without copying the
    // rest: a save of a long table pays one pass over its text.
    char key[sizeof(GM_PARAM_KEY_typ)];
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t end = std::min(text.find('\n', pos), text.size());
        const std::string_view line = text.substr(pos, end - pos);
        const std::size_t length = std::min(line.find_first_of(" \t="), line.size());
        if (length > 0 && length < sizeof key) {
            std::memcpy(key, line.data(), length);
            key[length] = '\0';
            if (is_secret_key(key)) return true;
        }
        pos = end + 1;
    }
    return false;
}

CM_RC write_file(const std::string& path, std::string text, WriteHooks* hooks, struct stat* written) {
    os_shared::FileLock lock(path, table_file_options());
    if (!lock) {
        DIAG_TRACE(1, "%s failed to open file: %s. errno=%d, %s", "GM_PARAM", path.c_str(), errno,
                   std::strerror(errno));
        return CM_RC_FAIL;
    }
    if (hooks && lock.exists()) {
        std::string current;
        struct stat status {};
        if (lock.read(current, &status) == CM_RC_OK) hooks->before_write(status, current, text);
    }
    // A table of passwords or keys (the accounts file) is the agent owner's alone, whatever its
    // bits were: other processes of the agent run as root or as that owner.
    if (holds_secrets(text)) lock.keep_private();
    return lock.rewrite(text, written);
}

std::string time_text(time_t when) {
    struct tm parts {};
    localtime_r(&when, &parts);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d%H%M%S", &parts);
    return text;
}

std::string flat_text(ZPALIST_handle_typ* list) {
    std::string text;
    ZPALIST_handle_typ walker = *list;
    ZPALIST_reset(&walker);
    void* element = nullptr;
    unsigned int size = 0;
    while (ZPALIST_next_ptr(&walker, &element, &size) == CM_RC_OK) {
        std::string key = row_key(element);
        if (key.size() < static_cast<std::size_t>(kFlatKeyField)) key.resize(kFlatKeyField, ' ');
        std::string_view value = row_value(element);
        text += key;
        text += ' ';
        text += value.substr(0, kSavedValueMax);
        text += "\n\n";  // the row's own newline, then the one every written line gets
    }
    return text;
}

CM_RC parse_line(zpalist::Builder& rows, const char* text, bool option1, int force_upper_case) {
    DIAG_TRACE(6, "GM_param_parse_str");
    std::string_view line(text);
    if (line.size() > static_cast<std::size_t>(kParseMax)) line = line.substr(0, kParseMax);
    if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
    ParsedLine parsed = split_line(line);
    trace_line(line, parsed);
    if (parsed.comment) return CM_RC_OK;
    if (parsed.key.size() > static_cast<std::size_t>(kKeyMax)) {
        DIAG_ERROR("key too long: %d", static_cast<int>(parsed.key.size()));
        return CM_RC_FAIL;
    }
    if (parsed.key.empty()) return CM_RC_OK;
    if (GM_PARAM_IsSubtable(parsed.key.c_str()) == CM_RC_OK) return option1 ? CM_RC_DIR_END : CM_RC_OK;
    DIAG_TRACE(6, "value: (%d)'%.100s'", static_cast<int>(parsed.value.size()),
               loggable_value(parsed.key.c_str(), parsed.value.c_str()));
    if (!option1 || force_upper_case) to_upper(parsed.key);
    std::vector<char> row = make_row(parsed.key, parsed.value);
    return rows.append(row.data(), static_cast<unsigned int>(row.size()));
}

CM_RC parse_flat(ZPALIST_handle_typ* list, const std::string& content, std::size_t piece, bool option1,
                 int force_upper_case) {
    ZPALIST_init(list);
    zpalist::Builder rows(list);
    // A line longer than a piece arrives as several pieces, each read as a line of its own; the
    // first line that does not parse (a key too long, a section header for option 1) ends the read.
    for_each_piece(content, piece, [&](const std::string& text) {
        return parse_line(rows, text.c_str(), option1, force_upper_case) == CM_RC_OK;
    });
    return CM_RC_OK;
}

}  // namespace gm_param

using namespace gm_param;

namespace {

char* keys_to_remove[] = {const_cast<char*>("PASSWORD"), const_cast<char*>("PASSWORD_KEY"),
                          const_cast<char*>("KEY_PASSPHRASE"), const_cast<char*>("INSTREAM_SCRIPT"), nullptr};

constexpr const char* kPrivateData = "Private Data";  // what the log shows of a secret value

bool in_name_list(const char* key, char** names) {
    for (; names && *names; ++names)
        if (**names == *key && std::strcmp(*names, key) == 0) return true;
    return false;
}

}  // namespace

namespace gm_param {

// Names compare without regard to the case of their letters (the words below are ASCII): a text
// equals an upper-case word.
bool equals_word(std::string_view text, std::string_view word) {
    if (text.size() != word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        const char c = text[i];
        if ((c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c) != word[i]) return false;
    }
    return true;
}

bool is_secret_key(const char* key) {
    if (!key) return false;
    if (in_name_list(key, keys_to_remove)) return true;
    const std::string_view name(key);
    // A passphrase is a password whatever the case of its name.
    if (equals_word(name, "KEY_PASSPHRASE")) return true;
    // Key material by name: "NEW_KEY", "OLD_KEY", or a name that is just "KEY".
    if (equals_word(name, "KEY") || (name.size() > 4 && equals_word(name.substr(name.size() - 4), "_KEY"))) return true;
    // A central profile's data (CP_DATA) is an account with its password.
    if (equals_word(name, "CP_DATA")) return true;
    // The log tests every name it shows, so the words are looked for from their rarer letters (the
    // W of PASSW, the K of TOKEN) by the C library's search, and compared only where one stands.
    for (const char* letter = std::strpbrk(key, "WwKk"); letter != nullptr; letter = std::strpbrk(letter + 1, "WwKk")) {
        const auto at = static_cast<std::size_t>(letter - key);
        const bool w = (*letter & ~0x20) == 'W';
        const std::size_t offset = w ? 4 : 2;  // of the letter in its word
        if (at >= offset && at - offset + 5 <= name.size() &&
            equals_word(name.substr(at - offset, 5), w ? "PASSW" : "TOKEN"))
            return true;
    }
    return false;
}

const char* loggable_value(const char* key, const char* value) { return is_secret_key(key) ? kPrivateData : value; }

std::string loggable_line(std::string_view line) {
    const ParsedLine parsed = split_line(line);
    if (!is_secret_key(parsed.key.c_str())) return std::string(line);
    return parsed.key + " " + kPrivateData;
}

std::string loggable_value_list(std::string_view text, const char* separators) {
    std::string shown;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = std::min(text.find_first_of(separators, pos), text.size());
        shown += loggable_line(text.substr(pos, end - pos));
        if (end < text.size()) shown += text[end];
        pos = end + 1;
    }
    return shown;
}

void trace_line(std::string_view line, const ParsedLine& parsed) {
    if (is_secret_key(parsed.key.c_str()))
        DIAG_TRACE(6, "line: '%s %s'", parsed.key.c_str(), kPrivateData);
    else
        DIAG_TRACE(6, "line: '%.*s'", static_cast<int>(line.size()), line.data());
}

}  // namespace gm_param

namespace {

CM_RC load_flat_file(ZPALIST_handle_typ* list, const char* file_name, std::size_t piece, bool option1,
                     int force_upper_case) {
    if (!list || !file_name) return CM_RC_FAIL;
    DIAG_TRACE(4, "GM_PARAM_load_file");
    DIAG_TRACE(4, "File:%s", file_name);
    FileImage image;
    if (read_file(file_name, image) != CM_RC_OK) {
        DIAG_TRACE(4, "Failed to load file %s.", file_name);
        return CM_RC_FAIL;
    }
    return parse_flat(list, image.content, piece, option1, force_upper_case);
}

// Looks a key up from the start of the list: the key's own row wins; else the value of a DEFAULT
// row met on the way. Leaves the element found in *value_ptr.
CM_RC find_value(ZPALIST_handle_typ* list, const char* key, char** value_ptr) {
    ZPALIST_reset(list);
    char* default_value = nullptr;
    void* element = nullptr;
    unsigned int size = 0;
    CM_RC rc;
    while ((rc = ZPALIST_next_ptr(list, &element, &size)) == CM_RC_OK) {
        if (std::strcmp(row_key(element), key) == 0) {
            *value_ptr = row_value(element);
            return CM_RC_OK;
        }
        if (std::strcmp(row_key(element), "DEFAULT") == 0) default_value = row_value(element);
    }
    if (default_value) {
        *value_ptr = default_value;
        DIAG_TRACE(4, "accepting default value for %s", key);
        return CM_RC_OK;
    }
    return rc;
}

std::string_view cut_value(const char* value) {
    std::string_view view(value ? value : "");
    if (view.size() > static_cast<std::size_t>(kRowValueMax)) {
        DIAG_TRACE(4, "value too long: %d - truncated", kRowValueMax + 1);
        view = view.substr(0, kRowValueMax);
    }
    return view;
}

}  // namespace

CM_RC gm_param::RowBuilder::append(const char* key, const char* value) {
    if (!key) return CM_RC_FAIL;
    // The bytes make_row gives, written straight into the list's element: the key cut to 63
    // characters in its zero-filled field, the value cut to 4095 characters, its terminator.
    const std::string_view key_text(key, strnlen(key, kKeyMax));
    const std::string_view value_text = cut_value(value);
    return rows_.append_filled(sizeof(GM_PARAM_KEY_typ) + value_text.size() + 1, [&](char* row) {
        std::memset(row, 0, sizeof(GM_PARAM_KEY_typ));
        gm_bytes::put(row, key_text);
        *gm_bytes::put(row + sizeof(GM_PARAM_KEY_typ), value_text) = '\0';
    });
}

gm_param::KeyedRows::KeyedRows(ZPALIST_handle_typ* list) : list_(list) {
    for (ZPALIST_entry_typ* e = list_->first; e != nullptr; e = e->next) {
        first_.try_emplace(row_key(e->ptr), e);
        if (std::strcmp(row_key(e->ptr), "DEFAULT") == 0) last_default_ = e;
        last_ = e;
    }
}

char* gm_param::KeyedRows::find(const char* key) {
    if (!key) return nullptr;
    const auto found = first_.find(key);
    if (found != first_.end()) {
        list_->curr = found->second;
        return row_value(found->second->ptr);
    }
    list_->curr = last_;  // the walk went through the whole list
    if (last_default_ == nullptr) return nullptr;
    DIAG_TRACE(4, "accepting default value for %s", key);
    return row_value(last_default_->ptr);
}

CM_RC gm_param::KeyedRows::set(const char* key, const char* value) {
    if (!key) return CM_RC_FAIL;
    try {
        std::vector<char> row = make_row(key, cut_value(value));
        const std::string stored(row.data());
        const auto found = first_.find(stored);
        if (found == first_.end()) {
            list_->curr = last_;  // the walk found no row of the key
            return add(row);
        }
        // Set in place: the new row goes in behind the old one, which is then removed; the cursor
        // is left on the row before it.
        ZPALIST_entry_typ* old = found->second;
        ZPALIST_entry_typ* fresh = zpalist::insert_after(list_, old, row.data(), static_cast<unsigned int>(row.size()));
        if (fresh == nullptr) {
            list_->curr = old;
            return CM_RC_FAIL;
        }
        ZPALIST_entry_typ* before = old->prev;
        if (last_ == old) last_ = fresh;
        if (last_default_ == old) last_default_ = fresh;
        found->second = fresh;
        zpalist::erase(list_, old);
        list_->curr = before;
        return CM_RC_OK;
    } catch (...) {
        return CM_RC_FAIL;
    }
}

CM_RC gm_param::KeyedRows::append(const char* key, const char* value) {
    if (!key) return CM_RC_FAIL;
    try {
        return add(make_row(key, cut_value(value)));
    } catch (...) {
        return CM_RC_FAIL;
    }
}

CM_RC gm_param::KeyedRows::add(const std::vector<char>& row) {
    const std::string stored(row.data());
    ZPALIST_entry_typ* fresh = zpalist::insert_after(list_, last_, row.data(), static_cast<unsigned int>(row.size()));
    if (fresh == nullptr) return CM_RC_FAIL;
    last_ = fresh;
    first_.try_emplace(stored, fresh);
    if (stored == "DEFAULT") last_default_ = fresh;
    return CM_RC_OK;
}

extern "C" {

CM_RC GM_PARAM_load_file(ZPALIST_handle_typ* list, const char* file_name) {
    try {
        return load_flat_file(list, file_name, kFlatPiece, false, 1);
    } catch (...) {
        return CM_RC_FAIL;
    }
}

CM_RC GM_PARAM_load_file_option1(ZPALIST_handle_typ* list, const char* file_name, int force_upper_case) {
    try {
        return load_flat_file(list, file_name, kFlatPieceOption1, true, force_upper_case);
    } catch (...) {
        return CM_RC_FAIL;
    }
}

CM_RC GM_param_parse_str(ZPALIST_handle_typ* list, const char* text) {
    if (!list || !text) return CM_RC_FAIL;
    try {
        zpalist::Builder rows(list);
        return parse_line(rows, text, false, 1);
    } catch (...) {
        return CM_RC_FAIL;
    }
}

CM_RC GM_param_parse_str_option1(ZPALIST_handle_typ* list, const char* text, int force_upper_case) {
    if (!list || !text) return CM_RC_FAIL;
    try {
        zpalist::Builder rows(list);
        return parse_line(rows, text, true, force_upper_case);
    } catch (...) {
        return CM_RC_FAIL;
    }
}

CM_RC GM_PARAM_list_save(ZPALIST_handle_typ* list, const char* file_name) {
    if (!list || !file_name) return CM_RC_FAIL;
    try {
        if (!writable_rows(list, file_name)) return CM_RC_FAIL;
        const CM_RC rc = write_file(file_name, flat_text(list), nullptr, nullptr);
        DIAG_TRACE(3, "%s ended %s, file: %s ", "GM_PARAM_list_save", rc == CM_RC_OK ? "SUCCESS" : "FAIL", file_name);
        return rc;
    } catch (...) {
        return CM_RC_FAIL;
    }
}

CM_RC GM_PARAM_list_get(ZPALIST_handle_typ* list, const char* key, char* value, int val_size) {
    if (!list || !key || !value || val_size < 1) return CM_RC_FAIL;
    char* found = nullptr;
    const CM_RC rc = find_value(list, key, &found);
    if (rc != CM_RC_OK) return rc;
    const std::size_t n = strnlen(found, static_cast<std::size_t>(val_size - 1));
    std::memcpy(value, found, n);
    value[n] = '\0';
    return CM_RC_OK;
}

CM_RC GM_PARAM_list_get_ptr(ZPALIST_handle_typ* list, const char* key, char** value) {
    if (!list || !key || !value) return CM_RC_FAIL;
    return find_value(list, key, value);
}

CM_RC GM_PARAM_list_next(ZPALIST_handle_typ* list, char** key, void** value) {
    if (!list) return CM_RC_FAIL;
    void* element = nullptr;
    unsigned int size = 0;
    const CM_RC rc = ZPALIST_next_ptr(list, &element, &size);
    if (rc == CM_RC_OK) {
        if (key) *key = row_key(element);
        if (value) *value = row_value(element);
    }
    return rc;
}

CM_RC GM_PARAM_list_reset(ZPALIST_handle_typ* list) { return ZPALIST_reset(list); }

CM_RC GM_PARAM_list_clear(ZPALIST_handle_typ* list) { return ZPALIST_clear(list); }

CM_RC GM_PARAM_list_set(ZPALIST_handle_typ* list, const char* key, const char* value) {
    if (!list || !key) return CM_RC_FAIL;
    try {
        std::vector<char> row = make_row(key, cut_value(value));
        const auto row_size = static_cast<unsigned int>(row.size());
        // The walk of ZPALIST_next_ptr from the list's start; the cursor is left where it stops.
        ZPALIST_entry_typ* at = nullptr;
        for (ZPALIST_entry_typ* next = list->first; next != nullptr; next = at->next) {
            at = next;
            if (at->ptr == nullptr) {
                list->curr = at;
                return ZPALIST_append(list, row.data(), row_size);
            }
            const char* row_of_list = row_key(at->ptr);
            if (row_of_list[0] != row[0] || std::strcmp(row_of_list, row.data()) != 0) continue;
            // The new row goes in behind the old one before the old one is removed, so a failed
            // insertion leaves the old row in place. The walk stands on the old row: neither step
            // walks the list again to look it up.
            list->curr = at;
            if (zpalist::insert_after(list, at, row.data(), row_size) == nullptr) return CM_RC_FAIL;
            zpalist::erase(list, at);
            return CM_RC_OK;
        }
        // At the end of the list the walk stands on its last row.
        list->curr = at;
        return zpalist::insert_after(list, at, row.data(), row_size) != nullptr ? CM_RC_OK : CM_RC_FAIL;
    } catch (...) {
        return CM_RC_FAIL;
    }
}

CM_RC GM_PARAM_list_insert(ZPALIST_handle_typ* list, const char* key, const char* value) {
    if (!list || !key) return CM_RC_FAIL;
    try {
        std::vector<char> row = make_row(key, cut_value(value));
        return ZPALIST_insert(list, row.data(), static_cast<unsigned int>(row.size()));
    } catch (...) {
        return CM_RC_FAIL;
    }
}

CM_RC GM_PARAM_list_append(ZPALIST_handle_typ* list, const char* key, const char* value) {
    if (!list || !key) return CM_RC_FAIL;
    try {
        std::vector<char> row = make_row(key, cut_value(value));
        return ZPALIST_append(list, row.data(), static_cast<unsigned int>(row.size()));
    } catch (...) {
        return CM_RC_FAIL;
    }
}

CM_RC GM_PARAM_list_delete(ZPALIST_handle_typ* list, const char* key) {
    if (!list || !key) return CM_RC_FAIL;
    ZPALIST_reset(list);
    void* element = nullptr;
    unsigned int size = 0;
    while (ZPALIST_next_ptr(list, &element, &size) == CM_RC_OK) {
        if (std::strcmp(row_key(element), key) == 0) {
            ZPALIST_delete(list);
            return CM_RC_OK;
        }
    }
    return CM_RC_END;
}

CM_RC GM_PARAM_list_merge(ZPALIST_handle_typ* Dest, ZPALIST_handle_typ* Source, int force) {
    DIAG_TRACE(4, "GM_PARAM_list_merge");
    if (!Dest || !Source || Dest == Source) return CM_RC_OK;
    try {
        // For each row of Source, a look-up in Dest (unless forced) and a set, with an index of
        // Dest's keys instead of a walk of Dest per row.
        gm_param::KeyedRows rows(Dest);
        ZPALIST_handle_typ walker = *Source;
        ZPALIST_reset(&walker);
        void* element = nullptr;
        unsigned int size = 0;
        while (ZPALIST_next_ptr(&walker, &element, &size) == CM_RC_OK) {
            if (!force && rows.find(row_key(element)) != nullptr) continue;
            rows.set(row_key(element), row_value(element));
        }
    } catch (...) {
    }
    return CM_RC_OK;
}

CM_RC GM_PARAM_list_filter(ZPALIST_handle_typ* origList, ZPALIST_handle_typ* filtList, char** keysToRemove) {
    if (!origList || !filtList) return CM_RC_FAIL;
    zpalist::Builder filtered(filtList);
    ZPALIST_handle_typ walker = *origList;
    ZPALIST_reset(&walker);
    void* element = nullptr;
    unsigned int size = 0;
    while (ZPALIST_next_ptr(&walker, &element, &size) == CM_RC_OK) {
        if (in_name_list(row_key(element), keysToRemove)) continue;
        const CM_RC rc = filtered.append(element, size);
        if (rc != CM_RC_OK) {
            DIAG_ERROR("%s: Failed to filter DSECT list", "GM_PARAM_list_filter");
            return rc;
        }
    }
    return CM_RC_OK;
}

CM_RC GM_PARAM_list_print(ZPALIST_handle_typ* list) {
    if (!list) return CM_RC_FAIL;
    DIAG_printf("List BEGIN");
    ZPALIST_handle_typ walker = *list;
    ZPALIST_reset(&walker);
    void* element = nullptr;
    unsigned int size = 0;
    CM_RC rc;
    while ((rc = ZPALIST_next_ptr(&walker, &element, &size)) == CM_RC_OK)
        DIAG_printf("\t%s = '%s'", row_key(element), loggable_value(row_key(element), row_value(element)));
    DIAG_printf("List END");
    return rc;
}

char** GM_PARAM_get_keysToRemove_list(void) { return keys_to_remove; }

CM_RC GM_PARAM_is_printable(const char* key, char** list) {
    return key && in_name_list(key, list) ? CM_RC_FAIL : CM_RC_OK;
}

}  // extern "C"
