// ppdtlib: the port functions of the 1394 transport. Per process: the link to
// the shared objects, the use count and calling-process mutex of each port,
// and the list of open handles.
#include <strings.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <optional>
#include <shared_mutex>
#include <vector>

#include "port_link.h"
#include "tgx/ppdt.h"

// The record behind a port handle; a handle value is its address.
struct PpdtHandle {
  int port = -1;
  int session = PPDT_SESSION_NONE;
};

namespace tgx::ppdt {
namespace {

// Sessions of the handle functions, with their device controls.
struct SessionControls {
  int kind;
  std::uint32_t open, close, write, read;
};
constexpr SessionControls kJob = {PPDT_SESSION_JOB, kControlJobOpen, kControlJobClose,
                                  kControlJobWrite, 0};
constexpr SessionControls kAdmin = {PPDT_SESSION_ADMIN, kControlAdminOpen, kControlAdminClose,
                                    kControlAdminWrite, kControlAdminRead};
constexpr SessionControls kResource = {PPDT_SESSION_RESOURCE, kControlResOpen, kControlResClose,
                                       kControlResWrite, kControlResRead};

// How long a worker is given to end after it was told to quit.
constexpr DWORD kQuitGraceMs = 100;
// How long unloading waits for the workers it told to quit to have ended.
constexpr DWORD kUnloadWorkerEndMs = 2000;

// A worker still serving other processes when this library is unloaded: its
// handle stays open for the rest of the process (the ended worker then waits
// as a zombie), on purpose, so nothing here is left to reap it.
void KeepForRestOfProcess(Handle worker) {
  auto* kept = new Handle(std::move(worker));
#if defined(__SANITIZE_ADDRESS__)
  __lsan_ignore_object(kept);
#else
  static_cast<void>(kept);
#endif
}

class Library {
 public:
  // Unloading: every handle still open is released, last opened first, and
  // the library terminates.
  ~Library();

  int Initialize();
  int Terminate();

  int OpenPort(const char* portName, PPDT_HANDLE* handle);
  int ClosePort(PPDT_HANDLE handle);

  int SessionOpen(PPDT_HANDLE handle, const SessionControls& session);
  int SessionClose(PPDT_HANDLE handle, const SessionControls& session);
  int SessionWrite(PPDT_HANDLE handle, const SessionControls& session, const void* data,
                   std::uint32_t length, std::uint32_t* transferred);
  int SessionRead(PPDT_HANDLE handle, const SessionControls& session, void* buffer,
                  std::uint32_t size, std::uint32_t* transferred);
  int JobFlush(PPDT_HANDLE handle);
  int JobCancel(PPDT_HANDLE handle);
  int GetDeviceId(PPDT_HANDLE handle, void* buffer, std::uint32_t size, std::uint32_t* transferred);

 private:
  // The state of a handle, read under the list lock.
  struct HandleState {
    int result;  // 0, or -5 when the handle is not in the list
    int port;
    int session;
  };
  HandleState StateOf(PPDT_HANDLE handle);
  // 0 when the handle's session is of this kind, else -5, -9 or -10.
  int CheckSession(PPDT_HANDLE handle, int kind, int* port);
  // Sets the session kind of a handle that is still in the list.
  void SetSession(PPDT_HANDLE handle, int kind);

  // Unloading: waits a little for the workers this process started and told
  // to quit to end, so that none is handed to a reaper thread in unmapped code.
  void KeepWorkersFromReaper(const bool (&toldToQuit)[kPortCount]);
  int OpenPortLocked(const char* portName);
  void ReleasePortLocked(int port);
  void MarkUser(int port);
  void UnmarkUser(int port);
  int Send(int port, std::uint32_t controlCode, std::uint32_t inputLength, const void* input,
           std::uint32_t outputLength, void* output, std::uint32_t* transferred) {
    return link_->SendPortRequest(port, kRequestControl, controlCode, inputLength, input,
                                  outputLength, output, transferred);
  }

  // Held shared by every call that uses the link, exclusively by Initialize
  // and Terminate: the link never goes away under a request.
  std::shared_mutex linkLock_;
  std::optional<ObjectNameForm> names_;
  std::unique_ptr<PortLink> link_;
  // Changed only under the port-table mutex.
  int useCounts_[kPortCount] = {};
  Handle callingMutexes_[kPortCount];
  // The workers this process started, kept until they have ended: a child
  // whose handle is closed while it runs is left to a reaper thread of the
  // platform code in this library, which must not outlive an unload.
  Handle workers_[kPortCount];

