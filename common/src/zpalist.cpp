/* The generic list of the agent library: element allocation, linking, the cursor walk and the
 * frees, and the builder that appends in order at a constant cost. Every element and its copy are
 * owned here, allocated together in one block; each allocation and free is traced at level 6. */
#include "zpalist.h"

#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "os_diag.h"
#include "zpalist_internal.h"

namespace {

unsigned long addr(const void* p) { return static_cast<unsigned long>(reinterpret_cast<uintptr_t>(p)); }

bool list_holds(const ZPALIST_handle_typ* list, const ZPALIST_entry_typ* entry) {
    for (const ZPALIST_entry_typ* e = list->first; e != nullptr; e = e->next)
        if (e == entry) return true;
    return false;
}

// The element and its copy are one block (the copy stands right behind the element), so one free
// releases both; the traces still name the copy and the element. Callers read copies as structures,
// so the copy keeps the alignment malloc gives.
static_assert(sizeof(ZPALIST_entry_typ) % alignof(std::max_align_t) == 0, "an element's copy must stay aligned");

bool tracing() { return DIAG_buffered_level() >= 6 || DIAG_debug_level() >= 6; }

// `traced`: tracing() as the caller read it (once for a whole clear).
void free_entry(ZPALIST_entry_typ* entry, const char* function_name, bool traced) {
    if (traced) {
        DIAG_TRACE(6, "free #1 in %s : %lx", function_name, addr(entry->ptr));
        DIAG_TRACE(6, "free #2 in %s : %lx", function_name, addr(entry));
    }
    std::free(entry);
}

// Allocates an element with room for a copy of `size` bytes and the zero byte behind them, which
// is written here; the caller writes the copy. Null when the size does not fit the element's int
// or memory runs out.
ZPALIST_entry_typ* new_entry(std::size_t size) {
    /* The element keeps its size as an int. */
    if (size > static_cast<std::size_t>(INT_MAX)) return nullptr;
    auto* entry = static_cast<ZPALIST_entry_typ*>(std::malloc(sizeof(ZPALIST_entry_typ) + size + 1));
    if (entry == nullptr) return nullptr;
    char* copy = reinterpret_cast<char*>(entry + 1);
    if (tracing()) {
        DIAG_TRACE(6, "malloc #1 in ZPA_list_insert_ptr : %lx", addr(entry));
        DIAG_TRACE(6, "malloc #2 in ZPA_list_insert_ptr : %lx", addr(copy));
    }
    copy[size] = '\0';
    entry->ptr = copy;
    entry->size = static_cast<int>(size);
    entry->prev = nullptr;
    entry->next = nullptr;
    return entry;
}

// Links the element after `after` (null: at the head). The caller has checked the list and `after`.
void link_entry(ZPALIST_handle_typ* list, ZPALIST_entry_typ* after, ZPALIST_entry_typ* entry) {
    list->count++;
    if (list->first == nullptr) {
        list->first = entry;
    } else if (after != nullptr) {
        entry->prev = after;
        entry->next = after->next;
        if (after->next != nullptr) after->next->prev = entry;
        after->next = entry;
    } else {
        entry->next = list->first;
        list->first->prev = entry;
        list->first = entry;
    }
}

// The element of the pieces' bytes one after another, linked after `after`; null (list unchanged)
// when it cannot be made.
ZPALIST_entry_typ* link_copy(ZPALIST_handle_typ* list, ZPALIST_entry_typ* after, zpalist::Pieces pieces) {
    std::size_t size = 0;
    for (std::string_view piece : pieces) {
        size += piece.size();
        if (size > static_cast<std::size_t>(INT_MAX)) return nullptr;
    }
    ZPALIST_entry_typ* entry = new_entry(size);
    if (entry == nullptr) return nullptr;
    char* end = static_cast<char*>(entry->ptr);
    for (std::string_view piece : pieces) {
        if (!piece.empty()) std::memcpy(end, piece.data(), piece.size());
        end += piece.size();
    }
    link_entry(list, after, entry);
    return entry;
}

ZPALIST_entry_typ* link_copy(ZPALIST_handle_typ* list, ZPALIST_entry_typ* after, const void* ptr, unsigned int size) {
    if (ptr == nullptr && size > 0) return nullptr;
    return link_copy(list, after, {std::string_view(static_cast<const char*>(ptr), size)});
}

}  // namespace

namespace zpalist {

Builder::Builder(ZPALIST_handle_typ* list) : list_(list) {
    if (list_ == nullptr) return;
    for (ZPALIST_entry_typ* e = list_->first; e != nullptr; e = e->next) last_ = e;
}

CM_RC Builder::append(const void* ptr, unsigned int size) {
    if (ptr == nullptr && size > 0) return CM_RC_FAIL;
    return append({std::string_view(static_cast<const char*>(ptr), size)});
}

CM_RC Builder::append(Pieces pieces) {
    if (list_ == nullptr) return CM_RC_FAIL;
    ZPALIST_entry_typ* entry = link_copy(list_, find_last(), pieces);
    if (entry == nullptr) return CM_RC_FAIL;
    last_ = entry;
    return CM_RC_OK;
}

ZPALIST_entry_typ* Builder::find_last() {
    // Elements appended by other calls since the last append are passed over, each once.
    if (last_ == nullptr) last_ = list_->first;
    while (last_ != nullptr && last_->next != nullptr) last_ = last_->next;
    return last_;
}

ZPALIST_entry_typ* Builder::allocate(std::size_t size) const { return list_ != nullptr ? new_entry(size) : nullptr; }

void Builder::link_last(ZPALIST_entry_typ* entry) {
    link_entry(list_, find_last(), entry);
    last_ = entry;
}

}  // namespace zpalist

