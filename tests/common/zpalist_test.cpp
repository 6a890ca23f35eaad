// The generic list: cursor rules of the walk, insert and delete, private copies, and refusals.
#include "zpalist.h"

#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "joined.h"

namespace {

struct List {
    ZPALIST_handle_typ h{};
    List() { ZPALIST_init(&h); }
    ~List() { ZPALIST_clear(&h); }
    void add(const std::string& s) { ASSERT_EQ(ZPALIST_append(&h, const_cast<char*>(s.data()), s.size()), CM_RC_OK); }
    // Moves the cursor once; returns the element's text or "<rc>" for another result.
    std::string step() {
        void* p = nullptr;
        unsigned int size = 0;
        CM_RC rc = ZPALIST_next_ptr(&h, &p, &size);
        if (rc != CM_RC_OK) return testbed::joined("<", static_cast<int>(rc), ">");
        return std::string(static_cast<char*>(p), size);
    }
    // Every element from the head, through a copy of the handle.
    std::vector<std::string> items() const {
        std::vector<std::string> out;
        for (auto* e = h.first; e; e = e->next) out.emplace_back(static_cast<char*>(e->ptr), e->size);
        return out;
    }
};

using Items = std::vector<std::string>;

}  // namespace

TEST(Zpalist, WalkStopsOnTheLastElementAndAnInsertThenAppends) {
    List l;
    EXPECT_EQ(l.step(), "<6>");
    l.add("one");
    EXPECT_EQ(l.step(), "one");
    EXPECT_EQ(l.step(), "<6>");
    EXPECT_EQ(l.h.curr, l.h.first);
    ASSERT_EQ(ZPALIST_insert(&l.h, const_cast<char*>("two"), 3), CM_RC_OK);
    EXPECT_EQ(l.items(), (Items{"one", "two"}));
    EXPECT_EQ(l.h.count, 2);
}

TEST(Zpalist, ElementIsATerminatedPrivateCopyReadInPlace) {
    List l;
    char source[] = "ABCDEFG";
    ASSERT_EQ(ZPALIST_append(&l.h, source, 5), CM_RC_OK);
    source[0] = 'x';
    void* p = nullptr;
    unsigned int size = 0;
    ASSERT_EQ(ZPALIST_next_ptr(&l.h, &p, &size), CM_RC_OK);
    EXPECT_EQ(size, 5u);
    EXPECT_STREQ(static_cast<char*>(p), "ABCDE");
    static_cast<char*>(p)[0] = 'Z';  // writes through the pointer change the element
    EXPECT_EQ(l.items(), (Items{"ZBCDE"}));
}

TEST(Zpalist, NextCopiesOnlyAnElementThatFitsAndMovesEitherWay) {
    List l;
    l.add("ABCDE");
    l.add("xy");
    char buf[8];
    std::memset(buf, '#', sizeof buf);
    unsigned int out = 0;
    EXPECT_EQ(ZPALIST_next(&l.h, buf, 4, &out), CM_RC_FAIL);
    EXPECT_EQ(out, 5u);
    EXPECT_EQ(buf[0], '#');
    EXPECT_EQ(ZPALIST_next(&l.h, buf, sizeof buf, &out), CM_RC_OK);
    EXPECT_EQ(out, 2u);
    EXPECT_EQ(std::string(buf, 3), "xy#");  // the copy is not terminated
    EXPECT_EQ(ZPALIST_next(&l.h, buf, sizeof buf, &out), CM_RC_END);
}

TEST(Zpalist, InsertPlacesTheCopyAfterTheCursor) {
    struct Case {
        int steps;  // ZPALIST_next_ptr calls before the insert; 0 = cursor before the first element
        Items want;
    };
    const Case cases[] = {
        {0, {"new", "a", "b", "c"}},
        {1, {"a", "new", "b", "c"}},
        {3, {"a", "b", "c", "new"}},
        {5, {"a", "b", "c", "new"}},
    };
    for (const auto& c : cases) {
        List l;
        for (const char* s : {"a", "b", "c"}) l.add(s);
        for (int i = 0; i < c.steps; ++i) l.step();
        void* before = l.h.curr;
        ASSERT_EQ(ZPALIST_insert(&l.h, const_cast<char*>("new"), 3), CM_RC_OK);
        EXPECT_EQ(l.items(), c.want) << "steps " << c.steps;
        EXPECT_EQ(l.h.curr, before) << "the cursor does not move";
        EXPECT_EQ(l.h.count, 4);
    }
    List empty;
    ASSERT_EQ(ZPALIST_insert(&empty.h, const_cast<char*>("only"), 4), CM_RC_OK);
    EXPECT_EQ(empty.items(), (Items{"only"}));
}

