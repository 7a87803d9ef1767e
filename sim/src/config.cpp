#include "config.h"

#include "device_id.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <functional>
#include <set>

namespace printersim {
namespace {

// A query longer than any real printer command is a mistake in the file.
constexpr std::size_t kMaxIdQueryBytes = 256;

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return s;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

std::vector<std::string_view> SplitList(std::string_view s) {
  std::vector<std::string_view> items;
  while (!s.empty()) {
    const std::size_t comma = s.find(',');
    std::string_view item = Trim(s.substr(0, comma));
    if (!item.empty()) items.push_back(item);
    if (comma == std::string_view::npos) break;
    s.remove_prefix(comma + 1);
  }
  return items;
}

bool ValidName(std::string_view name) {
  return !name.empty() && name.size() <= 64 && name != "." && name != ".." &&
         std::all_of(name.begin(), name.end(), [](char c) {
           return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
         });
}

// Parses one value into the printer; returns an error text or empty.
using KeyParser = std::function<std::string(PrinterConfig&, std::string_view)>;

template <class T>
KeyParser Number(T PrinterConfig::*field, std::uint64_t max) {
  return [field, max](PrinterConfig& p, std::string_view v) -> std::string {
    auto n = ParseNumber(v);
    if (!n || *n > max) return "expected a number up to " + std::to_string(max);
    p.*field = static_cast<T>(*n);
    return {};
  };
}

template <class T>
KeyParser OptionalNumber(std::optional<T> PrinterConfig::*field, std::uint64_t max) {
  return [field, max](PrinterConfig& p, std::string_view v) -> std::string {
    if (EqualsNoCase(v, "none") || EqualsNoCase(v, "off") || EqualsNoCase(v, "any")) {
      p.*field = std::nullopt;
      return {};
    }
    auto n = ParseNumber(v);
    if (!n || *n > max) return "expected a number up to " + std::to_string(max) + " or none";
    p.*field = static_cast<T>(*n);
    return {};
  };
}

std::string ParseBool(std::string_view v, bool& out) {
  if (EqualsNoCase(v, "true") || EqualsNoCase(v, "yes") || EqualsNoCase(v, "on") || v == "1") {
    out = true;
  } else if (EqualsNoCase(v, "false") || EqualsNoCase(v, "no") || EqualsNoCase(v, "off") ||
             v == "0") {
    out = false;
  } else {
    return "expected true or false";
  }
  return {};
}

// "a:b, c:d" pairs of numbers.
template <class K, class V>
std::string ParsePairs(std::string_view v, std::map<K, V>& out, std::uint64_t key_max,
                       std::uint64_t value_max) {
  out.clear();
  for (std::string_view item : SplitList(v)) {
    const std::size_t colon = item.find(':');
    if (colon == std::string_view::npos) return "expected KEY:VALUE pairs";
    auto key = ParseNumber(Trim(item.substr(0, colon)));
    auto value = ParseNumber(Trim(item.substr(colon + 1)));
    if (!key || !value || *key > key_max || *value > value_max)
      return "bad pair '" + std::string(item) + "'";
    out[static_cast<K>(*key)] = static_cast<V>(*value);
  }
  return {};
}

const std::map<std::string, KeyParser, std::less<>>& KeyParsers() {
  static const std::map<std::string, KeyParser, std::less<>> parsers = {
      {"port",
       [](PrinterConfig& p, std::string_view v) -> std::string {
         if (EqualsNoCase(v, "none")) {
           p.port_kind = PortKind::kNone;
           return {};
         }
         return ParsePortName(v, p.port_kind, p.port_number) ? "" : "expected USBnnn, LPTn or none";
       }},
      {"device_id",
       [](PrinterConfig& p, std::string_view v) -> std::string {
         if (v.size() > 1024) return "device ID longer than 1024 bytes";
         p.device_id = v;
         return {};
       }},
      {"protocol",
       [](PrinterConfig& p, std::string_view v) -> std::string {
         if (EqualsNoCase(v, "auto"))
           p.protocol = Protocol::kAuto;
         else if (EqualsNoCase(v, "1284.4") || EqualsNoCase(v, "packet"))
           p.protocol = Protocol::kPacket;
         else if (EqualsNoCase(v, "raw"))
           p.protocol = Protocol::kRaw;
         else
           return "expected auto, 1284.4 or raw";
         return {};
       }},
      {"revision", OptionalNumber(&PrinterConfig::revision, 0xFF)},
      {"max_packet",
       [](PrinterConfig& p, std::string_view v) -> std::string {
         auto n = ParseNumber(v);
         if (!n || *n < 7 || *n > 0xFFFF) return "expected a packet size from 7 to 65535";
         p.max_packet = static_cast<std::uint16_t>(*n);
         return {};
       }},
      {"credit",
       [](PrinterConfig& p, std::string_view v) -> std::string {
         if (EqualsNoCase(v, "generous"))
           p.credit = CreditPolicy::kGenerous;
         else if (EqualsNoCase(v, "one"))
           p.credit = CreditPolicy::kOneAtATime;
         else if (EqualsNoCase(v, "withheld"))
           p.credit = CreditPolicy::kWithheld;
         else
           return "expected generous, one or withheld";
         return {};
       }},
      {"credit_window",
       [](PrinterConfig& p, std::string_view v) -> std::string {
         auto n = ParseNumber(v);
         if (!n || *n < 1 || *n > 0xFFFF) return "expected a credit from 1 to 65535";
         p.credit_window = static_cast<std::uint16_t>(*n);
         return {};
       }},
      {"refuse_channel",
       [](PrinterConfig& p, std::string_view v) {
         return ParsePairs(v, p.refuse_channel, 0xFF, 0xFF);
       }},
      {"job_file",
       [](PrinterConfig& p, std::string_view v) -> std::string {
         p.job_file = v;
         return {};
       }},
      {"tcp_port", OptionalNumber(&PrinterConfig::tcp_port, 0xFFFF)},
      {"tcp_id_query",
       [](PrinterConfig& p, std::string_view v) -> std::string {
         auto bytes = ParseHexBytes(v);
         if (!bytes || bytes->size() > kMaxIdQueryBytes) return "expected 0 to 256 hex bytes";
         p.tcp_id_query = std::move(*bytes);
         return {};
       }},
      {"ppdt",
       [](PrinterConfig& p, std::string_view v) -> std::string {
         if (!ValidName(v)) return "expected a device name of letters, digits, '_', '-', '.'";
         p.ppdt_name = v;
         return {};
       }},
      {"answer_delay_ms", Number(&PrinterConfig::answer_delay_ms, 600000)},
      {"notify_interval_ms", Number(&PrinterConfig::notify_interval_ms, 3600000)},
      {"notify_payload",
       [](PrinterConfig& p, std::string_view v) -> std::string {
         auto bytes = ParseHexBytes(v);
         if (!bytes || bytes->size() > 0xFFFF) return "expected hex bytes";
         p.notify_payload = std::move(*bytes);
         return {};
       }},
      {"ppdt_flush_delay_ms", Number(&PrinterConfig::ppdt_flush_delay_ms, 600000)},
      {"ppdt_refuse",
       [](PrinterConfig& p, std::string_view v) {
         return ParsePairs(v, p.ppdt_refuse, 0xFFFFFFFF, 0xFFFFFFFF);
       }},
      {"error_after_packets", OptionalNumber(&PrinterConfig::error_after_packets, 0xFFFFFFFF)},
      {"exit_after_packets", OptionalNumber(&PrinterConfig::exit_after_packets, 0xFFFFFFFF)},
      {"stall", [](PrinterConfig& p, std::string_view v) { return ParseBool(v, p.stall); }},
      {"slow_ms", Number(&PrinterConfig::slow_ms, 600000)},
  };
  return parsers;
}

std::string ParseAnswer(PrinterConfig& p, std::string_view opcode_text, std::string_view v) {
  auto opcode = ParseNumber(opcode_text);
  if (!opcode || *opcode < 1 || *opcode > 128) return "answer opcode must be 1 to 128";
  auto bytes = ParseHexBytes(v);
  if (!bytes || bytes->size() > 0xFFFF) return "expected hex bytes";
  p.answers[static_cast<std::uint16_t>(*opcode)] = std::move(*bytes);
  return {};
}

std::string Validate(const Config& config) {
  std::set<std::string> names, ports, ppdt;
  for (const PrinterConfig& p : config.printers) {
    if (!names.insert(p.name).second) return "printer '" + p.name + "' defined twice";
    if (p.port_kind != PortKind::kNone && !ports.insert(p.PortName()).second) {
      return "port " + p.PortName() + " used by two printers";
    }
    if (!p.ppdt_name.empty() && !ppdt.insert(p.ppdt_name).second) {
      return "1394 device '" + p.ppdt_name + "' used by two printers";
    }
  }
  return {};
}

}  // namespace

bool PrinterConfig::SpeaksPacketProtocol() const {
  switch (protocol) {
    case Protocol::kPacket: return true;
    case Protocol::kRaw: return false;
    case Protocol::kAuto: return CommandSet(device_id).find("1284.4") != std::string::npos;
  }
  return false;
}

std::string PrinterConfig::PortName() const {
  char buf[16];
  switch (port_kind) {
    case PortKind::kUsb: std::snprintf(buf, sizeof buf, "USB%03u", port_number); return buf;
    case PortKind::kParallel: std::snprintf(buf, sizeof buf, "LPT%u", port_number); return buf;
    case PortKind::kNone: break;
  }
  return {};
}

bool ParsePortName(std::string_view name, PortKind& kind, unsigned& number) {
  auto digits = [](std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (name.size() == 6 && EqualsNoCase(name.substr(0, 3), "USB") && digits(name.substr(3))) {
    number = static_cast<unsigned>(std::stoul(std::string(name.substr(3))));
    kind = PortKind::kUsb;
    return number >= 1;
  }
  if (name.size() == 4 && EqualsNoCase(name.substr(0, 3), "LPT") && digits(name.substr(3))) {
    number = static_cast<unsigned>(name[3] - '0');
    kind = PortKind::kParallel;
    return number >= 1;
  }
  return false;
}

std::optional<std::vector<std::uint8_t>> ParseHexBytes(std::string_view text) {
  std::vector<std::uint8_t> bytes;
  int high = -1;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ' || c == ':' || c == '\t' || c == ',') {
      if (high >= 0) return std::nullopt;  // a lone digit before a separator
      continue;
    }
    if (c == '0' && i + 1 < text.size() && (text[i + 1] == 'x' || text[i + 1] == 'X') && high < 0) {
      ++i;
      continue;
    }
    int digit;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    else
      return std::nullopt;
    if (high < 0) {
      high = digit;
    } else {
      bytes.push_back(static_cast<std::uint8_t>(high << 4 | digit));
      high = -1;
    }
  }
  if (high >= 0) return std::nullopt;
  return bytes;
}

