/* The agent library's one container: a doubly linked list of private byte copies walked with a
 * single cursor. The list owns its elements and their copies; callers read elements in place. */
#ifndef ZPALIST_H
#define ZPALIST_H

#include "cmpltfrm.h"

CM_EXTERN_C_BEGIN

/* One element: the list's own copy of the caller's bytes, with a zero byte behind them. */
typedef struct zpa_entry {
    void* ptr;              /* size + 1 bytes: the caller's bytes and at least one zero byte */
    int size;               /* number of bytes the caller gave */
    struct zpa_entry* prev; /* null at the head */
    struct zpa_entry* next; /* null at the tail */
} ZPALIST_entry_typ;

/* The list. A zero-filled handle is an empty list. Copying the handle gives a second cursor over
 * the same elements. */
typedef struct {
    int count;                /* number of elements */
    ZPALIST_entry_typ* first; /* first element or null */
    ZPALIST_entry_typ* curr;  /* element last visited; null = before the first element */
} ZPALIST_handle_typ;

/* All return CM_RC: 1 success, 2 failure, 6 end of the list / nothing to delete / already empty. */
CM_RC ZPALIST_init(ZPALIST_handle_typ* list);
CM_RC ZPALIST_reset(ZPALIST_handle_typ* list);
CM_RC ZPALIST_next_ptr(ZPALIST_handle_typ* list, void** ptr, unsigned int* size);
CM_RC ZPALIST_next(ZPALIST_handle_typ* list, void* ptr, unsigned int in_size, unsigned int* out_size);
CM_RC ZPALIST_insert(ZPALIST_handle_typ* list, void* ptr, unsigned int size);
CM_RC ZPALIST_append(ZPALIST_handle_typ* list, void* ptr, unsigned int size);
CM_RC ZPALIST_delete(ZPALIST_handle_typ* list);
CM_RC ZPALIST_clear(ZPALIST_handle_typ* list);
int ZPALIST_count(ZPALIST_handle_typ* list);

/* Building blocks of the operations above: insert a copy after an element (null: at the head),
 * and unlink and free an element, which is looked up from the first element (6 when absent). */
CM_RC ZPA_list_insert_ptr(ZPALIST_handle_typ* list, ZPALIST_entry_typ* after, void* ptr, unsigned int size);
CM_RC ZPA_list_delete_ptr(ZPALIST_handle_typ* list, ZPALIST_entry_typ* entry);

CM_EXTERN_C_END

#endif
