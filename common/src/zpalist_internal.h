// Building a generic list in order at a constant cost a row (not exported). ZPALIST_append walks
// the whole list to find its end, so a loop of appends costs the square of its rows; every loader
// and builder (table and section loads, value lists, the XML list reader, the requests file,
// attribute conversions, and the row builders of later modules) appends through one Builder, which
// inserts after the last element it added. Nothing a caller sees changes: the elements, their
// order, the count and the list's cursor are those of the same appends through ZPALIST_append.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string_view>

#include "zpalist.h"

namespace zpalist {

// The bytes of one element given in pieces, stored one after another.
using Pieces = std::initializer_list<std::string_view>;

class Builder {
public:
    // Finds the list's last element once. While the builder is in use nothing else may remove that
    // element or the ones the builder adds; elements that other calls append meanwhile are passed
    // over (each once) and the builder's next element goes after them.
    explicit Builder(ZPALIST_handle_typ* list);

    // Stores a copy of size bytes after the last element, as ZPALIST_append does. 1; 2 on a null
    // list or a failed allocation (the list unchanged).
    CM_RC append(const void* ptr, unsigned int size);
    // The same with the element's bytes given in pieces (a row's fields), copied straight into it.
    CM_RC append(Pieces pieces);
    // The same for an element of size bytes that `fill` writes in place (a row's fields made as
    // they are stored): fill(char* bytes) is called once, the list's zero byte stands behind them.
    template <class Fill>
    CM_RC append_filled(std::size_t size, Fill&& fill) {
        ZPALIST_entry_typ* entry = allocate(size);
        if (entry == nullptr) return CM_RC_FAIL;
        fill(static_cast<char*>(entry->ptr));
        link_last(entry);
        return CM_RC_OK;
    }

    // The element added last (or the list's last one before any was added); null for an empty list.
    // Elements appended by other calls since are not counted until the next append.
    ZPALIST_entry_typ* last() const { return last_; }

private:
    ZPALIST_entry_typ* find_last();
    // An element of size bytes for append_filled, not yet linked (null: no list, or no memory).
    ZPALIST_entry_typ* allocate(std::size_t size) const;
    void link_last(ZPALIST_entry_typ* entry);

    ZPALIST_handle_typ* list_;
    ZPALIST_entry_typ* last_ = nullptr;
};

// For a loop that keeps its own index of the elements (a duplicate-key rule kept with a side
// index): insert after an element it holds (null: at the head) and remove one, without the walk
// that ZPA_list_insert_ptr and ZPA_list_delete_ptr make to look the element up. The element must
// be in the list. insert_after returns the new element, or null on a failed allocation (the list
// unchanged); erase moves the list's cursor to the previous element when it stood on the removed one.
ZPALIST_entry_typ* insert_after(ZPALIST_handle_typ* list, ZPALIST_entry_typ* after, const void* ptr, unsigned int size);
void erase(ZPALIST_handle_typ* list, ZPALIST_entry_typ* entry);

}  // namespace zpalist
