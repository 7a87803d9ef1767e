#include "monitor_server.h"

#include <algorithm>

#include "printersim/wire.h"
#include "server.h"
#include "tgx/win32.h"
#include "tgx/wire/sim_monitor.h"

namespace printersim {

namespace monitor = ::tgx::wire::sim_monitor;
std::unique_ptr<MonitorServer> MonitorServer::Create(EventLoop& loop, Server& server,
                                                     const std::filesystem::path& path,
                                                     std::string* error) {
  std::unique_ptr<MonitorServer> monitor(new MonitorServer(loop, server));
  monitor->path_ = path;
  tgx::UniqueFd listener = ListenUnix(path, error);
  if (!listener.valid()) return nullptr;
  MonitorServer* self = monitor.get();
  monitor->acceptor_ = std::make_unique<Acceptor>(
      loop, std::move(listener), [self](tgx::UniqueFd fd) { self->Accept(std::move(fd)); });
  return monitor;
}

MonitorServer::~MonitorServer() {
  timers_.CancelAll();
  acceptor_.reset();
  connections_.clear();
}

void MonitorServer::Accept(tgx::UniqueFd fd) {
  const std::uint64_t id = next_id_++;
  Connection& c = connections_[id];
  c.id = id;
  Connection* self = &c;
  c.stream = std::make_unique<Stream>(
      loop_, std::move(fd),
      [this, self](std::span<const std::uint8_t> bytes) {
        self->input.insert(self->input.end(), bytes.begin(), bytes.end());
        Process(*self);
      },
      [this, id] { CloseLater(id); });
}

void MonitorServer::CloseLater(std::uint64_t id) {
  timers_.After(Millis(0), [this, id] { connections_.erase(id); });
}

void MonitorServer::Process(Connection& c) {
  while (c.waiting_op == 0 && c.input.size() >= monitor::kLengthSize) {
    const std::uint32_t length = wire::LoadLe32(c.input.data());
    if (length == 0 || length > monitor::kMaxFrame) {
      if (c.printer) c.printer->Violation("monitor_bad_frame", "frame length out of range");
      c.stream->SetReading(false);
      CloseLater(c.id);
      return;
    }
    if (c.input.size() < monitor::kLengthSize + length) return;
    const std::uint8_t op = c.input[monitor::kLengthSize];
    const std::vector<std::uint8_t> payload(c.input.begin() + monitor::kRequestHeaderSize,
                                            c.input.begin() + monitor::kLengthSize + length);
    c.input.erase(c.input.begin(), c.input.begin() + monitor::kLengthSize + length);
    if (!Serve(c, op, payload)) {
      c.stream->SetReading(false);
      CloseLater(c.id);
      return;
    }
  }
}

bool MonitorServer::Serve(Connection& c, std::uint8_t op, std::span<const std::uint8_t> payload) {
  if (op != monitor::kOpen && c.printer == nullptr) {
    Reply(c, op, tgx::ERROR_INVALID_HANDLE);
    return true;
  }
  switch (op) {
    case monitor::kOpen: {
      if (c.printer != nullptr) {
        Reply(c, op, tgx::ERROR_INVALID_PARAMETER);
        return true;
      }
      const std::string name(payload.begin(), payload.end());
      PrinterUnit* unit = server_.Find(name);
      if (unit == nullptr || !unit->present) {
        Reply(c, op, tgx::ERROR_FILE_NOT_FOUND);
        return true;
      }
      for (const auto& [id, other] : connections_) {
        if (other.printer == unit->printer.get()) {
          Reply(c, op, tgx::ERROR_BUSY);
          return true;
        }
      }
      c.printer = unit->printer.get();
      c.printer->counters().Add("monitor.opens");
      Connection* self = &c;
      c.session = std::make_unique<Session>(*c.printer, "monitor#" + std::to_string(c.id),
                                            [this, self](std::span<const std::uint8_t> bytes) {
                                              self->from_printer.insert(self->from_printer.end(),
                                                                        bytes.begin(), bytes.end());
                                              if (self->waiting_op == monitor::kRead) {
                                                FinishRead(*self, false);
                                                Process(*self);
                                              }
                                            });
      Reply(c, op, 0);
      return true;
    }
    case monitor::kWrite: {
      if (payload.size() < monitor::kWriteDataOffset) return false;
      const std::uint32_t timeout_ms = wire::LoadLe32(&payload[monitor::kWriteTimeoutOffset]);
      c.write_data.assign(payload.begin() + monitor::kWriteDataOffset, payload.end());
      c.waiting_op = monitor::kWrite;
      if (!c.printer->faults().stall) {
        FinishWrite(c, false);
        return true;
      }
      const std::uint64_t id = c.id;
      c.timeout = timers_.After(Millis(timeout_ms), [this, id] {
        auto it = connections_.find(id);
        if (it == connections_.end()) return;
        FinishWrite(it->second, true);
        Process(it->second);
      });
      return true;
    }
    case monitor::kRead: {
      if (payload.size() != monitor::kReadPayloadSize) return false;
      c.read_max = wire::LoadLe32(&payload[monitor::kReadMaxOffset]);
      const std::uint32_t timeout_ms = wire::LoadLe32(&payload[monitor::kReadTimeoutOffset]);
      c.waiting_op = monitor::kRead;
      if (!c.from_printer.empty() || c.read_max == 0) {
        FinishRead(c, false);
        return true;
      }
      const std::uint64_t id = c.id;
      c.timeout = timers_.After(Millis(timeout_ms), [this, id] {
        auto it = connections_.find(id);
        if (it == connections_.end()) return;
        FinishRead(it->second, true);
        Process(it->second);
      });
      return true;
    }
    case monitor::kGetDeviceId: {
      const std::string& id = c.printer->config().device_id;
      Reply(c, op, 0, std::span(reinterpret_cast<const std::uint8_t*>(id.data()), id.size()));
      return true;
    }
    case monitor::kClose:
      Unbind(c);
      Reply(c, op, 0);
      return true;
    default: Reply(c, op, tgx::ERROR_INVALID_FUNCTION); return true;
  }
}

void MonitorServer::FinishRead(Connection& c, bool timed_out) {
  if (c.timeout != 0) timers_.Cancel(c.timeout);
  c.timeout = 0;
  c.waiting_op = 0;
  const std::size_t n = std::min<std::size_t>(c.read_max, c.from_printer.size());
  std::vector<std::uint8_t> data(c.from_printer.begin(),
                                 c.from_printer.begin() + static_cast<std::ptrdiff_t>(n));
  c.from_printer.erase(c.from_printer.begin(),
                       c.from_printer.begin() + static_cast<std::ptrdiff_t>(n));
  Reply(c, monitor::kRead, timed_out && n == 0 ? tgx::ERROR_TIMEOUT : 0, data);
}

void MonitorServer::FinishWrite(Connection& c, bool timed_out) {
  if (c.timeout != 0) timers_.Cancel(c.timeout);
  c.timeout = 0;
  c.waiting_op = 0;
  std::uint8_t count[monitor::kWriteReplyPayloadSize];
  std::uint32_t taken = 0;
  if (!timed_out) {
    taken = static_cast<std::uint32_t>(c.write_data.size());
    if (c.session) c.session->FromHost(c.write_data);
  }
  c.write_data.clear();
  wire::StoreLe32(count, taken);
  Reply(c, monitor::kWrite, timed_out ? tgx::ERROR_TIMEOUT : 0, count);
}

void MonitorServer::Reply(Connection& c, std::uint8_t op, std::uint32_t status,
                          std::span<const std::uint8_t> payload) {
  std::vector<std::uint8_t> frame(monitor::kReplyHeaderSize + payload.size());
  wire::StoreLe32(&frame[0], static_cast<std::uint32_t>(frame.size() - monitor::kLengthSize));
  frame[monitor::kLengthSize] = static_cast<std::uint8_t>(op | monitor::kReplyBit);
  wire::StoreLe32(&frame[monitor::kRequestHeaderSize], status);
  std::copy(payload.begin(), payload.end(), frame.begin() + monitor::kReplyHeaderSize);
  c.stream->Write(frame);
}

void MonitorServer::Unbind(Connection& c) {
  c.session.reset();
  c.printer = nullptr;
  c.from_printer.clear();
}

void MonitorServer::Drop(const Printer& printer) {
  for (auto it = connections_.begin(); it != connections_.end();) {
    if (it->second.printer == &printer) {
      if (it->second.timeout != 0) timers_.Cancel(it->second.timeout);
      it = connections_.erase(it);
    } else {
      ++it;
    }
  }
}

void MonitorServer::UpdateStall(const Printer& printer) {
  if (printer.faults().stall) return;
  for (auto& [id, c] : connections_) {
    if (c.printer == &printer && c.waiting_op == monitor::kWrite) {
      FinishWrite(c, false);
      Process(c);
    }
  }
}

}  // namespace printersim