std::optional<std::uint64_t> ParseNumber(std::string_view text) {
  text = Trim(text);
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  std::uint64_t value = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return std::nullopt;
  return value;
}

ConfigResult ParseConfig(std::string_view text) {
  Config config;
  PrinterConfig* current = nullptr;
  unsigned line_number = 0;
  auto fail = [&](const std::string& message) {
    return ConfigResult{std::nullopt, "line " + std::to_string(line_number) + ": " + message};
  };
  while (!text.empty()) {
    ++line_number;
    const std::size_t eol = text.find('\n');
    std::string_view line = Trim(text.substr(0, eol));
    text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
    // Comments are whole lines: ';' also separates device-ID fields.
    if (line.empty() || line.front() == '#' || line.front() == ';') continue;
    if (line.front() == '[') {
      if (line.back() != ']') return fail("section header without ']'");
      std::string_view inside = Trim(line.substr(1, line.size() - 2));
      const std::size_t space = inside.find_first_of(" \t");
      if (space == std::string_view::npos || inside.substr(0, space) != "printer") {
        return fail("expected [printer NAME]");
      }
      std::string_view name = Trim(inside.substr(space));
      if (!ValidName(name)) return fail("printer name must be letters, digits, '_', '-', '.'");
      config.printers.emplace_back();
      current = &config.printers.back();
      current->name = name;
      continue;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return fail("expected KEY = VALUE");
    if (current == nullptr) return fail("a key outside a [printer NAME] section");
    std::string_view key = Trim(line.substr(0, eq));
    std::string_view value = Trim(line.substr(eq + 1));
    std::string error;
    if (key.starts_with("answer.")) {
      error = ParseAnswer(*current, key.substr(7), value);
    } else if (auto it = KeyParsers().find(key); it != KeyParsers().end()) {
      error = it->second(*current, value);
    } else {
      return fail("unknown key '" + std::string(key) + "'");
    }
    if (!error.empty()) return fail(std::string(key) + ": " + error);
  }
  if (config.printers.empty()) return ConfigResult{std::nullopt, "no [printer NAME] section"};
  if (std::string error = Validate(config); !error.empty()) return {std::nullopt, error};
  return ConfigResult{std::move(config), {}};
}

}  // namespace printersim
