// The library's file layer and file names: views mapped and unmapped whole, refused views past the
// end, files written through their ".tmp" companion, and names that must fit 256 bytes.
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "gc_data.h"

namespace {

class FileLayer : public ::testing::Test {
protected:
    std::string file(const std::string& name) { return data.path + "/" + name; }
    gctest::DataDir data;
};

bool mapped(const void* address) {
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    void* base = reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(address) & ~(page - 1));
    return msync(base, 1, MS_ASYNC) == 0 || errno != ENOMEM;
}

}  // namespace

TEST_F(FileLayer, ViewInsideTheFileIsMappedAndUnmappedWhole) {
    testbed::write_whole_file(file("big.nls"), std::string(4 * 4096 + 100, 'z'));
    uint32_t rc = 99;
    GCFile* f = GCOpenFile(1, file("big.nls").c_str(), GC_FILE_READ, 1, &rc);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(GCFileSize(f), 4u * 4096 + 100);
    const auto* view = static_cast<const char*>(GCLoadFile(f, 5000, 2 * 4096, &rc));
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(rc, GC_OK);
    EXPECT_EQ(view[0], 'z');
    EXPECT_EQ(view[2 * 4096 - 1], 'z');
    EXPECT_EQ(GCUnloadFile(view), GC_OK);
    EXPECT_FALSE(mapped(view));
    EXPECT_FALSE(mapped(view + 2 * 4096 - 1));
    EXPECT_EQ(GCUnloadFile(view), GC_ERR_UNMAP);

    EXPECT_EQ(GCLoadFile(f, 5000, 3 * 4096, &rc), nullptr);
    EXPECT_EQ(rc, GC_ERR_IO);
    EXPECT_EQ(GCLoadFile(f, 0, 0, &rc), nullptr);
    EXPECT_EQ(rc, GC_OK);
    EXPECT_EQ(GCCloseFile(f, 0), 0);
}

TEST_F(FileLayer, OpenRefusesDirectoriesAndMissingFilesAndReadsNothingFromAFileBeingWritten) {
    uint32_t rc = 0;
    EXPECT_EQ(GCOpenFile(1, data.path.c_str(), GC_FILE_READ, 1, &rc), nullptr);
    EXPECT_EQ(rc, GC_ERR_NOFILE);
    EXPECT_EQ(GCOpenFile(1, file("missing.nls").c_str(), GC_FILE_READ, 1, &rc), nullptr);
    EXPECT_EQ(rc, GC_ERR_NOFILE);
    GCFile* f = GCOpenFile(1, file("new.nls").c_str(), GC_FILE_CREATE, 1, &rc);
    ASSERT_NE(f, nullptr);
    char buffer[4];
    EXPECT_EQ(GCReadFile(f, buffer, 4, &rc), 0u);
    EXPECT_EQ(rc, GC_ERR_FILEMODE);
    EXPECT_EQ(GCLoadFile(f, 0, 4, &rc), nullptr);
    EXPECT_EQ(rc, GC_ERR_FILEMODE);
    EXPECT_EQ(GCCloseFile(f, 0), 0);
}

TEST_F(FileLayer, RewriteGoesThroughTheTmpFileAndTheCloseDecides) {
    testbed::write_whole_file(file("obj.nls"), "old");
    for (int discard : {1, 0}) {
        uint32_t rc = 0;
        GCFile* f = GCOpenFile(1, file("obj.nls").c_str(), GC_FILE_CREATE, 0, &rc);
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(write(f->fd, "new", 3), 3);
        EXPECT_EQ(testbed::read_whole_file(file("obj.nls")), "old");
        EXPECT_EQ(testbed::read_whole_file(file("obj.tmp")), "new");
        EXPECT_EQ(GCCloseFile(f, discard), 0);
        EXPECT_EQ(testbed::read_whole_file(file("obj.nls")), discard ? "old" : "new");
        EXPECT_FALSE(gctest::fs::exists(file("obj.tmp")));
    }
}

TEST(FileNames, ControlAndDataFileNamesMustFitTheirBuffer) {
    char buffer[256];
    const std::string fits(243, 'd');
    EXPECT_EQ(GCGetControlFileName(fits.c_str(), buffer, sizeof buffer), buffer);
    EXPECT_EQ(std::string(buffer), fits + "/control.nls");
    EXPECT_EQ(GCGetControlFileName((fits + "d").c_str(), buffer, sizeof buffer), nullptr);
    EXPECT_STREQ(GCGetDataFileName("/d", GC_OBJ_CODEPAGE, 106, buffer, sizeof buffer), "/d/cp_0106.nls");
    EXPECT_STREQ(GCGetDataFileName("/d", GC_OBJ_SORT, 12345, buffer, sizeof buffer), "/d/so_12345.nls");
    EXPECT_EQ(GCGetDataFileName(fits.c_str(), GC_OBJ_SORT, 12345, buffer, sizeof buffer), nullptr);
    EXPECT_EQ(GCGetDataFileName("/d", 4, 1, buffer, sizeof buffer), nullptr);
}

TEST(FileNames, EnvironmentValuesAreCopiedOnlyWhenTheyFit) {
    setenv("GC_LOCALEDIR", "/data/locale", 1);
    char buffer[16] = "unchanged";
    EXPECT_EQ(GCGetEnv("GC_LOCALEDIR", buffer, 12), 13u);
    EXPECT_STREQ(buffer, "unchanged");
    EXPECT_EQ(GCGetDataLocation(buffer, 12, 0), 0);
    EXPECT_EQ(GCGetDataLocation(buffer, 13, 0), 13);
    EXPECT_STREQ(buffer, "/data/locale");
    unsetenv("GC_LOCALEDIR");
    EXPECT_EQ(GCGetDataLocation(buffer, 16, 0), -1);
    EXPECT_EQ(GCGetDataLocation(buffer, 16, 1), 0);  // "/Temalorn/locale" needs 17
    char wide[17];
    EXPECT_EQ(GCGetDataLocation(wide, 17, 1), 17);
    EXPECT_STREQ(wide, "/Temalorn/locale");
}

TEST(FileNames, NamesCompareIgnoringCase) {
    EXPECT_EQ(GCmemicmp("Latin1", "LATIN1", 6), 0);
    EXPECT_LT(GCmemicmp("abc", "ABD", 3), 0);
    EXPECT_GT(GCmemicmp("b", "A", 1), 0);
}
