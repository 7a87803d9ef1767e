// One simulated printer: its configuration, run-time fault settings, counters,
// job sink, management answers and event-registration table. The data paths
// (pty, monitor connection, TCP connection) each run a Session against it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "config.h"
#include "job_sink.h"
#include "scheduler.h"

namespace printersim {

class Session;

// Named 64-bit counters, listed in name order.
class Counters {
 public:
  void Add(const std::string& name, std::uint64_t n = 1) { values_[name] += n; }
  void Set(const std::string& name, std::uint64_t value) { values_[name] = value; }
  // The counter's storage, for hot paths: it stays valid for the printer's life
  // (Clear() zeroes counters, it never removes them).
  std::uint64_t& Slot(const std::string& name) { return values_[name]; }
  std::uint64_t Get(const std::string& name) const {
    auto it = values_.find(name);
    return it == values_.end() ? 0 : it->second;
  }
  const std::map<std::string, std::uint64_t>& values() const { return values_; }
  void Clear() {
    for (auto& [name, value] : values_) value = 0;
  }

 private:
  std::map<std::string, std::uint64_t> values_;
};

// What the printer was asked to report: event codes per subscription key.
struct RegistrationEntry {
  std::set<std::uint16_t> event_codes;
  std::uint32_t duration = 0;  // packed, as last registered
  std::uint64_t registers = 0;
  std::uint64_t unregisters = 0;
};

// Fault settings that can change at run time (initialised from the configuration).
struct FaultState {
  CreditPolicy credit = CreditPolicy::kGenerous;
  bool stall = false;
  unsigned slow_ms = 0;
  std::optional<std::uint32_t> error_after_packets;
  std::optional<std::uint32_t> exit_after_packets;
  std::map<std::uint8_t, std::uint8_t> refuse_channel;
  std::map<std::uint32_t, std::uint32_t> ppdt_refuse;
};

class Printer {
 public:
  using TraceSink = std::function<void(const std::string& line)>;

  Printer(PrinterConfig config, Scheduler& scheduler);
  ~Printer();
  Printer(const Printer&) = delete;
  Printer& operator=(const Printer&) = delete;

  const PrinterConfig& config() const { return config_; }
  const std::string& name() const { return config_.name; }
  bool packet_protocol() const { return packet_protocol_; }
  Scheduler& scheduler() { return scheduler_; }
  Counters& counters() { return counters_; }
  const Counters& counters() const { return counters_; }
  JobSink& sink() { return sink_; }
  const JobSink& sink() const { return sink_; }
  FaultState& faults() { return faults_; }
  const FaultState& faults() const { return faults_; }
  const std::map<std::uint32_t, RegistrationEntry>& registrations() const { return registrations_; }

  // A protocol violation by the host: counted in total and by kind, and traced.
  void Violation(const std::string& kind, const std::string& detail);

  // Answers one management packet (a whole DevicePacket): updates the registration
  // table and returns the answer when the packet asks for one.
  std::optional<std::vector<std::uint8_t>> AnswerManagement(std::span<const std::uint8_t> packet);
  // Delay before a management answer goes out.
  Millis AnswerDelay() const;

  // Sends an event notification (opcode 10) on every open management channel;
  // returns how many channels took it.
  unsigned Notify(std::span<const std::uint8_t> payload);

  // Sessions register themselves so that faults and notifications reach them.
  void Attach(Session* session);
  void Detach(Session* session);
  const std::vector<Session*>& sessions() const { return sessions_; }

  void SetStall(bool stall);
  // Called when the stall setting changes, so that the data paths start or stop reading.
  std::function<void()> on_stall_changed;
  // Applies a changed credit policy to every open channel.
  void SetCreditPolicy(CreditPolicy policy);

  void SetTrace(TraceSink sink) { trace_ = std::move(sink); }
  bool tracing() const { return static_cast<bool>(trace_); }
  void Trace(const std::string& line) const;

  // Forgets counters, job sink and registrations.
  void ResetCounters();

 private:
  void StartNotifyTimer();

  PrinterConfig config_;
  bool packet_protocol_;
  Scheduler& scheduler_;
  Counters counters_;
  JobSink sink_;
  FaultState faults_;
  std::map<std::uint32_t, RegistrationEntry> registrations_;
  std::vector<Session*> sessions_;
  TraceSink trace_;
  TimerGroup timers_;
};

}  // namespace printersim
