// The simulator port monitor's socket (framing in tgx/wire/sim_monitor.h):
// a plug-in opens a printer by port name and writes, reads and asks for the
// device ID through one connection. An open connection is a data path of the
// printer with its own session.
#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "event_loop.h"
#include "listener.h"
#include "printer.h"
#include "session.h"
#include "stream.h"

namespace printersim {

class Server;

class MonitorServer {
 public:
  static std::unique_ptr<MonitorServer> Create(EventLoop& loop, Server& server,
                                               const std::filesystem::path& path,
                                               std::string* error);
  ~MonitorServer();
  // The printer hung up: every connection that has it open is closed.
  void Drop(const Printer& printer);
  // The printer's stall setting changed: held writes may go on.
  void UpdateStall(const Printer& printer);

 private:
  struct Connection {
    std::uint64_t id = 0;
    std::unique_ptr<Stream> stream;
    std::vector<std::uint8_t> input;
    Printer* printer = nullptr;
    std::unique_ptr<Session> session;
    std::deque<std::uint8_t> from_printer;
    // The request being served while it waits (a read for data, a write for a
    // stalled printer), and its time-out.
    std::uint8_t waiting_op = 0;
    std::uint32_t read_max = 0;
    std::vector<std::uint8_t> write_data;
    TimerId timeout = 0;
  };

  MonitorServer(EventLoop& loop, Server& server) : loop_(loop), server_(server), timers_(loop) {}
  void Accept(tgx::UniqueFd fd);
  void Process(Connection& c);
  // Serves one whole request frame; false when the connection must close.
  bool Serve(Connection& c, std::uint8_t op, std::span<const std::uint8_t> payload);
  void Reply(Connection& c, std::uint8_t op, std::uint32_t status,
             std::span<const std::uint8_t> payload = {});
  void FinishRead(Connection& c, bool timed_out);
  void FinishWrite(Connection& c, bool timed_out);
  void Unbind(Connection& c);
  void CloseLater(std::uint64_t id);

  EventLoop& loop_;
  Server& server_;
  std::filesystem::path path_;
  std::unique_ptr<Acceptor> acceptor_;
  std::uint64_t next_id_ = 1;
  std::map<std::uint64_t, Connection> connections_;
  TimerGroup timers_;
};

}  // namespace printersim
