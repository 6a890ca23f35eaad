/* Doubly linked list with one cursor; the list record exists only while it has nodes. Owns its
 * nodes, and their data when the first insertion copied. */
#include "ess_list.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

enum class Where { Tail, Head, BeforeCursor };

/* A list keeps copies or the caller's pointers, fixed by its first insertion; mixing the two would
 * free a pointer the list does not own, or leak a copy, so the other kind is refused. */
int insert(ESS_LIST_typ** list, const void* data, int size, bool copy, Where where) {
    if (!list) return -1;
    if (*list && (*list)->ownsData != (copy ? 1 : 0)) return -1;
    auto* node = new (std::nothrow) ESS_LIST_node{};
    if (!node) return ESS_LIST_NO_MEMORY;
    if (copy) {
        if (data && size > 0) {
            node->data = std::malloc(static_cast<size_t>(size));
            if (!node->data) {
                delete node;
                return ESS_LIST_NO_MEMORY;
            }
            std::memcpy(node->data, data, static_cast<size_t>(size));
            node->size = size;
        }
    } else {
        node->data = const_cast<void*>(data);
        node->size = ESS_LIST_PTR_SIZE;
    }
    if (!*list) {
        auto* rec = new (std::nothrow) ESS_LIST_typ{};
        if (!rec) {
            if (copy) std::free(node->data);
            delete node;
            return ESS_LIST_NO_MEMORY;
        }
        rec->ownsData = copy ? 1 : 0;
        *list = rec;
    }
    ESS_LIST_typ* l = *list;
    ESS_LIST_node* before = nullptr;  // node the new one goes in front of; nullptr: at the tail
    if (where == Where::Head)
        before = l->head;
    else if (where == Where::BeforeCursor)
        before = l->current ? l->current : l->head;
    if (before) {
        node->next = before;
        node->prev = before->prev;
        if (before->prev)
            before->prev->next = node;
        else
            l->head = node;
        before->prev = node;
    } else {
        node->prev = l->tail;
        if (l->tail)
            l->tail->next = node;
        else
            l->head = node;
        l->tail = node;
    }
    ++l->count;
    return 0;
}

int give(ESS_LIST_node* node, void** ptr, int* size) {
    if (!node->data) return -1;
    if (ptr) *ptr = node->data;
    if (size) *size = node->size;
    return 0;
}

int copy_into(ESS_LIST_node* node, void* buf, int* size) {
    if (!node->data) return -1;
    if (!buf || !size) return -1;
    int n = node->size < 0 ? 0 : node->size;  // a node kept by pointer has no known length
    if (n > *size) n = *size;
    if (n > 0) std::memcpy(buf, node->data, static_cast<size_t>(n));
    *size = n;
    return 0;
}

ESS_LIST_node* next_node(ESS_LIST_typ* list) { return list->current ? list->current->next : list->head; }

}  // namespace

extern "C" {

int ESS_LIST_reset(ESS_LIST_typ* list) {
    if (!list) return -1;
    list->current = nullptr;
    return 0;
}

int ESS_LIST_curr_ptr(ESS_LIST_typ* list, void** ptr, int* size) {
    if (!list || !list->head) return ESS_LIST_END;
    return give(list->current ? list->current : list->head, ptr, size);
}

int ESS_LIST_next_ptr(ESS_LIST_typ* list, void** ptr, int* size) {
    if (!list) return ESS_LIST_END;
    ESS_LIST_node* n = next_node(list);
    if (!n) return ESS_LIST_END;
    list->current = n;
    return give(n, ptr, size);
}

int ESS_LIST_curr(ESS_LIST_typ* list, void* buf, int* size) {
    if (!list || !list->head) return ESS_LIST_END;
    return copy_into(list->current ? list->current : list->head, buf, size);
}

int ESS_LIST_next(ESS_LIST_typ* list, void* buf, int* size) {
    if (!list) return ESS_LIST_END;
    ESS_LIST_node* n = next_node(list);
    if (!n) return ESS_LIST_END;
    list->current = n;
    return copy_into(n, buf, size);
}

int ESS_LIST_delete_curr(ESS_LIST_typ** list) {
    if (!list || !*list || !(*list)->current) return -1;
    ESS_LIST_typ* l = *list;
    ESS_LIST_node* n = l->current;
    if (n->prev)
        n->prev->next = n->next;
    else
        l->head = n->next;
    if (n->next)
        n->next->prev = n->prev;
    else
        l->tail = n->prev;
    l->current = n->prev;
    if (l->ownsData) std::free(n->data);
    delete n;
    if (--l->count == 0) {
        delete l;
        *list = nullptr;
    }
    return 0;
}

int ESS_LIST_clear(ESS_LIST_typ** list) {
    if (!list) return -1;
    if (!*list) return 0;
    ESS_LIST_node* n = (*list)->head;
    while (n) {
        ESS_LIST_node* next = n->next;
        if ((*list)->ownsData) std::free(n->data);
        delete n;
        n = next;
    }
    delete *list;
    *list = nullptr;
    return 0;
}

int ESS_LIST_count(ESS_LIST_typ* list) { return list ? list->count : 0; }

int ESS_LIST_add_tail(ESS_LIST_typ** list, const void* data, int size) {
    return insert(list, data, size, true, Where::Tail);
}
int ESS_LIST_add_ptr_tail(ESS_LIST_typ** list, void* data) { return insert(list, data, 0, false, Where::Tail); }
int ESS_LIST_add_head(ESS_LIST_typ** list, const void* data, int size) {
    return insert(list, data, size, true, Where::Head);
}
int ESS_LIST_add_ptr_head(ESS_LIST_typ** list, void* data) { return insert(list, data, 0, false, Where::Head); }
int ESS_LIST_insert(ESS_LIST_typ** list, const void* data, int size) {
    return insert(list, data, size, true, Where::BeforeCursor);
}
int ESS_LIST_insert_ptr(ESS_LIST_typ** list, void* data) { return insert(list, data, 0, false, Where::BeforeCursor); }

}  // extern "C"
