#include "session_server.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "first_message.h"
#include "libraries.h"

namespace tgx::agent {

namespace {

// One event reads everything waiting: a buffer that holds two of the largest
// messages, then twice what is still reported, within limits.
constexpr std::size_t kReceiveBufferSize = 2 * send::kMaxRequestSize;
constexpr std::size_t kLargestRead = 0x7FFFFFF;
constexpr DWORD kThreadEndWaitMs = 30000;

int PendingBytes(SOCKET socket) {
  unsigned long pending = 0;
  if (tgx::ioctlsocket(socket, FIONREAD, &pending) != 0) return -1;
  return static_cast<int>(pending);
}

void SendAll(SOCKET socket, const std::vector<std::uint8_t>& bytes) {
  if (!bytes.empty()) tgx::send(socket, bytes.data(), static_cast<int>(bytes.size()), 0);
}

}  // namespace

void CloseClientSocket(SOCKET socket) {
  if (const int pending = PendingBytes(socket); pending > 0) {
    std::vector<std::uint8_t> discard(static_cast<std::size_t>(pending));
    tgx::recv(socket, discard.data(), pending, 0);
  }
  ::shutdown(socket, SHUT_RDWR);
  tgx::closesocket(socket);
}

// What a session thread keeps: its session (while it has one) and the client
// connections selected on its loop.
struct SessionServer::SessionThreadState {
  std::unique_ptr<Session> session;
  std::set<SOCKET> sockets;
  // Kept between events so that each message costs no allocation.
  std::vector<std::uint8_t> receive_buffer;
  std::vector<std::uint8_t> replies;
};

SessionServer::SessionServer(MessageLoop main_loop) : main_loop_(std::move(main_loop)) {}

SessionServer::~SessionServer() {
  CloseListener();
  Shutdown();
}

// ---- Listener and routing (main loop) ---------------------------------------------

bool SessionServer::OpenListener(WORD port) {
  const SOCKET s = tgx::socket(AF_INET, SOCK_STREAM, 0);
  if (s == INVALID_SOCKET) return false;
  const sockaddr_in address = LoopbackAddress(port);
  if (::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0 ||
      ::listen(s, kListenBacklog) != 0 ||
      WSAAsyncSelect(s, main_loop_, kSocketNotification, FD_ACCEPT) != 0) {
    tgx::closesocket(s);
    return false;
  }
  listener_ = s;
  return true;
}

void SessionServer::CloseListener() {
  if (listener_ != INVALID_SOCKET) {
    tgx::closesocket(listener_);
    listener_ = INVALID_SOCKET;
  }
  for (SOCKET s : unrouted_) CloseClientSocket(s);
  unrouted_.clear();
}

bool SessionServer::HandleMainMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kSocketNotification:
      OnListenerEvent(static_cast<SOCKET>(wParam), WSAGETSELECTEVENT(lParam));
      return true;
    case kEndSessionThread: EndSessionThread(static_cast<DWORD>(wParam)); return true;
    default: return false;
  }
}

void SessionServer::Watch(SOCKET socket, long events) {
  if (WSAAsyncSelect(socket, main_loop_, kSocketNotification, events) != 0) {
    CloseUnrouted(socket);
  }
}

void SessionServer::CloseUnrouted(SOCKET socket) {
  unrouted_.erase(socket);
  CloseClientSocket(socket);
}

void SessionServer::OnListenerEvent(SOCKET socket, WORD event) {
  if (socket == INVALID_SOCKET) return;
  if (event == FD_ACCEPT && socket == listener_) {
    const SOCKET client = tgx::accept(listener_, nullptr, nullptr);
    if (client == INVALID_SOCKET) return;
    unrouted_.insert(client);
    Watch(client, FD_READ | FD_CLOSE);
  } else if (event == FD_CLOSE) {
    CloseUnrouted(socket);
  } else if (event == FD_READ) {
    WSAAsyncSelect(socket, main_loop_, kSocketNotification, 0);
    Route(socket);
  }
}

