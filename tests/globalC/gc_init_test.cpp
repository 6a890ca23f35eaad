// Start and end of the globalization library: nesting, the strict and fallback starts, the order
// in which data directories are tried, the memory callbacks, and threads starting at once.
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "gc_data.h"

namespace {

const char* kNowhere = "/nonexistent/appbridge-locale";

class LibraryStart : public ::testing::Test {
protected:
    void SetUp() override {
        gc::set_default_data_dir(kNowhere);
        unsetenv("GC_LOCALEDIR");
    }
    void TearDown() override {
        while (gc::state().count) GCTerm();
        gc::set_default_data_dir(nullptr);
        unsetenv("GC_LOCALEDIR");
    }
    static GCObjManager* manager() { return gc::state().ocx; }
    gctest::DataDir data;
};

struct Counting {
    int allocs = 0;
    int frees = 0;
};
void* counting_alloc(void* ctx, size_t size) {
    ++static_cast<Counting*>(ctx)->allocs;
    return std::malloc(size);
}
int counting_free(void* ctx, void* block) {
    ++static_cast<Counting*>(ctx)->frees;
    std::free(block);
    return 1;
}

}  // namespace

TEST_F(LibraryStart, StrictStartWithoutDataFailsAndLeavesNothingSet) {
    EXPECT_EQ(GCInit(kNowhere, nullptr, nullptr, nullptr, GC_INIT_STRICT), GC_ERR_DATA);
    EXPECT_EQ(gc::state().count, 0);
    EXPECT_EQ(gc::state().ocx, nullptr);
    EXPECT_EQ(gc::state().latch, nullptr);
    EXPECT_EQ(gc::state().fcx, 0);
}

TEST_F(LibraryStart, StartWithoutDataFallsBackToTheThreeBuiltInObjects) {
    ASSERT_EQ(GCInit(kNowhere, nullptr, nullptr, nullptr, 0), GC_WARN_FALLBACK);
    GCObjManager* m = manager();
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->count, 3);
    EXPECT_STREQ(m->dir, "");
    const char* names[3] = {"English", "UnitedStates", "US-ASCII"};
    for (uint16_t type = GC_OBJ_LANGUAGE; type <= GC_OBJ_CODEPAGE; ++type) {
        uint32_t rc = 99;
        GCObjEntry* e = GCGetObjFromID(m, type, 1, 0, &rc);
        ASSERT_NE(e, nullptr) << type;
        EXPECT_EQ(rc, GC_OK);
        EXPECT_STREQ(e->name, names[type]);
        EXPECT_TRUE(e->flags & GC_OBJ_BUILTIN);
        EXPECT_NE(e->sect[0], nullptr);
    }
    uint32_t rc = 0;
    EXPECT_EQ(GCGetObjFromID(m, GC_OBJ_SORT, 1, 0, &rc), nullptr);
    EXPECT_EQ(rc, GC_ERR_NOTFOUND);
}

TEST_F(LibraryStart, NestedStartsOnlyCountAndTheLastEndReleases) {
    ASSERT_EQ(GCInit(data.path.c_str(), nullptr, nullptr, nullptr, GC_INIT_STRICT), GC_OK);
    GCObjManager* first = manager();
    Counting counts;
    EXPECT_EQ(GCInit(kNowhere, counting_alloc, counting_free, &counts, 0), GC_OK);
    EXPECT_EQ(manager(), first);
    EXPECT_EQ(gc::state().count, 2);
    EXPECT_EQ(GCTerm(), GC_OK);
    EXPECT_EQ(manager(), first);
    EXPECT_EQ(GCTerm(), GC_OK);
    EXPECT_EQ(manager(), nullptr);
    EXPECT_EQ(gc::state().latch, nullptr);
    EXPECT_EQ(counts.allocs, 0);
}

TEST_F(LibraryStart, EndWithoutStartChangesNothingAndAStartAfterItIsReal) {
    EXPECT_EQ(GCTerm(), GC_OK);
    EXPECT_EQ(gc::state().count, 0);
    ASSERT_EQ(GCInit(data.path.c_str(), nullptr, nullptr, nullptr, GC_INIT_STRICT), GC_OK);
    ASSERT_NE(manager(), nullptr);
    EXPECT_EQ(manager()->dir, data.path);
    uint32_t rc = 0;
    EXPECT_NE(GCGetObjFromID(manager(), GC_OBJ_CODEPAGE, 2, 0, &rc), nullptr);
}

