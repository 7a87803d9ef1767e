#include "e2e_support.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "tgx/device_packet.h"

namespace tgx::e2e {

namespace packet = agent::packet;

Bytes SeededBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 generator(seed);
  Bytes data(size);
  for (auto& b : data) b = static_cast<std::uint8_t>(generator());
  return data;
}

Bytes RandomBytes(std::size_t size) { return SeededBytes(size, std::random_device{}()); }

std::vector<pid_t> OurWorkers() {
  const std::string mark = std::string("TGX_RUNTIME_DIR=") + std::getenv("TGX_RUNTIME_DIR");
  std::vector<pid_t> workers;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream comm(entry.path() / "comm");
    std::string command;
    if (!std::getline(comm, command) || command != "chanportNT") continue;
    std::ifstream environ(entry.path() / "environ");
    for (std::string variable; std::getline(environ, variable, '\0');) {
      if (variable == mark) workers.push_back(std::stoi(name));
    }
  }
  return workers;
}

Bytes ManagementRequest(std::uint16_t opcode, std::uint16_t transaction) {
  Bytes request(packet::kHeaderSize, 0);
  packet::StoreBe16(request.data() + packet::kMagic, packet::kMagicValue);
  request[packet::kVersion] = packet::kVersionValue;
  request[packet::kFlags] = packet::kFlagExpectsAnswer;
  packet::StoreBe16(request.data() + packet::kOpcode, opcode);
  packet::SetTransaction(request.data(), transaction);
  packet::SetPayloadLength(request.data(), 0);
  return request;
}

}  // namespace tgx::e2e
