/* The process-wide caches of parameter tables: TABLE_list (flat tables) and SUBTABLE_list
 * (sectioned tables), read on first use, reread by an explicit load when the file's modification
 * time has changed, and written back by a save that keeps what other processes wrote meanwhile. */
#include "gm_param.h"
#include "gm_param_internal.h"
#include "os_diag.h"
#include "os_fork_internal.h"
#include "os_ipc.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

using namespace gm_param;

namespace {

constexpr const char* kConfigTable = "CONFIG";  // the agent's main table
constexpr const char* kCacheSemaphore = "AG_Mutex";
constexpr int kCacheWaitMs = 30000;

// Rows and sections as plain values, for comparing a table with what its file held.
using Row = std::pair<std::string, std::string>;
struct Section {
    std::string name;
    std::vector<Row> rows;
};
using Snapshot = std::vector<Section>;  // a flat table is one section without a name

// What the cache knows of a table's file since it last read or wrote it.
struct FileSync {
    bool have_file = false;
    struct stat status {};
    Snapshot base;  // the table as it stood then
    bool option1 = false;
    int force_upper_case = 1;
};

struct CachedTable {
    GM_PARAM_table_list record{};
    FileSync sync;
};

enum class Kind { flat, sectioned };

struct Cache {
    Kind kind;
    std::vector<std::unique_ptr<CachedTable>> tables;
};

// Both caches are guarded by one recursive mutex: the operations call each other while holding it
// (GM_PARAM_get -> GM_PARAM_table_find -> GM_PARAM_load). The named semaphore is taken as well so
// that the agent's own cross-process hook stays in place.
std::recursive_mutex cache_mutex;
[[maybe_unused]] const bool cache_fork_safe = os_fork::hold_across_fork(os_fork::Rank::param_cache, cache_mutex);

// The caches live as long as the process and are never destroyed: when the process ends, other
// threads of the agent may still be inside a look-up, or hold a pointer into a table, while the
// exit handlers run. Their tables stay reachable from here to the end, so the leak checker finds
// nothing lost.
Cache& TABLE_list() {
    static Cache* const cache = new Cache{Kind::flat, {}};
    return *cache;
}
Cache& SUBTABLE_list() {
    static Cache* const cache = new Cache{Kind::sectioned, {}};
    return *cache;
}

thread_local int cache_depth = 0;  // cache operations running on this thread

class CacheLock {
public:
    CacheLock() : guard_(cache_mutex) {
        ++cache_depth;
        OSSemObject sem = 0;
        locked_ = OS_IPC_sem_create(&sem, kCacheSemaphore, kCacheWaitMs / 1000) == CM_RC_OK &&
                  OS_IPC_sem_lock(sem, kCacheWaitMs) == CM_RC_OK;
        sem_ = sem;
    }
    ~CacheLock() {
        OS_IPC_sem_unlock(sem_);
        --cache_depth;
    }
    bool locked() const { return locked_; }

private:
    std::lock_guard<std::recursive_mutex> guard_;
    OSSemObject sem_ = 0;
    bool locked_ = false;
};

std::vector<Row> rows_of(ZPALIST_handle_typ* list) {
    std::vector<Row> rows;
    ZPALIST_handle_typ walker = *list;
    ZPALIST_reset(&walker);
    void* element = nullptr;
    unsigned int size = 0;
    while (ZPALIST_next_ptr(&walker, &element, &size) == CM_RC_OK)
        rows.emplace_back(row_key(element), row_value(element));
    return rows;
}

Snapshot snapshot_of(Kind kind, ZPALIST_handle_typ* table) {
    if (kind == Kind::flat) return {Section{"", rows_of(table)}};
    Snapshot sections;
    ZPALIST_handle_typ walker = *table;
    ZPALIST_reset(&walker);
    void* element = nullptr;
    unsigned int size = 0;
    while (ZPALIST_next_ptr(&walker, &element, &size) == CM_RC_OK) {
        auto* section = static_cast<GM_PARAM_subtable_row*>(element);
        sections.push_back(Section{section->key, rows_of(&section->list)});
    }
    return sections;
}

void free_table(Kind kind, ZPALIST_handle_typ* table) {
    if (kind == Kind::sectioned)
        free_sections(table);
    else
        ZPALIST_clear(table);
}

// Frees the rows of every table of a cache and empties it. The tables leave the cache first, so
// the log (which reads its settings from the cache while the rows are freed) never meets one half
// freed.
void clear_cache(Cache& cache) {
    std::vector<std::unique_ptr<CachedTable>> tables = std::move(cache.tables);
    cache.tables.clear();
    for (auto& t : tables) free_table(cache.kind, &t->record.table);
}

CM_RC fill_rows(ZPALIST_handle_typ* list, const std::vector<Row>& rows) {
    ZPALIST_init(list);
    zpalist::Builder builder(list);
    for (const Row& row : rows) {
        std::vector<char> bytes = make_row(row.first, row.second);
        if (builder.append(bytes.data(), static_cast<unsigned int>(bytes.size())) != CM_RC_OK) return CM_RC_FAIL;
    }
    return CM_RC_OK;
}

// Builds a table list from a snapshot; on failure the list is left empty.
CM_RC fill_table(Kind kind, ZPALIST_handle_typ* table, const Snapshot& snapshot) {
    if (kind == Kind::flat) {
        if (fill_rows(table, snapshot.empty() ? std::vector<Row>{} : snapshot.front().rows) == CM_RC_OK)
            return CM_RC_OK;
        ZPALIST_clear(table);
        return CM_RC_FAIL;
    }
    ZPALIST_init(table);
    zpalist::Builder sections(table);
    for (const Section& s : snapshot) {
        GM_PARAM_subtable_row section{};
        std::strncpy(section.key, s.name.c_str(), kKeyMax);
        if (fill_rows(&section.list, s.rows) != CM_RC_OK || sections.append(&section, sizeof section) != CM_RC_OK) {
            ZPALIST_clear(&section.list);
            free_sections(table);
            return CM_RC_FAIL;
        }
    }
    return CM_RC_OK;
}

// Where each key stands in a vector of rows or sections: looked up once per row of a merge rather
// than by a walk per row.
template <typename T, typename KeyOf>
class KeyIndex {
public:
    KeyIndex(const std::vector<T>& items, KeyOf key_of) : key_of_(key_of) {
        for (std::size_t i = 0; i < items.size(); ++i) add(items[i], i);
    }
    // Position of the first item with this key, or npos.
    std::size_t first(const std::string& key) const {
        auto it = positions_.find(key);
        return it == positions_.end() ? npos : it->second.front();
    }
    void add(const T& item, std::size_t at) { positions_[key_of_(item)].push_back(at); }
    KeyOf key_of() const { return key_of_; }
    // Positions of every item with this key, in order.
    const std::vector<std::size_t>* all(const std::string& key) const {
        auto it = positions_.find(key);
        return it == positions_.end() ? nullptr : &it->second;
    }
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);

private:
    KeyOf key_of_;
    std::unordered_map<std::string, std::vector<std::size_t>> positions_;
};

