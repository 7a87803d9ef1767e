#include "server.h"

#include <sys/epoll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "monitor_server.h"
#include "ppdt_endpoint.h"

namespace fs = std::filesystem;

namespace printersim {
namespace {

// How long a stopping simulator waits for hosts to read what was written for them.
constexpr Millis kFinishOutputLimit{2000};
constexpr Millis kFinishOutputPoll{10};

void TraceToStderr(const std::string& line) {
  static const auto start = std::chrono::steady_clock::now();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::fprintf(stderr, "printersim %10.6f %s\n", seconds, line.c_str());
}

}  // namespace

PrinterUnit::~PrinterUnit() = default;

Server::Server(Config config, ServerOptions options)
    : config_(std::move(config)), options_(std::move(options)), timers_(loop_) {
  if (options_.control_path.empty())
    options_.control_path = options_.root / "run/printersim/control";
  if (options_.monitor_path.empty())
    options_.monitor_path = options_.root / "run/printersim/monitor";
}

Server::~Server() {
  timers_.CancelAll();
  control_connections_.clear();
  control_.reset();
  monitor_.reset();
  units_.clear();
  std::error_code ec;
  fs::remove(options_.control_path, ec);
  fs::remove(options_.monitor_path, ec);
}

std::string Server::Start() {
  if (!loop_.ok()) return "cannot create the event loop";
  loop_.on_signal = [this] { loop_.Stop(); };
  for (const PrinterConfig& config : config_.printers) {
    auto unit = std::make_unique<PrinterUnit>();
    unit->printer = std::make_unique<Printer>(config, loop_);
    if (!config.job_file.empty()) {
      if (std::string error = unit->printer->sink().OpenFile(config.job_file); !error.empty()) {
        return config.name + ": " + error;
      }
    }
    if (options_.trace) unit->printer->SetTrace(TraceToStderr);
    PrinterUnit* raw = unit.get();
    unit->printer->on_stall_changed = [this, raw] { UpdateReading(*raw); };
    units_.push_back(std::move(unit));
    if (std::string error = CreateEndpoints(*raw); !error.empty()) {
      return config.name + ": " + error;
    }
  }
  std::string error;
  monitor_ = MonitorServer::Create(loop_, *this, options_.monitor_path, &error);
  if (!monitor_) return error;
  tgx::UniqueFd control = ListenUnix(options_.control_path, &error);
  if (!control.valid()) return error;
  control_ = std::make_unique<Acceptor>(loop_, std::move(control),
                                        [this](tgx::UniqueFd fd) { AcceptControl(std::move(fd)); });
  return {};
}

std::string Server::CreateEndpoints(PrinterUnit& unit) {
  Printer& printer = *unit.printer;
  const PrinterConfig& config = printer.config();
  std::string error;
  if (config.port_kind != PortKind::kNone) {
    unit.port = PortDevice::Create(loop_, printer, options_.root, &error);
    if (!unit.port) return error;
  }
  if (config.tcp_port) {
    unit.tcp = TcpEndpoint::Create(loop_, printer, *config.tcp_port, &error);
    if (!unit.tcp) return error;
  }
  if (!config.ppdt_name.empty()) {
    unit.ppdt =
        PpdtEndpoint::Create(loop_, printer, options_.root / "dev/ppdt" / config.ppdt_name, &error);
    if (!unit.ppdt) return error;
  }
  unit.present = true;
  return {};
}

PrinterUnit* Server::Find(const std::string& name) {
  for (auto& unit : units_) {
    if (unit->printer->name() == name) return unit.get();
  }
  return nullptr;
}

void Server::UpdateReading(PrinterUnit& unit) {
  if (unit.port) unit.port->UpdateReading();
  if (unit.tcp) unit.tcp->UpdateReading();
  if (unit.ppdt) unit.ppdt->UpdateStall();
  if (monitor_) monitor_->UpdateStall(*unit.printer);
}

void Server::Hangup(PrinterUnit& unit) {
  unit.printer->counters().Add("hangups");
  if (monitor_) monitor_->Drop(*unit.printer);
  unit.port.reset();
  unit.tcp.reset();
  unit.ppdt.reset();
  unit.present = false;
}

std::string Server::Plug(PrinterUnit& unit) {
  if (unit.present) return "already present";
  unit.printer->counters().Add("plugs");
  std::string error = CreateEndpoints(unit);
  if (!error.empty()) Hangup(unit);
  return error;
}

void Server::AcceptControl(tgx::UniqueFd fd) {
  const std::uint64_t id = next_control_id_++;
  ControlConnection& connection = control_connections_[id];
  ControlConnection* self = &connection;
  connection.stream = std::make_unique<Stream>(
      loop_, std::move(fd),
      [this, self](std::span<const std::uint8_t> bytes) {
        self->input.append(bytes.begin(), bytes.end());
        std::size_t eol;
        while ((eol = self->input.find('\n')) != std::string::npos) {
          std::string line = self->input.substr(0, eol);
          self->input.erase(0, eol + 1);
          if (!line.empty() && line.back() == '\r') line.pop_back();
          const std::string reply = Execute(line);
          self->stream->Write(
              std::span(reinterpret_cast<const std::uint8_t*>(reply.data()), reply.size()));
        }
        if (self->input.size() > 65536) self->input.clear();  // no line that long is a command
      },
      [this, id] { timers_.After(Millis(0), [this, id] { control_connections_.erase(id); }); });
}

void Server::Run() {
  loop_.Run();
  FinishOutput();
}

// A pty loses what was written to it once its master closes: give hosts that
// still hold a device a moment to read their last answers.
void Server::FinishOutput() {
  const auto deadline = std::chrono::steady_clock::now() + kFinishOutputLimit;
  auto waiting = [this] {
    for (const auto& unit : units_) {
      if (unit->port && unit->port->host_opens() > 0 && unit->port->UnreadOutput() > 0) return true;
    }
    return false;
  };
  std::function<void()> check = [&] {
    if (!waiting() || std::chrono::steady_clock::now() >= deadline) {
      loop_.Stop();
      return;
    }
    timers_.After(kFinishOutputPoll, check);
  };
  if (!waiting()) return;
  loop_.on_signal = [this] { loop_.Stop(); };
  timers_.After(kFinishOutputPoll, check);
  loop_.Run();
}

}  // namespace printersim
