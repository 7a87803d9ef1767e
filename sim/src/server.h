// The printersim process: every configured printer with its endpoints, the
// monitor socket and the control socket, all served by one event loop.
#pragma once

#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "config.h"
#include "event_loop.h"
#include "listener.h"
#include "port_device.h"
#include "printer.h"
#include "stream.h"
#include "tcp_endpoint.h"

namespace printersim {

class MonitorServer;
class PpdtEndpoint;

struct ServerOptions {
  std::filesystem::path root = "/";
  std::filesystem::path control_path;  // default: <root>/run/printersim/control
  std::filesystem::path monitor_path;  // default: <root>/run/printersim/monitor
  bool trace = false;
};

// One printer and the endpoints through which hosts reach it.
struct PrinterUnit {
  std::unique_ptr<Printer> printer;
  std::unique_ptr<PortDevice> port;
  std::unique_ptr<TcpEndpoint> tcp;
  std::unique_ptr<PpdtEndpoint> ppdt;
  bool present = false;  // false after a hang-up, until plugged in again
  ~PrinterUnit();
};

class Server {
 public:
  Server(Config config, ServerOptions options);
  ~Server();
  Server(const Server&) = delete;
  Server& operator=(const Server&) = delete;

  // Creates every endpoint; returns an error text or empty.
  std::string Start();
  // Serves until a quit command or SIGINT/SIGTERM, then lets the hosts read what
  // is still waiting for them (bounded) and removes every device.
  void Run();

  const ServerOptions& options() const { return options_; }
  PrinterUnit* Find(const std::string& name);
  const std::vector<std::unique_ptr<PrinterUnit>>& units() const { return units_; }

  // The endpoints vanish (devices, sockets, connections): a printer unplugged.
  void Hangup(PrinterUnit& unit);
  // A hung-up printer comes back with fresh endpoints; error text or empty.
  std::string Plug(PrinterUnit& unit);

  // Runs one control command line; returns the reply lines, the last being
  // "ok" or "error <text>".
  std::string Execute(const std::string& line);

 private:
  std::string CreateEndpoints(PrinterUnit& unit);
  void UpdateReading(PrinterUnit& unit);
  void AcceptControl(tgx::UniqueFd fd);
  void FinishOutput();

  Config config_;
  ServerOptions options_;
  EventLoop loop_;
  std::vector<std::unique_ptr<PrinterUnit>> units_;
  std::unique_ptr<Acceptor> control_;
  std::unique_ptr<MonitorServer> monitor_;
  struct ControlConnection {
    std::unique_ptr<Stream> stream;
    std::string input;
  };
  std::uint64_t next_control_id_ = 1;
  std::map<std::uint64_t, ControlConnection> control_connections_;
  TimerGroup timers_;
};

}  // namespace printersim
