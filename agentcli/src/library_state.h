// The process-wide state of the client library: its reference count, the
// Winsock and library statuses, and the registry of the sockets it has handed
// out. One mutex guards all of it, held only for the look-up, insert and erase
// themselves, so that several threads may use the library at once.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <set>

#include "tgx/agentcli.h"
#include "tgx/socket.h"

namespace tgx::agentcli {

// How a call that takes a socket may go on.
enum class Admission { kAdmitted, kNotReady, kUnknownSocket };

class LibraryState {
 public:
  static LibraryState& Instance();

  // AuCbtInitialize and AuCbtShutdown run one at a time; each holds this for
  // its whole run, so that a shutdown deleting the remaining sockets never
  // meets a concurrent start-up.
  std::mutex& lifecycle() { return lifecycle_; }

  // Raises the reference count; the step to 1 starts Winsock. Returns the
  // library status.
  std::int32_t Initialize();
  // Lowers the reference count (never below -1). True when it reached exactly
  // 0: the caller then deletes the remaining sockets and calls Finish.
  // `status` receives the library status.
  bool Release(std::int32_t* status);
  // Returns the library to not initialised and stops Winsock.
  void Finish();

  bool Ready();
  // Readiness, then the registry look-up.
  Admission Admit(AuCbtSocket socket);
  // Readiness, then the registry look-up; an admitted socket is removed.
  Admission AdmitAndRemove(AuCbtSocket socket);
  void Register(AuCbtSocket socket);
  std::optional<AuCbtSocket> SmallestSocket();

 private:
  LibraryState() = default;
  bool ReadyLocked() const { return winsock_state_ == 0 && status_ >= 0; }
  int StartWinsock();
  void CleanupWinsock();

  std::mutex lifecycle_;
  std::mutex lock_;
  std::int32_t reference_count_ = -1;
  std::int32_t winsock_state_ = WSANOTINITIALISED;
  std::int32_t status_ = AUCBT_LIBRARY_NOT_INITIALISED;
  std::int32_t winsock_started_ = WSANOTINITIALISED;
  std::set<AuCbtSocket> sockets_;
};

}  // namespace tgx::agentcli