void SessionServer::Route(SOCKET socket) {
  std::uint8_t peeked[kRouterPeekLimit];
  const int n = tgx::recv(socket, peeked, sizeof(peeked), MSG_PEEK);
  const FirstMessage first = ExamineFirstMessage({peeked, n > 0 ? static_cast<std::size_t>(n) : 0});
  switch (first.kind) {
    case FirstMessage::Kind::kIncomplete: Watch(socket, FD_CLOSE); return;
    case FirstMessage::Kind::kUnsound: CloseUnrouted(socket); return;
    case FirstMessage::Kind::kCreateSocket:
      if (HandOver(socket, first.descriptor)) {
        unrouted_.erase(socket);
        return;
      }
      break;
    case FirstMessage::Kind::kRefuse: break;
  }
  Refuse(socket, first.length);
}

void SessionServer::Refuse(SOCKET socket, std::uint32_t length) {
  std::uint8_t message[kRouterPeekLimit];
  const int n = tgx::recv(socket, message, static_cast<int>(length), 0);
  if (n >= static_cast<int>(header::kSize)) {
    SetMessageResult(message, result::kRefused);
    tgx::send(socket, message, n, 0);
  }
  Watch(socket, FD_CLOSE);
}

bool SessionServer::HandOver(SOCKET socket, const ChannelDescriptor& descriptor) {
  DWORD thread = 0;
  {
    std::lock_guard<std::mutex> table(table_lock_);
    std::size_t same_channel = 0;
    for (Slot& slot : slots_) {
      if (slot.thread == 0 || !SameServiceChannel(slot.descriptor, descriptor)) continue;
      ++same_channel;
      if (SamePortName(slot.descriptor, descriptor)) {
        slot.matched = true;
        thread = slot.thread;
        break;
      }
    }
    if (thread == 0 && same_channel < kSessionsPerServiceChannel) {
      const auto free = std::find_if(slots_.begin(), slots_.end(),
                                     [](const Slot& slot) { return slot.thread == 0; });
      if (free != slots_.end() && (thread = StartSessionThread()) != 0) {
        *free = Slot{false, thread, descriptor};
      }
    }
  }
  if (thread == 0) return false;
  const MessageLoop loop = LoopOf(thread);
  if (loop && loop.Send(kTakeSocket, static_cast<WPARAM>(socket), 0)) return true;
  EndSessionThread(thread);
  ClearSlotOf(thread);
  return false;
}

// ---- Session threads ----------------------------------------------------------------

DWORD SessionServer::StartSessionThread() {
  auto state = std::make_shared<SessionThreadState>();
  auto thread = MessageThread::Start(
      [this, state](MessageLoop& loop, UINT message, WPARAM wParam, LPARAM lParam) {
        return SessionMessage(*state, loop, message, wParam, lParam);
      });
  if (!thread) return 0;
  const DWORD id = thread->ThreadId();
  std::lock_guard<std::mutex> threads(threads_lock_);
  threads_[id] = std::move(thread);
  return id;
}

MessageLoop SessionServer::LoopOf(DWORD thread) {
  std::lock_guard<std::mutex> threads(threads_lock_);
  const auto found = threads_.find(thread);
  return found == threads_.end() ? MessageLoop() : found->second->loop();
}

void SessionServer::EndSessionThread(DWORD thread) {
  std::unique_ptr<MessageThread> ending;
  {
    std::lock_guard<std::mutex> threads(threads_lock_);
    const auto found = threads_.find(thread);
    if (found == threads_.end()) return;
    ending = std::move(found->second);
    threads_.erase(found);
  }
  if (ending->loop().IsCurrentThread()) return;  // never ended from itself; it is left to end
  ending->loop().Quit(1);
  ending->Wait(ScaledTimeout(kThreadEndWaitMs));
}

void SessionServer::ClearSlotOf(DWORD thread) {
  std::lock_guard<std::mutex> table(table_lock_);
  for (Slot& slot : slots_) {
    if (slot.thread == thread) slot = Slot{};
  }
}

void SessionServer::Shutdown() {
  for (std::size_t i = 0; i < slots_.size(); ++i) {
    DWORD thread;
    {
      std::lock_guard<std::mutex> table(table_lock_);
      thread = slots_[i].thread;
    }
    if (thread == 0) continue;
    const MessageLoop loop = LoopOf(thread);
    if (!loop || !loop.Send(kDropSession, 0, 0)) continue;
    EndSessionThread(thread);
    std::lock_guard<std::mutex> table(table_lock_);
    if (slots_[i].thread == thread) slots_[i] = Slot{};
  }
  // Threads whose slot was already given up (their end still on its way).
  std::map<DWORD, std::unique_ptr<MessageThread>> rest;
  {
    std::lock_guard<std::mutex> threads(threads_lock_);
    rest.swap(threads_);
  }
  for (auto& [id, thread] : rest) {
    thread->loop().Send(kDropSession, 0, 0);
    thread->loop().Quit(1);
    thread->Wait(ScaledTimeout(kThreadEndWaitMs));
  }
}

