// Message loops: a queue of posted messages and one of sent calls, guarded by
// the loop's mutex; an epoll set holding an eventfd that wakes the loop, the
// selected sockets (edge-triggered: each edge or re-enabling re-reads the
// socket's state) and the termination-signal eventfd. A loop's own thread
// looks at its queues before each wait, so what it posts itself needs no
// wake-up.
#include "tgx/msgthread.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <unordered_map>

#include "msgthread_select.h"

namespace tgx {
namespace detail {
namespace {

// Where a sender waits for its answer: its own loop's mutex and condition when
// the sender runs a loop (so that it can take calls meanwhile), else a private
// pair of the thread.
struct Waiter {
  std::mutex* mutex;
  std::condition_variable* ready;
};

struct SentCall {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  Waiter waiter;
  LRESULT result = 0;
  bool done = false;
  bool handled = false;
};

struct PostedMessage {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  std::uint32_t selection = 0;  // Nonzero: a socket notification of that selection.
  bool quit = false;
};

constexpr std::uint64_t kWakeTag = 0;
constexpr std::uint64_t kSignalTag = 1;

std::atomic<int> g_signalTarget{-1};

void OnTerminationSignal(int) {
  const int saved = errno;
  const int fd = g_signalTarget.load();
  if (fd >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = write(fd, &one, sizeof one);
  }
  errno = saved;
}

void Complete(SentCall& call, LRESULT result, bool handled) {
  std::lock_guard lock(*call.waiter.mutex);
  call.result = result;
  call.handled = handled;
  call.done = true;
  call.waiter.ready->notify_all();
}

}  // namespace

class LoopCore : public std::enable_shared_from_this<LoopCore> {
 public:
  LoopCore(MessageHandler handler, int epoll, int wake, int signal)
      : handler_(std::move(handler)), epoll_(epoll), wake_(wake), signal_(signal) {}
  ~LoopCore() {
    close(epoll_);
    close(wake_);
    // A signal handler may still hold the signal descriptor's number: never
    // free it for reuse once it was a target.
    int self = signal_;
    if (!g_signalTarget.compare_exchange_strong(self, -1) && !signalTarget_) close(signal_);
  }
  LoopCore(const LoopCore&) = delete;
  LoopCore& operator=(const LoopCore&) = delete;

  static std::shared_ptr<LoopCore> Create(MessageHandler handler);

  int Run();
  // Queues a message; false (no last error set) once quitting.
  bool Post(PostedMessage message);
  std::optional<LRESULT> Send(UINT message, WPARAM wParam, LPARAM lParam);
  bool Quit(int exitCode) {
    return Post(PostedMessage{0, 0, static_cast<LPARAM>(exitCode), 0, true});
  }
  bool PostOnSignals(UINT message);
  // Binds the loop to the calling thread before Run (false if bound elsewhere).
  bool BindThread();

  DWORD threadId() const { return threadId_.load(); }
  int epoll() const { return epoll_; }

 private:
  MessageLoop Self() { return MessageLoop(shared_from_this()); }
  void Wake();
  void HandleSent(SentCall& call);
  // Takes the next call or message; false when there is none.
  bool HandleOneSent();
  void DispatchPosted(const PostedMessage& message);
  void WaitForEvents();
  void End();

  MessageHandler handler_;
  const int epoll_;
  const int wake_;
  const int signal_;
  std::atomic<DWORD> threadId_{0};
  bool ran_ = false;
  bool signalTarget_ = false;
  std::atomic<UINT> signalMessage_{WM_CLOSE};

  std::mutex mutex_;  // Guards the queues and the state below.
  std::condition_variable sentArrived_;
  std::deque<SentCall*> sent_;
  std::deque<PostedMessage> posted_;
  bool quitting_ = false;
  bool ended_ = false;

