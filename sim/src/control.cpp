// The control socket's commands (see sim/README.md, "Control socket").
#include <cstdio>
#include <optional>
#include <set>
#include <sstream>

#include "ppdt_endpoint.h"
#include "server.h"
#include "session.h"

namespace printersim {
namespace {

constexpr const char* kHelp =
    "help\n"
    "list\n"
    "counters NAME [COUNTER...]\n"
    "registrations NAME\n"
    "reset NAME\n"
    "notify NAME [HEX]\n"
    "fault NAME error [CODE] | exit | malformed short|truncated|unknown\n"
    "fault NAME credit generous|one|withheld | stall on|off | slow MS\n"
    "fault NAME hangup | plug\n"
    "fault NAME refuse SOCKET RESULT | error-after N|off | exit-after N|off\n"
    "fault NAME ppdt-refuse CODE ERROR\n"
    "send NAME init [REVISION] | open PSID SSID | close PSID SSID\n"
    "send NAME credit PSID SSID N | credit-request PSID SSID N\n"
    "trace on|off\n"
    "quit\n";

std::vector<std::string> Words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> words;
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

std::string Error(const std::string& text) { return "error " + text + "\n"; }

std::string Hex(std::uint64_t value, int digits) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "0x%0*llX", digits, static_cast<unsigned long long>(value));
  return buf;
}

const char* PolicyName(CreditPolicy policy) {
  switch (policy) {
    case CreditPolicy::kGenerous: return "generous";
    case CreditPolicy::kOneAtATime: return "one";
    case CreditPolicy::kWithheld: return "withheld";
  }
  return "";
}

std::string ListLine(const PrinterUnit& unit, const ServerOptions& options) {
  const Printer& printer = *unit.printer;
  const PrinterConfig& config = printer.config();
  std::string line = "printer " + printer.name();
  line += " port=" + (config.port_kind == PortKind::kNone ? "none" : config.PortName());
  if (unit.port) {
    line += " device=" + unit.port->device_path().string();
    line += " pty=" + unit.port->pty_path();
  }
  line += std::string(" protocol=") + (printer.packet_protocol() ? "1284.4" : "raw");
  if (unit.tcp) line += " tcp=" + std::to_string(unit.tcp->port());
  if (unit.ppdt) line += " ppdt=" + unit.ppdt->path().string();
  line += " monitor=" + options.monitor_path.string();
  line += std::string(" state=") + (unit.present ? "present" : "gone");
  return line + "\n";
}

// Values kept outside the counter table.
constexpr const char* kDerivedCounters[] = {
    "job.active",     "job.bytes",     "job.sha256", "sink.bytes",    "jobs.started", "jobs.ended",
    "jobs.cancelled", "registrations", "host.open",  "credit.policy", "stall",        "present"};

std::optional<std::string> DerivedCounter(const PrinterUnit& unit, const std::string& name) {
  const Printer& printer = *unit.printer;
  const JobSink& sink = printer.sink();
  if (name == "job.active") return sink.job_active() ? "1" : "0";
  if (name == "job.bytes") return std::to_string(sink.job_bytes());
  if (name == "job.sha256") return sink.job_sha256();
  if (name == "sink.bytes") return std::to_string(sink.total_bytes());
  if (name == "jobs.started") return std::to_string(sink.jobs_started());
  if (name == "jobs.ended") return std::to_string(sink.jobs_ended());
  if (name == "jobs.cancelled") return std::to_string(sink.jobs_cancelled());
  if (name == "registrations") return std::to_string(printer.registrations().size());
  if (name == "host.open") return std::to_string(unit.port ? unit.port->host_opens() : 0);
  if (name == "credit.policy") return PolicyName(printer.faults().credit);
  if (name == "stall") return printer.faults().stall ? "1" : "0";
  if (name == "present") return unit.present ? "1" : "0";
  return std::nullopt;
}

// One counter by name; "0" for one never counted.
std::string CounterValue(const PrinterUnit& unit, const std::string& name) {
  if (auto value = DerivedCounter(unit, name)) return *value;
  return std::to_string(unit.printer->counters().Get(name));
}

// Every counter that is not 0, and the derived values, in name order.
std::string CountersText(const PrinterUnit& unit) {
  std::map<std::string, std::string> values;
  for (const auto& [name, value] : unit.printer->counters().values()) {
    if (value != 0) values[name] = std::to_string(value);
  }
  for (const char* name : kDerivedCounters) values[name] = *DerivedCounter(unit, name);
  std::string text;
  for (const auto& [name, value] : values) text += name + "=" + value + "\n";
  return text;
}

