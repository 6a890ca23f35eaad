// Building a generic list in order at a constant cost a row (not exported). ZPALIST_append walks
// the whole list to find its end, so a loop of appends costs the square of its rows; every loader
// and builder (table and section loads, value lists, the XML list reader, the requests file,
// attribute conversions, and the row builders of later modules) appends through one Builder, which
// inserts after the last element it added. Nothing a caller sees changes: the elements, their
// order, the count and the list's cursor are those of the same appends through ZPALIST_append.
#pragma once

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

    // The element added last (or the list's last one before any was added); null for an empty list.
    // Elements appended by other calls since are not counted until the next append.
    ZPALIST_entry_typ* last() const { return last_; }

private:
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
