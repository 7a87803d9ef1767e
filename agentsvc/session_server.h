// The session server: the loopback listener on the service's main loop, the
// routing of each new connection to the session of its (service channel, port
// name), and one message thread per session on which all of that session's
// events are handled.
#pragma once

#include <array>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "session.h"
#include "tgx/msgthread.h"
#include "tgx/socket.h"

namespace tgx::agent {

// Messages of the server's loops.
inline constexpr UINT kSocketNotification = 0x401;  // wParam socket, lParam event
inline constexpr UINT kTakeSocket = 0x402;          // sent to a session: wParam socket
inline constexpr UINT kDropSession = 0x403;         // sent to a session: drop its context
inline constexpr UINT kEndSessionThread = 0x800A;   // posted to the main loop: wParam thread

inline constexpr std::size_t kSessionSlots = 16;
inline constexpr std::size_t kSessionsPerServiceChannel = 5;
inline constexpr int kListenBacklog = 5;

class SessionServer {
 public:
  // `main_loop` is the service's main loop: the listener and the connections
  // not yet routed live on it, and it ends the session threads.
  explicit SessionServer(MessageLoop main_loop);
  ~SessionServer();
  SessionServer(const SessionServer&) = delete;
  SessionServer& operator=(const SessionServer&) = delete;

  // Opens the listener on 127.0.0.1:port; false (and no listener) on failure.
  bool OpenListener(WORD port);
  // Closes the listener and the connections that were never routed.
  void CloseListener();
  // Handles the server's messages on the main loop; false for any other.
  bool HandleMainMessage(UINT message, WPARAM wParam, LPARAM lParam);
  // Tells every session thread to drop its session and ends it, then ends any
  // thread left. Never holds the table lock while it waits for a thread.
  void Shutdown();

 private:
  struct Slot {
    bool matched = false;  // a later connection was routed here: outlive the last client
    DWORD thread = 0;      // 0: free
    ChannelDescriptor descriptor{};
  };
  struct SessionThreadState;

  // Main loop.
  void OnListenerEvent(SOCKET socket, WORD event);
  void Route(SOCKET socket);
  bool HandOver(SOCKET socket, const ChannelDescriptor& descriptor);
  void Refuse(SOCKET socket, std::uint32_t length);
  void Watch(SOCKET socket, long events);
  void CloseUnrouted(SOCKET socket);

  // Session threads.
  DWORD StartSessionThread();
  MessageLoop LoopOf(DWORD thread);
  void EndSessionThread(DWORD thread);
  void ClearSlotOf(DWORD thread);
  LRESULT SessionMessage(SessionThreadState& state, MessageLoop& loop, UINT message, WPARAM wParam,
                         LPARAM lParam);
  void TakeSocket(SessionThreadState& state, MessageLoop& loop, SOCKET socket);
  void ReceiveFrom(SessionThreadState& state, MessageLoop& loop, SOCKET socket);
  void ClientGone(SessionThreadState& state, MessageLoop& loop, SOCKET socket);
  void DropSession(SessionThreadState& state);

  MessageLoop main_loop_;
  SOCKET listener_ = INVALID_SOCKET;
  std::set<SOCKET> unrouted_;  // main loop only

  std::mutex table_lock_;  // taken before threads_lock_, never after it
  std::array<Slot, kSessionSlots> slots_;

  std::mutex threads_lock_;
  std::map<DWORD, std::unique_ptr<MessageThread>> threads_;
};

// Closes a client connection: pending bytes are read and dropped, both
// directions shut down, the socket closed.
void CloseClientSocket(SOCKET socket);

}  // namespace tgx::agent
