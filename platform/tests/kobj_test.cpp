// Named mutexes, events and file mappings, shared between real processes: the
// helper program platform_helper_kobj runs the other side of each case.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "testsupport.h"
#include "tgx/kobj.h"

extern char** environ;

namespace tgx {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kReplyTimeoutMs = 20000;  // a helper that has not answered by then is broken
constexpr int kQuietMs = 300;           // how long a helper that must not answer is watched

// A running platform_helper_kobj, talked to through pipes; killed when dropped.
class Helper {
 public:
  enum class Session { kSame, kNew };

  explicit Helper(Session session = Session::kSame) {
    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) std::abort();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (session == Session::kNew) posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
    const std::string program = (test::BinDir() / "platform_helper_kobj").string();
    char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
    const int spawned = posix_spawn(&pid_, program.c_str(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(toChild[0]);
    close(fromChild[1]);
    in_ = toChild[1];
    out_ = fromChild[0];
    if (spawned != 0) pid_ = -1;
  }
  Helper(const Helper&) = delete;
  Helper& operator=(const Helper&) = delete;
  ~Helper() {
    Kill();
    close(in_);
    close(out_);
  }

  bool running() const { return pid_ > 0; }

  void Send(const std::string& command) {
    const std::string line = command + "\n";
    ASSERT_EQ(write(in_, line.data(), line.size()), static_cast<ssize_t>(line.size()));
  }

  // The next reply line, or none within `timeoutMs`.
  std::optional<std::string> Reply(int timeoutMs = kReplyTimeoutMs) {
    const auto deadline = Clock::now() + milliseconds(timeoutMs);
    while (true) {
      if (const std::size_t end = buffer_.find('\n'); end != std::string::npos) {
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        return line;
      }
      const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
      pollfd readable{out_, POLLIN, 0};
      if (left <= 0 || poll(&readable, 1, static_cast<int>(left)) <= 0) return std::nullopt;
      char chunk[256];
      const ssize_t got = read(out_, chunk, sizeof chunk);
      if (got <= 0) return std::nullopt;
      buffer_.append(chunk, static_cast<std::size_t>(got));
    }
  }

  std::string Call(const std::string& command) {
    Send(command);
    return Reply().value_or("no reply");
  }

  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  std::string buffer_;
};

// A helper's answer: a handle number, wait result or BOOL, and the last error.
std::string Reply(long long value, DWORD error) {
  return std::to_string(value) + " " + std::to_string(error);
}

fs::path RuntimeDir() { return std::getenv("TGX_RUNTIME_DIR"); }
fs::path SessionDir() {
  return RuntimeDir() / ("session-" + std::to_string(geteuid()) + "-" + std::to_string(getsid(0)));
}

// The three kinds, for the cases that hold for every one of them.
struct Kind {
  const char* name;
  Handle (*create)(const char* name);
  Handle (*open)(const char* name);
  const char* helperCreate;  // the helper's command creating one named "%s"
};
const Kind kKinds[] = {
    {"mutex", [](const char* n) { return CreateMutexA(nullptr, FALSE, n); },
     [](const char* n) { return OpenMutexA(MUTEX_ALL_ACCESS, FALSE, n); }, "create-mutex %s 0"},
    {"event", [](const char* n) { return CreateEventA(nullptr, TRUE, FALSE, n); },
     [](const char* n) { return OpenEventA(EVENT_ALL_ACCESS, FALSE, n); }, "create-event %s 1 0"},
    {"mapping", [](const char* n) { return CreateFileMappingA(nullptr, PAGE_READWRITE, 64, n); },
     [](const char* n) { return OpenFileMappingA(FILE_MAP_WRITE, FALSE, n); },
     "create-mapping %s 64"},
};

std::string Format(const char* pattern, const std::string& name) {
  char text[256];
  std::snprintf(text, sizeof text, pattern, name.c_str());
  return text;
}

TEST(KernelObjects, ObjectExistsExactlyWhileHeld) {
  for (const Kind& kind : kKinds) {
    SCOPED_TRACE(kind.name);
    const std::string name = std::string("Global\\life-") + kind.name;

    SetLastError(ERROR_GEN_FAILURE);
    EXPECT_FALSE(kind.open(name.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    Helper holder;
    ASSERT_EQ(holder.Call(Format(kind.helperCreate, name)), Reply(0, ERROR_SUCCESS));
    Handle mine = kind.create(name.c_str());
    ASSERT_TRUE(mine);
    EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);

    // Still there while the helper holds it alone.
    mine.reset();
    mine = kind.open(name.c_str());
    EXPECT_TRUE(mine);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    mine.reset();

    // Gone with its last holder's close...
    ASSERT_EQ(holder.Call("close 0"), Reply(TRUE, ERROR_SUCCESS));
    EXPECT_FALSE(kind.open(name.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    // ...and with its last holder's death.
    ASSERT_EQ(holder.Call(Format(kind.helperCreate, name)), Reply(1, ERROR_SUCCESS));
    holder.Kill();
    EXPECT_FALSE(kind.open(name.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    mine = kind.create(name.c_str());
    EXPECT_TRUE(mine);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  }
}

TEST(KernelObjects, ForkedChildSharesTheHold) {
  Handle event = CreateEventA(nullptr, TRUE, FALSE, "forked");
  ASSERT_TRUE(event);
  int release[2];
  ASSERT_EQ(pipe(release), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {  // holds the parent's descriptions until told to end
    char byte;
    _exit(read(release[0], &byte, 1) == 1 ? 0 : 1);
  }
  close(release[0]);
  event.reset();
  event = OpenEventA(EVENT_ALL_ACCESS, FALSE, "forked");
  EXPECT_TRUE(event);
  event.reset();
  EXPECT_EQ(write(release[1], "x", 1), 1);
  close(release[1]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_FALSE(OpenEventA(EVENT_ALL_ACCESS, FALSE, "forked"));
  EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(KernelObjects, OneNameOneKind) {
  Handle mutex = CreateMutexA(nullptr, FALSE, "shared-name");
  ASSERT_TRUE(mutex);
  EXPECT_FALSE(CreateEventA(nullptr, FALSE, FALSE, "shared-name"));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(OpenFileMappingA(FILE_MAP_WRITE, FALSE, "shared-name"));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(SetEvent(mutex));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  EXPECT_FALSE(MapViewOfFile(mutex, FILE_MAP_WRITE));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  // Once the mutex is gone the name is free for another kind.
  mutex.reset();
  EXPECT_TRUE(CreateEventA(nullptr, FALSE, FALSE, "shared-name"));
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
}

TEST(KernelObjects, MutexExcludesOtherProcesses) {
  Handle mutex = CreateMutexA(nullptr, FALSE, "Global\\count-lock");
  Handle mapping = CreateFileMappingA(nullptr, PAGE_READWRITE, 8, "Global\\count");
  ASSERT_TRUE(mutex && mapping);
  constexpr int kTimes = 3000;
  Helper first, second;
  for (Helper* helper : {&first, &second}) {
    ASSERT_EQ(helper->Call("open-mutex Global\\count-lock"), Reply(0, ERROR_SUCCESS));
    ASSERT_EQ(helper->Call("open-mapping Global\\count"), Reply(1, ERROR_SUCCESS));
  }
  first.Send("count 0 1 " + std::to_string(kTimes));
  second.Send("count 0 1 " + std::to_string(kTimes));
  EXPECT_EQ(first.Reply(), "1 0");
  EXPECT_EQ(second.Reply(), "1 0");
  MappedView view = MapViewOfFile(mapping, FILE_MAP_READ);
  EXPECT_EQ(*view.as<std::uint64_t>(), 2u * kTimes);
}

TEST(KernelObjects, KilledOwnerAbandonsMutexToNextWaiter) {
  Helper owner, waiter;
  ASSERT_EQ(owner.Call("create-mutex Global\\abandon 1"), Reply(0, ERROR_SUCCESS));
  ASSERT_EQ(owner.Call("wait 0 -1"), Reply(WAIT_OBJECT_0, ERROR_SUCCESS));  // owned twice
  ASSERT_EQ(waiter.Call("open-mutex Global\\abandon"), Reply(0, ERROR_SUCCESS));
  Handle mutex = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, "Global\\abandon");
  ASSERT_TRUE(mutex);

  waiter.Send("wait 0 20000");
  EXPECT_FALSE(waiter.Reply(kQuietMs));
  owner.Kill();
  EXPECT_EQ(waiter.Reply(), Reply(WAIT_ABANDONED, ERROR_SUCCESS));

  // The waiter owns it now, once; after its release it is an ordinary mutex.
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_TIMEOUT);
  ASSERT_EQ(waiter.Call("release 0"), Reply(TRUE, ERROR_SUCCESS));
  EXPECT_EQ(WaitForSingleObject(mutex, 10000), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_EQ(waiter.Call("wait 0 0"), Reply(WAIT_OBJECT_0, ERROR_SUCCESS));
  EXPECT_EQ(waiter.Call("release 0"), Reply(TRUE, ERROR_SUCCESS));
}

TEST(KernelObjects, EndedOwnerThreadAbandonsMutex) {
  Handle mutex = CreateMutexA(nullptr, FALSE, "thread-owned");
  ASSERT_TRUE(mutex);
  std::thread([&] { EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0); }).join();
  EXPECT_EQ(WaitForSingleObject(mutex, 10000), WAIT_ABANDONED);
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(mutex));
}

TEST(KernelObjects, MutexIsRecursiveForItsOwnerOnly) {
  Handle mutex = CreateMutexA(nullptr, TRUE, "recursive");
  ASSERT_TRUE(mutex);
  EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);

  // Neither another thread nor another process can take or release it.
  std::thread([&] {
    EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_TIMEOUT);
    EXPECT_FALSE(ReleaseMutex(mutex));
    EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
  }).join();
  Helper other;
  ASSERT_EQ(other.Call("open-mutex recursive"), Reply(0, ERROR_SUCCESS));
  EXPECT_EQ(other.Call("wait 0 0"), Reply(WAIT_TIMEOUT, ERROR_SUCCESS));
  EXPECT_EQ(other.Call("release 0"), Reply(FALSE, ERROR_NOT_OWNER));

  for (int i = 0; i < 3; ++i) EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_FALSE(ReleaseMutex(mutex));
  EXPECT_EQ(GetLastError(), ERROR_NOT_OWNER);
  EXPECT_EQ(other.Call("wait 0 10000"), Reply(WAIT_OBJECT_0, ERROR_SUCCESS));
}

TEST(KernelObjects, ClosingAnOwnedMutexLeavesTheOthersUsable) {
  Handle first = CreateMutexA(nullptr, TRUE, "owned-first");
  Handle second = CreateMutexA(nullptr, TRUE, "owned-second");
  ASSERT_TRUE(first && second);
  first.reset();  // still owned by this thread: the mutex memory must stay valid
  EXPECT_FALSE(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, "owned-first"));
  EXPECT_TRUE(ReleaseMutex(second));
  Handle third = CreateMutexA(nullptr, TRUE, "owned-third");
  EXPECT_TRUE(ReleaseMutex(third));
  std::thread([] {
    Handle mutex = CreateMutexA(nullptr, TRUE, "owned-by-ended-thread");
    mutex.reset();
  }).join();
}

TEST(KernelObjects, InitialOwnershipOnlyForTheCreator) {
  Helper creator;
  ASSERT_EQ(creator.Call("create-mutex Global\\initial 0"), Reply(0, ERROR_SUCCESS));
  Handle mutex = CreateMutexA(nullptr, TRUE, "Global\\initial");
  ASSERT_TRUE(mutex);
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_FALSE(ReleaseMutex(mutex));
  EXPECT_EQ(creator.Call("wait 0 0"), Reply(WAIT_OBJECT_0, ERROR_SUCCESS));
}

// Reads, within `timeoutMs`, the replies that arrive from any of `helpers`;
// gives how many did.
int RepliesWithin(std::vector<Helper*> helpers, int timeoutMs, const std::string& expected) {
  int replies = 0;
  for (Helper* helper : helpers) {
    if (auto reply = helper->Reply(timeoutMs)) {
      EXPECT_EQ(*reply, expected);
      ++replies;
    }
  }
  return replies;
}

TEST(KernelObjects, AutoResetEventWakesOneWaiterPerSignal) {
  Handle event = CreateEventA(nullptr, FALSE, FALSE, "Global\\auto");
  ASSERT_TRUE(event);
  Helper waiters[3];
  for (Helper& waiter : waiters) {
    ASSERT_EQ(waiter.Call("open-event Global\\auto"), Reply(0, ERROR_SUCCESS));
    waiter.Send("wait 0 20000");
  }
  std::vector<Helper*> pending = {&waiters[0], &waiters[1], &waiters[2]};
  Sleep(100);  // most likely all asleep by now; the outcome must not depend on it
  for (int signal = 0; signal < 3; ++signal) {
    ASSERT_TRUE(SetEvent(event));
    // Exactly one waiter answers each signal.
    const auto start = Clock::now();
    Helper* woken = nullptr;
    while (!woken && Clock::now() - start < milliseconds(kReplyTimeoutMs)) {
      for (Helper* waiter : pending) {
        if (auto reply = waiter->Reply(10)) {
          EXPECT_EQ(*reply, Reply(WAIT_OBJECT_0, ERROR_SUCCESS));
          woken = waiter;
          break;
        }
      }
    }
    ASSERT_TRUE(woken);
    std::erase(pending, woken);
    EXPECT_EQ(RepliesWithin(pending, kQuietMs / 3, ""), 0);
  }
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);  // every signal was taken
}

// Leaves behind the entry of a waiter killed while asleep on the named event.
void KillWaiterAsleepOn(const std::string& name) {
  Helper killed;
  ASSERT_EQ(killed.Call("open-event " + name), Reply(0, ERROR_SUCCESS));
  killed.Send("wait 0 20000");
  EXPECT_FALSE(killed.Reply(kQuietMs));  // asleep
  killed.Kill();
}

TEST(KernelObjects, AutoResetEventSignalIsNotLostToAWaiterKilledAsleep) {
  Handle event = CreateEventA(nullptr, FALSE, FALSE, "Global\\orphan");
  ASSERT_TRUE(event);
  KillWaiterAsleepOn("Global\\orphan");
  // The dead waiter's entry is still there: the signal must stay with the event.
  ASSERT_TRUE(SetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  // And the entry is free again for a live waiter, who gets the next signal.
  Helper next;
  ASSERT_EQ(next.Call("open-event Global\\orphan"), Reply(0, ERROR_SUCCESS));
  next.Send("wait 0 20000");
  EXPECT_FALSE(next.Reply(kQuietMs));
  ASSERT_TRUE(SetEvent(event));
  EXPECT_EQ(next.Reply(), Reply(WAIT_OBJECT_0, ERROR_SUCCESS));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
}

TEST(KernelObjects, AutoResetEventReleasesAWaiterPerSetEventInQuickSuccession) {
  Handle event = CreateEventA(nullptr, FALSE, FALSE, "Global\\burst");
  ASSERT_TRUE(event);
  KillWaiterAsleepOn("Global\\burst");  // no longer counted as waiting
  Helper waiters[2];
  for (Helper& waiter : waiters) {
    ASSERT_EQ(waiter.Call("open-event Global\\burst"), Reply(0, ERROR_SUCCESS));
    waiter.Send("wait 0 20000");
  }
  Sleep(500);  // both asleep by now: two SetEvents before either wakes release both
  ASSERT_TRUE(SetEvent(event));
  ASSERT_TRUE(SetEvent(event));
  std::vector<Helper*> both = {&waiters[0], &waiters[1]};
  EXPECT_EQ(RepliesWithin(both, kReplyTimeoutMs, Reply(WAIT_OBJECT_0, ERROR_SUCCESS)), 2);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);  // no signal left over

  // One waiter: the first SetEvent releases it, the others leave one signal.
  waiters[0].Send("wait 0 20000");
  Sleep(500);
  for (int signal = 0; signal < 3; ++signal) ASSERT_TRUE(SetEvent(event));
  EXPECT_EQ(waiters[0].Reply(), Reply(WAIT_OBJECT_0, ERROR_SUCCESS));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);

  // ResetEvent takes back the event's own signal, not a waiter's release.
  waiters[1].Send("wait 0 20000");
  Sleep(500);
  ASSERT_TRUE(SetEvent(event));
  ASSERT_TRUE(SetEvent(event));
  ASSERT_TRUE(ResetEvent(event));
  EXPECT_EQ(waiters[1].Reply(), Reply(WAIT_OBJECT_0, ERROR_SUCCESS));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
}

// A SetEvent that lands while a waiter is still on its way to sleep (the
// hand-off a worker and its client make for every request) must not be lost.
TEST(KernelObjects, AutoResetEventSignalRacingAWaiterGoingToSleepIsKept) {
  Handle event = CreateEventA(nullptr, FALSE, FALSE, "Global\\race");
  ASSERT_TRUE(event);
  constexpr int kRounds = 200000;
  std::atomic<int> waiting{0};
  int lost = 0;
  std::thread setter([&] {
    for (int round = 1; round <= kRounds; ++round) {
      while (waiting.load() < round) {
      }
      // Land at every point of the waiter's path from its look at the event to
      // its sleep.
      for (int delay = round % 1999; delay > 0; --delay) waiting.load();
      SetEvent(event);
    }
  });
  for (int round = 1; round <= kRounds && lost == 0; ++round) {
    waiting.store(round);
    if (WaitForSingleObject(event, 2000) != WAIT_OBJECT_0) ++lost;
  }
  if (lost != 0) waiting.store(kRounds);  // let the setter finish
  setter.join();
  EXPECT_EQ(lost, 0);
}

TEST(KernelObjects, SpinThenWaitTakesEachSignalOnceAndTimesOut) {
  Handle event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  ASSERT_TRUE(event);
  ASSERT_TRUE(SetEvent(event));
  EXPECT_EQ(SpinThenWait(event, 1000), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);  // taken by the spin, once
  EXPECT_EQ(SpinThenWait(event, 0), WAIT_TIMEOUT);
  EXPECT_EQ(SpinThenWait(event, 30), WAIT_TIMEOUT);

  // A signal after the spin has given up still ends the wait.
  std::thread setter([&event] {
    Sleep(50);
    SetEvent(event);
  });
  EXPECT_EQ(SpinThenWait(event, 20000), WAIT_OBJECT_0);
  setter.join();
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);

