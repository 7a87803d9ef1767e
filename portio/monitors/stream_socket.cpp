#include "stream_socket.h"

#include <errno.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <memory>

#include "poll_wait.h"

namespace tgx::portio {
namespace {

// Connects a non-blocking socket to address within the deadline.
DWORD ConnectWithin(int fd, const sockaddr* address, socklen_t length, const Deadline& deadline) {
  if (connect(fd, address, length) == 0) return ERROR_SUCCESS;
  if (errno != EINPROGRESS) return DeviceError(errno);
  DWORD error = ERROR_SUCCESS;
  switch (WaitFor(fd, POLLOUT, deadline, &error)) {
    case WaitOutcome::kTimedOut: return ERROR_DEVICE_NOT_CONNECTED;
    case WaitOutcome::kFailed: return error;
    case WaitOutcome::kReady: break;
  }
  int status = 0;
  socklen_t size = sizeof status;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &status, &size) != 0) return DeviceError(errno);
  return status == 0 ? ERROR_SUCCESS : DeviceError(status);
}

int NewSocket(int family) { return socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0); }

}  // namespace

StreamSocket::StreamSocket(StreamSocket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

StreamSocket& StreamSocket::operator=(StreamSocket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

StreamSocket::~StreamSocket() { Close(); }

void StreamSocket::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

std::optional<StreamSocket> StreamSocket::ConnectTcp(const std::string& host, WORD port,
                                                     DWORD timeoutMs, DWORD* error) {
  const Deadline deadline(timeoutMs);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
    *error = ERROR_BAD_NET_NAME;
    return std::nullopt;
  }
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> addresses(found, freeaddrinfo);
  *error = ERROR_DEVICE_NOT_CONNECTED;
  for (const addrinfo* a = found; a; a = a->ai_next) {
    StreamSocket candidate(NewSocket(a->ai_family));
    if (!candidate) {
      *error = Win32ErrorFromErrno(errno);
      continue;
    }
    *error = ConnectWithin(candidate.fd_, a->ai_addr, a->ai_addrlen, deadline);
    if (*error == ERROR_SUCCESS) {
      const int on = 1;
      setsockopt(candidate.fd_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      return candidate;
    }
  }
  return std::nullopt;
}

std::optional<StreamSocket> StreamSocket::ConnectUnix(const std::string& path, DWORD* error) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path) {
    *error = ERROR_FILENAME_EXCED_RANGE;
    return std::nullopt;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  StreamSocket candidate(NewSocket(AF_UNIX));
  if (!candidate) {
    *error = Win32ErrorFromErrno(errno);
    return std::nullopt;
  }
  // A local socket connects at once or not at all.
  *error = ConnectWithin(candidate.fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address,
                         Deadline(INFINITE));
  if (*error == ERROR_FILE_NOT_FOUND) *error = ERROR_DEVICE_NOT_CONNECTED;
  if (*error != ERROR_SUCCESS) return std::nullopt;
  return candidate;
}

IoResult StreamSocket::Send(std::span<const BYTE> data, DWORD timeoutMs) {
  const Deadline deadline(timeoutMs);
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = send(fd_, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EINTR) return {DeviceError(errno), done};
    DWORD error = ERROR_SUCCESS;
    switch (WaitFor(fd_, POLLOUT, deadline, &error)) {
      case WaitOutcome::kTimedOut: return {ERROR_OPERATION_ABORTED, done};
      case WaitOutcome::kFailed: return {error, done};
      case WaitOutcome::kReady: break;
    }
  }
  return {ERROR_SUCCESS, done};
}

IoResult StreamSocket::ReceiveSome(std::span<BYTE> buffer, DWORD timeoutMs) {
  const Deadline deadline(timeoutMs);
  for (;;) {
    const ssize_t n = recv(fd_, buffer.data(), buffer.size(), 0);
    if (n > 0) return {ERROR_SUCCESS, static_cast<std::size_t>(n)};
    if (n == 0) return {ERROR_DEVICE_NOT_CONNECTED, 0};
    if (errno != EAGAIN && errno != EINTR) return {DeviceError(errno), 0};
    DWORD error = ERROR_SUCCESS;
    switch (WaitFor(fd_, POLLIN, deadline, &error)) {
      case WaitOutcome::kTimedOut: return {ERROR_OPERATION_ABORTED, 0};
      case WaitOutcome::kFailed: return {error, 0};
      case WaitOutcome::kReady: break;
    }
  }
}

IoResult StreamSocket::ReceiveAll(std::span<BYTE> buffer, DWORD timeoutMs) {
  const Deadline deadline(timeoutMs);
  std::size_t done = 0;
  while (done < buffer.size()) {
    const int left = deadline.RemainingForPoll();
    const IoResult part =
        ReceiveSome(buffer.subspan(done), left < 0 ? INFINITE : static_cast<DWORD>(left));
    done += part.bytes;
    if (!part.ok()) return {part.error, done};
  }
  return {ERROR_SUCCESS, done};
}

}  // namespace tgx::portio
