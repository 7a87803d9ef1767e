// A printer's raw network port on loopback (like AppSocket, port 9100): each
// connection is a data path of its own with its own session; closing the
// connection ends its job. With a device-ID query configured, the query's
// bytes are answered with the device ID and kept out of the job.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "event_loop.h"
#include "id_query.h"
#include "listener.h"
#include "printer.h"
#include "session.h"
#include "stream.h"

namespace printersim {

class TcpEndpoint {
 public:
  static std::unique_ptr<TcpEndpoint> Create(EventLoop& loop, Printer& printer, std::uint16_t port,
                                             std::string* error);
  ~TcpEndpoint();
  std::uint16_t port() const { return port_; }
  void UpdateReading();

 private:
  struct Connection {
    std::unique_ptr<Session> session;
    std::unique_ptr<Stream> stream;
    std::optional<DeviceIdQueryScanner> id_query;
  };
  TcpEndpoint(EventLoop& loop, Printer& printer) : loop_(loop), printer_(printer), timers_(loop) {}
  void Accept(tgx::UniqueFd fd);
  void FromHost(Connection& connection, std::span<const std::uint8_t> bytes);

  EventLoop& loop_;
  Printer& printer_;
  std::uint16_t port_ = 0;
  std::unique_ptr<Acceptor> acceptor_;
  std::uint64_t next_id_ = 1;
  std::map<std::uint64_t, Connection> connections_;
  TimerGroup timers_;
};

}  // namespace printersim
