// The simulator's configuration file: one INI-like section per printer
// (see sim/README.md, "Configuration file").
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace printersim {

enum class PortKind { kNone, kUsb, kParallel };
enum class Protocol { kAuto, kPacket, kRaw };
enum class CreditPolicy { kGenerous, kOneAtATime, kWithheld };

struct PrinterConfig {
  std::string name;
  PortKind port_kind = PortKind::kNone;
  unsigned port_number = 0;  // the host's number: USB001 -> 1, LPT1 -> 1
  std::string device_id = "MFG:Simulated;MDL:Printer;CMD:1284.4;CLS:PRINTER;";
  Protocol protocol = Protocol::kAuto;
  std::optional<std::uint8_t> revision;  // the only Init revision accepted; none: any
  std::uint16_t max_packet = 4096;       // largest packet the printer takes and sends
  CreditPolicy credit = CreditPolicy::kGenerous;
  std::uint16_t credit_window = 32;
  std::map<std::uint8_t, std::uint8_t> refuse_channel;  // secondary socket -> result
  std::string job_file;
  std::optional<std::uint16_t> tcp_port = 0;  // none: no TCP endpoint; 0: ephemeral
  std::vector<std::uint8_t> tcp_id_query;     // answered with the device ID; empty: none
  std::string ppdt_name;                      // IEEE 1394 device name; empty: none
  std::map<std::uint16_t, std::vector<std::uint8_t>> answers;  // opcode -> payload
  unsigned answer_delay_ms = 0;
  unsigned notify_interval_ms = 0;
  std::vector<std::uint8_t> notify_payload;
  unsigned ppdt_flush_delay_ms = 0;
  std::map<std::uint32_t, std::uint32_t> ppdt_refuse;  // control code -> Win32 error
  // Faults present from the start.
  std::optional<std::uint32_t> error_after_packets;
  std::optional<std::uint32_t> exit_after_packets;
  bool stall = false;
  unsigned slow_ms = 0;

  // Whether the printer speaks the packet protocol: by configuration, else by
  // its device ID's command set.
  bool SpeaksPacketProtocol() const;
  // The host's port name ("USB001", "LPT1"), empty without a port.
  std::string PortName() const;
};

struct Config {
  std::vector<PrinterConfig> printers;
};

struct ConfigResult {
  std::optional<Config> config;
  std::string error;  // "line N: ..." when config is empty
};

ConfigResult ParseConfig(std::string_view text);

// Parses "USB001" or "LPT1" (any case) into kind and number.
bool ParsePortName(std::string_view name, PortKind& kind, unsigned& number);
// Hex bytes with optional spaces, colons or a 0x prefix: "01 02 0a", "01020A".
std::optional<std::vector<std::uint8_t>> ParseHexBytes(std::string_view text);
// Decimal or 0x-prefixed hexadecimal.
std::optional<std::uint64_t> ParseNumber(std::string_view text);

}  // namespace printersim
