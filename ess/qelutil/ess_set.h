/* Hash set of the security library: elements copied in and owned by the set, found through their
 * label's hash and the caller's compare callback, walked bucket by bucket with one cursor. */
#ifndef ESS_SET_H
#define ESS_SET_H

#include "cmpltfrm.h"

CM_EXTERN_C_BEGIN

/* 0 when the two elements are equal. */
typedef int (*ESS_SET_CmpFunc)(const void* a, const void* b);
/* An owned copy of the element to store; NULL when memory runs out. */
typedef void* (*ESS_SET_CpyFunc)(const void* elem);
/* A new text naming the element (malloc); the set frees it. */
typedef char* (*ESS_SET_LblFunc)(const void* elem);
/* Frees a stored element. */
typedef void (*ESS_SET_FreFunc)(void* elem);

struct set_node;

struct set_rec {
    int N_HASH;                /* bucket count */
    struct set_node** hashtab; /* bucket heads */
    struct set_node* curr;     /* cursor of the walk */
    int n_elem;
    int sizeof_elem;
    ESS_SET_CmpFunc elem_cmp;
    ESS_SET_CpyFunc elem_cpy;
    ESS_SET_LblFunc elem_lbl;
    ESS_SET_FreFunc elem_fre;
};
typedef struct set_rec* Ess_Set;

Ess_Set ESS_SET_Create(ESS_SET_CmpFunc cmp, ESS_SET_CpyFunc cpy, ESS_SET_LblFunc lbl, ESS_SET_FreFunc fre, int nBuckets,
                       int sizeofElem);
/* Frees every element, the buckets and the set; clears *set. */
void ESS_SET_Destroy(Ess_Set* set);
void ESS_SET_ClearContents(Ess_Set set);
/* 0 when added or already present (not added again); the cursor moves to a new node. -1 on failure. */
int ESS_SET_Add(Ess_Set set, const void* elem);
/* 0 when removed, -1 when absent. */
int ESS_SET_Remove(Ess_Set set, const void* elem);
/* 1 when present, else 0. */
int ESS_SET_IsIn(Ess_Set set, const void* elem);
/* The stored element equal to elem, or NULL. */
void* ESS_SET_Find_Ptr(Ess_Set set, const void* elem);
/* Removes oldElem (when present) and adds newElem; the result of the addition. */
int ESS_SET_Update(Ess_Set set, const void* oldElem, const void* newElem);
int ESS_SET_IsEmpty(Ess_Set set);
int ESS_SET_GetNumberOfElements(Ess_Set set);
/* Walk: buckets in index order, each chain from its head; NULL at the end. */
void* ESS_SET_First_Ptr(Ess_Set set);
void* ESS_SET_Next_Ptr(Ess_Set set);
/* The same walk, copying sizeof_elem bytes into buf; -6 at the end. */
int ESS_SET_First(Ess_Set set, void* buf);
int ESS_SET_Next(Ess_Set set, void* buf);
/* New sets (callbacks and element size of a, the larger bucket count of the two). */
Ess_Set ESS_SET_Intersection(Ess_Set a, Ess_Set b);
Ess_Set ESS_SET_Union(Ess_Set a, Ess_Set b);
/* Prints each bucket's labels and count on standard output. */
void ESS_SET_Print(Ess_Set set);

CM_EXTERN_C_END

#endif
