// A small host for the tests, written from the packet protocol's layout tables
// rather than from the simulator's own encoders, so that each end is checked
// against the layouts and not against the other end's code.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace hostside {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// Header: primary socket, secondary socket, big-endian total length, credit, control 0.
Bytes MakePacket(std::uint8_t psid, std::uint8_t ssid, std::uint8_t credit, const Bytes& body);
// Transaction commands on sockets 0/0, each granting the printer one packet (credit 1).
Bytes Init(std::uint8_t revision);
Bytes OpenChannel(std::uint8_t psid, std::uint8_t ssid, std::uint16_t max_send = 4096,
                  std::uint16_t max_receive = 4096);
Bytes CloseChannel(std::uint8_t psid, std::uint8_t ssid);
Bytes Credit(std::uint8_t psid, std::uint8_t ssid, std::uint16_t credit);
Bytes CreditRequest(std::uint8_t psid, std::uint8_t ssid, std::uint16_t wanted,
                    std::uint16_t max_outstanding);
Bytes Exit();
// A host reply: command code | 0x80 followed by the body.
Bytes Reply(std::uint8_t command, const Bytes& body);
// Management packet: magic 0xCDCA, version 0x10, flags, opcode, transaction id,
// payload length, ten carried bytes, payload.
Bytes DevicePacket(std::uint8_t flags, std::uint16_t opcode, std::uint16_t tid,
                   const Bytes& payload);
// Opcode 8 payload (register) and opcode 9 payload (unregister).
Bytes RegisterPayload(std::uint32_t key, const std::vector<std::uint16_t>& codes,
                      std::uint32_t duration);
Bytes UnregisterPayload(std::uint32_t key, const std::vector<std::uint16_t>& codes);

struct Packet {
  std::uint8_t psid = 0, ssid = 0, credit = 0, control = 0;
  std::uint16_t length = 0;
  Bytes bytes;  // the whole packet
  bool transaction() const { return psid == 0 && ssid == 0; }
  std::uint8_t code() const { return bytes.size() > 6 ? bytes[6] : 0xFF; }
  std::uint8_t U8(std::size_t offset) const { return bytes.at(offset); }
  std::uint16_t U16(std::size_t offset) const {
    return static_cast<std::uint16_t>(bytes.at(offset) << 8 | bytes.at(offset + 1));
  }
  Bytes payload() const { return Bytes(bytes.begin() + 6, bytes.end()); }
};

// The host's end of a port: any descriptor (device file, socket).
class Port {
 public:
  explicit Port(int fd) : fd_(fd) {}
  Port(Port&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  ~Port();
  static std::optional<Port> OpenDevice(const std::filesystem::path& path);
  static std::optional<Port> ConnectTcp(std::uint16_t port);
  static std::optional<Port> ConnectUnix(const std::filesystem::path& path);
  int fd() const { return fd_; }

  bool Write(const Bytes& bytes);
  // Reads exactly n bytes; fewer on time-out or end of stream.
  Bytes Read(std::size_t n, std::chrono::milliseconds timeout = 3000ms);
  // Whatever arrives within the time-out (used to prove silence).
  Bytes ReadAvailable(std::chrono::milliseconds timeout);
  std::optional<Packet> ReadPacket(std::chrono::milliseconds timeout = 3000ms);
  // Sends a command and returns its reply (code | 0x80); other packets read on the
  // way are kept in `others`.
  std::optional<Packet> Transact(const Bytes& command, std::chrono::milliseconds timeout = 3000ms);
  // Init (revision 1) and OpenChannel, as a host opens a conversation; returns the
  // OpenChannel reply.
  std::optional<Packet> Open(std::uint8_t psid, std::uint8_t ssid);

  std::vector<Packet> others;

 private:
  int fd_ = -1;
};

}  // namespace hostside
