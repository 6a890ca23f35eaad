// Semaphores and lock files: the empty named semaphore, System V semaphores used as a lock, and
// lock files with their time-out and stale-file rules.
#include "os_ipc.h"
#include "testbed.h"

#include <sys/stat.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <string>

#include <gtest/gtest.h>

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

void age_file(const char* path, int seconds) {
    const time_t when = time(nullptr) - seconds;
    struct timeval times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(utimes(path, times), 0);
}

class SemaphoreTest : public testbed::AgentHomeTest {};

TEST_F(SemaphoreTest, NamedSemaphoreSucceedsWithoutLocking) {
    OSSemObject sem = -12345;
    EXPECT_EQ(OS_IPC_sem_lock(777, 30000), CM_RC_OK);  // nothing created
    EXPECT_EQ(OS_IPC_sem_create(&sem, "AG_Mutex", 30), CM_RC_OK);
    EXPECT_EQ(sem, -12345);  // the identifier is not written
    EXPECT_EQ(OS_IPC_sem_lock(sem, 30000), CM_RC_OK);
    EXPECT_EQ(OS_IPC_sem_lock(sem, 30000), CM_RC_OK);
    EXPECT_EQ(OS_IPC_sem_unlock(sem), CM_RC_OK);
    EXPECT_EQ(OS_IPC_sem_delete(sem), CM_RC_OK);
    OS_CS_typ cs = 0;
    EXPECT_EQ(OS_IPC_init_cs(&cs), CM_RC_OK);
    EXPECT_EQ(OS_IPC_enter_cs(&cs, 0), CM_RC_OK);
    EXPECT_EQ(OS_IPC_leave_cs(&cs), CM_RC_OK);
    EXPECT_EQ(OS_IPC_delete_cs(&cs), CM_RC_OK);
}

TEST_F(SemaphoreTest, SystemVSemaphoreExcludesAndIsReadyForASecondOpener) {
    home.write_file("semkey", "");
    OSSemObject sem = -1;
    ASSERT_EQ(OS_IPC_sem_create2(&sem, "semkey", 0, 'p'), CM_RC_OK);
    // A second create finds the set and sees it initialised at once (no wait without a limit).
    OSSemObject again = -1;
    ASSERT_EQ(OS_IPC_sem_create2(&again, "semkey", 0, 'p'), CM_RC_OK);
    EXPECT_EQ(again, sem);

    EXPECT_EQ(OS_IPC_sem_lock2(sem, 0), CM_RC_OK);
    const auto start = Clock::now();
    EXPECT_EQ(OS_IPC_sem_lock2(sem, 0), CM_RC_FAIL);  // held: refused at once without waiting
    EXPECT_LT(seconds_since(start), 1.0);
    EXPECT_EQ(OS_IPC_sem_check_pending(sem), 0);
    EXPECT_EQ(OS_IPC_sem_unlock2(sem), CM_RC_OK);
    EXPECT_EQ(OS_IPC_sem_lock2(sem, 1), CM_RC_OK);
    EXPECT_EQ(OS_IPC_sem_unlock2(sem), CM_RC_OK);

    ASSERT_EQ(OS_IPC_sem_save_id("semkey", sem), CM_RC_OK);
    EXPECT_EQ(home.read_file("semkey"), std::to_string(sem));
    EXPECT_EQ(OS_IPC_sem_remove(sem, "semkey"), CM_RC_OK);
    EXPECT_FALSE(home.exists("semkey"));
    EXPECT_EQ(OS_IPC_sem_lock2(sem, 0), CM_RC_FAIL);
    EXPECT_EQ(OS_IPC_sem_create2(&sem, nullptr, 0, 'p'), CM_RC_FAIL);
    EXPECT_EQ(OS_IPC_sem_save_id("missing", 1), CM_RC_FAIL);
}

TEST_F(SemaphoreTest, SystemVLockIsReleasedWhenItsHolderDies) {
    home.write_file("semkey", "");
    OSSemObject sem = -1;
    ASSERT_EQ(OS_IPC_sem_create2(&sem, "semkey", 0, 'd'), CM_RC_OK);
    const pid_t child = fork();
    if (child == 0) _exit(OS_IPC_sem_lock2(sem, 0) == CM_RC_OK ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(OS_IPC_sem_lock2(sem, 0), CM_RC_OK);  // undone by the kernel at the child's exit
    EXPECT_EQ(OS_IPC_sem_delete2(sem), CM_RC_OK);
}

TEST_F(SemaphoreTest, MakeNameCreatesTheNameFileOfTheHomeOwner) {
    ASSERT_EQ(mkdir("locks", 0755), 0);
    char name[4097] = "";
    int owner = -1;
    ASSERT_EQ(OS_IPC_sem_make_name("AT", name, &owner), CM_RC_OK);
    EXPECT_EQ(owner, static_cast<int>(getuid()));
    EXPECT_EQ(std::string(name).rfind("./locks/sem_AT_", 0), 0u);
    struct stat st {};
    ASSERT_EQ(stat(name, &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
}

class LockFileTest : public testbed::AgentHomeTest {};

TEST_F(LockFileTest, LockTakesAFreeFileAndUnlockRemovesIt) {
    EXPECT_EQ(OS_IPC_lock("job.lock", 2), CM_RC_OK);
    EXPECT_TRUE(home.exists("job.lock"));
    EXPECT_EQ(OS_IPC_unlock("job.lock"), CM_RC_OK);
    EXPECT_EQ(OS_IPC_unlock("job.lock"), CM_RC_FAIL);
    EXPECT_EQ(OS_IPC_unlock(nullptr), CM_RC_FAIL);
    EXPECT_EQ(OS_IPC_lock(nullptr, 1), CM_RC_FAIL);
    EXPECT_EQ(OS_IPC_lock("no/such/dir/x.lock", 1), CM_RC_FAIL);
}

TEST_F(LockFileTest, HeldLockTimesOutAfterItsSeconds) {
    home.write_file("job.lock", "");
    const auto start = Clock::now();
    EXPECT_EQ(OS_IPC_lock("job.lock", 2), CM_RC_FAIL);
    const double took = seconds_since(start);
    EXPECT_GE(took, 1.9);
    EXPECT_LT(took, 3.5);
    EXPECT_TRUE(home.exists("job.lock"));
}

TEST_F(LockFileTest, StaleLockIsTakenOver) {
    home.write_file("job.lock", "");
    age_file("job.lock", 1200);
    EXPECT_EQ(OS_IPC_lock("job.lock", 0), CM_RC_OK);
    EXPECT_TRUE(home.exists("job.lock"));
    EXPECT_EQ(OS_IPC_old("job.lock"), 0);  // fresh again
    age_file("job.lock", 1199 + 60);
    EXPECT_EQ(OS_IPC_old("job.lock"), 1);
    EXPECT_FALSE(home.exists("job.lock"));
}

TEST_F(LockFileTest, TrylockSucceedsOnlyWhenItCreatesTheFile) {
    EXPECT_EQ(OS_IPC_trylock("try.lock"), CM_RC_OK);
    EXPECT_EQ(OS_IPC_trylock("try.lock"), CM_RC_FAIL);
    EXPECT_TRUE(home.exists("try.lock"));
}

}  // namespace
