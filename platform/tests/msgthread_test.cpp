// Message loops: sending, posting, order, quitting, socket notifications on real
// loopback sockets, and the termination-signal hook of a main loop.
#include "tgx/msgthread.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "process_test_util.h"
#include "testsupport.h"
#include "tgx/socket.h"

namespace tgx {
namespace {

constexpr UINT kSocketMessage = 0x401;  // WM_USER + 1: tests use other numbers.
constexpr DWORD kPatience = 10000;

// What a handler saw, in order, readable from the test thread.
class EventLog {
 public:
  void Add(std::string entry) {
    std::lock_guard lock(mutex_);
    entries_.push_back(std::move(entry));
    changed_.notify_all();
  }
  // Waits until count entries are there (false after the time-out).
  bool WaitFor(std::size_t count, DWORD milliseconds = kPatience) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(milliseconds),
                             [&] { return entries_.size() >= count; });
  }
  std::vector<std::string> entries() {
    std::lock_guard lock(mutex_);
    return entries_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> entries_;
};

// A gate that a handler waits at until the test opens it.
class Gate {
 public:
  void Open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  void Pass() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return open_; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool open_ = false;
};

// Waits until the thread (set in tid by itself) sleeps in the kernel.
bool WaitUntilBlocked(const std::atomic<DWORD>& tid) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < kPatience) {
    if (tid != 0) {
      std::ifstream stat("/proc/self/task/" + std::to_string(tid.load()) + "/stat");
      std::string text;
      std::getline(stat, text);
      const std::size_t close = text.rfind(')');
      if (close != std::string::npos && text.compare(close + 2, 1, "S") == 0) return true;
    }
    Sleep(1);
  }
  return false;
}

// Opens a gate when it goes out of scope.
struct GateOpener {
  Gate& gate;
  ~GateOpener() { gate.Open(); }
};

std::string EventName(LPARAM lParam) {
  switch (WSAGETSELECTEVENT(lParam)) {
    case FD_READ: return "read";
    case FD_ACCEPT: return "accept";
    case FD_CLOSE: return "close";
    default: return "other";
  }
}

TEST(MessageThread, SendRunsOnTheLoopThreadAndReturnsTheResult) {
  std::atomic<DWORD> handlerThread{0};
  auto thread =
      MessageThread::Start([&](MessageLoop& loop, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
        handlerThread = GetCurrentThreadId();
        if (message == WM_USER + 1) {
          // Sending to the own loop calls the handler at once.
          return 1 + loop.Send(WM_USER, wParam, 0).value_or(-1000);
        }
        return static_cast<LRESULT>(wParam) * 2;
      });
  ASSERT_TRUE(thread);
  EXPECT_NE(thread->ThreadId(), 0u);
  EXPECT_EQ(thread->loop().Send(WM_USER, 21, 0), 42);
  EXPECT_EQ(handlerThread.load(), thread->ThreadId());
  EXPECT_NE(handlerThread.load(), GetCurrentThreadId());
  EXPECT_EQ(thread->loop().Send(WM_USER + 1, 5, 0), 11);
}

TEST(MessageThread, PostedMessagesKeepOrderAndSentOnesGoFirst) {
  EventLog log;
  Gate arrived, gate;
  auto thread =
      MessageThread::Start([&](MessageLoop&, UINT message, WPARAM wParam, LPARAM) -> LRESULT {
        if (message == WM_USER) {
          arrived.Open();
          gate.Pass();
        }
        log.Add(std::to_string(message - WM_USER) + ":" + std::to_string(wParam));
        return 0;
      });
  ASSERT_TRUE(thread);
  const MessageLoop& loop = thread->loop();
  ASSERT_TRUE(loop.Post(WM_USER, 0, 0));  // Holds the loop at the gate.
  for (WPARAM i = 1; i <= 100; ++i) ASSERT_TRUE(loop.Post(WM_USER + 1, i, 0));
  arrived.Pass();  // The loop is busy with the first message; the others wait.
  std::atomic<DWORD> sender{0};
  auto sent = std::async(std::launch::async, [&] {
    sender = GetCurrentThreadId();
    return loop.Send(WM_USER + 2, 7, 0);
  });
  const GateOpener opener{gate};  // Even when an assertion ends the test early.
  // The sender blocks only once its message is queued.
  ASSERT_TRUE(WaitUntilBlocked(sender));
  gate.Open();
  EXPECT_EQ(sent.get(), 0);
  ASSERT_TRUE(log.WaitFor(102));
  const std::vector<std::string> entries = log.entries();
  EXPECT_EQ(entries[0], "0:0");
  EXPECT_EQ(entries[1], "2:7") << "the sent message overtakes the waiting posted ones";
  for (std::size_t i = 1; i <= 100; ++i) EXPECT_EQ(entries[i + 1], "1:" + std::to_string(i));
}

