// Listening sockets of the simulator: Unix sockets under the device root and
// loopback TCP, each accepting into a callback inside the event loop.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

#include "event_loop.h"
#include "tgx/unique_fd.h"

namespace printersim {

// Binds a Unix stream socket at path (replacing a stale socket file) and listens.
tgx::UniqueFd ListenUnix(const std::filesystem::path& path, std::string* error);
// Binds 127.0.0.1:port (0: any free port) and listens; the bound port goes to *bound.
tgx::UniqueFd ListenLoopback(std::uint16_t port, std::uint16_t* bound, std::string* error);

class Acceptor {
 public:
  using AcceptHandler = std::function<void(tgx::UniqueFd connection)>;
  Acceptor(EventLoop& loop, tgx::UniqueFd listener, AcceptHandler on_accept);
  ~Acceptor();
  Acceptor(const Acceptor&) = delete;
  Acceptor& operator=(const Acceptor&) = delete;

 private:
  EventLoop& loop_;
  tgx::UniqueFd listener_;
  AcceptHandler on_accept_;
};

}  // namespace printersim