TEST(Zpalist, DeleteRemovesTheCursorElementAndStepsBack) {
    List l;
    for (const char* s : {"a", "b", "c"}) l.add(s);
    EXPECT_EQ(ZPALIST_delete(&l.h), CM_RC_END) << "cursor before the first element";
    EXPECT_EQ(l.h.count, 3);

    EXPECT_EQ(l.step(), "a");
    EXPECT_EQ(ZPALIST_delete(&l.h), CM_RC_OK);
    EXPECT_EQ(l.h.curr, nullptr);
    EXPECT_EQ(l.step(), "b") << "the next step returns the new first element";

    EXPECT_EQ(l.step(), "c");
    EXPECT_EQ(ZPALIST_delete(&l.h), CM_RC_OK);
    EXPECT_EQ(l.h.curr, l.h.first);
    EXPECT_EQ(l.step(), "<6>");
    EXPECT_EQ(l.items(), (Items{"b"}));
    EXPECT_EQ(l.h.count, 1);
    EXPECT_EQ(l.h.first->prev, nullptr);
    EXPECT_EQ(l.h.first->next, nullptr);
}

TEST(Zpalist, ClearEmptiesTheListAndReportsOneAlreadyEmpty) {
    List l;
    EXPECT_EQ(ZPALIST_clear(&l.h), CM_RC_END);
    l.add("a");
    l.add("b");
    l.step();
    EXPECT_EQ(ZPALIST_clear(&l.h), CM_RC_OK);
    EXPECT_EQ(l.h.first, nullptr);
    EXPECT_EQ(l.h.curr, nullptr);
    EXPECT_EQ(ZPALIST_count(&l.h), 0);
    EXPECT_EQ(ZPALIST_clear(&l.h), CM_RC_END);
    l.add("again");  // still usable
    EXPECT_EQ(l.items(), (Items{"again"}));
}

TEST(Zpalist, CountWalksTheElementsWithoutMovingTheCursor) {
    List l;
    for (const char* s : {"a", "b", "c"}) l.add(s);
    l.step();
    auto* cursor = l.h.curr;
    EXPECT_EQ(ZPALIST_count(&l.h), 3);
    EXPECT_EQ(l.h.curr, cursor);
    EXPECT_EQ(l.step(), "b");
}

TEST(Zpalist, EmptyElementReadsBackAsEmptyTerminatedText) {
    List l;
    ASSERT_EQ(ZPALIST_append(&l.h, nullptr, 0), CM_RC_OK);
    void* p = nullptr;
    unsigned int size = 99;
    ASSERT_EQ(ZPALIST_next_ptr(&l.h, &p, &size), CM_RC_OK);
    EXPECT_EQ(size, 0u);
    EXPECT_STREQ(static_cast<char*>(p), "");
}

TEST(Zpalist, RefusesNullListsAndUnsafeElements) {
    void* p = nullptr;
    unsigned int size = 0;
    char buf[4];
    EXPECT_EQ(ZPALIST_init(nullptr), CM_RC_FAIL);
    EXPECT_EQ(ZPALIST_reset(nullptr), CM_RC_FAIL);
    EXPECT_EQ(ZPALIST_next_ptr(nullptr, &p, &size), CM_RC_FAIL);
    EXPECT_EQ(ZPALIST_next(nullptr, buf, sizeof buf, &size), CM_RC_FAIL);
    EXPECT_EQ(ZPALIST_insert(nullptr, buf, 1), CM_RC_FAIL);
    EXPECT_EQ(ZPALIST_append(nullptr, buf, 1), CM_RC_FAIL);
    EXPECT_EQ(ZPALIST_delete(nullptr), CM_RC_FAIL);
    EXPECT_EQ(ZPALIST_clear(nullptr), CM_RC_FAIL);
    EXPECT_EQ(ZPALIST_count(nullptr), 0);

    List l;
    l.add("a");
    // No data behind a non-zero size, and sizes that the element's int size cannot hold (the
    // copy of UINT_MAX bytes plus its zero byte would wrap to an empty allocation).
    EXPECT_EQ(ZPALIST_append(&l.h, nullptr, 3), CM_RC_FAIL);
    EXPECT_EQ(ZPALIST_append(&l.h, buf, UINT_MAX), CM_RC_FAIL);
    EXPECT_EQ(ZPALIST_insert(&l.h, buf, static_cast<unsigned int>(INT_MAX) + 1u), CM_RC_FAIL);
    EXPECT_EQ(l.items(), (Items{"a"}));
    EXPECT_EQ(l.h.count, 1);
}

TEST(Zpalist, CursorLeftOnAnElementFreedThroughAnotherHandleIsNeitherFreedNorLinked) {
    List l;
    for (const char* s : {"a", "b"}) l.add(s);
    l.step();
    l.step();  // owner's cursor on "b"
    ZPALIST_entry_typ* freed = l.h.curr;
    ZPALIST_handle_typ walker = l.h;               // second cursor over the same elements
    ASSERT_EQ(ZPALIST_delete(&walker), CM_RC_OK);  // frees "b" through the copy
    // The owner's cursor still names the freed element; it is compared, never followed.
    ASSERT_EQ(l.h.curr, freed);
    EXPECT_EQ(ZPALIST_delete(&l.h), CM_RC_END);
    EXPECT_EQ(ZPALIST_insert(&l.h, const_cast<char*>("x"), 1), CM_RC_FAIL);
    l.h.curr = nullptr;
    EXPECT_EQ(l.items(), (Items{"a"}));
}