  friend std::optional<LRESULT> SendFrom(LoopCore* own, LoopCore& target, UINT, WPARAM, LPARAM);
};

namespace {

thread_local LoopCore* t_currentLoop = nullptr;
thread_local std::weak_ptr<LoopCore> t_currentLoopRef;

// The selected sockets of the process, by descriptor.
struct Selection {
  std::weak_ptr<LoopCore> loop;
  UINT message = 0;
  long events = 0;
  std::uint32_t generation = 0;
  bool listener = false;
  bool readEnabled = true;
  bool acceptEnabled = true;
  bool closeEnabled = true;
};

class SelectRegistry {
 public:
  static SelectRegistry& Instance() {
    static SelectRegistry* const registry = new SelectRegistry;
    return *registry;
  }

  int Select(SOCKET socket, const std::shared_ptr<LoopCore>& loop, UINT message, long events) {
    std::lock_guard lock(mutex_);
    Forget(socket);
    if (events == 0) return 0;
    const int flags = fcntl(socket, F_GETFL);
    if (flags < 0 || fcntl(socket, F_SETFL, flags | O_NONBLOCK) != 0) {
      SetLastError(ERROR_INVALID_HANDLE);
      return -1;
    }
    int accepting = 0;
    socklen_t length = sizeof accepting;
    getsockopt(socket, SOL_SOCKET, SO_ACCEPTCONN, &accepting, &length);
    if (++nextGeneration_ == 0) ++nextGeneration_;
    Selection selection;
    selection.loop = loop;
    selection.message = message;
    selection.events = events;
    selection.generation = nextGeneration_;
    selection.listener = accepting != 0;
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP | EPOLLET;
    event.data.u64 = (static_cast<std::uint64_t>(selection.generation) << 32) |
                     static_cast<std::uint32_t>(socket);
    if (epoll_ctl(loop->epoll(), EPOLL_CTL_ADD, socket, &event) != 0) {
      SetLastErrorFromErrno();
      return -1;
    }
    Reevaluate(socket, selections_[socket] = selection);
    return 0;
  }

  // Re-reads the socket's state before the notifications it calls for.
  void Reevaluate(SOCKET socket, Selection& selection) {
    pollfd entry{socket, POLLIN | POLLRDHUP, 0};
    if (poll(&entry, 1, 0) < 0) return;
    Evaluate(socket, selection, entry.revents);
  }

  void Cancel(SOCKET socket) {
    std::lock_guard lock(mutex_);
    Forget(socket);
  }

  void Reenable(SOCKET socket, long event) {
    std::lock_guard lock(mutex_);
    const auto it = selections_.find(socket);
    if (it == selections_.end()) return;
    if (event == FD_READ) it->second.readEnabled = true;
    if (event == FD_ACCEPT) it->second.acceptEnabled = true;
    Reevaluate(socket, it->second);
  }

  // An epoll edge for data.u64 on loop, with the readiness epoll_wait has just
  // read (what a poll here would tell).
  void OnEdge(std::uint64_t tag, std::uint32_t readiness, const LoopCore* loop) {
    const SOCKET socket = static_cast<SOCKET>(static_cast<std::uint32_t>(tag));
    std::lock_guard lock(mutex_);
    const auto it = selections_.find(socket);
    if (it == selections_.end() || it->second.generation != tag >> 32 ||
        it->second.loop.lock().get() != loop) {
      return;
    }
    Evaluate(socket, it->second, readiness);
  }

  // Whether a queued notification still belongs to the socket's selection.
  bool IsCurrent(SOCKET socket, std::uint32_t generation) {
    std::lock_guard lock(mutex_);
    const auto it = selections_.find(socket);
    return it != selections_.end() && it->second.generation == generation;
  }

  // Drops every selection on a loop that has ended.
  void ForgetLoop(const LoopCore* loop) {
    std::lock_guard lock(mutex_);
    for (auto it = selections_.begin(); it != selections_.end();) {
      const std::shared_ptr<LoopCore> owner = it->second.loop.lock();
      if (!owner || owner.get() == loop) {
        it = selections_.erase(it);
      } else {
        ++it;
      }
    }
  }

 private:
  SelectRegistry() = default;

  // With mutex_ held.
  void Forget(SOCKET socket) {
    const auto it = selections_.find(socket);
    if (it == selections_.end()) return;
    if (const std::shared_ptr<LoopCore> loop = it->second.loop.lock()) {
      epoll_ctl(loop->epoll(), EPOLL_CTL_DEL, socket, nullptr);
    }
    selections_.erase(it);
  }