TEST(MessageThread, QuitEndsTheThreadAndLaterCallsFail) {
  auto thread = MessageThread::Start([](MessageLoop&, UINT, WPARAM, LPARAM) { return 0; });
  ASSERT_TRUE(thread);
  MessageLoop loop = thread->loop();
  ASSERT_TRUE(loop.Quit(5));
  EXPECT_EQ(thread->Wait(kPatience), WAIT_OBJECT_0);
  EXPECT_EQ(thread->ExitCode(), 5);
  EXPECT_FALSE(loop.Post(WM_USER, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_FALSE(loop.Send(WM_USER, 0, 0).has_value());
  EXPECT_FALSE(MessageLoop().Post(WM_USER, 0, 0));
}

TEST(MessageThread, WaitTimesOutWhileTheHandlerIsBusy) {
  Gate gate;
  auto thread = MessageThread::Start([&](MessageLoop&, UINT, WPARAM, LPARAM) -> LRESULT {
    gate.Pass();
    return 0;
  });
  ASSERT_TRUE(thread);
  ASSERT_TRUE(thread->loop().Post(WM_USER, 0, 0));
  ASSERT_TRUE(thread->loop().Quit(1));
  EXPECT_EQ(thread->Wait(50), WAIT_TIMEOUT);
  gate.Open();
  EXPECT_EQ(thread->Wait(kPatience), WAIT_OBJECT_0);
  EXPECT_EQ(thread->ExitCode(), 1);
}

// Two loops that send to each other: a loop waiting for its answer still takes
// the calls sent to it.
TEST(MessageThread, LoopsSendingToEachOtherDoNotDeadlock) {
  MessageLoop first;
  auto second = MessageThread::Start([&](MessageLoop&, UINT, WPARAM, LPARAM) -> LRESULT {
    return 1 + first.Send(WM_USER + 1, 0, 0).value_or(-1000);
  });
  ASSERT_TRUE(second);
  auto firstThread =
      MessageThread::Start([&](MessageLoop&, UINT message, WPARAM, LPARAM) -> LRESULT {
        if (message == WM_USER) return second->loop().Send(WM_USER, 0, 0).value_or(-1000);
        return 7;
      });
  ASSERT_TRUE(firstThread);
  first = firstThread->loop();
  EXPECT_EQ(first.Send(WM_USER, 0, 0), 8);
}

TEST(MessageLoop, RunsOnTheCallingThread) {
  int handled = 0;
  MessageLoop loop =
      MessageLoop::Create([&](MessageLoop& self, UINT message, WPARAM, LPARAM) -> LRESULT {
        EXPECT_EQ(MessageLoop::Current(), self);
        if (message == WM_CLOSE) self.Quit(3);
        ++handled;
        return 0;
      });
  ASSERT_TRUE(loop);
  std::thread poster([loop] {
    loop.Post(WM_USER, 0, 0);
    loop.Post(WM_CLOSE, 0, 0);
  });
  EXPECT_EQ(loop.Run(), 3);
  poster.join();
  EXPECT_EQ(handled, 2);
  EXPECT_EQ(loop.Run(), -1) << "a loop runs once";
  EXPECT_FALSE(MessageLoop::Current());
}

// SIGTERM to a process whose main loop holds the hook plays WM_CLOSE.
TEST(MessageLoop, TerminationSignalPostsClose) {
  const auto file = test::MakeTempDir("mainloop") / "state";
  Handle process = test::StartHelper("mainloop " + file.string());
  ASSERT_TRUE(process);
  ASSERT_EQ(test::WaitForFile(file), "ready");
  std::filesystem::remove(file);
  kill(static_cast<pid_t>(GetProcessId(process)), SIGTERM);
  EXPECT_EQ(test::ExitCodeAfter(process, kPatience), 0u) << "ended by its loop, not the signal";
  EXPECT_EQ(test::WaitForFile(file), "closed");
}

// Loopback sockets for the notification tests: a listener, and a client
// connected to it once Connect is called.
class SocketNotifications : public ::testing::Test {
 protected:
  void SetUp() override {
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(1, 1), &data), 0);
    listener_ = tgx::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(listener_, INVALID_SOCKET);
    sockaddr_in address = LoopbackAddress(0);
    ASSERT_EQ(bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener_, 5), 0);
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  void TearDown() override {
    thread_.reset();
    if (client_ != INVALID_SOCKET) closesocket(client_);
    closesocket(listener_);
    WSACleanup();
  }
  void Connect() {
    client_ = tgx::socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_NE(client_, INVALID_SOCKET);
    sockaddr_in address = LoopbackAddress(port_);
    ASSERT_EQ(connect(client_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  }
  void ClientSend(const std::string& text) {
    ASSERT_EQ(tgx::send(client_, text.data(), static_cast<int>(text.size()), 0),
              static_cast<int>(text.size()));
  }
  // A server socket accepted directly (no notification), once data waits on it.
  SOCKET AcceptWithData() {
    SOCKET server = tgx::accept(listener_, nullptr, nullptr);
    int waiting = 0;
    const DWORD start = GetTickCount();
    while (ioctl(server, FIONREAD, &waiting) == 0 && waiting == 0 &&
           GetTickCount() - start < kPatience) {
      Sleep(5);
    }
    return server;
  }

  SOCKET listener_ = INVALID_SOCKET;
  SOCKET client_ = INVALID_SOCKET;
  WORD port_ = 0;
  EventLog log_;
  std::unique_ptr<MessageThread> thread_;
};

// The listener's flow: FD_ACCEPT, then FD_READ once per read while data remains,
// then FD_CLOSE after the last byte was read.
TEST_F(SocketNotifications, AcceptReadAndCloseInWinsockOrder) {
  std::string received;
  thread_ = MessageThread::Start(
      [&](MessageLoop& loop, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (message != kSocketMessage) return 0;
        const SOCKET socket = static_cast<SOCKET>(wParam);
        log_.Add(EventName(lParam));
        switch (WSAGETSELECTEVENT(lParam)) {
          case FD_ACCEPT: {
            const SOCKET accepted = tgx::accept(socket, nullptr, nullptr);
            WSAAsyncSelect(accepted, loop, kSocketMessage, FD_READ | FD_CLOSE);
            break;
          }
          case FD_READ: {
            char bytes[2];
            const int got = tgx::recv(socket, bytes, sizeof bytes, 0);
            if (got > 0) received.append(bytes, static_cast<std::size_t>(got));
            break;
          }
          case FD_CLOSE: closesocket(socket); break;
        }
        return 0;
      });
  ASSERT_TRUE(thread_);
  ASSERT_EQ(WSAAsyncSelect(listener_, thread_->loop(), kSocketMessage, FD_ACCEPT), 0);
  Connect();
  ClientSend("hello");
  closesocket(client_);
  client_ = INVALID_SOCKET;
  ASSERT_TRUE(log_.WaitFor(5));
  Sleep(100);  // Nothing more may come.
  EXPECT_EQ(log_.entries(), (std::vector<std::string>{"accept", "read", "read", "read", "close"}));
  thread_->loop().Send(WM_USER, 0, 0);  // Orders the read of received after the handler's.
  EXPECT_EQ(received, "hello");
}

// FD_READ does not come again until the socket is read, however much arrives.
TEST_F(SocketNotifications, ReadComesAgainOnlyAfterARecv) {
  Connect();
  ClientSend("a");
  const SOCKET server = AcceptWithData();
  thread_ = MessageThread::Start(
      [&](MessageLoop&, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (message == kSocketMessage) log_.Add(EventName(lParam));
        if (message == WM_USER) {  // Reads one byte: 1, or minus the error.
          char byte;
          const int got = tgx::recv(static_cast<SOCKET>(wParam), &byte, 1, 0);
          return got < 0 ? -WSAGetLastError() : got;
        }
        return 0;
      });
  ASSERT_TRUE(thread_);
  ASSERT_EQ(WSAAsyncSelect(server, thread_->loop(), kSocketMessage, FD_READ | FD_CLOSE), 0);
  ASSERT_TRUE(log_.WaitFor(1));
  ClientSend("b");
  ClientSend("c");
  Sleep(200);
  EXPECT_EQ(log_.entries().size(), 1u);
  EXPECT_EQ(thread_->loop().Send(WM_USER, static_cast<WPARAM>(server), 0), 1);
  ASSERT_TRUE(log_.WaitFor(2)) << "data remains after the read: FD_READ again";
  EXPECT_EQ(thread_->loop().Send(WM_USER, static_cast<WPARAM>(server), 0), 1);
  EXPECT_EQ(thread_->loop().Send(WM_USER, static_cast<WPARAM>(server), 0), 1);
  ASSERT_TRUE(log_.WaitFor(3));
  EXPECT_EQ(thread_->loop().Send(WM_USER, static_cast<WPARAM>(server), 0), -WSAEWOULDBLOCK)
      << "drained: a non-blocking socket has nothing more";
  Sleep(100);
  EXPECT_EQ(log_.entries(), (std::vector<std::string>{"read", "read", "read"}));
  closesocket(server);
}

// A socket deselected (or handed to another loop) gets none of the
// notifications its former selection had queued.
TEST_F(SocketNotifications, DeselectingDropsQueuedNotifications) {
  Connect();
  ClientSend("x");
  const SOCKET server = AcceptWithData();
  Gate gate;
  thread_ = MessageThread::Start([&](MessageLoop&, UINT message, WPARAM, LPARAM lParam) -> LRESULT {
    if (message == WM_USER) gate.Pass();
    if (message == WM_USER + 10) log_.Add("done");
    if (message == kSocketMessage) log_.Add(EventName(lParam));
    return 0;
  });
  ASSERT_TRUE(thread_);
  const MessageLoop& loop = thread_->loop();
  ASSERT_TRUE(loop.Post(WM_USER, 0, 0));  // Holds the loop.
  // Data is waiting, so selecting queues FD_READ at once, behind the held message.
  ASSERT_EQ(WSAAsyncSelect(server, loop, kSocketMessage, FD_READ), 0);
  ASSERT_EQ(WSAAsyncSelect(server, loop, 0, 0), 0);
  ASSERT_TRUE(loop.Post(WM_USER + 10, 0, 0));
  gate.Open();
  ASSERT_TRUE(log_.WaitFor(1));
  EXPECT_EQ(log_.entries(), (std::vector<std::string>{"done"}));

  // Selected again, the waiting data is told once more.
  ASSERT_EQ(WSAAsyncSelect(server, loop, kSocketMessage, FD_READ), 0);
  ASSERT_TRUE(log_.WaitFor(2));
  EXPECT_EQ(log_.entries().back(), "read");
  closesocket(server);
}

TEST_F(SocketNotifications, RefusesBadSocketsAndEndedLoops) {
  auto thread = MessageThread::Start([](MessageLoop&, UINT, WPARAM, LPARAM) { return 0; });
  ASSERT_TRUE(thread);
  EXPECT_EQ(WSAAsyncSelect(-1, thread->loop(), kSocketMessage, FD_READ), SOCKET_ERROR);
  EXPECT_EQ(WSAAsyncSelect(listener_, MessageLoop(), kSocketMessage, FD_ACCEPT), SOCKET_ERROR);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

}  // namespace
}  // namespace tgx
