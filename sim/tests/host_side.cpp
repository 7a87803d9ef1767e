#include "host_side.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace hostside {
namespace {

void PutU16(Bytes& b, std::uint16_t v) {
  b.push_back(static_cast<std::uint8_t>(v >> 8));
  b.push_back(static_cast<std::uint8_t>(v));
}
void PutU32(Bytes& b, std::uint32_t v) {
  PutU16(b, static_cast<std::uint16_t>(v >> 16));
  PutU16(b, static_cast<std::uint16_t>(v));
}

Bytes Command(std::uint8_t code, Bytes body) {
  body.insert(body.begin(), code);
  return MakePacket(0, 0, 1, body);
}

}  // namespace

Bytes MakePacket(std::uint8_t psid, std::uint8_t ssid, std::uint8_t credit, const Bytes& body) {
  Bytes b = {psid, ssid};
  PutU16(b, static_cast<std::uint16_t>(6 + body.size()));
  b.push_back(credit);
  b.push_back(0);
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

Bytes Init(std::uint8_t revision) { return Command(0x00, {revision}); }

Bytes OpenChannel(std::uint8_t psid, std::uint8_t ssid, std::uint16_t max_send,
                  std::uint16_t max_receive) {
  Bytes body = {psid, ssid};
  PutU16(body, max_send);
  PutU16(body, max_receive);
  PutU16(body, 0xFFFF);
  PutU16(body, 0xFFFF);
  return Command(0x01, body);
}

Bytes CloseChannel(std::uint8_t psid, std::uint8_t ssid) { return Command(0x02, {psid, ssid}); }

Bytes Credit(std::uint8_t psid, std::uint8_t ssid, std::uint16_t credit) {
  Bytes body = {psid, ssid};
  PutU16(body, credit);
  return Command(0x03, body);
}

Bytes CreditRequest(std::uint8_t psid, std::uint8_t ssid, std::uint16_t wanted,
                    std::uint16_t max_outstanding) {
  Bytes body = {psid, ssid};
  PutU16(body, wanted);
  PutU16(body, max_outstanding);
  return Command(0x04, body);
}

Bytes Exit() { return Command(0x08, {}); }

Bytes Reply(std::uint8_t command, const Bytes& body) {
  return Command(static_cast<std::uint8_t>(command | 0x80), body);
}

Bytes DevicePacket(std::uint8_t flags, std::uint16_t opcode, std::uint16_t tid,
                   const Bytes& payload) {
  Bytes b = {0xCD, 0xCA, 0x10, flags};
  PutU16(b, opcode);
  PutU16(b, tid);
  PutU16(b, static_cast<std::uint16_t>(payload.size()));
  for (int i = 0; i < 10; ++i) b.push_back(static_cast<std::uint8_t>(0xA0 + i));
  b.insert(b.end(), payload.begin(), payload.end());
  return b;
}

Bytes RegisterPayload(std::uint32_t key, const std::vector<std::uint16_t>& codes,
                      std::uint32_t duration) {
  Bytes b = {0x01};  // prefix
  PutU32(b, key);
  PutU16(b, 0x1111);  // first parameter
  PutU16(b, 0x2222);  // second parameter
  PutU16(b, static_cast<std::uint16_t>(codes.size()));
  for (std::uint16_t code : codes) PutU16(b, code);
  PutU32(b, 0x33333333);  // third parameter
  PutU16(b, 0);           // no optional block
  PutU32(b, duration);
  return b;
}

Bytes UnregisterPayload(std::uint32_t key, const std::vector<std::uint16_t>& codes) {
  Bytes b = {0x01};
  PutU32(b, key);
  PutU16(b, 0x1111);
  PutU16(b, static_cast<std::uint16_t>(codes.size()));
  for (std::uint16_t code : codes) PutU16(b, code);
  PutU32(b, 0x33333333);
  PutU16(b, 0);
  PutU32(b, 0);
  return b;
}

Port::~Port() {
  if (fd_ >= 0) close(fd_);
}

std::optional<Port> Port::OpenDevice(const std::filesystem::path& path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  return Port(fd);
}

std::optional<Port> Port::ConnectTcp(std::uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return std::nullopt;
  }
  return Port(fd);
}

std::optional<Port> Port::ConnectUnix(const std::filesystem::path& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return std::nullopt;
  }
  return Port(fd);
}

bool Port::Write(const Bytes& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

Bytes Port::Read(std::size_t n, std::chrono::milliseconds timeout) {
  Bytes bytes;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (bytes.size() < n) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    std::uint8_t buffer[65536];
    const ssize_t got = read(fd_, buffer, std::min(sizeof buffer, n - bytes.size()));
    if (got <= 0) break;
    bytes.insert(bytes.end(), buffer, buffer + got);
  }
  return bytes;
}

Bytes Port::ReadAvailable(std::chrono::milliseconds timeout) {
  Bytes bytes;
  pollfd p{fd_, POLLIN, 0};
  while (poll(&p, 1, static_cast<int>(timeout.count())) > 0) {
    std::uint8_t buffer[4096];
    const ssize_t got = read(fd_, buffer, sizeof buffer);
    if (got <= 0) break;
    bytes.insert(bytes.end(), buffer, buffer + got);
  }
  return bytes;
}

std::optional<Packet> Port::ReadPacket(std::chrono::milliseconds timeout) {
  Bytes header = Read(6, timeout);
  if (header.size() < 6) return std::nullopt;
  Packet p;
  p.psid = header[0];
  p.ssid = header[1];
  p.length = static_cast<std::uint16_t>(header[2] << 8 | header[3]);
  p.credit = header[4];
  p.control = header[5];
  p.bytes = header;
  if (p.length > 6) {
    Bytes rest = Read(p.length - 6u, timeout);
    p.bytes.insert(p.bytes.end(), rest.begin(), rest.end());
    if (rest.size() < p.length - 6u) return std::nullopt;
  }
  return p;
}

std::optional<Packet> Port::Transact(const Bytes& command, std::chrono::milliseconds timeout) {
  if (!Write(command)) return std::nullopt;
  const std::uint8_t wanted = static_cast<std::uint8_t>(command[6] | 0x80);
  for (;;) {
    auto p = ReadPacket(timeout);
    if (!p) return std::nullopt;
    if (p->transaction() && p->code() == wanted) return p;
    others.push_back(std::move(*p));
  }
}

std::optional<Packet> Port::Open(std::uint8_t psid, std::uint8_t ssid) {
  auto init = Transact(Init(1));
  if (!init || init->U8(7) != 0) return std::nullopt;
  return Transact(OpenChannel(psid, ssid));
}

}  // namespace hostside