  // A mutex is owned once by the spinning wait.
  Handle mutex = CreateMutexA(nullptr, FALSE, nullptr);
  ASSERT_TRUE(mutex);
  EXPECT_EQ(SpinThenWait(mutex, 1000), WAIT_OBJECT_0);
  EXPECT_TRUE(ReleaseMutex(mutex));
  EXPECT_FALSE(ReleaseMutex(mutex));

  Handle none;
  EXPECT_EQ(SpinThenWait(none, 1000), WAIT_FAILED);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(KernelObjects, ManualResetEventWakesAllUntilReset) {
  Handle event = CreateEventA(nullptr, TRUE, FALSE, "Global\\manual");
  ASSERT_TRUE(event);
  Helper waiters[3];
  for (Helper& waiter : waiters) {
    ASSERT_EQ(waiter.Call("open-event Global\\manual"), Reply(0, ERROR_SUCCESS));
    waiter.Send("wait 0 20000");
  }
  std::vector<Helper*> all = {&waiters[0], &waiters[1], &waiters[2]};
  EXPECT_EQ(RepliesWithin(all, 50, ""), 0);
  ASSERT_TRUE(SetEvent(event));
  EXPECT_EQ(RepliesWithin(all, kReplyTimeoutMs, Reply(WAIT_OBJECT_0, ERROR_SUCCESS)), 3);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(waiters[0].Call("wait 0 0"), Reply(WAIT_OBJECT_0, ERROR_SUCCESS));
  ASSERT_TRUE(ResetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  EXPECT_EQ(waiters[1].Call("wait 0 0"), Reply(WAIT_TIMEOUT, ERROR_SUCCESS));
}

TEST(KernelObjects, EventInitialStateAndCreateOfExisting) {
  Handle event = CreateEventA(nullptr, FALSE, TRUE, "initial");
  ASSERT_TRUE(event);
  // A second Create opens the same event as it is: its kind and state stay.
  Handle again = CreateEventA(nullptr, TRUE, FALSE, "initial");
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(WaitForSingleObject(again, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
}

TEST(KernelObjects, WaitsTimeOut) {
  Handle event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  Helper owner;
  ASSERT_EQ(owner.Call("create-mutex held 1"), Reply(0, ERROR_SUCCESS));
  Handle mutex = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, "held");
  ASSERT_TRUE(event && mutex);
  for (const Handle* handle : {&event, &mutex}) {
    EXPECT_EQ(WaitForSingleObject(*handle, 0), WAIT_TIMEOUT);
    const auto start = Clock::now();
    EXPECT_EQ(WaitForSingleObject(*handle, 200), WAIT_TIMEOUT);
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, milliseconds(200));
    EXPECT_LT(waited, milliseconds(10000));
  }
  // An endless wait ends when the object is given.
  std::thread setter([&] {
    Sleep(100);
    SetEvent(event);
  });
  EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
  setter.join();
  owner.Send("release 0");
  EXPECT_EQ(WaitForSingleObject(mutex, INFINITE), WAIT_OBJECT_0);
  EXPECT_EQ(owner.Reply(), Reply(TRUE, ERROR_SUCCESS));
}

void IgnoreSignal(int) {}

TEST(KernelObjects, SignalsDoNotEndAnEventWait) {
  struct sigaction action {};
  action.sa_handler = IgnoreSignal;  // no SA_RESTART: the futex call returns EINTR
  struct sigaction previous {};
  ASSERT_EQ(sigaction(SIGUSR1, &action, &previous), 0);
  Handle event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  std::atomic<DWORD> result{WAIT_FAILED};
  std::atomic<bool> done{false};
  std::thread waiter([&] {
    result = WaitForSingleObject(event, 20000);
    done = true;
  });
  for (int i = 0; i < 20; ++i) {
    pthread_kill(waiter.native_handle(), SIGUSR1);
    Sleep(5);
  }
  EXPECT_FALSE(done);
  SetEvent(event);
  waiter.join();
  EXPECT_EQ(result, WAIT_OBJECT_0);
  sigaction(SIGUSR1, &previous, nullptr);
}

TEST(KernelObjects, MappingIsZeroFilledAndShared) {
  constexpr DWORD kSize = 70000;
  Handle mapping = CreateFileMappingA(nullptr, PAGE_READWRITE, kSize, "Global\\bytes");
  ASSERT_TRUE(mapping);
  MappedView view = MapViewOfFile(mapping, FILE_MAP_WRITE);
  ASSERT_TRUE(view);
  ASSERT_EQ(view.size(), kSize);
  const auto* bytes = view.as<unsigned char>();
  EXPECT_TRUE(std::all_of(bytes, bytes + kSize, [](unsigned char b) { return b == 0; }));

  Helper peer;
  ASSERT_EQ(peer.Call("open-mapping Global\\bytes"), Reply(0, ERROR_SUCCESS));
  ASSERT_EQ(peer.Call("write 0 69995 hello"), "1 0");
  EXPECT_EQ(std::string(view.as<char>() + 69995, 5), "hello");
  std::memcpy(view.as<char>() + 10, "world", 5);
  EXPECT_EQ(peer.Call("read 0 10 5"), "world");
  EXPECT_TRUE(FlushViewOfFile(view));

  // Create of the existing mapping keeps its size.
  Handle larger = CreateFileMappingA(nullptr, PAGE_READWRITE, 2 * kSize, "Global\\bytes");
  EXPECT_EQ(GetLastError(), ERROR_ALREADY_EXISTS);
  EXPECT_EQ(MapViewOfFile(larger, FILE_MAP_WRITE).size(), kSize);
  larger.reset();

  // A view keeps its object alive after the handle is closed.
  mapping.reset();
  peer.Kill();
  Handle reopened = OpenFileMappingA(FILE_MAP_WRITE, FALSE, "Global\\bytes");
  ASSERT_TRUE(reopened);
  EXPECT_EQ(std::string(MapViewOfFile(reopened, FILE_MAP_READ).as<char>() + 10, 5), "world");
  reopened.reset();
  view.reset();

  // Gone with its last holder: a new one starts zero-filled again.
  mapping = CreateFileMappingA(nullptr, PAGE_READWRITE, kSize, "Global\\bytes");
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(MapViewOfFile(mapping, FILE_MAP_READ).as<char>()[10], 0);
}

TEST(KernelObjects, UnnamedObjectsArePrivateAndWork) {
  Handle first = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  Handle second = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_EQ(WaitForSingleObject(first, 0), WAIT_TIMEOUT);
  EXPECT_EQ(WaitForSingleObject(second, 0), WAIT_OBJECT_0);

  Handle mutex = CreateMutexA(nullptr, TRUE, nullptr);
  ASSERT_TRUE(mutex);
  std::thread([&] { EXPECT_EQ(WaitForSingleObject(mutex, 0), WAIT_TIMEOUT); }).join();
  EXPECT_TRUE(ReleaseMutex(mutex));

  Handle mapping = CreateFileMappingA(nullptr, PAGE_READWRITE, 100, nullptr);
  MappedView view = MapViewOfFile(mapping, FILE_MAP_WRITE);
  ASSERT_TRUE(view);
  EXPECT_EQ(view.as<char>()[99], 0);

  EXPECT_FALSE(OpenEventA(EVENT_ALL_ACCESS, FALSE, nullptr));
  EXPECT_FALSE(CreateFileMappingA(nullptr, PAGE_READWRITE, 0, nullptr));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

// Every file below `root`, with its type and mode.
std::set<std::string> TreeOf(const fs::path& root) {
  std::set<std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    entries.insert(entry.path().string());
  }
  return entries;
}

TEST(KernelObjects, UnsafeNamesAreRefusedAndTouchNothing) {
  const fs::path scratch = test::ScratchDir();
  Handle anchor = CreateMutexA(nullptr, FALSE, "Global\\anchor");  // both namespaces exist
  Handle local = CreateMutexA(nullptr, FALSE, "anchor");
  const std::set<std::string> before = TreeOf(scratch);
  const std::string longName(300, 'x');
  for (const char* name :
       {"", "Global\\", "Local\\", "a/b", "../escape", "..", "Global\\..", "a\\..\\b", "a\\..",
        "Global\\../../x", "tab\there", "bell\a", "del\x7f", longName.c_str()}) {
    SCOPED_TRACE(name);
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(CreateMutexA(nullptr, FALSE, name));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
    EXPECT_FALSE(OpenEventA(EVENT_ALL_ACCESS, FALSE, name));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_NAME);
  }
  EXPECT_EQ(TreeOf(scratch), before);

  // Backslashes, dots and escape-like text make ordinary, distinct objects, each
  // one file directly inside its namespace directory.
  std::vector<Handle> handles;
  for (const char* name : {"a\\b", "a%5Cb", "a%255Cb", ".lock", ".", "...", "a\\.\\b",
                           "Local\\Local\\x", "Global\\a\\b", "\xc3\xa9t\xc3\xa9"}) {
    SCOPED_TRACE(name);
    handles.push_back(CreateEventA(nullptr, FALSE, FALSE, name));
    EXPECT_TRUE(handles.back());
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  }
  for (const std::string& path : TreeOf(scratch)) {
    if (before.count(path)) continue;
    const fs::path parent = fs::path(path).parent_path();
    EXPECT_TRUE(parent == SessionDir() || parent == RuntimeDir() / "global") << path;
    EXPECT_TRUE(fs::is_regular_file(path)) << path;
  }
  EXPECT_EQ(TreeOf(scratch).size(), before.size() + handles.size());
}

TEST(KernelObjects, GlobalAndSessionNamespaces) {
  Handle global = CreateEventA(nullptr, TRUE, TRUE, "Global\\where");
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  Handle local = CreateEventA(nullptr, TRUE, FALSE, "where");
  EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
  EXPECT_TRUE(fs::is_regular_file(RuntimeDir() / "global" / "where"));
  EXPECT_TRUE(fs::is_regular_file(SessionDir() / "where"));
  EXPECT_EQ(WaitForSingleObject(OpenEventA(SYNCHRONIZE, FALSE, "Local\\where"), 0), WAIT_TIMEOUT);

  Helper sameSession;
  EXPECT_EQ(sameSession.Call("open-event where"), Reply(0, ERROR_SUCCESS));
  Helper otherSession(Helper::Session::kNew);
  EXPECT_EQ(otherSession.Call("open-event where"), Reply(-1, ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(otherSession.Call("open-event Global\\where"), Reply(0, ERROR_SUCCESS));
  EXPECT_EQ(otherSession.Call("wait 0 0"), Reply(WAIT_OBJECT_0, ERROR_SUCCESS));
}

TEST(KernelObjects, SecurityAttributesGiveFileModes) {
  SECURITY_DESCRIPTOR descriptor{};
  alignas(DWORD) BYTE aclBuffer[1024];
  auto* acl = reinterpret_cast<ACL*>(aclBuffer);
  SID everyone{};
  ASSERT_TRUE(InitializeSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION));
  ASSERT_TRUE(InitializeAcl(acl, sizeof aclBuffer, ACL_REVISION));
  ASSERT_TRUE(InitializeSid(&everyone, &SECURITY_WORLD_SID_AUTHORITY, 1));
  *GetSidSubAuthority(&everyone, 0) = SECURITY_WORLD_RID;
  ASSERT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION, MUTEX_ALL_ACCESS, &everyone));
  ASSERT_TRUE(SetSecurityDescriptorDacl(&descriptor, TRUE, acl, FALSE));
  const SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), &descriptor, FALSE};

  const mode_t previousMask = umask(027);  // the modes hold whatever the umask
  Handle open = CreateMutexA(&attributes, FALSE, "Global\\open-to-all");
  Handle closed = CreateMutexA(nullptr, FALSE, "Global\\private");
  Handle mapping = CreateFileMappingA(&attributes, PAGE_READWRITE, 16, "shared-bytes");
  umask(previousMask);
  ASSERT_TRUE(open && closed && mapping);

  auto modeOf = [](const fs::path& path) {
    struct stat info {};
    EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
  };
  EXPECT_EQ(modeOf(RuntimeDir() / "global" / "open-to-all"), 0666u);
  EXPECT_EQ(modeOf(RuntimeDir() / "global" / "private"), 0600u);
  EXPECT_EQ(modeOf(SessionDir() / "shared-bytes"), 0666u);
  EXPECT_EQ(modeOf(RuntimeDir() / "global"), 01777u);
  EXPECT_EQ(modeOf(SessionDir()), 0700u);
}

}  // namespace
}  // namespace tgx
