/* Doubly linked list of the security library with one cursor. An empty list is a NULL pointer:
 * the functions that add or delete take the pointer's address. The first insertion fixes whether
 * the list copies its data or keeps the caller's pointers. */
#ifndef ESS_LIST_H
#define ESS_LIST_H

#include "cmpltfrm.h"

CM_EXTERN_C_BEGIN

#define ESS_LIST_END (-61) /* walk past the last node, or an empty list */
#define ESS_LIST_NO_MEMORY (-44)
#define ESS_LIST_PTR_SIZE (-7) /* size recorded for a node kept by pointer */

typedef struct ESS_LIST_node {
    void* data;
    int size;
    struct ESS_LIST_node* next;
    struct ESS_LIST_node* prev;
} ESS_LIST_node;

typedef struct ESS_LIST_typ {
    ESS_LIST_node* head;
    ESS_LIST_node* current; /* NULL: before the first node */
    ESS_LIST_node* tail;
    int count;
    int ownsData;
} ESS_LIST_typ;

int ESS_LIST_reset(ESS_LIST_typ* list);
int ESS_LIST_curr_ptr(ESS_LIST_typ* list, void** ptr, int* size);
int ESS_LIST_next_ptr(ESS_LIST_typ* list, void** ptr, int* size);
/* Copy the node's data into buf; *size holds buf's room on entry and the count copied on return. */
int ESS_LIST_curr(ESS_LIST_typ* list, void* buf, int* size);
int ESS_LIST_next(ESS_LIST_typ* list, void* buf, int* size);
int ESS_LIST_delete_curr(ESS_LIST_typ** list);
int ESS_LIST_clear(ESS_LIST_typ** list);
int ESS_LIST_count(ESS_LIST_typ* list);

int ESS_LIST_add_tail(ESS_LIST_typ** list, const void* data, int size);
int ESS_LIST_add_ptr_tail(ESS_LIST_typ** list, void* data);
int ESS_LIST_add_head(ESS_LIST_typ** list, const void* data, int size);
int ESS_LIST_add_ptr_head(ESS_LIST_typ** list, void* data);
int ESS_LIST_insert(ESS_LIST_typ** list, const void* data, int size);
int ESS_LIST_insert_ptr(ESS_LIST_typ** list, void* data);

CM_EXTERN_C_END

#endif