extern "C" {

CM_RC ZPA_list_insert_ptr(ZPALIST_handle_typ* list, ZPALIST_entry_typ* after, void* ptr, unsigned int size) {
    if (list == nullptr) return CM_RC_FAIL;
    /* A cursor left over from an element freed through another handle must not be linked to. */
    if (list->first != nullptr && after != nullptr && !list_holds(list, after)) return CM_RC_FAIL;
    return link_copy(list, after, ptr, size) != nullptr ? CM_RC_OK : CM_RC_FAIL;
}

CM_RC ZPA_list_delete_ptr(ZPALIST_handle_typ* list, ZPALIST_entry_typ* entry) {
    if (list == nullptr) return CM_RC_FAIL;
    if (entry == nullptr || !list_holds(list, entry)) return CM_RC_END;
    zpalist::erase(list, entry);
    return CM_RC_OK;
}

}  // extern "C"

namespace zpalist {

ZPALIST_entry_typ* insert_after(ZPALIST_handle_typ* list, ZPALIST_entry_typ* after, const void* ptr,
                                unsigned int size) {
    return list == nullptr ? nullptr : link_copy(list, after, ptr, size);
}

void erase(ZPALIST_handle_typ* list, ZPALIST_entry_typ* entry) {
    if (entry->prev != nullptr)
        entry->prev->next = entry->next;
    else
        list->first = entry->next;
    if (entry->next != nullptr) entry->next->prev = entry->prev;
    if (list->curr == entry) list->curr = entry->prev;
    if (list->count > 0) list->count--;
    free_entry(entry, "ZPA_list_delete_ptr", tracing());
}

}  // namespace zpalist

extern "C" {

CM_RC ZPALIST_init(ZPALIST_handle_typ* list) {
    if (list == nullptr) return CM_RC_FAIL;
    list->count = 0;
    list->first = nullptr;
    list->curr = nullptr;
    return CM_RC_OK;
}

CM_RC ZPALIST_reset(ZPALIST_handle_typ* list) {
    if (list == nullptr) return CM_RC_FAIL;
    list->curr = nullptr;
    return CM_RC_OK;
}

CM_RC ZPALIST_next_ptr(ZPALIST_handle_typ* list, void** ptr, unsigned int* size) {
    if (list == nullptr || ptr == nullptr || size == nullptr) return CM_RC_FAIL;
    ZPALIST_entry_typ* next = list->curr != nullptr ? list->curr->next : list->first;
    if (next == nullptr) return CM_RC_END; /* the cursor stays on the last element */
    list->curr = next;
    if (next->ptr == nullptr) return CM_RC_FAIL;
    *ptr = next->ptr;
    *size = static_cast<unsigned int>(next->size);
    return CM_RC_OK;
}

CM_RC ZPALIST_next(ZPALIST_handle_typ* list, void* ptr, unsigned int in_size, unsigned int* out_size) {
    if (list == nullptr || ptr == nullptr || out_size == nullptr) return CM_RC_FAIL;
    void* data = nullptr;
    unsigned int size = 0;
    CM_RC rc = ZPALIST_next_ptr(list, &data, &size);
    if (rc != CM_RC_OK) return rc;
    *out_size = size;
    if (size > in_size) return CM_RC_FAIL;
    if (size > 0) std::memcpy(ptr, data, size);
    return CM_RC_OK;
}

CM_RC ZPALIST_insert(ZPALIST_handle_typ* list, void* ptr, unsigned int size) {
    if (list == nullptr) return CM_RC_FAIL;
    return ZPA_list_insert_ptr(list, list->curr, ptr, size);
}

CM_RC ZPALIST_append(ZPALIST_handle_typ* list, void* ptr, unsigned int size) {
    if (list == nullptr) return CM_RC_FAIL;
    ZPALIST_entry_typ* last = list->first;
    while (last != nullptr && last->next != nullptr) last = last->next;
    /* The walk found the last element in the list itself: no second walk to look it up. */
    return link_copy(list, last, ptr, size) != nullptr ? CM_RC_OK : CM_RC_FAIL;
}

CM_RC ZPALIST_delete(ZPALIST_handle_typ* list) {
    if (list == nullptr) return CM_RC_FAIL;
    if (list->curr == nullptr) return CM_RC_END;
    return ZPA_list_delete_ptr(list, list->curr);
}

CM_RC ZPALIST_clear(ZPALIST_handle_typ* list) {
    if (list == nullptr) return CM_RC_FAIL;
    if (list->first == nullptr) {
        list->count = 0;
        list->curr = nullptr;
        return CM_RC_END;
    }
    const bool traced = tracing();
    ZPALIST_entry_typ* entry = list->first;
    while (entry != nullptr) {
        ZPALIST_entry_typ* next = entry->next;
        free_entry(entry, "ZPALIST_clear", traced);
        entry = next;
    }
    list->count = 0;
    list->first = nullptr;
    list->curr = nullptr;
    return CM_RC_OK;
}

int ZPALIST_count(ZPALIST_handle_typ* list) {
    if (list == nullptr) return 0;
    ZPALIST_handle_typ walker = *list;
    walker.curr = nullptr;
    void* data = nullptr;
    unsigned int size = 0;
    int reached = 0;
    while (ZPALIST_next_ptr(&walker, &data, &size) == CM_RC_OK) reached++;
    return reached;
}

}  // extern "C"