TEST_F(LibraryStart, EveryBlockGoesThroughTheCallbacksWithTheirContext) {
    Counting counts;
    ASSERT_EQ(GCInit(data.path.c_str(), counting_alloc, counting_free, &counts, GC_INIT_STRICT), GC_OK);
    uint32_t rc = 0;
    for (uint16_t type = GC_OBJ_LANGUAGE; type <= GC_OBJ_CODEPAGE; ++type)
        ASSERT_NE(GCGetObjFromID(manager(), type, 1, 0, &rc), nullptr);
    EXPECT_EQ(GCTerm(), GC_OK);
    EXPECT_GT(counts.allocs, 0);
    EXPECT_EQ(counts.allocs, counts.frees);
}

TEST_F(LibraryStart, Utf16DirectoryIsUsedAsUtf8) {
    // "loc-é-😀" : a two-byte character and a surrogate pair.
    const std::string utf8_dir = data.path + "/loc-\xC3\xA9-\xF0\x9F\x98\x80";
    gctest::fs::create_directory(utf8_dir);
    for (const auto& entry : gctest::fs::directory_iterator(data.path))
        if (entry.is_regular_file())
            gctest::fs::copy_file(entry.path(), utf8_dir + "/" + entry.path().filename().string());
    std::vector<GCUchar> dir(data.path.begin(), data.path.end());
    for (GCUchar u : {u'/', u'l', u'o', u'c', u'-', u'\u00E9', u'-', static_cast<char16_t>(0xD83D),
                      static_cast<char16_t>(0xDE00), u'\0'})
        dir.push_back(u);
    ASSERT_EQ(GCInitU(dir.data(), nullptr, nullptr, nullptr, GC_INIT_STRICT), GC_OK);
    EXPECT_EQ(manager()->dir, utf8_dir);
}

TEST_F(LibraryStart, DirectoryWithoutControlFileFallsToGcLocaledirThenToTheDefault) {
    setenv("GC_LOCALEDIR", data.path.c_str(), 1);
    ASSERT_EQ(GCInit(kNowhere, nullptr, nullptr, nullptr, GC_INIT_STRICT), GC_OK);
    EXPECT_EQ(manager()->dir, data.path);
    GCTerm();

    setenv("GC_LOCALEDIR", "/nonexistent/other", 1);
    gc::set_default_data_dir(data.path.c_str());
    ASSERT_EQ(GCInit(kNowhere, nullptr, nullptr, nullptr, GC_INIT_STRICT), GC_OK);
    EXPECT_EQ(manager()->dir, data.path);
    GCTerm();

    unsetenv("GC_LOCALEDIR");
    ASSERT_EQ(GCInit(nullptr, nullptr, nullptr, nullptr, GC_INIT_STRICT), GC_OK);
    EXPECT_EQ(manager()->dir, data.path);
}

TEST_F(LibraryStart, OverlongGcLocaledirFailsWithoutTryingTheDefault) {
    gc::set_default_data_dir(data.path.c_str());
    setenv("GC_LOCALEDIR", std::string(300, 'a').c_str(), 1);
    uint32_t rc = 0;
    EXPECT_EQ(GCInitObjManager(nullptr, GC_INIT_STRICT, &rc), nullptr);
    EXPECT_EQ(rc, GC_ERR_IO);
    EXPECT_EQ(GCInit(nullptr, nullptr, nullptr, nullptr, GC_INIT_STRICT), GC_ERR_DATA);
    ASSERT_EQ(GCInit(nullptr, nullptr, nullptr, nullptr, 0), GC_WARN_FALLBACK);
    EXPECT_STREQ(manager()->dir, "");
}

TEST_F(LibraryStart, ThreadsStartLookUpAndEndTogether) {
    std::vector<std::thread> threads;
    std::vector<const GCObjEntry*> seen(8);
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&, t] {
            for (int round = 0; round < 20; ++round) {
                if (GCInit(data.path.c_str(), nullptr, nullptr, nullptr, GC_INIT_STRICT) != GC_OK) return;
                uint32_t rc = 0;
                const GCObjEntry* e = GCGetObjFromName(gc::state().ocx, GC_OBJ_CODEPAGE, "Latin1", 6, 0, &rc);
                if (e && e->sect[0] && rc == GC_OK) seen[t] = e;
                GCTerm();
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(gc::state().count, 0);
    for (const GCObjEntry* e : seen) EXPECT_NE(e, nullptr);
}
