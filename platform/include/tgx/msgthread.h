// Message loops: the stand-in for a thread's hidden window and message queue.
//
// A MessageLoop takes messages (number, wParam, lParam) that are sent (the
// sender waits for the handler's result, as SendMessageA) or posted (as
// PostMessageA), and readiness notifications of sockets selected on it (as
// WSAAsyncSelect: FD_READ, FD_ACCEPT, FD_CLOSE). Every message and notification
// of a loop is handled one after another on the one thread that runs it, by the
// loop's handler. A loop runs either on a thread of its own (MessageThread) or
// on the calling thread (Run: the main thread's loop).
//
// Order: posted messages and notifications are handled in the order they
// arrived; a sent message is handled before any posted one still waiting. A
// thread that waits in Send for another loop's answer still handles the
// messages sent to its own loop meanwhile (as Windows does), so two loops that
// send to each other do not deadlock.
//
// Socket notifications follow WSAAsyncSelect's re-enabling rules. FD_READ is
// posted when data is waiting and not again until the socket is read through
// tgx::recv (socket.h); if data is still waiting after that read, FD_READ comes
// again. FD_ACCEPT likewise waits for tgx::accept. FD_CLOSE comes once, when the
// peer has closed or reset the connection and the data before it has been read.
// Selecting a socket again (on this or another loop), deselecting it (events 0)
// or closing it with tgx::closesocket drops the notifications of the earlier
// selection that are still queued, so a socket handed to another thread gets no
// stale events from its former loop. FD_WRITE, FD_OOB and FD_CONNECT may be
// selected but are never told (nothing in this system waits for them).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "tgx/win32.h"

namespace tgx {

using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;
using SOCKET = int;

inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_QUIT = 0x0012;
inline constexpr UINT WM_USER = 0x0400;

// Socket events (the low word of a notification's lParam).
inline constexpr long FD_READ = 0x01;
inline constexpr long FD_WRITE = 0x02;
inline constexpr long FD_OOB = 0x04;
inline constexpr long FD_ACCEPT = 0x08;
inline constexpr long FD_CONNECT = 0x10;
inline constexpr long FD_CLOSE = 0x20;

inline constexpr WORD WSAGETSELECTEVENT(LPARAM lParam) { return static_cast<WORD>(lParam); }
inline constexpr WORD WSAGETSELECTERROR(LPARAM lParam) { return static_cast<WORD>(lParam >> 16); }

class MessageLoop;

// Handles one message on the loop's thread and returns its result (what Send
// gives back; ignored for posted messages and notifications).
using MessageHandler =
    std::function<LRESULT(MessageLoop& loop, UINT message, WPARAM wParam, LPARAM lParam)>;

namespace detail {
class LoopCore;
}

// A reference to a message loop, cheap to copy, like a window handle: calls on
// a loop that has ended fail instead of reaching freed state.
class MessageLoop {
 public:
  MessageLoop() = default;

  // A new loop with its handler; empty on failure (last error set). It takes
  // messages at once; they are handled once some thread runs it.
  static MessageLoop Create(MessageHandler handler);
  // The loop being run by the calling thread; empty if none.
  static MessageLoop Current();

  explicit operator bool() const { return core_ != nullptr; }
  bool operator==(const MessageLoop& other) const { return core_ == other.core_; }

  // Runs the loop on the calling thread until Quit, and returns the quit code.
  // A loop runs once: a second Run returns -1 at once.
  int Run();

  // Queues a message. FALSE with ERROR_INVALID_WINDOW_HANDLE once the loop was
  // told to quit or has ended.
  BOOL Post(UINT message, WPARAM wParam, LPARAM lParam) const;
  // Has the message handled on the loop's thread and returns the handler's
  // result; called on that thread, the handler runs at once. Nothing when the
  // loop quits or has ended before handling it (last error
  // ERROR_INVALID_WINDOW_HANDLE).
  std::optional<LRESULT> Send(UINT message, WPARAM wParam, LPARAM lParam) const;
  // Ends the loop after the messages queued before this call (as a thread-quit
  // message would): Run returns exitCode. Sends still waiting then fail.
  BOOL Quit(int exitCode) const;

  // Posts message (WM_CLOSE for the service's main loop) to this loop whenever
  // the process receives SIGTERM or SIGINT. One loop per process holds this; a
  // later call moves it. The signals' previous handling is replaced.
  BOOL PostOnTerminationSignals(UINT message) const;

  // The identifier of the thread that runs the loop (0 before Run).
  DWORD ThreadId() const;
  bool IsCurrentThread() const;

 private:
  explicit MessageLoop(std::shared_ptr<detail::LoopCore> core) : core_(std::move(core)) {}
  friend class detail::LoopCore;
  friend class MessageThread;
  friend int WSAAsyncSelect(SOCKET socket, const MessageLoop& loop, UINT message, long events);

  std::shared_ptr<detail::LoopCore> core_;
};

// Selects socket events on a loop: each event of events that happens on the
// socket posts message with wParam = the socket and lParam = the event (error
// word 0). events 0 cancels the selection. Like WSAAsyncSelect it puts the
// socket in non-blocking mode and replaces any earlier selection of the socket,
// on any loop. 0 on success, SOCKET_ERROR (-1) with the last error set
// (ERROR_INVALID_WINDOW_HANDLE for an ended loop, ERROR_INVALID_HANDLE for a bad
// socket).
int WSAAsyncSelect(SOCKET socket, const MessageLoop& loop, UINT message, long events);

// A thread of its own running a message loop.
class MessageThread {
 public:
  // Starts the thread; empty on failure (last error set). The loop takes
  // messages as soon as Start returns.
  static std::unique_ptr<MessageThread> Start(MessageHandler handler);
  // Tells the loop to quit and waits for the thread without limit, unless the
  // thread has been waited for with a time-out that ran out: then it is left
  // to end by itself.
  ~MessageThread();
  MessageThread(const MessageThread&) = delete;
  MessageThread& operator=(const MessageThread&) = delete;

  const MessageLoop& loop() const { return loop_; }
  DWORD ThreadId() const { return loop_.ThreadId(); }

  // Waits for the thread to end (after a Quit): WAIT_OBJECT_0 or WAIT_TIMEOUT.
  DWORD Wait(DWORD milliseconds);
  // The loop's quit code once the thread has ended.
  int ExitCode() const;

 private:
  struct State;
  MessageThread(MessageLoop loop, std::shared_ptr<State> state);

  MessageLoop loop_;
  std::shared_ptr<State> state_;
};

}  // namespace tgx