const std::string& row_name(const Row& row) { return row.first; }
const std::string& section_name(const Section& section) { return section.name; }
using RowIndex = KeyIndex<Row, const std::string& (*)(const Row&)>;
using SectionIndex = KeyIndex<Section, const std::string& (*)(const Section&)>;

// Takes out of `result`, for each item of base whose key this process no longer has, the first
// remaining item with that key (another process's item of a key this process deleted).
template <typename T, typename Index>
void drop_deleted(std::vector<T>& result, const std::vector<T>& base, const Index& ours) {
    Index in_result(result, ours.key_of());
    std::unordered_map<std::string, std::size_t> taken;  // items of a key already taken out
    std::vector<bool> gone(result.size(), false);
    for (const T& item : base) {
        const std::string& key = ours.key_of()(item);
        if (ours.first(key) != Index::npos) continue;
        const std::vector<std::size_t>* at = in_result.all(key);
        std::size_t& next = taken[key];
        if (at && next < at->size()) gone[(*at)[next++]] = true;
    }
    std::vector<T> kept;
    kept.reserve(result.size());
    for (std::size_t i = 0; i < result.size(); ++i)
        if (!gone[i]) kept.push_back(std::move(result[i]));
    result.swap(kept);
}

// Three-way merge of rows: start from what the file holds now (theirs) and apply what this process
// changed since its copy was read (ours against base): keys set or changed, keys removed. A key
// that both changed takes this process's value (the last writer wins).
std::vector<Row> merge_rows(const std::vector<Row>& base, const std::vector<Row>& ours,
                            const std::vector<Row>& theirs) {
    std::vector<Row> result = theirs;
    const RowIndex in_ours(ours, row_name), in_base(base, row_name);
    RowIndex in_result(result, row_name);
    for (std::size_t i = 0; i < ours.size(); ++i) {
        const Row& row = ours[i];
        if (in_ours.first(row.first) != i) continue;  // only the first row of a key counts
        const std::size_t before = in_base.first(row.first);
        if (before != RowIndex::npos && base[before].second == row.second) continue;
        const std::size_t at = in_result.first(row.first);
        if (at != RowIndex::npos) {
            result[at].second = row.second;
        } else {
            in_result.add(row, result.size());
            result.push_back(row);
        }
    }
    drop_deleted(result, base, in_ours);
    return result;
}