LRESULT SessionServer::SessionMessage(SessionThreadState& state, MessageLoop& loop, UINT message,
                                      WPARAM wParam, LPARAM lParam) {
  const auto socket = static_cast<SOCKET>(wParam);
  switch (message) {
    case kTakeSocket: TakeSocket(state, loop, socket); return 1;
    case kDropSession: DropSession(state); return 1;
    case kSocketNotification:
      if (!state.session) {
        state.sockets.erase(socket);
        CloseClientSocket(socket);
      } else if (WSAGETSELECTEVENT(lParam) == FD_READ) {
        ReceiveFrom(state, loop, socket);
      } else if (WSAGETSELECTEVENT(lParam) == FD_CLOSE) {
        ClientGone(state, loop, socket);
      }
      return 0;
    default: return 0;
  }
}

void SessionServer::TakeSocket(SessionThreadState& state, MessageLoop& loop, SOCKET socket) {
  if (WSAAsyncSelect(socket, loop, kSocketNotification, FD_READ | FD_CLOSE) != 0) {
    CloseClientSocket(socket);
    return;
  }
  state.sockets.insert(socket);
  if (state.session) return;
  std::optional<ChannelDescriptor> descriptor;
  {
    std::lock_guard<std::mutex> table(table_lock_);
    for (Slot& slot : slots_) {
      if (slot.thread == loop.ThreadId()) {
        slot.matched = false;
        descriptor = slot.descriptor;
        break;
      }
    }
  }
  // Without its slot the thread has no session; its sockets close at their
  // first event.
  if (descriptor) {
    state.session = std::make_unique<Session>(*descriptor, BindChannelLibrary(), GetTickCount);
  }
}

void SessionServer::ReceiveFrom(SessionThreadState& state, MessageLoop& loop, SOCKET socket) {
  // Everything waiting is read in this event: into the thread's buffer first,
  // and when that comes back full, into room for twice what is still waiting.
  std::vector<std::uint8_t>& buffer = state.receive_buffer;
  buffer.resize(kReceiveBufferSize);
  int n = tgx::recv(socket, buffer.data(), static_cast<int>(buffer.size()), 0);
  if (n <= 0) return;
  std::size_t got = static_cast<std::size_t>(n);
  if (got == buffer.size()) {
    if (const int pending = PendingBytes(socket); pending > 0) {
      buffer.resize(got + std::min(2 * static_cast<std::size_t>(pending), kLargestRead));
      n = tgx::recv(socket, buffer.data() + got, static_cast<int>(buffer.size() - got), 0);
      if (n > 0) got += static_cast<std::size_t>(n);
    }
  }
  std::vector<std::uint8_t>& replies = state.replies;
  replies.clear();
  const Session::Outcome outcome = state.session->Receive(socket, {buffer.data(), got}, replies);
  SendAll(socket, replies);
  if (outcome == Session::Outcome::kClose) ClientGone(state, loop, socket);
}

void SessionServer::ClientGone(SessionThreadState& state, MessageLoop& loop, SOCKET socket) {
  state.session->Disconnect(socket);
  state.sockets.erase(socket);
  CloseClientSocket(socket);
  if (state.session->has_clients()) return;
  std::lock_guard<std::mutex> table(table_lock_);
  for (Slot& slot : slots_) {
    if (slot.thread != loop.ThreadId()) continue;
    if (slot.matched) return;  // found again by the router: wait for its clients
    DropSession(state);
    if (main_loop_.Post(kEndSessionThread, loop.ThreadId(), 0)) slot = Slot{};
    return;
  }
}

void SessionServer::DropSession(SessionThreadState& state) {
  state.session.reset();
  for (SOCKET s : state.sockets) CloseClientSocket(s);
  state.sockets.clear();
}

}  // namespace tgx::agent
