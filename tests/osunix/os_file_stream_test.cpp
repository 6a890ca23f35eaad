// Buffered streams of the file layer: the writing modes' bits and lock, line and block reads.
#include "os_file.h"

#include <sys/stat.h>

#include <chrono>
#include <string>
#include <thread>

#include "file_probe.h"
#include "testbed.h"

using file_probe::bits_of;
using testbed::AgentHomeTest;

TEST_F(AgentHomeTest, WritingStreamsWidenBitsLockAndStartEmpty) {
    struct Case {
        OS_FILE_MODE_typ mode;
        mode_t bits_before;
        mode_t bits_after;
        const char* after_write;
    } cases[] = {
        {OS_FILE_WRITE, 0600, 0644, "new"},
        {OS_FILE_WRITE_BINARY, 0711, 0755, "new"},
        {OS_FILE_APPEND, 0400, 0644, "oldnew"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.mode));
        home.write_file("data/T.dat", "old");
        chmod("data/T.dat", c.bits_before);
        FILE* stream = nullptr;
        ASSERT_EQ(OS_FILE_fopen("data/T.dat", &stream, c.mode), CM_RC_OK);
        EXPECT_EQ(bits_of("data/T.dat"), c.bits_after);
        EXPECT_EQ(file_probe::lock_seen_from_outside("data/T.dat"), F_WRLCK);
        OS_FILE_fprintf(stream, "%s", "new");  // unbuffered: on disk at once
        EXPECT_EQ(home.read_file("data/T.dat"), c.after_write);
        EXPECT_EQ(OS_FILE_fclose(stream), CM_RC_OK);
    }
    FILE* stream = nullptr;
    ASSERT_EQ(OS_FILE_fopen("data/NEW.dat", &stream, OS_FILE_WRITE), CM_RC_OK);
    OS_FILE_fclose(stream);
    EXPECT_EQ(bits_of("data/NEW.dat"), 0644u);
}

TEST_F(AgentHomeTest, WritingStreamEmptiesTheFileOnlyOnceItHoldsTheLock) {
    home.write_file("data/T.dat", "table being written");
    file_probe::LockHolder holder("data/T.dat");
    ASSERT_TRUE(holder.locked());
    FILE* stream = nullptr;
    std::thread writer([&] { OS_FILE_fopen("data/T.dat", &stream, OS_FILE_WRITE); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(home.read_file("data/T.dat"), "table being written");
    holder.release();
    writer.join();
    ASSERT_NE(stream, nullptr);
    EXPECT_EQ(home.read_file("data/T.dat"), "");
    OS_FILE_fclose(stream);
}

TEST_F(AgentHomeTest, ReadingStreamTakesNoLockAndMissingFileFails) {
    home.write_file("data/T.dat", "x");
    FILE* stream = nullptr;
    ASSERT_EQ(OS_FILE_fopen("data/T.dat", &stream, OS_FILE_READ), CM_RC_OK);
    EXPECT_EQ(file_probe::lock_seen_from_outside("data/T.dat"), F_UNLCK);
    OS_FILE_fclose(stream);
    EXPECT_EQ(OS_FILE_fopen("data/NONE.dat", &stream, OS_FILE_READ), CM_RC_FAIL);
    EXPECT_EQ(OS_FILE_fclose(nullptr), CM_RC_FAIL);
}

TEST_F(AgentHomeTest, FputsAddsANewlineAndCutsAtItsBuffer) {
    FILE* stream = nullptr;
    ASSERT_EQ(OS_FILE_fopen("temp/out", &stream, OS_FILE_WRITE), CM_RC_OK);
    EXPECT_EQ(OS_FILE_fputs(stream, "%-5s %d", "key", 7), CM_RC_OK);
    EXPECT_EQ(OS_FILE_fputs(stream, "%s", std::string(6000, 'v').c_str()), CM_RC_OK);
    OS_FILE_fclose(stream);
    EXPECT_EQ(home.read_file("temp/out"), "key   7\n" + std::string(4999, 'v') + "\n");
}

TEST_F(AgentHomeTest, FgetsKeepsTheNewlineAndEmptiesTheBufferAtEnd) {
    home.write_file("temp/in", "one\ntwo");
    FILE* stream = nullptr;
    ASSERT_EQ(OS_FILE_fopen("temp/in", &stream, OS_FILE_READ), CM_RC_OK);
    char line[64];
    EXPECT_EQ(OS_FILE_fgets(line, sizeof line, stream), CM_RC_OK);
    EXPECT_STREQ(line, "one\n");
    EXPECT_EQ(OS_FILE_fgets(line, sizeof line, stream), CM_RC_OK);
    EXPECT_STREQ(line, "two");
    EXPECT_EQ(OS_FILE_fgets(line, sizeof line, stream), CM_RC_FAIL);
    EXPECT_STREQ(line, "");
    EXPECT_NE(OS_FILE_feof(stream), 0);
    OS_FILE_fclose(stream);
}

TEST_F(AgentHomeTest, FreadReportsFullBlocksThenEndOfFile) {
    home.write_file("temp/in", "abcdefgh");
    FILE* stream = nullptr;
    ASSERT_EQ(OS_FILE_fopen("temp/in", &stream, OS_FILE_READ_BINARY), CM_RC_OK);
    char buf[8];
    int length = -1;
    EXPECT_EQ(OS_FILE_fread(buf, 5, &length, stream), CM_RC_OK);
    EXPECT_EQ(length, 5);
    EXPECT_EQ(OS_FILE_fread(buf, 5, &length, stream), CM_RC_EOF);
    EXPECT_EQ(length, 3);
    EXPECT_EQ(std::string(buf, 3), "fgh");
    OS_FILE_fclose(stream);

    ASSERT_EQ(OS_FILE_fopen("temp/out", &stream, OS_FILE_WRITE_BINARY), CM_RC_OK);
    EXPECT_EQ(OS_FILE_fwrite("a\0b", 3, stream), CM_RC_OK);
    OS_FILE_fclose(stream);
    EXPECT_EQ(home.read_file("temp/out"), std::string("a\0b", 3));
}