  // With mutex_ held: posts what the socket's readiness (poll bits, which
  // epoll shares) and the enabled notifications call for.
  void Evaluate(SOCKET socket, Selection& selection, std::uint32_t readiness) {
    const std::shared_ptr<LoopCore> loop = selection.loop.lock();
    if (!loop) return;
    auto notify = [&](long event) {
      loop->Post(PostedMessage{selection.message, static_cast<WPARAM>(socket),
                               static_cast<LPARAM>(event), selection.generation, false});
    };
    if (selection.listener) {
      if ((selection.events & FD_ACCEPT) && selection.acceptEnabled && (readiness & POLLIN)) {
        selection.acceptEnabled = false;
        notify(FD_ACCEPT);
      }
      return;
    }
    // Readable without a close means data is waiting; only beside a close does
    // the byte count tell data from the end of the stream.
    const bool closed = (readiness & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
    bool waiting = (readiness & POLLIN) != 0;
    if (waiting && closed) {
      int count = 0;
      waiting = ioctl(socket, FIONREAD, &count) == 0 && count > 0;
    }
    const bool readSelected = (selection.events & FD_READ) != 0;
    if (readSelected && selection.readEnabled && waiting) {
      selection.readEnabled = false;
      notify(FD_READ);
    }
    // The peer's close is told once the data before it has been read; a reset
    // (or no interest in reading) tells it at once.
    const bool dataFirst = readSelected && waiting && !(readiness & POLLERR);
    if ((selection.events & FD_CLOSE) && selection.closeEnabled && closed && !dataFirst) {
      selection.closeEnabled = false;
      notify(FD_CLOSE);
    }
  }

  std::mutex mutex_;
  std::unordered_map<SOCKET, Selection> selections_;
  std::uint32_t nextGeneration_ = 0;
};

}  // namespace

std::shared_ptr<LoopCore> LoopCore::Create(MessageHandler handler) {
  const int epoll = epoll_create1(EPOLL_CLOEXEC);
  const int wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  const int signal = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  epoll_event wakeEvent{EPOLLIN, {.u64 = kWakeTag}};
  epoll_event signalEvent{EPOLLIN, {.u64 = kSignalTag}};
  if (epoll < 0 || wake < 0 || signal < 0 ||
      epoll_ctl(epoll, EPOLL_CTL_ADD, wake, &wakeEvent) != 0 ||
      epoll_ctl(epoll, EPOLL_CTL_ADD, signal, &signalEvent) != 0) {
    SetLastErrorFromErrno();
    for (int fd : {epoll, wake, signal}) {
      if (fd >= 0) close(fd);
    }
    return nullptr;
  }
  return std::make_shared<LoopCore>(std::move(handler), epoll, wake, signal);
}

void LoopCore::Wake() {
  if (t_currentLoop == this) return;  // Run looks at the queues before it waits.
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t ignored = write(wake_, &one, sizeof one);
  sentArrived_.notify_all();
}

bool LoopCore::Post(PostedMessage message) {
  {
    std::lock_guard lock(mutex_);
    if (quitting_ || ended_) return false;
    if (message.quit) quitting_ = true;
    posted_.push_back(message);
  }
  Wake();
  return true;
}

bool LoopCore::BindThread() {
  DWORD expected = 0;
  const DWORD self = GetCurrentThreadId();
  return threadId_.compare_exchange_strong(expected, self) || expected == self;
}

void LoopCore::HandleSent(SentCall& call) {
  MessageLoop self = Self();
  const LRESULT result = handler_ ? handler_(self, call.message, call.wParam, call.lParam) : 0;
  Complete(call, result, true);
}

bool LoopCore::HandleOneSent() {
  SentCall* call = nullptr;
  {
    std::lock_guard lock(mutex_);
    if (sent_.empty()) return false;
    call = sent_.front();
    sent_.pop_front();
  }
  HandleSent(*call);
  return true;
}

void LoopCore::DispatchPosted(const PostedMessage& message) {
  if (message.selection != 0 && !SelectRegistry::Instance().IsCurrent(
                                    static_cast<SOCKET>(message.wParam), message.selection)) {
    return;  // The socket was deselected, selected anew or closed since.
  }
  if (!handler_) return;
  MessageLoop self = Self();
  handler_(self, message.message, message.wParam, message.lParam);
}

void LoopCore::WaitForEvents() {
  epoll_event events[32];
  const int ready = epoll_wait(epoll_, events, 32, -1);
  for (int i = 0; i < ready; ++i) {
    const std::uint64_t tag = events[i].data.u64;
    std::uint64_t count = 0;
    if (tag == kWakeTag) {
      [[maybe_unused]] const ssize_t ignored = read(wake_, &count, sizeof count);
    } else if (tag == kSignalTag) {
      if (read(signal_, &count, sizeof count) == sizeof count && count > 0) {
        Post(PostedMessage{signalMessage_.load(), 0, 0, 0, false});
      }
    } else {
      SelectRegistry::Instance().OnEdge(tag, events[i].events, this);
    }
  }
}

int LoopCore::Run() {
  {
    std::lock_guard lock(mutex_);
    if (ran_ || !BindThread()) return -1;
    ran_ = true;
  }
  LoopCore* const outer = t_currentLoop;
  t_currentLoop = this;
  t_currentLoopRef = weak_from_this();
  int exitCode = 0;
  for (;;) {
    if (HandleOneSent()) continue;
    std::optional<PostedMessage> next;
    {
      std::lock_guard lock(mutex_);
      if (!posted_.empty()) {
        next = posted_.front();
        posted_.pop_front();
      }
    }
    if (!next) {
      WaitForEvents();
      continue;
    }
    if (next->quit) {
      exitCode = static_cast<int>(next->lParam);
      break;
    }
    DispatchPosted(*next);
  }
  End();
  t_currentLoop = outer;
  t_currentLoopRef.reset();
  return exitCode;
}

void LoopCore::End() {
  std::deque<SentCall*> unanswered;
  {
    std::lock_guard lock(mutex_);
    ended_ = true;
    unanswered.swap(sent_);
    posted_.clear();
  }
  for (SentCall* call : unanswered) Complete(*call, 0, false);
  SelectRegistry::Instance().ForgetLoop(this);
}

std::optional<LRESULT> SendFrom(LoopCore* own, LoopCore& target, UINT message, WPARAM wParam,
                                LPARAM lParam) {
  thread_local std::mutex privateMutex;
  thread_local std::condition_variable privateReady;
  SentCall call{
      message, wParam, lParam,
      own ? Waiter{&own->mutex_, &own->sentArrived_} : Waiter{&privateMutex, &privateReady}};
  {
    std::lock_guard lock(target.mutex_);
    if (target.quitting_ || target.ended_) {
      SetLastError(ERROR_INVALID_WINDOW_HANDLE);
      return std::nullopt;
    }
    target.sent_.push_back(&call);
  }
  target.Wake();
  std::unique_lock lock(*call.waiter.mutex);
  while (!call.done) {
    if (own && !own->sent_.empty()) {
      SentCall* incoming = own->sent_.front();
      own->sent_.pop_front();
      lock.unlock();
      own->HandleSent(*incoming);
      lock.lock();
      continue;
    }
    call.waiter.ready->wait(lock);
  }
  if (!call.handled) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return std::nullopt;
  }
  return call.result;
}

std::optional<LRESULT> LoopCore::Send(UINT message, WPARAM wParam, LPARAM lParam) {
  if (t_currentLoop == this) {
    MessageLoop self = Self();
    return handler_ ? handler_(self, message, wParam, lParam) : 0;
  }
  return SendFrom(t_currentLoop, *this, message, wParam, lParam);
}

bool LoopCore::PostOnSignals(UINT message) {
  signalMessage_.store(message);
  {
    std::lock_guard lock(mutex_);
    signalTarget_ = true;
  }
  g_signalTarget.store(signal_);
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  if (sigaction(SIGTERM, &action, nullptr) != 0 || sigaction(SIGINT, &action, nullptr) != 0) {
    SetLastErrorFromErrno();
    return false;
  }
  return true;
}

void ReenableSocketEvent(SOCKET socket, long event) {
  SelectRegistry::Instance().Reenable(socket, event);
}

void CancelSocketSelection(SOCKET socket) { SelectRegistry::Instance().Cancel(socket); }

}  // namespace detail

MessageLoop MessageLoop::Create(MessageHandler handler) {
  return MessageLoop(detail::LoopCore::Create(std::move(handler)));
}

MessageLoop MessageLoop::Current() { return MessageLoop(detail::t_currentLoopRef.lock()); }

int MessageLoop::Run() { return core_ ? core_->Run() : -1; }

BOOL MessageLoop::Post(UINT message, WPARAM wParam, LPARAM lParam) const {
  if (!core_) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (!core_->Post(detail::PostedMessage{message, wParam, lParam, 0, false})) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return TRUE;
}

std::optional<LRESULT> MessageLoop::Send(UINT message, WPARAM wParam, LPARAM lParam) const {
  if (!core_) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return std::nullopt;
  }
  return core_->Send(message, wParam, lParam);
}

