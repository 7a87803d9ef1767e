// The time limit on blocking calls: it cuts a blocked call short in the thread
// that armed it, at its time, and never fires once its scope has ended.
#include "interrupt_timer.h"

#include <errno.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace tgx::portio {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A pipe nobody writes to: reading it blocks.
class SilentPipe {
 public:
  SilentPipe() { EXPECT_EQ(0, pipe(fds_)); }
  ~SilentPipe() {
    close(fds_[0]);
    close(fds_[1]);
  }
  int reader() const { return fds_[0]; }

 private:
  int fds_[2] = {-1, -1};
};

InterruptTimer& ThisThreadsTimer() {
  DWORD error = ERROR_SUCCESS;
  InterruptTimer* timer = InterruptTimer::ForThisThread(&error);
  EXPECT_NE(nullptr, timer) << error;
  return *timer;
}

TEST(InterruptTimer, CutsABlockedCallShortAtItsTime) {
  SilentPipe pipe;
  const InterruptTimer::Scope limit(ThisThreadsTimer(), 150);
  EXPECT_FALSE(limit.Expired());
  const auto start = Clock::now();
  char byte;
  EXPECT_EQ(-1, read(pipe.reader(), &byte, 1));
  EXPECT_EQ(EINTR, errno);
  EXPECT_GE(Clock::now() - start, milliseconds(140));
  EXPECT_TRUE(limit.Expired());
}

TEST(InterruptTimer, NeverFiresAfterItsScope) {
  InterruptTimer& timer = ThisThreadsTimer();
  { const InterruptTimer::Scope limit(timer, 50); }
  // A handled signal would end the sleep early with EINTR.
  timespec wait{0, 300 * 1000 * 1000};
  EXPECT_EQ(0, nanosleep(&wait, &wait));
  EXPECT_EQ(&timer, &ThisThreadsTimer()) << "one timer per thread, made once";
}

TEST(InterruptTimer, CutsACallThatStartsAfterTheTimeIsUp) {
  SilentPipe pipe;
  const InterruptTimer::Scope limit(ThisThreadsTimer(), 30);
  // Busy without system calls past the limit: the signal that comes meanwhile
  // interrupts nothing, and the watch keeps sending until the scope ends.
  const auto start = Clock::now();
  while (!limit.Expired() && Clock::now() - start < std::chrono::seconds(5)) {
  }
  ASSERT_TRUE(limit.Expired());
  char byte;
  EXPECT_EQ(-1, read(pipe.reader(), &byte, 1));
  EXPECT_EQ(EINTR, errno);
}

TEST(InterruptTimer, AFiredScopeLeavesNoSignalBehind) {
  InterruptTimer& timer = ThisThreadsTimer();
  SilentPipe pipe;
  for (int round = 0; round < 20; ++round) {
    const InterruptTimer::Scope limit(timer, 1);
    char byte;
    EXPECT_EQ(-1, read(pipe.reader(), &byte, 1));
    EXPECT_TRUE(limit.Expired());
  }
  timespec wait{0, 200 * 1000 * 1000};
  EXPECT_EQ(0, nanosleep(&wait, &wait));
}

TEST(InterruptTimer, WorksInAChildOfFork) {
  InterruptTimer& timer = ThisThreadsTimer();
  SilentPipe pipe;
  {
    // A read cut by the watch thread: it is past its start-up, whose locks (the
    // sanitizer runtime's among them) a fork must not catch held.
    const InterruptTimer::Scope warm(timer, 10);
    char byte;
    ASSERT_EQ(-1, read(pipe.reader(), &byte, 1));
    ASSERT_EQ(EINTR, errno);
  }
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The watch thread did not come along; the timer must still cut the read.
    int status = 1;
    {
      const InterruptTimer::Scope limit(timer, 50);
      char byte;
      if (read(pipe.reader(), &byte, 1) == -1 && errno == EINTR && limit.Expired()) status = 0;
    }
    std::exit(status);  // through the library's own clean-up
  }
  int status = -1;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(0, WEXITSTATUS(status));
}

TEST(InterruptTimer, InfiniteMeansNoLimit) {
  const InterruptTimer::Scope limit(ThisThreadsTimer(), INFINITE);
  timespec wait{0, 100 * 1000 * 1000};
  EXPECT_EQ(0, nanosleep(&wait, &wait));
  EXPECT_FALSE(limit.Expired());
}

TEST(InterruptTimer, InterruptsOnlyTheThreadThatArmedIt) {
  SilentPipe pipe;
  InterruptTimer* mine = &ThisThreadsTimer();
  int otherErrno = 0;
  bool otherExpired = false;
  std::thread other([&] {
    DWORD error = ERROR_SUCCESS;
    InterruptTimer* timer = InterruptTimer::ForThisThread(&error);
    ASSERT_NE(nullptr, timer);
    EXPECT_NE(mine, timer);
    const InterruptTimer::Scope limit(*timer, 100);
    char byte;
    if (read(pipe.reader(), &byte, 1) < 0) otherErrno = errno;
    otherExpired = limit.Expired();
  });
  // Meanwhile this thread sleeps through the other one's time-out.
  timespec wait{0, 400 * 1000 * 1000};
  EXPECT_EQ(0, nanosleep(&wait, &wait));
  other.join();
  EXPECT_EQ(EINTR, otherErrno);
  EXPECT_TRUE(otherExpired);
}

}  // namespace
}  // namespace tgx::portio