Snapshot merge_sections(const Snapshot& base, const Snapshot& ours, const Snapshot& theirs) {
    Snapshot result = theirs;
    const SectionIndex in_ours(ours, section_name), in_base(base, section_name);
    SectionIndex in_result(result, section_name);
    for (std::size_t i = 0; i < ours.size(); ++i) {
        const Section& mine = ours[i];
        if (in_ours.first(mine.name) != i) continue;
        const std::size_t before = in_base.first(mine.name);
        const std::size_t at = in_result.first(mine.name);
        if (at == SectionIndex::npos) {
            // Gone from the file: another process removed it, unless this process added or changed it.
            if (before == SectionIndex::npos || base[before].rows != mine.rows) {
                in_result.add(mine, result.size());
                result.push_back(mine);
            }
            continue;
        }
        result[at].rows = merge_rows(before != SectionIndex::npos ? base[before].rows : std::vector<Row>{}, mine.rows,
                                     result[at].rows);
    }
    drop_deleted(result, base, in_ours);
    return result;
}

bool same_file_state(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

CM_RC parse_content(Kind kind, const FileSync& how, ZPALIST_handle_typ* list, const std::string& content) {
    if (kind == Kind::sectioned) return parse_sectioned(list, content);
    return parse_flat(list, content, how.option1 ? kFlatPieceOption1 : kFlatPiece, how.option1, how.force_upper_case);
}

std::string text_of(Kind kind, ZPALIST_handle_typ* table) {
    return kind == Kind::flat ? flat_text(table) : sectioned_text(table);
}

// Called under the file's exclusive lock: when the file changed since this process read or wrote
// it, the cached copy is merged into what the file holds now and that becomes the text to write.
class MergeOnSave : public WriteHooks {
public:
    MergeOnSave(Kind kind, CachedTable& table) : kind_(kind), table_(table) {}
    void before_write(const struct stat& status, const std::string& current, std::string& text) override {
        const FileSync& sync = table_.sync;
        const bool changed = sync.have_file ? !same_file_state(sync.status, status) : status.st_size != 0;
        if (!changed) return;
        ZPALIST_handle_typ theirs_list{};
        if (parse_content(kind_, sync, &theirs_list, current) != CM_RC_OK) {
            free_table(kind_, &theirs_list);
            return;  // an unreadable file is overwritten with the cached copy
        }
        const Snapshot theirs = snapshot_of(kind_, &theirs_list);
        free_table(kind_, &theirs_list);
        const Snapshot ours = snapshot_of(kind_, &table_.record.table);
        const Snapshot merged =
            kind_ == Kind::flat
                ? Snapshot{Section{"", merge_rows(sync.base.empty() ? std::vector<Row>{} : sync.base.front().rows,
                                                  ours.front().rows, theirs.front().rows)}}
                : merge_sections(sync.base, ours, theirs);
        ZPALIST_handle_typ merged_list{};
        if (fill_table(kind_, &merged_list, merged) != CM_RC_OK) return;
        DIAG_TRACE(4, "%s: '%s' was changed by another writer, merged", "GM_PARAM_save", table_.record.table_name);
        ZPALIST_handle_typ replaced = table_.record.table;
        table_.record.table = merged_list;
        free_table(kind_, &replaced);  // after the swap: the cache never holds a half-freed table
        text = text_of(kind_, &table_.record.table);
    }

private:
    Kind kind_;
    CachedTable& table_;
};

CachedTable* find_cached(Cache& cache, const char* name) {
    for (auto& t : cache.tables)
        if (std::strcmp(t->record.table_name, name) == 0) return t.get();
    return nullptr;
}

// A table leaves the cache before its rows are freed: freeing logs trace lines, and the log reads
// its settings from cached tables, so it must never meet a table that is half freed.
void drop_cached(Cache& cache, CachedTable* table) {
    for (auto it = cache.tables.begin(); it != cache.tables.end(); ++it) {
        if (it->get() == table) {
            std::unique_ptr<CachedTable> owned = std::move(*it);
            cache.tables.erase(it);
            free_table(cache.kind, &owned->record.table);
            return;
        }
    }
}

std::string modification_text(const char* table_name, bool* readable) {
    struct stat status {};
    *readable = ::stat(table_path(table_name).c_str(), &status) == 0;
    return *readable ? time_text(status.st_mtime) : std::string();
}

// Loads or reloads a table into a cache. 1 loaded, 6 cached copy kept (file unchanged), 2 failure.
CM_RC load_table(Cache& cache, const char* name, int p_flag, bool option1, int force_upper_case, CachedTable** loaded) {
    const char* op = cache.kind == Kind::flat ? "GM_PARAM_load" : "GM_PARAM_subtable_load";
    if (cache.kind == Kind::flat) {
        DIAG_TRACE(4, "%s: Table='%s'", op, name);
    } else {
        DIAG_TRACE(4, "%s", op);
        DIAG_TRACE(4, "Table='%s'", name);
    }
    if (CachedTable* cached = find_cached(cache, name)) {
        if (!(p_flag & 1)) {
            bool readable = false;
            const std::string modified = modification_text(name, &readable);
            if (readable && modified == cached->record.load_timestmp) {
                if (cache.kind == Kind::flat) DIAG_TRACE(4, "%s: Table '%s' was not modified", op, name);
                if (loaded) *loaded = cached;
                return CM_RC_END;
            }
            if (readable && cache.kind == Kind::flat)
                DIAG_TRACE(4, "%s: Table '%s' was modified, reloading.", op, name);
        }
        drop_cached(cache, cached);
    }
    const std::size_t length = std::strlen(name);
    if (length > static_cast<std::size_t>(kTableNameMax)) {
        DIAG_TRACE(4, "table_name too long: %d", static_cast<int>(length));
        return CM_RC_FAIL;
    }
    const std::string path = table_path(name);
    DIAG_TRACE(4, "%s", cache.kind == Kind::flat ? "GM_PARAM_load_file" : "GM_PARAM_subtable_load_file");
    DIAG_TRACE(4, "File:%s", path.c_str());
    FileImage image;
    if (read_file(path, image) != CM_RC_OK) {
        DIAG_TRACE(4, "Failed to load file %s.", path.c_str());
        return CM_RC_FAIL;
    }
    auto table = std::make_unique<CachedTable>();
    table->sync.option1 = option1;
    table->sync.force_upper_case = force_upper_case;
    if (parse_content(cache.kind, table->sync, &table->record.table, image.content) != CM_RC_OK) {
        free_table(cache.kind, &table->record.table);
        return CM_RC_FAIL;
    }
    std::strncpy(table->record.table_name, cut_name(name).c_str(), kKeyMax);
    std::strncpy(table->record.load_timestmp, time_text(image.status.st_mtime).c_str(),
                 sizeof table->record.load_timestmp - 1);
    table->sync.have_file = true;
    table->sync.status = image.status;
    table->sync.base = snapshot_of(cache.kind, &table->record.table);
    if (loaded) *loaded = table.get();
    cache.tables.push_back(std::move(table));
    return CM_RC_OK;
}

CM_RC find_table(Cache& cache, const char* name, CachedTable** found) {
    if (CachedTable* cached = find_cached(cache, name)) {
        DIAG_TRACE(5, "table '%s' already loaded", name);
        *found = cached;
    } else {
        const CM_RC rc = load_table(cache, name, 1, false, 1, found);
        if (rc != CM_RC_OK) return rc;
    }
    ZPALIST_reset(&(*found)->record.table);
    return CM_RC_OK;
}

// Finds a table or, when it can be neither found nor loaded, creates it empty in the cache.
CM_RC find_or_create(Cache& cache, const char* name, CachedTable** found) {
    if (find_table(cache, name, found) == CM_RC_OK) return CM_RC_OK;
    const std::size_t length = std::strlen(name);
    if (length > static_cast<std::size_t>(kTableNameMax)) {
        DIAG_TRACE(4, "table_name too long: %d", static_cast<int>(length));
        return CM_RC_FAIL;
    }
    auto table = std::make_unique<CachedTable>();
    std::strncpy(table->record.table_name, cut_name(name).c_str(), kKeyMax);
    std::strncpy(table->record.load_timestmp, time_text(std::time(nullptr)).c_str(),
                 sizeof table->record.load_timestmp - 1);
    *found = table.get();
    cache.tables.push_back(std::move(table));
    return CM_RC_OK;
}

CM_RC save_table(Cache& cache, const char* name) {
    CachedTable* table = nullptr;
    const CM_RC found = find_table(cache, name, &table);
    if (found != CM_RC_OK) {
        DIAG_TRACE(2, "Can not find the configuration table '%s'", name);
        return found;
    }
    const std::string path = table_path(name);
    MergeOnSave merge(cache.kind, *table);
    struct stat written {};
    const bool writable = cache.kind == Kind::flat ? writable_rows(&table->record.table, path.c_str())
                                                   : writable_sections(&table->record.table, path.c_str());
    const CM_RC rc =
        writable ? write_file(path, text_of(cache.kind, &table->record.table), &merge, &written) : CM_RC_FAIL;
    if (cache.kind == Kind::flat) {
        DIAG_TRACE(3, "%s ended %s, file: %s ", "GM_PARAM_list_save", rc == CM_RC_OK ? "SUCCESS" : "FAIL",
                   path.c_str());
    }
    if (rc != CM_RC_OK) return rc;
    std::memset(table->record.load_timestmp, 0, sizeof table->record.load_timestmp);
    std::strncpy(table->record.load_timestmp, time_text(written.st_mtime).c_str(),
                 sizeof table->record.load_timestmp - 1);
    table->sync.have_file = true;
    table->sync.status = written;
    table->sync.base = snapshot_of(cache.kind, &table->record.table);
    return CM_RC_OK;
}

template <typename F>
CM_RC guarded(F&& f) {
    try {
        CacheLock lock;
        if (!lock.locked()) return CM_RC_FAIL;
        return f();
    } catch (...) {
        return CM_RC_FAIL;
    }
}

// A save takes the table file's lock before the cache's: a thread that holds a file's lock may
// log, and logging reads settings from the cache, so the two are always taken in this order.
// The write inside the save then runs under the lock already held.
CM_RC save_locked(Cache& cache, const char* name) {
    try {
        os_shared::FileLock file(table_path(name), table_file_options());
        return guarded([&] { return save_table(cache, name); });
    } catch (...) {
        return CM_RC_FAIL;
    }
}

bool unsigned_level(const char* text, int* level) {
    if (!*text) return false;
    long value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return false;
        value = value * 10 + (*p - '0');
        if (value > 6) return false;
    }
    *level = static_cast<int>(value);
    return true;
}

}  // namespace

