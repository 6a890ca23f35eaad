/* Hash set of the security library: buckets of doubly linked nodes, each element an owned copy made
 * by the set's copy callback and placed by the hash of its label. Owns its nodes and elements. */
#include "ess_set.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>

#include "ess_paramlist.h"

struct set_node {
    void* elem;
    set_node* next;
    set_node* prev;
    int bucket;  // bucket of the chain, so that a walk can go on without a new label
};

namespace {

int bucket_of(Ess_Set set, const void* elem) {
    char* label = set->elem_lbl(elem);
    if (!label) return -1;
    std::uint32_t h = 0;
    for (const char* p = label; *p; ++p) h = h * 31u + static_cast<std::uint32_t>(static_cast<signed char>(*p));
    std::free(label);
    return static_cast<int>(h % static_cast<std::uint32_t>(set->N_HASH));
}

set_node* find_node(Ess_Set set, const void* elem, int* bucket) {
    int b = bucket_of(set, elem);
    if (bucket) *bucket = b;
    if (b < 0) return nullptr;
    for (set_node* n = set->hashtab[b]; n; n = n->next)
        if (set->elem_cmp(n->elem, elem) == 0) return n;
    return nullptr;
}

void unlink_node(Ess_Set set, set_node* n) {
    if (n->prev)
        n->prev->next = n->next;
    else
        set->hashtab[n->bucket] = n->next;
    if (n->next) n->next->prev = n->prev;
    /* A walk standing on the node goes on from its predecessor, or ends. */
    if (set->curr == n) set->curr = n->prev;
    set->elem_fre(n->elem);
    delete n;
    --set->n_elem;
}

set_node* first_from(Ess_Set set, int bucket) {
    for (int b = bucket; b < set->N_HASH; ++b)
        if (set->hashtab[b]) return set->hashtab[b];
    return nullptr;
}

void* walk_result(Ess_Set set, set_node* n) {
    set->curr = n;
    return n ? n->elem : nullptr;
}

bool valid(Ess_Set set) { return set && set->hashtab; }

}  // namespace

