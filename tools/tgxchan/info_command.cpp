// tgxchan info: what a printer says about itself.
#include <getopt.h>

#include <cctype>
#include <cstdio>
#include <string>

#include "channel.h"
#include "commands.h"
#include "options.h"
#include "tgx/wire/agent_wire.h"

namespace tgx::tools {
namespace {

constexpr char kHelp[] =
    "Usage: tgxchan info [OPTIONS] PORT\n"
    "Connects to the printer on PORT and shows how it is connected, its device ID\n"
    "(each KEY:value on a line of its own) and the packet sizes of the channel.\n\n"
    "Options:\n"
    "  -c, --channel=CH     service channel to open: 0x10, 0x20 (default) or 0x30\n"
    "  -h, --help           show this help\n";

// The device control that answers with the printer's IEEE 1284 device ID.
constexpr std::uint32_t kQueryDeviceId = 0x16000C;
constexpr std::size_t kDeviceIdCapacity = agent::get_channel_capability::kDataCapacity;

// The ID text: without the big-endian length that may lead it, with bytes
// that are not printable shown as \xNN.
std::string DeviceIdText(const std::uint8_t* id, std::size_t length) {
  if (length >= 2 && static_cast<std::size_t>((id[0] << 8) | id[1]) == length) {
    id += 2;
    length -= 2;
  }
  // The port may hand the ID over as a C string: its terminator is not part of it.
  while (length > 0 && id[length - 1] == 0) --length;
  std::string text;
  for (std::size_t i = 0; i < length; ++i) {
    if (std::isprint(id[i])) {
      text += static_cast<char>(id[i]);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", id[i]);
      text += escaped;
    }
  }
  return text;
}

}  // namespace

int RunInfo(int argc, char** argv) {
  static const option kOptions[] = {{"channel", required_argument, nullptr, 'c'},
                                    {"help", no_argument, nullptr, 'h'},
                                    {nullptr, 0, nullptr, 0}};
  std::uint16_t serviceChannel = agent::kSharedManagementChannel;
  for (int c; (c = getopt_long(argc, argv, "c:h", kOptions, nullptr)) != -1;) {
    const std::string value = optarg ? optarg : "";
    switch (c) {
      case 'c': {
        const auto ch = ParseNumber(value, 0xFFFF);
        if (ch != 0x10u && ch != 0x20u && ch != 0x30u) {
          return ReportUsage("bad --channel '" + value + "' (0x10, 0x20 or 0x30)");
        }
        serviceChannel = static_cast<std::uint16_t>(*ch);
        break;
      }
      case 'h': std::fputs(kHelp, stdout); return kExitSuccess;
      default: return ReportUsage("bad option for info");
    }
  }
  if (argc - optind != 1) return ReportUsage("info takes one PORT");
  const std::string port = argv[optind];
  if (!ValidPortName(port)) return ReportUsage("bad port name '" + port + "'");

  AgentLibrary library;
  Channel channel(port, serviceChannel);
  if (const int rc = channel.Open(library); rc != kExitSuccess) return rc;
  std::printf("port:         %s\n", port.c_str());
  std::printf("connection:   %s\n",
              channel.connect_result() == 0 ? "packet protocol" : "raw port (no packet protocol)");

  std::uint8_t id[kDeviceIdCapacity];
  std::uint32_t length = 0;
  const std::int32_t status = AuCbtGetChannelCapability(channel.socket(), kQueryDeviceId, nullptr,
                                                        0, id, sizeof id, &length);
  if (status < 0) return ReportFailure("cannot read the device ID of " + port, status);
  const std::string text = DeviceIdText(id, length);
  std::printf("device ID:    %s\n", text.c_str());
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    const std::string field = text.substr(start, end - start);
    if (const std::size_t colon = field.find(':'); colon != std::string::npos) {
      std::printf("  %-12s%s\n", (field.substr(0, colon) + ":").c_str(),
                  field.substr(colon + 1).c_str());
    }
    start = end + 1;
  }

  std::uint16_t sendSize = 0, receiveSize = 0;
  const std::int32_t sizes =
      AuCbtGetPacketSizeFromSocket(channel.socket(), &sendSize, &receiveSize);
  if (sizes < 0) return ReportFailure("cannot read the packet sizes of " + port, sizes);
  std::printf("packet sizes: send %u bytes, receive %u bytes\n", sendSize, receiveSize);
  return kExitSuccess;
}

}  // namespace tgx::tools