extern "C" {

CM_RC GM_PARAM_load(const char* table_name, int p_flag) {
    if (!table_name) return CM_RC_FAIL;
    return guarded([&] { return load_table(TABLE_list(), table_name, p_flag, false, 1, nullptr); });
}

CM_RC GM_PARAM_load_option1(const char* table_name, int p_flag, int force_upper_case) {
    if (!table_name) return CM_RC_FAIL;
    return guarded([&] { return load_table(TABLE_list(), table_name, p_flag, true, force_upper_case, nullptr); });
}

CM_RC GM_PARAM_table_find(GM_PARAM_table_list** table_handle, const char* table_name) {
    if (!table_handle || !table_name) return CM_RC_FAIL;
    return guarded([&] {
        CachedTable* table = nullptr;
        const CM_RC rc = find_table(TABLE_list(), table_name, &table);
        if (rc == CM_RC_OK) *table_handle = &table->record;
        return rc;
    });
}

CM_RC GM_PARAM_get(const char* table_name, const char* key, char* value) {
    if (!table_name || !key || !value) return CM_RC_FAIL;
    return guarded([&] {
        DIAG_TRACE(5, "GM_PARAM_get: table:'%s', key:'%s'", table_name, key);
        CachedTable* table = nullptr;
        CM_RC rc = find_table(TABLE_list(), table_name, &table);
        if (rc == CM_RC_OK) rc = GM_PARAM_list_get(&table->record.table, key, value, kValueBuffer);
        DIAG_TRACE(4, "GM_PARAM_get: rc = %d, table:'%s', key:'%s', value:'%s'", rc, table_name, key,
                   rc == CM_RC_OK ? loggable_value(key, value) : "");
        return rc;
    });
}

CM_RC GM_PARAM_set(const char* table_name, const char* key, const char* value) {
    if (!table_name || !key) return CM_RC_FAIL;
    return guarded([&] {
        CachedTable* table = nullptr;
        const CM_RC rc = find_or_create(TABLE_list(), table_name, &table);
        return rc == CM_RC_OK ? GM_PARAM_list_set(&table->record.table, key, value) : rc;
    });
}

CM_RC GM_PARAM_delete(const char* table_name, const char* key) {
    if (!table_name || !key) return CM_RC_FAIL;
    return guarded([&] {
        CachedTable* table = nullptr;
        const CM_RC rc = find_table(TABLE_list(), table_name, &table);
        return rc == CM_RC_OK ? GM_PARAM_list_delete(&table->record.table, key) : rc;
    });
}

CM_RC GM_PARAM_save(const char* table_name) {
    if (!table_name) return CM_RC_FAIL;
    return save_locked(TABLE_list(), table_name);
}

CM_RC GM_PARAM_clear(void) {
    return guarded([&] {
        DIAG_TRACE(4, "GM_PARAM_clear");
        clear_cache(TABLE_list());
        return CM_RC_OK;
    });
}

int GM_PARAM_table_count(GM_PARAM_table_list* table) { return table ? ZPALIST_count(&table->table) : 0; }

int GM_PARAM_get_int_by_name(const char* table_name, const char* key_name, int default_value) {
    int result = default_value;
    bool use_default = true;
    char value[kValueBuffer] = "";
    if (table_name && key_name && GM_PARAM_get(table_name, key_name, value) == CM_RC_OK) {
        const long number = std::strtol(value, nullptr, 10);
        if (number >= 0) {
            result = number > 2147483647L ? 2147483647 : static_cast<int>(number);
            use_default = false;
        }
    }
    if (use_default)
        DIAG_TRACE(4, "%s default value will be used for the varible: %s", "GM_PARAM_get_int_by_name",
                   key_name ? key_name : "");
    DIAG_TRACE(4, "%s exit with: %d", "GM_PARAM_get_int_by_name", result);
    return result;
}

CM_RC GM_PARAM_get_agent_version(char* agVersion) {
    static const char* op = "GM_PARAM_get_agent_version";
    DIAG_TRACE(4, "%s", op);
    if (!agVersion) return CM_RC_FAIL;
    char value[kValueBuffer] = "";
    CM_RC rc = GM_PARAM_get(kConfigTable, "FIX_NUMBER", value);
    if (rc != CM_RC_OK || std::strcmp(value, "0") == 0) rc = GM_PARAM_get(kConfigTable, "FD_NUMBER", value);
    if (rc != CM_RC_OK) {
        DIAG_ERROR("%s Cannot obtain agent version", op);
    } else if (const char* dot = std::strchr(value, '.')) {
        std::memmove(agVersion, dot + 1, std::strlen(dot + 1) + 1);
    } else {
        DIAG_ERROR("%s Wrong agent version format: '%s'", op, value);
        rc = CM_RC_FAIL;
    }
    DIAG_TRACE(4, "%s exit with: %d", op, rc);
    return rc;
}

void GLOBAL_version(char* ver, int size) {
    if (!ver || size < 1) return;
    std::snprintf(ver, static_cast<std::size_t>(size), "%s",
                  "GLOBAL dll 8.0.00 - folders 2451, 2452 - Wed Sep 12 14:50:52 2012");
}

CM_RC GM_PARAM_subtable_load(const char* table_name, int p_flag) {
    if (!table_name) return CM_RC_FAIL;
    return guarded([&] { return load_table(SUBTABLE_list(), table_name, p_flag, false, 1, nullptr); });
}

CM_RC GM_PARAM_subtable_table_find(GM_PARAM_table_list** table_handle, const char* table_name) {
    DIAG_TRACE(4, "GM_PARAM_subtable_table_find");
    if (!table_handle || !table_name) return CM_RC_FAIL;
    return guarded([&] {
        CachedTable* table = nullptr;
        const CM_RC rc = find_table(SUBTABLE_list(), table_name, &table);
        if (rc == CM_RC_OK) *table_handle = &table->record;
        return rc;
    });
}

CM_RC GM_PARAM_subtable_get(const char* table_name, const char* subtable_name, const char* key, char* value) {
    static const char* op = "GM_PARAM_subtable_get";
    if (!table_name || !subtable_name || !key || !value) return CM_RC_FAIL;
    try {
        CacheLock lock;
        if (!lock.locked()) {
            DIAG_ERROR("%s: Unable to lock", op);
            return CM_RC_FAIL;
        }
        DIAG_TRACE(5, "%s: table:'%s', subtable:'%s', key:'%s'", op, table_name, subtable_name, key);
        CachedTable* table = nullptr;
        CM_RC rc = find_table(SUBTABLE_list(), table_name, &table);
        if (rc == CM_RC_OK)
            rc = GM_PARAM_subtable_list_get(&table->record.table, subtable_name, key, value, kValueBuffer);
        DIAG_TRACE(4, "%s: rc = %d, table:'%s', subtable:'%s', key:'%s', value:'%s'", op, rc, table_name, subtable_name,
                   key, rc == CM_RC_OK ? loggable_value(key, value) : "");
        return rc;
    } catch (...) {
        return CM_RC_FAIL;
    }
}

CM_RC GM_PARAM_subtable_set(const char* table_name, const char* subtable_name, const char* key, const char* value) {
    DIAG_TRACE(4, "GM_PARAM_subtable_set");
    if (!table_name || !subtable_name || !key) return CM_RC_FAIL;
    return guarded([&] {
        CachedTable* table = nullptr;
        const CM_RC rc = find_or_create(SUBTABLE_list(), table_name, &table);
        return rc == CM_RC_OK ? GM_PARAM_subtable_list_set(&table->record.table, subtable_name, key, value) : rc;
    });
}

CM_RC GM_PARAM_subtable_save(const char* table_name) {
    if (!table_name) return CM_RC_FAIL;
    return save_locked(SUBTABLE_list(), table_name);
}

CM_RC GM_PARAM_subtable_delete(const char* table_name, const char* subtable_name) {
    DIAG_TRACE(4, "GM_PARAM_subtable_delete");
    if (!table_name || !subtable_name) return CM_RC_FAIL;
    return guarded([&] {
        CachedTable* table = nullptr;
        const CM_RC rc = find_table(SUBTABLE_list(), table_name, &table);
        return rc == CM_RC_OK ? GM_PARAM_subtable_list_delete(&table->record.table, subtable_name) : rc;
    });
}

CM_RC GM_PARAM_subtable_delete_entry(const char* table_name, const char* subtable_name, const char* key) {
    DIAG_TRACE(4, "GM_PARAM_subtable_delete_entry");
    if (!table_name || !subtable_name || !key) return CM_RC_FAIL;
    return guarded([&] {
        CachedTable* table = nullptr;
        CM_RC rc = find_table(SUBTABLE_list(), table_name, &table);
        if (rc != CM_RC_OK) return rc;
        ZPALIST_handle_typ* section = nullptr;
        rc = GM_PARAM_subtable_list_find(&table->record.table, subtable_name, &section);
        return rc == CM_RC_OK ? GM_PARAM_subtable_list_delete_entry(section, subtable_name, key) : rc;
    });
}

CM_RC GM_PARAM_subtable_clear(void) {
    return guarded([&] {
        DIAG_TRACE(4, "GM_PARAM_subtable_clear");
        clear_cache(SUBTABLE_list());
        return CM_RC_OK;
    });
}

CM_RC GM_PARAM_save_valuelist(ZPALIST_handle_typ* list, char* value, const char* separator) {
    DIAG_TRACE(4, "GM_PARAM_save_valuelist");
    return guarded([&] {
        if (!list) {
            DIAG_TRACE(5, "List is invalid.");
            return CM_RC_FAIL;
        }
        if (!value || !separator) return CM_RC_FAIL;
        std::string text;
        bool first_in = false;
        ZPALIST_handle_typ walker = *list;
        ZPALIST_reset(&walker);
        void* element = nullptr;
        unsigned int size = 0;
        while (ZPALIST_next_ptr(&walker, &element, &size) == CM_RC_OK) {
            DIAG_TRACE(6, "Key: '%s', Val: '%s'", row_key(element),
                       loggable_value(row_key(element), row_value(element)));
            const std::string_view key = row_key(element);
            if (!first_in) {
                if (key.size() > static_cast<std::size_t>(kValueListMax)) continue;
                text = key;
                first_in = true;
                continue;
            }
            if (text.size() + std::strlen(separator) + key.size() > static_cast<std::size_t>(kValueListMax)) {
                DIAG_TRACE(5, "Failed to create string list. ");
                return CM_RC_FAIL;
            }
            text += separator;
            text += key;
        }
        std::memcpy(value, text.c_str(), text.size() + 1);
        return CM_RC_OK;
    });
}

}  // extern "C"