extern "C" {

Ess_Set ESS_SET_Create(ESS_SET_CmpFunc cmp, ESS_SET_CpyFunc cpy, ESS_SET_LblFunc lbl, ESS_SET_FreFunc fre, int nBuckets,
                       int sizeofElem) {
    if (!cmp || !cpy || !lbl || !fre || nBuckets < 1 || sizeofElem < 0) return nullptr;
    auto* set = static_cast<set_rec*>(std::calloc(1, sizeof(set_rec)));
    if (!set) return nullptr;
    set->hashtab = static_cast<set_node**>(std::calloc(static_cast<size_t>(nBuckets), sizeof(set_node*)));
    if (!set->hashtab) {
        std::free(set);
        return nullptr;
    }
    set->N_HASH = nBuckets;
    set->sizeof_elem = sizeofElem;
    set->elem_cmp = cmp;
    set->elem_cpy = cpy;
    set->elem_lbl = lbl;
    set->elem_fre = fre;
    return set;
}

void ESS_SET_ClearContents(Ess_Set set) {
    if (!valid(set)) return;
    for (int b = 0; b < set->N_HASH; ++b) {
        set_node* n = set->hashtab[b];
        while (n) {
            set_node* next = n->next;
            set->elem_fre(n->elem);
            delete n;
            n = next;
        }
        set->hashtab[b] = nullptr;
    }
    set->n_elem = 0;
    set->curr = nullptr;
}

void ESS_SET_Destroy(Ess_Set* set) {
    if (!set || !*set) return;
    ESS_SET_ClearContents(*set);
    std::free((*set)->hashtab);
    std::free(*set);
    *set = nullptr;
}

int ESS_SET_Add(Ess_Set set, const void* elem) {
    if (!valid(set) || !elem) return -1;
    int b = -1;
    if (find_node(set, elem, &b)) return 0;
    if (b < 0) return -1;
    void* copy = set->elem_cpy(elem);
    if (!copy) return -1;
    auto* n = new (std::nothrow) set_node{copy, set->hashtab[b], nullptr, b};
    if (!n) {
        set->elem_fre(copy);
        return -1;
    }
    if (n->next) n->next->prev = n;
    set->hashtab[b] = n;
    ++set->n_elem;
    set->curr = n;
    return 0;
}

int ESS_SET_Remove(Ess_Set set, const void* elem) {
    if (!valid(set) || !elem) return -1;
    set_node* n = find_node(set, elem, nullptr);
    if (!n) return -1;
    unlink_node(set, n);
    return 0;
}

int ESS_SET_IsIn(Ess_Set set, const void* elem) { return valid(set) && elem && find_node(set, elem, nullptr) ? 1 : 0; }

void* ESS_SET_Find_Ptr(Ess_Set set, const void* elem) {
    if (!valid(set) || !elem) return nullptr;
    set_node* n = find_node(set, elem, nullptr);
    return n ? n->elem : nullptr;
}

int ESS_SET_Update(Ess_Set set, const void* oldElem, const void* newElem) {
    if (!valid(set)) return -1;
    if (oldElem) ESS_SET_Remove(set, oldElem);
    return ESS_SET_Add(set, newElem);
}

int ESS_SET_IsEmpty(Ess_Set set) { return !set || set->n_elem == 0 ? 1 : 0; }

int ESS_SET_GetNumberOfElements(Ess_Set set) { return set ? set->n_elem : 0; }

void* ESS_SET_First_Ptr(Ess_Set set) {
    if (!valid(set)) return nullptr;
    return walk_result(set, first_from(set, 0));
}

void* ESS_SET_Next_Ptr(Ess_Set set) {
    if (!valid(set) || !set->curr) return nullptr;
    set_node* n = set->curr->next ? set->curr->next : first_from(set, set->curr->bucket + 1);
    if (!n) return nullptr;  // the cursor stays on the last node
    return walk_result(set, n);
}

int ESS_SET_First(Ess_Set set, void* buf) {
    void* e = ESS_SET_First_Ptr(set);
    if (!e || !buf) return ESS_END_OF_WALK;
    std::memcpy(buf, e, static_cast<size_t>(set->sizeof_elem));
    return 0;
}

int ESS_SET_Next(Ess_Set set, void* buf) {
    void* e = ESS_SET_Next_Ptr(set);
    if (!e || !buf) return ESS_END_OF_WALK;
    std::memcpy(buf, e, static_cast<size_t>(set->sizeof_elem));
    return 0;
}

Ess_Set ESS_SET_Intersection(Ess_Set a, Ess_Set b) {
    if (!valid(a) || !valid(b)) return nullptr;
    Ess_Set out = ESS_SET_Create(a->elem_cmp, a->elem_cpy, a->elem_lbl, a->elem_fre,
                                 a->N_HASH > b->N_HASH ? a->N_HASH : b->N_HASH, a->sizeof_elem);
    if (!out) return nullptr;
    for (int i = 0; i < a->N_HASH; ++i)
        for (set_node* n = a->hashtab[i]; n; n = n->next)
            if (ESS_SET_IsIn(b, n->elem) && ESS_SET_Add(out, n->elem) != 0) {
                ESS_SET_Destroy(&out);
                return nullptr;
            }
    out->curr = nullptr;
    return out;
}

Ess_Set ESS_SET_Union(Ess_Set a, Ess_Set b) {
    if (!valid(a) || !valid(b)) return nullptr;
    Ess_Set out = ESS_SET_Create(a->elem_cmp, a->elem_cpy, a->elem_lbl, a->elem_fre,
                                 a->N_HASH > b->N_HASH ? a->N_HASH : b->N_HASH, a->sizeof_elem);
    if (!out) return nullptr;
    for (Ess_Set src : {a, b})
        for (int i = 0; i < src->N_HASH; ++i)
            for (set_node* n = src->hashtab[i]; n; n = n->next)
                if (ESS_SET_Add(out, n->elem) != 0) {
                    ESS_SET_Destroy(&out);
                    return nullptr;
                }
    out->curr = nullptr;
    return out;
}

void ESS_SET_Print(Ess_Set set) {
    if (!valid(set)) return;
    for (int b = 0; b < set->N_HASH; ++b) {
        std::printf("hash[%i]: ", b);
        int total = 0;
        for (set_node* n = set->hashtab[b]; n; n = n->next, ++total) {
            char* label = set->elem_lbl(n->elem);
            if (label)
                std::printf(" %s", label);
            else
                std::printf("ILLEGAL ");
            std::free(label);
        }
        std::printf(" << TOTAL %d >>\n", total);
    }
    std::printf("\n");
    std::fflush(stdout);
}

}  // extern "C"
