#include "printer.h"

#include <algorithm>

#include "printersim/device_packet.h"
#include "printersim/wire.h"
#include "session.h"

namespace printersim {

Printer::Printer(PrinterConfig config, Scheduler& scheduler)
    : config_(std::move(config)),
      packet_protocol_(config_.SpeaksPacketProtocol()),
      scheduler_(scheduler),
      timers_(scheduler) {
  faults_.credit = config_.credit;
  faults_.stall = config_.stall;
  faults_.slow_ms = config_.slow_ms;
  faults_.error_after_packets = config_.error_after_packets;
  faults_.exit_after_packets = config_.exit_after_packets;
  faults_.refuse_channel = config_.refuse_channel;
  faults_.ppdt_refuse = config_.ppdt_refuse;
  StartNotifyTimer();
}

Printer::~Printer() = default;

void Printer::StartNotifyTimer() {
  if (config_.notify_interval_ms == 0) return;
  timers_.After(Millis(config_.notify_interval_ms), [this] {
    Notify(config_.notify_payload);
    StartNotifyTimer();
  });
}

void Printer::Violation(const std::string& kind, const std::string& detail) {
  counters_.Add("violations");
  counters_.Add("violation." + kind);
  if (tracing()) Trace("violation " + kind + ": " + detail);
}

std::optional<std::vector<std::uint8_t>> Printer::AnswerManagement(
    std::span<const std::uint8_t> bytes) {
  const devpkt::Header header = devpkt::ReadHeader(bytes.data());
  counters_.Add("mgmt.requests");
  counters_.Add("mgmt.op." + std::to_string(header.opcode));
  if (tracing()) {
    Trace("management request op=" + std::to_string(header.opcode) + " tid=" +
          std::to_string(header.transaction_id) + " flags=" + std::to_string(header.flags) +
          " payload=" + std::to_string(header.payload_length));
  }
  if (header.flags & devpkt::kFlagAnswer) {
    Violation("answer_from_host", "management packet with the answer flag");
    return std::nullopt;
  }
  std::vector<std::uint8_t> payload;
  if (header.opcode == devpkt::kOpRegister || header.opcode == devpkt::kOpUnregister) {
    const auto reg = devpkt::ParseRegistration(bytes);
    if (!reg) {
      Violation("bad_registration", "opcode " + std::to_string(header.opcode) + " too short");
    } else {
      RegistrationEntry& entry = registrations_[reg->key];
      if (header.opcode == devpkt::kOpRegister) {
        ++entry.registers;
        entry.duration = reg->duration;
        for (std::uint16_t code : reg->event_codes) {
          if (code != 0) entry.event_codes.insert(code);
        }
      } else {
        ++entry.unregisters;
        for (std::uint16_t code : reg->event_codes) entry.event_codes.erase(code);
        if (entry.event_codes.empty()) registrations_.erase(reg->key);
      }
      // The default answer echoes the key and the parameters, as a printer confirms.
      payload.resize(8);
      wire::StoreBe32(&payload[0], reg->key);
      wire::StoreBe16(&payload[4], reg->parameter_1);
      wire::StoreBe16(&payload[6], header.opcode == devpkt::kOpRegister ? reg->parameter_2 : 0);
    }
  }
  if (!(header.flags & devpkt::kFlagExpectsAnswer)) return std::nullopt;
  if (auto it = config_.answers.find(header.opcode); it != config_.answers.end()) {
    payload = it->second;
  }
  devpkt::Header answer = header;
  answer.flags = devpkt::kFlagAnswer;
  counters_.Add("mgmt.answers");
  return devpkt::Encode(answer, payload);
}

Millis Printer::AnswerDelay() const { return Millis(config_.answer_delay_ms + faults_.slow_ms); }

unsigned Printer::Notify(std::span<const std::uint8_t> payload) {
  unsigned channels = 0;
  for (Session* session : std::vector<Session*>(sessions_)) channels += session->Notify(payload);
  counters_.Add("mgmt.notifications");
  if (channels == 0) counters_.Add("mgmt.notifications_dropped");
  return channels;
}

void Printer::Attach(Session* session) { sessions_.push_back(session); }

void Printer::Detach(Session* session) {
  sessions_.erase(std::remove(sessions_.begin(), sessions_.end(), session), sessions_.end());
}

void Printer::SetStall(bool stall) {
  faults_.stall = stall;
  if (on_stall_changed) on_stall_changed();
}

void Printer::SetCreditPolicy(CreditPolicy policy) {
  faults_.credit = policy;
  for (Session* session : std::vector<Session*>(sessions_)) session->ApplyCreditPolicy();
}

void Printer::Trace(const std::string& line) const {
  if (trace_) trace_(name() + ": " + line);
}

void Printer::ResetCounters() {
  counters_.Clear();
  sink_.Reset();
  registrations_.clear();
}

}  // namespace printersim
