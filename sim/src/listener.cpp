#include "listener.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cerrno>
#include <cstring>

namespace printersim {

tgx::UniqueFd ListenUnix(const std::filesystem::path& path, std::string* error) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.string().size() >= sizeof address.sun_path) {
    *error = "socket path too long: " + path.string();
    return {};
  }
  std::strcpy(address.sun_path, path.c_str());
  std::error_code ec;
  std::filesystem::create_directories(path.parent_path(), ec);
  std::filesystem::remove(path, ec);
  tgx::UniqueFd fd(socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd.valid() || bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd.get(), 64) != 0) {
    *error = "cannot listen on " + path.string() + ": " + std::strerror(errno);
    return {};
  }
  return fd;
}

tgx::UniqueFd ListenLoopback(std::uint16_t port, std::uint16_t* bound, std::string* error) {
  tgx::UniqueFd fd(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  const int on = 1;
  setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  socklen_t length = sizeof address;
  if (!fd.valid() || bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(fd.get(), 16) != 0 ||
      getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    *error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + std::strerror(errno);
    return {};
  }
  *bound = ntohs(address.sin_port);
  return fd;
}

Acceptor::Acceptor(EventLoop& loop, tgx::UniqueFd listener, AcceptHandler on_accept)
    : loop_(loop), listener_(std::move(listener)), on_accept_(std::move(on_accept)) {
  loop_.Add(listener_.get(), EPOLLIN, [this](std::uint32_t) {
    for (;;) {
      tgx::UniqueFd connection(
          accept4(listener_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
      if (!connection.valid()) return;
      sockaddr_storage address{};
      socklen_t length = sizeof address;
      if (getsockname(connection.get(), reinterpret_cast<sockaddr*>(&address), &length) == 0 &&
          address.ss_family == AF_INET) {
        const int on = 1;
        setsockopt(connection.get(), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      }
      on_accept_(std::move(connection));
    }
  });
}

Acceptor::~Acceptor() { loop_.Remove(listener_.get()); }

}  // namespace printersim