  std::mutex handlesLock_;
  // The open handles, owned here, oldest first.
  std::vector<std::unique_ptr<PpdtHandle>> handles_;
  // The entry of handle in handles_, or its end.
  auto Find(PPDT_HANDLE handle) {
    return std::find_if(handles_.begin(), handles_.end(),
                        [handle](const auto& record) { return record.get() == handle; });
  }
};

Library::~Library() {
  std::vector<std::unique_ptr<PpdtHandle>> handles;
  {
    std::lock_guard lock(handlesLock_);
    handles.swap(handles_);
  }
  bool toldToQuit[kPortCount] = {};
  {
    std::shared_lock link(linkLock_);
    if (link_) {
      NamedMutexLock table(link_->tableMutex());
      for (auto it = handles.rbegin(); it != handles.rend(); ++it) ReleasePortLocked((*it)->port);
      for (int port = 0; port < kPortCount; ++port) {
        toldToQuit[port] = link_->table().entry(port).openCount() == 0;
      }
    }
  }
  Terminate();
  KeepWorkersFromReaper(toldToQuit);
}

void Library::KeepWorkersFromReaper(const bool (&toldToQuit)[kPortCount]) {
  const DWORD start = GetTickCount();
  for (int port = 0; port < kPortCount; ++port) {
    Handle& worker = workers_[port];
    if (!worker) continue;
    const DWORD waited = GetTickCount() - start;
    const DWORD left =
        toldToQuit[port] && waited < kUnloadWorkerEndMs ? kUnloadWorkerEndMs - waited : 0;
    if (WaitForSingleObject(worker, left) == WAIT_OBJECT_0) {
      worker.reset();  // ended: reaped here
    } else {
      KeepForRestOfProcess(std::move(worker));
    }
  }
}

int Library::Initialize() {
  std::unique_lock lock(linkLock_);
  if (link_) return 1;
  names_.emplace();  // decided once per initialisation
  link_ = PortLink::Connect(*names_);
  if (!link_) return 0;
  std::fill(std::begin(useCounts_), std::end(useCounts_), 0);
  for (Handle& mutex : callingMutexes_) mutex.reset();
  return 1;
}

int Library::Terminate() {
  std::unique_lock lock(linkLock_);
  if (!link_) return 0;
  for (Handle& mutex : callingMutexes_) mutex.reset();
  std::fill(std::begin(useCounts_), std::end(useCounts_), 0);
  link_.reset();
  return 1;
}

void Library::MarkUser(int port) {
  if (++useCounts_[port] == 1 && !callingMutexes_[port]) {
    EveryoneSecurity security;
    callingMutexes_[port] =
        CreateMutexA(MakeEveryoneSecurityAttributes(security, kEveryoneMutexAccess), FALSE,
                     PortObjectNameFor(*names_, kCallingProcessMutexName, port).c_str());
  }
}

void Library::UnmarkUser(int port) {
  if (useCounts_[port] > 0) --useCounts_[port];
  if (useCounts_[port] == 0) callingMutexes_[port].reset();
}

int Library::OpenPort(const char* portName, PPDT_HANDLE* handle) {
  if (!portName || !handle) return kErrArgument;
  // The port table keeps names in a 24-byte field with its NUL.
  if (strnlen(portName, kPortNameFieldSize) >= kPortNameFieldSize) return kErrArgument;
  if (!Initialize()) return kErrInitFailed;
  std::unique_ptr<PpdtHandle> record(new (std::nothrow) PpdtHandle);
  if (!record) return kErrNoMemory;

  int result;
  {
    std::shared_lock link(linkLock_);
    if (!link_) {
      result = kErrNotInitialized;  // terminated by another thread meanwhile
    } else {
      NamedMutexLock table(link_->tableMutex());
      result = OpenPortLocked(portName);
    }
  }
  if (result < 0) return result;
  record->port = result;
  {
    std::lock_guard lock(handlesLock_);
    *handle = record.get();
    handles_.push_back(std::move(record));
  }
  return kOk;
}

int Library::OpenPortLocked(const char* portName) {
  PortTable table = link_->table();
  int freePort = -1;
  for (int port = 0; port < kPortCount; ++port) {
    PortEntry entry = table.entry(port);
    if (entry.openCount() == 0) {
      if (freePort < 0) freePort = port;
    } else if (strcasecmp(entry.name().c_str(), portName) == 0) {
      MarkUser(port);
      entry.setOpenCount(entry.openCount() + 1);
      return port;
    }
  }
  if (freePort < 0) return kErrNoPort;

  MarkUser(freePort);
  // A new worker replaces the handle of one this process started before,
  // which has ended or is ending.
  if (!link_->StartWorker(freePort, *names_, &workers_[freePort])) {
    UnmarkUser(freePort);
    return kErrWorkerStart;
  }
  const int opened = link_->SendPortRequest(freePort, kRequestOpen, 0,
                                            static_cast<std::uint32_t>(strlen(portName)) + 1,
                                            portName, 0, nullptr, nullptr);
  if (opened != kOk) {
    link_->SendPortRequest(freePort, kRequestQuit, 0, 0, nullptr, 0, nullptr, nullptr);
    Sleep(kQuitGraceMs);
    UnmarkUser(freePort);
    return opened;
  }
  PortEntry entry = table.entry(freePort);
  entry.setName(portName);
  entry.setOpenCount(entry.openCount() + 1);
  return freePort;
}

void Library::ReleasePortLocked(int port) {
  if (!IsPortIndex(port)) return;
  PortEntry entry = link_->table().entry(port);
  const std::uint32_t count = entry.openCount();
  if (count != 0) {
    entry.setOpenCount(count - 1);
    if (count == 1) {
      link_->SendPortRequest(port, kRequestClose, 0, 0, nullptr, 0, nullptr, nullptr);
      link_->SendPortRequest(port, kRequestQuit, 0, 0, nullptr, 0, nullptr, nullptr);
      Sleep(kQuitGraceMs);
    }
  }
  UnmarkUser(port);
}

int Library::ClosePort(PPDT_HANDLE handle) {
  std::shared_lock link(linkLock_);
  if (!link_) return kErrNotInitialized;
  int port;
  {
    std::lock_guard lock(handlesLock_);
    auto it = Find(handle);
    if (it == handles_.end()) return kErrHandle;
    port = handle->port;
    handles_.erase(it);
  }
  NamedMutexLock table(link_->tableMutex());
  ReleasePortLocked(port);
  return kOk;
}

Library::HandleState Library::StateOf(PPDT_HANDLE handle) {
  std::lock_guard lock(handlesLock_);
  if (Find(handle) == handles_.end()) {
    return {kErrHandle, -1, PPDT_SESSION_NONE};
  }
  return {kOk, handle->port, handle->session};
}

int Library::CheckSession(PPDT_HANDLE handle, int kind, int* port) {
  const HandleState state = StateOf(handle);
  if (state.result != kOk) return state.result;
  if (state.session == PPDT_SESSION_NONE) return kErrNoSession;
  if (state.session != kind) return kErrSession;
  *port = state.port;
  return kOk;
}

void Library::SetSession(PPDT_HANDLE handle, int kind) {
  std::lock_guard lock(handlesLock_);
  if (Find(handle) != handles_.end()) {
    handle->session = kind;
  }
}

int Library::SessionOpen(PPDT_HANDLE handle, const SessionControls& session) {
  std::shared_lock link(linkLock_);
  if (!link_) return kErrNotInitialized;
  const HandleState state = StateOf(handle);
  if (state.result != kOk) return state.result;
  if (state.session != PPDT_SESSION_NONE) return kErrSession;
  const int result = Send(state.port, session.open, 0, nullptr, 0, nullptr, nullptr);
  if (result == kOk) SetSession(handle, session.kind);
  return result;
}

int Library::SessionClose(PPDT_HANDLE handle, const SessionControls& session) {
  std::shared_lock link(linkLock_);
  if (!link_) return kErrNotInitialized;
  int port;
  if (int check = CheckSession(handle, session.kind, &port); check != kOk) return check;
  const int result = Send(port, session.close, 0, nullptr, 0, nullptr, nullptr);
  SetSession(handle, PPDT_SESSION_NONE);
  return result;
}

int Library::SessionWrite(PPDT_HANDLE handle, const SessionControls& session, const void* data,
                          std::uint32_t length, std::uint32_t* transferred) {
  std::shared_lock link(linkLock_);
  if (!link_) return kErrNotInitialized;
  int port;
  if (int check = CheckSession(handle, session.kind, &port); check != kOk) return check;
  // Without data the device would get whatever the block held before.
  if (!data && length) return kErrArgument;
  // Job data travels in the output area, the other sessions' in the input area.
  if (session.write == kControlJobWrite) {
    return Send(port, session.write, 0, nullptr, length, const_cast<void*>(data), transferred);
  }
  return Send(port, session.write, length, data, 0, nullptr, transferred);
}

int Library::SessionRead(PPDT_HANDLE handle, const SessionControls& session, void* buffer,
                         std::uint32_t size, std::uint32_t* transferred) {
  std::shared_lock link(linkLock_);
  if (!link_) return kErrNotInitialized;
  int port;
  if (int check = CheckSession(handle, session.kind, &port); check != kOk) return check;
  if (!buffer && size) return kErrArgument;
  return Send(port, session.read, 0, nullptr, size, buffer, transferred);
}

int Library::JobFlush(PPDT_HANDLE handle) {
  std::shared_lock link(linkLock_);
  if (!link_) return kErrNotInitialized;
  int port;
  if (int check = CheckSession(handle, PPDT_SESSION_JOB, &port); check != kOk) return check;
  for (;;) {
    // Cleared before each poll: an answer without its byte is "not yet".
    std::uint8_t delivered = 0;
    const int result = Send(port, kControlJobFlush, 0, nullptr, 1, &delivered, nullptr);
    if (result != kOk) return result;
    if (delivered != 0) return kOk;
  }
}

int Library::JobCancel(PPDT_HANDLE handle) {
  std::shared_lock link(linkLock_);
  if (!link_) return kErrNotInitialized;
  int port;
  if (int check = CheckSession(handle, PPDT_SESSION_JOB, &port); check != kOk) return check;
  return Send(port, kControlJobCancel, 0, nullptr, 0, nullptr, nullptr);
}

int Library::GetDeviceId(PPDT_HANDLE handle, void* buffer, std::uint32_t size,
                         std::uint32_t* transferred) {
  std::shared_lock link(linkLock_);
  if (!link_) return kErrNotInitialized;
  const HandleState state = StateOf(handle);
  if (state.result != kOk) return state.result;
  if (!buffer || size == 0 || !transferred) return kErrArgument;
  return Send(state.port, kControlGetDeviceId, 0, nullptr, size, buffer, transferred);
}

// Built at load, before any export can be called; destroyed at unload.
Library g_library;

}  // namespace
}  // namespace tgx::ppdt

