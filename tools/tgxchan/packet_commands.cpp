// tgxchan packet and tgxchan listen: management packets on the shared (0x20)
// or single-client (0x30) management channel.
#include <getopt.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "channel.h"
#include "command_support.h"
#include "commands.h"
#include "options.h"
#include "tgx/device_packet.h"
#include "tgx/device_packet_builder.h"
#include "tgx/wire/agent_wire.h"

namespace tgx::tools {
namespace {

namespace packet = tgx::agent::packet;
using packet::BuildPacket;
using packet::Bytes;
using packet::FormatPacket;
using packet::HexDump;
using PacketStream = packet::Splitter;
using packet::RegistrationPayload;

constexpr char kPacketHelp[] =
    "Usage: tgxchan packet [OPTIONS] --opcode=N PORT\n"
    "Sends one management packet to the printer on PORT and shows every packet that\n"
    "arrives until the answer to it (the same transaction ID, answer flag set).\n\n"
    "Options:\n"
    "  -o, --opcode=N       opcode of the packet, 1 to 128 (required)\n"
    "  -d, --data=HEX       payload bytes in hexadecimal, for example 'de ad be ef'\n"
    "  -i, --id=N           transaction ID, 1 to 65535 (default 1)\n"
    "  -n, --no-answer      send the packet without asking for an answer\n"
    "  -c, --channel=CH     management channel 0x20 (shared, default) or 0x30\n"
    "  -w, --wait=MS        how long to wait for the answer (default 5000)\n"
    "  -h, --help           show this help\n";

constexpr char kListenHelp[] =
    "Usage: tgxchan listen [OPTIONS] PORT\n"
    "Registers for printer events (when --events is given) and shows every event\n"
    "notification from the printer on PORT until interrupted, or until --count\n"
    "events or --seconds have passed.\n\n"
    "Options:\n"
    "  -e, --events=LIST    event codes to register for, comma-separated\n"
    "  -k, --key=N          subscription key, a 32-bit number (default 1)\n"
    "  -m, --minutes=N      how long the registration lasts (default 0: no limit)\n"
    "  -n, --count=N        stop after N events\n"
    "  -t, --seconds=N      stop after N seconds\n"
    "  -c, --channel=CH     management channel 0x20 (shared, default) or 0x30\n"
    "  -h, --help           show this help\n";

constexpr auto kIdlePoll = std::chrono::milliseconds(100);
constexpr std::uint16_t kRegistrationId = 1;
constexpr std::uint64_t kRegistrationWaitMs = 5000;

// Receives what the printer has sent and hands each whole packet to `seen`.
// Returns the failure result of AuCbtRecv, or 0 (also when nothing came).
template <typename Seen>
std::int32_t ReceivePackets(AuCbtSocket socket, PacketStream& stream, bool* anything, Seen&& seen) {
  std::uint8_t buffer[agent::recv::kDataCapacity];
  const std::int32_t got = AuCbtRecv(socket, buffer, sizeof buffer);
  if (got < 0) return got;
  *anything = got > 0;
  stream.Feed(std::span(buffer, static_cast<std::size_t>(got)));
  Bytes bytes;
  for (;;) {
    const PacketStream::Status status = stream.Next(bytes);
    if (status == PacketStream::Status::kNeedMore) break;
    if (status == PacketStream::Status::kBroken) {
      std::printf("bytes that are no packet (%zu):\n%s", bytes.size(), HexDump(bytes).c_str());
      break;
    }
    seen(bytes);
  }
  std::fflush(stdout);
  return 0;
}

bool IsAnswerTo(std::span<const std::uint8_t> p, std::uint16_t id) {
  return (packet::Flags(p.data()) & packet::kFlagAnswer) && packet::Transaction(p.data()) == id;
}

// Waits up to `waitMs` for the answer to transaction `id`. Every packet that
// arrives meanwhile, the answer included when `passAnswer` is set, goes to
// `seen`. 0 when the answer came, else the failure result of AuCbtRecv, or 1
// when the time ran out.
template <typename Seen>
std::int32_t AwaitAnswer(const Channel& channel, PacketStream& stream, std::uint16_t id,
                         std::uint64_t waitMs, bool passAnswer, Seen&& seen) {
  const std::uint64_t deadline = NowMs() + waitMs;
  bool answered = false;
  while (!answered && !Interrupted()) {
    bool anything = false;
    const std::int32_t status =
        ReceivePackets(channel.socket(), stream, &anything, [&](const Bytes& p) {
          const bool answer = !answered && IsAnswerTo(p, id);
          if (passAnswer || !answer) seen(p);
          answered = answered || answer;
        });
    if (status != 0) return status;
    if (answered) break;
    if (NowMs() >= deadline) return 1;
    if (!anything) std::this_thread::sleep_for(kIdlePoll);
  }
  return 0;
}

void ShowPacket(const Bytes& p) { std::fputs(FormatPacket(p).c_str(), stdout); }

}  // namespace

int RunPacket(int argc, char** argv) {
  static const option kOptions[] = {
      {"opcode", required_argument, nullptr, 'o'},  {"data", required_argument, nullptr, 'd'},
      {"id", required_argument, nullptr, 'i'},      {"no-answer", no_argument, nullptr, 'n'},
      {"channel", required_argument, nullptr, 'c'}, {"wait", required_argument, nullptr, 'w'},
      {"help", no_argument, nullptr, 'h'},          {nullptr, 0, nullptr, 0}};
  std::optional<std::uint64_t> opcode;
  Bytes payload;
  std::uint16_t id = 1;
  bool expectAnswer = true;
  std::uint16_t serviceChannel = agent::kSharedManagementChannel;
  std::uint64_t waitMs = 5000;
  for (int c; (c = getopt_long(argc, argv, "o:d:i:nc:w:h", kOptions, nullptr)) != -1;) {
    const std::string value = optarg ? optarg : "";
    switch (c) {
      case 'o':
        opcode = ParseNumber(value, packet::kLastOpcode);
        if (!opcode || *opcode < packet::kFirstOpcode) {
          return ReportUsage("bad --opcode '" + value + "' (1 to 128)");
        }
        break;
      case 'd': {
        auto bytes = ParseHexBytes(value);
        if (!bytes || bytes->size() > 0xFFFF) return ReportUsage("bad --data '" + value + "'");
        payload = std::move(*bytes);
        break;
      }
      case 'i': {
        const auto n = ParseNumber(value, 0xFFFF);
        if (!n || *n == 0) return ReportUsage("bad --id '" + value + "' (1 to 65535)");
        id = static_cast<std::uint16_t>(*n);
        break;
      }
      case 'n': expectAnswer = false; break;
      case 'c': {
        const auto ch = ParseManagementChannel(value);
        if (!ch) return ReportUsage("bad --channel '" + value + "' (0x20 or 0x30)");
        serviceChannel = *ch;
        break;
      }
      case 'w': {
        const auto ms = ParseNumber(value, 3600000);
        if (!ms) return ReportUsage("bad --wait '" + value + "'");
        waitMs = *ms;
        break;
      }
      case 'h': std::fputs(kPacketHelp, stdout); return kExitSuccess;
      default: return ReportUsage("bad option for packet");
    }
  }
  if (!opcode) return ReportUsage("packet needs --opcode");
  if (argc - optind != 1) return ReportUsage("packet takes one PORT");
  const std::string port = argv[optind];
  if (!ValidPortName(port)) return ReportUsage("bad port name '" + port + "'");

  InstallInterruptHandler();
  AgentLibrary library;
  Channel channel(port, serviceChannel);
  if (const int rc = channel.Open(library); rc != kExitSuccess) return rc;
  const Bytes request = BuildPacket(expectAnswer ? packet::kFlagExpectsAnswer : 0,
                                    static_cast<std::uint16_t>(*opcode), id, payload);
  if (const std::int32_t status = SendAll(channel.socket(), request, waitMs, [](std::size_t) {});
      status != 0) {
    return ReportFailure("cannot send the packet to " + port, status);
  }
  if (!expectAnswer) {
    std::printf("packet of %zu bytes sent to %s\n", request.size(), port.c_str());
    return kExitSuccess;
  }
  PacketStream stream(packet::Answers::kAccepted);
  const std::int32_t status = AwaitAnswer(channel, stream, id, waitMs, true, ShowPacket);
  if (Interrupted()) return kExitInterrupted;
  if (status == 1) {
    std::fprintf(stderr, "%s: no answer from %s within %llu ms\n", kProgram, port.c_str(),
                 static_cast<unsigned long long>(waitMs));
    return kExitChannelError;
  }
  if (status != 0) return ReportFailure("cannot receive from " + port, status);
  return kExitSuccess;
}

int RunListen(int argc, char** argv) {
  static const option kOptions[] = {
      {"events", required_argument, nullptr, 'e'},  {"key", required_argument, nullptr, 'k'},
      {"minutes", required_argument, nullptr, 'm'}, {"count", required_argument, nullptr, 'n'},
      {"seconds", required_argument, nullptr, 't'}, {"channel", required_argument, nullptr, 'c'},
      {"help", no_argument, nullptr, 'h'},          {nullptr, 0, nullptr, 0}};
  std::vector<std::uint16_t> events;
  std::uint32_t key = 1;
  std::uint32_t minutes = 0;
  std::uint64_t count = 0;
  std::uint64_t seconds = 0;
  std::uint16_t serviceChannel = agent::kSharedManagementChannel;
  for (int c; (c = getopt_long(argc, argv, "e:k:m:n:t:c:h", kOptions, nullptr)) != -1;) {
    const std::string value = optarg ? optarg : "";
    switch (c) {
      case 'e': {
        const auto list = ParseNumberList(value, 0xFFFF);
        if (!list) return ReportUsage("bad --events '" + value + "'");
        events.assign(list->begin(), list->end());
        break;
      }
      case 'k': {
        const auto n = ParseNumber(value, 0xFFFFFFFF);
        if (!n) return ReportUsage("bad --key '" + value + "'");
        key = static_cast<std::uint32_t>(*n);
        break;
      }
      case 'm': {
        const auto n = ParseNumber(value, 255 * 60);
        if (!n) return ReportUsage("bad --minutes '" + value + "'");
        minutes = static_cast<std::uint32_t>(*n);
        break;
      }
      case 'n': {
        const auto n = ParseNumber(value, 1u << 30);
        if (!n) return ReportUsage("bad --count '" + value + "'");
        count = *n;
        break;
      }
      case 't': {
        const auto n = ParseNumber(value, 86400 * 365);
        if (!n) return ReportUsage("bad --seconds '" + value + "'");
        seconds = *n;
        break;
      }
      case 'c': {
        const auto ch = ParseManagementChannel(value);
        if (!ch) return ReportUsage("bad --channel '" + value + "' (0x20 or 0x30)");
        serviceChannel = *ch;
        break;
      }
      case 'h': std::fputs(kListenHelp, stdout); return kExitSuccess;
      default: return ReportUsage("bad option for listen");
    }
  }
  if (argc - optind != 1) return ReportUsage("listen takes one PORT");
  const std::string port = argv[optind];
  if (!ValidPortName(port)) return ReportUsage("bad port name '" + port + "'");

  InstallInterruptHandler();
  AgentLibrary library;
  Channel channel(port, serviceChannel);
  if (const int rc = channel.Open(library); rc != kExitSuccess) return rc;
  PacketStream stream(packet::Answers::kAccepted);
  std::uint64_t seen = 0;
  const auto show = [&](const Bytes& p) {
    if (count != 0 && seen >= count) return;
    ShowPacket(p);
    if (packet::Opcode(p.data()) == packet::kOpNotification) ++seen;
  };
  if (!events.empty()) {
    const Bytes request = BuildPacket(packet::kFlagExpectsAnswer, packet::kOpRegister,
                                      kRegistrationId, RegistrationPayload(key, events, minutes));
    std::int32_t status =
        SendAll(channel.socket(), request, kRegistrationWaitMs, [](std::size_t) {});
    if (status == 0) {
      status = AwaitAnswer(channel, stream, kRegistrationId, kRegistrationWaitMs, false, show);
    }
    if (Interrupted()) return kExitInterrupted;
    if (status == 1) {
      std::fprintf(stderr, "%s: %s did not answer the event registration\n", kProgram,
                   port.c_str());
      return kExitChannelError;
    }
    if (status != 0) return ReportFailure("cannot register for events on " + port, status);
    std::fprintf(stderr, "registered for %zu event codes on %s\n", events.size(), port.c_str());
  }

  const std::uint64_t deadline = seconds ? NowMs() + seconds * 1000 : 0;
  while (!Interrupted() && (count == 0 || seen < count) && (!deadline || NowMs() < deadline)) {
    bool anything = false;
    const std::int32_t status = ReceivePackets(channel.socket(), stream, &anything, show);
    if (status != 0) return ReportFailure("cannot receive from " + port, status);
    if (!anything) std::this_thread::sleep_for(kIdlePoll);
  }
  return kExitSuccess;
}

}  // namespace tgx::tools