// Debug level from the command line or table CONFIG, for GM_PARAM_load_args.
namespace gm_param {

void apply_debug_level(ZPALIST_handle_typ* list) {
    char value[kValueBuffer] = "";
    int level = 0;
    bool found = false;
    if (GM_PARAM_list_get(list, "DBGLVL", value, kValueBuffer) == CM_RC_OK) {
        found = unsigned_level(value, &level);
        if (!found)
            OS_MSGERR_display("-%s Value '%s' is not in a valid range of 0 to 6. Retrieve from config table.\n",
                              "DBGLVL", value);
    }
    if (!found) {
        value[0] = '\0';
        level = 0;  // neither the arguments nor CONFIG give a valid level: the log's own default
        if (GM_PARAM_get(kConfigTable, "DBGLVL", value) == CM_RC_OK && !unsigned_level(value, &level)) {
            OS_MSGERR_display("Config table value '%s' is not in a valid range of 0 to 6. Using default 0.\n", value);
            level = 0;
        }
    }
    DIAG_set_debug_level(level);
}

std::optional<std::string> config_lookup(const char* table_name, const char* key) {
    if (!table_name || !key) return std::nullopt;
    try {
        const bool nested = cache_depth > 0;
        CacheLock lock;
        CachedTable* table = find_cached(TABLE_list(), table_name);
        if (!table && (nested || find_table(TABLE_list(), table_name, &table) != CM_RC_OK)) return std::nullopt;
        char value[kValueBuffer] = "";
        ZPALIST_handle_typ walker = table->record.table;  // a copy: the owner's cursor stays put
        if (GM_PARAM_list_get(&walker, key, value, kValueBuffer) != CM_RC_OK) return std::nullopt;
        return std::string(value);
    } catch (...) {
        return std::nullopt;
    }
}

std::string config_value(const char* key) {
    char value[kValueBuffer] = "";
    GM_PARAM_get(kConfigTable, key, value);
    return value;
}

}  // namespace gm_param
