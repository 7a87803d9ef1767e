// Winsock start-up state and the socket calls with Winsock behaviour.
#include "tgx/socket.h"

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <mutex>

#include "msgthread_select.h"

namespace tgx {
namespace {

constexpr WORD kHighestVersion = MAKEWORD(2, 2);

std::mutex g_startMutex;
int g_startCount = 0;

int WsaErrorFromErrno(int err) {
  switch (err) {
    case EAGAIN: return WSAEWOULDBLOCK;
    case EINTR: return WSAEINTR;
    case EBADF:
    case ENOTSOCK: return WSAENOTSOCK;
    case EACCES:
    case EPERM: return WSAEACCES;
    case EFAULT: return WSAEFAULT;
    case EMFILE:
    case ENFILE: return WSAEMFILE;
    case EMSGSIZE: return WSAEMSGSIZE;
    case EADDRINUSE: return WSAEADDRINUSE;
    case EADDRNOTAVAIL: return WSAEADDRNOTAVAIL;
    case ENETDOWN: return WSAENETDOWN;
    case ECONNABORTED: return WSAECONNABORTED;
    case ECONNRESET:
    case EPIPE: return WSAECONNRESET;
    case ENOBUFS:
    case ENOMEM: return WSAENOBUFS;
    case ENOTCONN: return WSAENOTCONN;
    case ESHUTDOWN: return WSAESHUTDOWN;
    case ETIMEDOUT: return WSAETIMEDOUT;
    case ECONNREFUSED: return WSAECONNREFUSED;
    default: return WSAEINVAL;
  }
}

int FailFromErrno() {
  WSASetLastError(WsaErrorFromErrno(errno));
  return SOCKET_ERROR;
}

void SetTcpOption(SOCKET socket, int level, int option) {
  const int on = 1;
  setsockopt(socket, level, option, &on, sizeof on);
}

bool IsStarted() {
  std::lock_guard lock(g_startMutex);
  return g_startCount > 0;
}

}  // namespace

int WSAStartup(WORD versionRequested, WSADATA* data) {
  if (!data) return WSAEFAULT;
  std::memset(data, 0, sizeof *data);
  data->wHighVersion = kHighestVersion;
  if (LOBYTE(versionRequested) == 0) return WSAVERNOTSUPPORTED;
  const bool aboveHighest = LOBYTE(versionRequested) > 2 ||
                            (LOBYTE(versionRequested) == 2 && HIBYTE(versionRequested) > 2);
  data->wVersion = aboveHighest ? kHighestVersion : versionRequested;
  std::strcpy(data->szDescription, "WinSock 2.0");
  std::strcpy(data->szSystemStatus, "Running");
  std::lock_guard lock(g_startMutex);
  ++g_startCount;
  return 0;
}

int WSACleanup() {
  std::lock_guard lock(g_startMutex);
  if (g_startCount == 0) {
    WSASetLastError(WSANOTINITIALISED);
    return SOCKET_ERROR;
  }
  --g_startCount;
  return 0;
}

int WSAGetLastError() { return static_cast<int>(GetLastError()); }
void WSASetLastError(int error) { SetLastError(static_cast<DWORD>(error)); }

SOCKET socket(int family, int type, int protocol) {
  if (!IsStarted()) {
    WSASetLastError(WSANOTINITIALISED);
    return INVALID_SOCKET;
  }
  const SOCKET created = ::socket(family, type | SOCK_CLOEXEC, protocol);
  if (created < 0) return FailFromErrno();
  if ((family == AF_INET || family == AF_INET6) && type == SOCK_STREAM) {
    SetTcpOption(created, IPPROTO_TCP, TCP_NODELAY);
    SetTcpOption(created, SOL_SOCKET, SO_REUSEADDR);
  }
  return created;
}

SOCKET accept(SOCKET listener, sockaddr* address, socklen_t* addressLength) {
  SOCKET accepted;
  do {
    accepted = ::accept4(listener, address, addressLength, SOCK_CLOEXEC);
  } while (accepted < 0 && errno == EINTR);
  const int error = errno;
  detail::ReenableSocketEvent(listener, FD_ACCEPT);
  if (accepted < 0) {
    errno = error;
    return FailFromErrno();
  }
  SetTcpOption(accepted, IPPROTO_TCP, TCP_NODELAY);
  return accepted;
}

int recv(SOCKET socket, void* buffer, int length, int flags) {
  if (length < 0) {
    WSASetLastError(WSAEINVAL);
    return SOCKET_ERROR;
  }
  ssize_t got;
  do {
    got = ::recv(socket, buffer, static_cast<std::size_t>(length), flags);
  } while (got < 0 && errno == EINTR);
  const int error = errno;
  detail::ReenableSocketEvent(socket, FD_READ);
  if (got < 0) {
    errno = error;
    return FailFromErrno();
  }
  return static_cast<int>(got);
}

int send(SOCKET socket, const void* buffer, int length, int flags) {
  if (length < 0) {
    WSASetLastError(WSAEINVAL);
    return SOCKET_ERROR;
  }
  const auto* bytes = static_cast<const char*>(buffer);
  std::size_t done = 0;
  const DWORD limit = ScaledTimeout(30000);
  const DWORD start = GetTickCount();
  while (done < static_cast<std::size_t>(length)) {
    const ssize_t sent =
        ::send(socket, bytes + done, static_cast<std::size_t>(length) - done, flags | MSG_NOSIGNAL);
    if (sent >= 0) {
      done += static_cast<std::size_t>(sent);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN) return FailFromErrno();
    const DWORD elapsed = GetTickCount() - start;
    if (elapsed >= limit) {
      WSASetLastError(WSAETIMEDOUT);
      return SOCKET_ERROR;
    }
    pollfd entry{socket, POLLOUT, 0};
    if (poll(&entry, 1, static_cast<int>(limit - elapsed)) < 0 && errno != EINTR) {
      return FailFromErrno();
    }
  }
  return length;
}

int ioctlsocket(SOCKET socket, long command, unsigned long* argument) {
  if (command != FIONREAD || argument == nullptr) {
    WSASetLastError(WSAEINVAL);
    return SOCKET_ERROR;
  }
  int waiting = 0;
  if (::ioctl(socket, FIONREAD, &waiting) != 0) return FailFromErrno();
  *argument = static_cast<unsigned long>(waiting);
  return 0;
}

int WaitForReadable(SOCKET socket, DWORD milliseconds) {
  pollfd entry{socket, POLLIN, 0};
  const int timeout =
      milliseconds == INFINITE ? -1 : static_cast<int>(std::min<DWORD>(milliseconds, INT_MAX));
  const int ready = poll(&entry, 1, timeout);
  if (ready < 0) return errno == EINTR ? 0 : FailFromErrno();
  if (entry.revents & POLLNVAL) {
    WSASetLastError(WSAENOTSOCK);
    return SOCKET_ERROR;
  }
  return ready > 0 ? 1 : 0;
}

int closesocket(SOCKET socket) {
  detail::CancelSocketSelection(socket);
  if (::close(socket) != 0) return FailFromErrno();
  return 0;
}

sockaddr_in LoopbackAddress(WORD port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

int ConnectLoopback(WORD port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  const sockaddr_in address = LoopbackAddress(port);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    ::close(fd);
    return -1;
  }
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
  return fd;
}

}  // namespace tgx