using tgx::ppdt::g_library;
using tgx::ppdt::kAdmin;
using tgx::ppdt::kJob;
using tgx::ppdt::kResource;

extern "C" {

int32_t PPDT_Initialize(void) { return g_library.Initialize(); }
int32_t PPDT_Terminate(void) { return g_library.Terminate(); }

int32_t PPDT_OpenPort(const char* portName, PPDT_HANDLE* handle) {
  return g_library.OpenPort(portName, handle);
}
int32_t PPDT_ClosePort(PPDT_HANDLE handle) { return g_library.ClosePort(handle); }

int32_t PPDT_JobOpen(PPDT_HANDLE handle) { return g_library.SessionOpen(handle, kJob); }
int32_t PPDT_JobClose(PPDT_HANDLE handle) { return g_library.SessionClose(handle, kJob); }
int32_t PPDT_JobWrite(PPDT_HANDLE handle, const void* data, uint32_t length,
                      uint32_t* transferred) {
  return g_library.SessionWrite(handle, kJob, data, length, transferred);
}
int32_t PPDT_JobFlush(PPDT_HANDLE handle) { return g_library.JobFlush(handle); }
int32_t PPDT_JobCancel(PPDT_HANDLE handle) { return g_library.JobCancel(handle); }

int32_t PPDT_AdminOpen(PPDT_HANDLE handle) { return g_library.SessionOpen(handle, kAdmin); }
int32_t PPDT_AdminClose(PPDT_HANDLE handle) { return g_library.SessionClose(handle, kAdmin); }
int32_t PPDT_AdminWrite(PPDT_HANDLE handle, const void* data, uint32_t length,
                        uint32_t* transferred) {
  return g_library.SessionWrite(handle, kAdmin, data, length, transferred);
}
int32_t PPDT_AdminRead(PPDT_HANDLE handle, void* buffer, uint32_t size, uint32_t* transferred) {
  return g_library.SessionRead(handle, kAdmin, buffer, size, transferred);
}

int32_t PPDT_ResOpen(PPDT_HANDLE handle) { return g_library.SessionOpen(handle, kResource); }
int32_t PPDT_ResClose(PPDT_HANDLE handle) { return g_library.SessionClose(handle, kResource); }
int32_t PPDT_ResWrite(PPDT_HANDLE handle, const void* data, uint32_t length,
                      uint32_t* transferred) {
  return g_library.SessionWrite(handle, kResource, data, length, transferred);
}
int32_t PPDT_ResRead(PPDT_HANDLE handle, void* buffer, uint32_t size, uint32_t* transferred) {
  return g_library.SessionRead(handle, kResource, buffer, size, transferred);
}

int32_t PPDT_GetDeviceID(PPDT_HANDLE handle, void* buffer, uint32_t size, uint32_t* transferred) {
  return g_library.GetDeviceId(handle, buffer, size, transferred);
}

}  // extern "C"