BOOL MessageLoop::Quit(int exitCode) const {
  if (!core_) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  if (!core_->Quit(exitCode)) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return TRUE;
}

BOOL MessageLoop::PostOnTerminationSignals(UINT message) const {
  if (!core_) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return FALSE;
  }
  return core_->PostOnSignals(message) ? TRUE : FALSE;
}

DWORD MessageLoop::ThreadId() const { return core_ ? core_->threadId() : 0; }

bool MessageLoop::IsCurrentThread() const {
  return core_ && core_->threadId() == GetCurrentThreadId();
}

int WSAAsyncSelect(SOCKET socket, const MessageLoop& loop, UINT message, long events) {
  if (!loop.core_) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return -1;
  }
  return detail::SelectRegistry::Instance().Select(socket, loop.core_, message, events);
}

struct MessageThread::State {
  std::mutex mutex;
  std::condition_variable changed;
  bool started = false;
  bool ended = false;
  bool waitTimedOut = false;
  int exitCode = 0;
  std::thread thread;
};

std::unique_ptr<MessageThread> MessageThread::Start(MessageHandler handler) {
  MessageLoop loop = MessageLoop::Create(std::move(handler));
  if (!loop) return nullptr;
  auto state = std::make_shared<State>();
  std::unique_lock lock(state->mutex);
  try {
    state->thread = std::thread([loop, state]() mutable {
      loop.core_->BindThread();
      {
        std::lock_guard started(state->mutex);
        state->started = true;
        state->changed.notify_all();
      }
      const int exitCode = loop.Run();
      std::lock_guard ended(state->mutex);
      state->ended = true;
      state->exitCode = exitCode;
      state->changed.notify_all();
    });
  } catch (const std::system_error&) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  state->changed.wait(lock, [&] { return state->started; });
  lock.unlock();
  return std::unique_ptr<MessageThread>(new MessageThread(std::move(loop), std::move(state)));
}

MessageThread::MessageThread(MessageLoop loop, std::shared_ptr<State> state)
    : loop_(std::move(loop)), state_(std::move(state)) {}

MessageThread::~MessageThread() {
  loop_.Quit(0);
  bool leave = false;
  {
    std::lock_guard lock(state_->mutex);
    leave = !state_->ended && state_->waitTimedOut;
  }
  if (leave || state_->thread.get_id() == std::this_thread::get_id()) {
    state_->thread.detach();
  } else {
    state_->thread.join();
  }
}

DWORD MessageThread::Wait(DWORD milliseconds) {
  std::unique_lock lock(state_->mutex);
  auto ended = [&] { return state_->ended; };
  if (milliseconds == INFINITE) {
    state_->changed.wait(lock, ended);
  } else if (!state_->changed.wait_for(lock, std::chrono::milliseconds(milliseconds), ended)) {
    state_->waitTimedOut = true;
    return WAIT_TIMEOUT;
  }
  return WAIT_OBJECT_0;
}

int MessageThread::ExitCode() const {
  std::lock_guard lock(state_->mutex);
  return state_->exitCode;
}

}  // namespace tgx
