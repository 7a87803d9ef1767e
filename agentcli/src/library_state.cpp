#include "library_state.h"

namespace tgx::agentcli {

LibraryState& LibraryState::Instance() {
  static LibraryState state;
  return state;
}

std::int32_t LibraryState::Initialize() {
  std::lock_guard hold(lock_);
  if (reference_count_ < 0) reference_count_ = 0;
  if (++reference_count_ == 1) {
    winsock_state_ = StartWinsock();
    if (winsock_state_ == 0) status_ = 0;
  }
  return status_;
}

bool LibraryState::Release(std::int32_t* status) {
  std::lock_guard hold(lock_);
  if (reference_count_ > -1) --reference_count_;
  *status = status_;
  return reference_count_ == 0;
}

void LibraryState::Finish() {
  std::lock_guard hold(lock_);
  if (status_ >= 0) status_ = AUCBT_LIBRARY_NOT_INITIALISED;
  if (winsock_state_ == 0) {
    CleanupWinsock();
    winsock_state_ = WSANOTINITIALISED;
  }
}

bool LibraryState::Ready() {
  std::lock_guard hold(lock_);
  return ReadyLocked();
}

Admission LibraryState::Admit(AuCbtSocket socket) {
  std::lock_guard hold(lock_);
  if (!ReadyLocked()) return Admission::kNotReady;
  return sockets_.contains(socket) ? Admission::kAdmitted : Admission::kUnknownSocket;
}

Admission LibraryState::AdmitAndRemove(AuCbtSocket socket) {
  std::lock_guard hold(lock_);
  if (!ReadyLocked()) return Admission::kNotReady;
  return sockets_.erase(socket) ? Admission::kAdmitted : Admission::kUnknownSocket;
}

void LibraryState::Register(AuCbtSocket socket) {
  std::lock_guard hold(lock_);
  sockets_.insert(socket);
}

std::optional<AuCbtSocket> LibraryState::SmallestSocket() {
  std::lock_guard hold(lock_);
  if (sockets_.empty()) return std::nullopt;
  return *sockets_.begin();
}

// Asks for Winsock 1.1 and accepts any stack that offers at least that.
int LibraryState::StartWinsock() {
  if (winsock_started_ == 0) return 0;
  WSADATA data;
  if (const int error = WSAStartup(MAKEWORD(1, 1), &data); error != 0) return error;
  const BYTE major = LOBYTE(data.wHighVersion);
  const BYTE minor = HIBYTE(data.wHighVersion);
  if (major > 1 || (major == 1 && minor >= 1)) {
    winsock_started_ = 0;
    return 0;
  }
  return WSACleanup() == 0 ? WSAVERNOTSUPPORTED : WSAGetLastError();
}

void LibraryState::CleanupWinsock() {
  if (winsock_started_ != 0) return;
  if (WSACleanup() == 0) winsock_started_ = WSANOTINITIALISED;
}

}  // namespace tgx::agentcli