std::string RegistrationsText(const Printer& printer) {
  std::string text;
  for (const auto& [key, entry] : printer.registrations()) {
    text += "key=" + Hex(key, 8) + " codes=";
    bool first = true;
    for (std::uint16_t code : entry.event_codes) {
      text += (first ? "" : ",") + Hex(code, 4);
      first = false;
    }
    text += " duration=" + Hex(entry.duration, 8) +
            " registers=" + std::to_string(entry.registers) +
            " unregisters=" + std::to_string(entry.unregisters) + "\n";
  }
  return text;
}

// Sessions with a conversation going: where printer-initiated packets make sense.
std::vector<Session*> Conversations(const Printer& printer) {
  std::vector<Session*> sessions;
  for (Session* session : printer.sessions()) {
    if (session->initialized()) sessions.push_back(session);
  }
  return sessions;
}

std::optional<std::uint8_t> Byte(const std::string& text) {
  auto n = ParseNumber(text);
  if (!n || *n > 0xFF) return std::nullopt;
  return static_cast<std::uint8_t>(*n);
}

}  // namespace

std::string Server::Execute(const std::string& line) {
  const std::vector<std::string> w = Words(line);
  if (w.empty()) return Error("empty command");
  const std::string& command = w[0];
  if (command == "help") return std::string(kHelp) + "ok\n";
  if (command == "quit") {
    timers_.After(Millis(0), [this] { loop_.Stop(); });
    return "ok\n";
  }
  if (command == "list") {
    std::string text;
    for (const auto& unit : units_) text += ListLine(*unit, options_);
    return text + "ok\n";
  }
  if (command == "trace") {
    if (w.size() != 2 || (w[1] != "on" && w[1] != "off")) return Error("usage: trace on|off");
    for (const auto& unit : units_) {
      unit->printer->SetTrace(w[1] == "on" ? Printer::TraceSink([](const std::string& text) {
        std::fprintf(stderr, "printersim %s\n", text.c_str());
      })
                                           : Printer::TraceSink());
    }
    return "ok\n";
  }
  static const std::set<std::string> kPrinterCommands = {"counters", "registrations", "reset",
                                                         "notify",   "fault",         "send"};
  if (!kPrinterCommands.count(command)) return Error("unknown command " + command);
  if (w.size() < 2) return Error("usage: " + command + " NAME ...");
  PrinterUnit* unit = Find(w[1]);
  if (unit == nullptr) return Error("no printer named " + w[1]);
  Printer& printer = *unit->printer;

  if (command == "counters") {
    if (w.size() == 2) return CountersText(*unit) + "ok\n";
    // One counter by name: cheap enough to poll.
    std::string text;
    for (std::size_t i = 2; i < w.size(); ++i)
      text += w[i] + "=" + CounterValue(*unit, w[i]) + "\n";
    return text + "ok\n";
  }
  if (command == "registrations") return RegistrationsText(printer) + "ok\n";
  if (command == "reset") {
    printer.ResetCounters();
    return "ok\n";
  }
  if (command == "notify") {
    std::vector<std::uint8_t> payload = printer.config().notify_payload;
    if (w.size() > 2) {
      std::string hex;
      for (std::size_t i = 2; i < w.size(); ++i) hex += w[i];
      auto bytes = ParseHexBytes(hex);
      if (!bytes) return Error("payload must be hex bytes");
      payload = std::move(*bytes);
    }
    const unsigned channels = printer.Notify(payload);
    unsigned ppdt_sessions = unit->ppdt ? unit->ppdt->Notify(payload) : 0;
    return "channels=" + std::to_string(channels + ppdt_sessions) + "\nok\n";
  }
  if (w.size() < 3) return Error("usage: " + command + " NAME WHAT ...");
  const std::string& what = w[2];
  auto arg = [&](std::size_t i) -> std::optional<std::uint64_t> {
    return i < w.size() ? ParseNumber(w[i]) : std::nullopt;
  };

  if (command == "fault") {
    if (what == "hangup") {
      if (!unit->present) return Error("already gone");
      Hangup(*unit);
      return "ok\n";
    }
    if (what == "plug") {
      const std::string error = Plug(*unit);
      return error.empty() ? "ok\n" : Error(error);
    }
    if (what == "credit") {
      if (w.size() != 4) return Error("usage: fault NAME credit generous|one|withheld");
      if (w[3] == "generous")
        printer.SetCreditPolicy(CreditPolicy::kGenerous);
      else if (w[3] == "one")
        printer.SetCreditPolicy(CreditPolicy::kOneAtATime);
      else if (w[3] == "withheld")
        printer.SetCreditPolicy(CreditPolicy::kWithheld);
      else
        return Error("credit policy must be generous, one or withheld");
      return "ok\n";
    }
    if (what == "stall") {
      if (w.size() != 4 || (w[3] != "on" && w[3] != "off")) return Error("usage: stall on|off");
      printer.SetStall(w[3] == "on");
      return "ok\n";
    }
    if (what == "slow") {
      auto ms = arg(3);
      if (!ms || *ms > 600000) return Error("usage: fault NAME slow MS (up to 600000)");
      printer.faults().slow_ms = static_cast<unsigned>(*ms);
      return "ok\n";
    }
    if (what == "refuse") {
      auto socket = arg(3), result = arg(4);
      if (!socket || !result || *socket > 0xFF || *result > 0xFF) {
        return Error("usage: fault NAME refuse SOCKET RESULT (RESULT 0 accepts again)");
      }
      if (*result == 0)
        printer.faults().refuse_channel.erase(static_cast<std::uint8_t>(*socket));
      else
        printer.faults().refuse_channel[static_cast<std::uint8_t>(*socket)] =
            static_cast<std::uint8_t>(*result);
      return "ok\n";
    }
    if (what == "error-after" || what == "exit-after") {
      auto& field = what == "error-after" ? printer.faults().error_after_packets
                                          : printer.faults().exit_after_packets;
      if (w.size() == 4 && w[3] == "off") {
        field.reset();
        return "ok\n";
      }
      auto n = arg(3);
      if (!n || *n == 0 || *n > 0xFFFFFFFF) return Error("usage: fault NAME " + what + " N|off");
      field = static_cast<std::uint32_t>(*n);
      return "ok\n";
    }
    if (what == "ppdt-refuse") {
      auto code = arg(3), error = arg(4);
      if (!code || !error || *code > 0xFFFFFFFF || *error > 0xFFFFFFFF) {
        return Error("usage: fault NAME ppdt-refuse CODE ERROR (ERROR 0 accepts again)");
      }
      if (*error == 0)
        printer.faults().ppdt_refuse.erase(static_cast<std::uint32_t>(*code));
      else
        printer.faults().ppdt_refuse[static_cast<std::uint32_t>(*code)] =
            static_cast<std::uint32_t>(*error);
      return "ok\n";
    }
  }

  // Everything below sends packets into running conversations.
  if (!printer.packet_protocol()) return Error(printer.name() + " is a raw printer");
  const std::vector<Session*> sessions = Conversations(printer);
  if (sessions.empty()) return Error("no host has a conversation with " + printer.name());
  std::function<void(Session&)> action;
  if (command == "fault" && what == "error") {
    const std::uint8_t code = w.size() > 3 && Byte(w[3]) ? *Byte(w[3]) : packet::kErrorInjected;
    action = [code](Session& s) { s.SendError(code); };
  } else if (command == "fault" && what == "exit") {
    action = [](Session& s) { s.SendExit(); };
  } else if (command == "fault" && what == "malformed") {
    if (w.size() != 4) return Error("usage: fault NAME malformed short|truncated|unknown");
    MalformedKind kind;
    if (w[3] == "short")
      kind = MalformedKind::kShortLength;
    else if (w[3] == "truncated")
      kind = MalformedKind::kTruncated;
    else if (w[3] == "unknown")
      kind = MalformedKind::kUnknownCommand;
    else
      return Error("malformed kind must be short, truncated or unknown");
    action = [kind](Session& s) { s.SendMalformed(kind); };
  } else if (command == "send" && what == "init") {
    const std::uint8_t revision = w.size() > 3 && Byte(w[3]) ? *Byte(w[3]) : 0x10;
    action = [revision](Session& s) { s.SendInit(revision); };
  } else if (command == "send" && (what == "open" || what == "close")) {
    auto psid = w.size() > 3 ? Byte(w[3]) : std::nullopt;
    auto ssid = w.size() > 4 ? Byte(w[4]) : std::nullopt;
    if (!psid || !ssid) return Error("usage: send NAME " + what + " PSID SSID");
    if (what == "open")
      action = [=](Session& s) { s.SendOpenChannel(*psid, *ssid); };
    else
      action = [=](Session& s) { s.SendCloseChannel(*psid, *ssid); };
  } else if (command == "send" && (what == "credit" || what == "credit-request")) {
    auto psid = w.size() > 3 ? Byte(w[3]) : std::nullopt;
    auto ssid = w.size() > 4 ? Byte(w[4]) : std::nullopt;
    auto n = arg(5);
    if (!psid || !ssid || !n || *n > 0xFFFF)
      return Error("usage: send NAME " + what + " PSID SSID N");
    const auto count = static_cast<std::uint16_t>(*n);
    if (what == "credit")
      action = [=](Session& s) { s.SendCredit(*psid, *ssid, count); };
    else
      action = [=](Session& s) { s.SendCreditRequest(*psid, *ssid, count); };
  } else {
    return Error("unknown " + command + " " + what);
  }
  for (Session* session : sessions) action(*session);
  return "sessions=" + std::to_string(sessions.size()) + "\nok\n";
}

}  // namespace printersim
