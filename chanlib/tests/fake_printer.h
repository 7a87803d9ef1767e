// A printer that speaks the packet protocol on the master side of a pty whose
// slave is a test port: it answers the transaction channel, grants credit as
// told and keeps what arrives on each channel.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tgx/wire/packet_1284.h"

namespace tgx::chanlib::testing {

// The packets of the printer wire, by their names.
using namespace tgx::wire;

class FakePrinter {
 public:
  // Behaviour, set before the host connects.
  std::uint8_t openResult = kResultSuccess;
  std::uint16_t packetSize = 512;
  std::uint16_t initialCredit = 4;
  std::uint16_t creditPerRequest = 8;
  bool protocol = true;  // answer packets; else keep raw bytes

  FakePrinter(const std::string& name, const std::string& deviceId) {
    const std::filesystem::path dir =
        std::filesystem::path(std::getenv("TGX_DEVICE_ROOT")) / "testport";
    std::filesystem::create_directories(dir);
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    grantpt(master_);
    unlockpt(master_);
    const std::string slave = ptsname(master_);
    slave_ = open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios mode;
    tcgetattr(slave_, &mode);
    cfmakeraw(&mode);
    tcsetattr(slave_, TCSANOW, &mode);
    std::filesystem::create_symlink(slave, dir / name);
    std::ofstream(dir / (name + ".id"), std::ios::binary) << deviceId;
  }
  ~FakePrinter() {
    running_ = false;
    if (thread_.joinable()) thread_.join();
    close(slave_);
    close(master_);
  }
  void Start() {
    thread_ = std::thread([this] { Run(); });
  }

  // Payload received on the channel with that secondary socket.
  std::string Received(std::uint8_t secondary) {
    std::lock_guard lock(mutex_);
    return received_[secondary];
  }
  std::vector<std::uint8_t> Commands() {
    std::lock_guard lock(mutex_);
    return commands_;
  }
  // Sends a data packet to the host on the channel with that secondary socket.
  void SendData(std::uint8_t secondary, const std::string& payload) {
    std::lock_guard lock(mutex_);
    const std::uint8_t primary = hostSocket_[secondary];
    std::vector<std::uint8_t> packet(kPacketHeaderSize + payload.size());
    PacketHeader header{primary, secondary, static_cast<std::uint16_t>(packet.size()), 0, 0};
    std::memcpy(packet.data(), &header, sizeof header);
    std::memcpy(packet.data() + kPacketHeaderSize, payload.data(), payload.size());
    Write(packet);
  }
  // Starts a transaction of the printer's own (Exit, Error, ...).
  template <class Command>
  void SendCommand(const Command& command) {
    const TransactionPacket packet = EncodeTransaction(command);
    SendRaw({packet.view().begin(), packet.view().end()});
  }
  void SendRaw(const std::vector<std::uint8_t>& bytes) {
    std::lock_guard lock(mutex_);
    Write(bytes);
  }

 private:
  void Write(const std::vector<std::uint8_t>& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
      if (n <= 0) return;
      done += static_cast<std::size_t>(n);
    }
  }
  template <class Reply>
  void Answer(const Reply& reply) {
    const TransactionPacket packet = EncodeTransaction(reply);
    Write({packet.view().begin(), packet.view().end()});
  }

  void Handle(const std::vector<std::uint8_t>& packet) {
    std::lock_guard lock(mutex_);
    const PacketHeader header = DecodeHeader(packet);
    if (header.primarySocket != 0 || header.secondarySocket != 0) {
      received_[header.secondarySocket].append(packet.begin() + kPacketHeaderSize, packet.end());
      return;
    }
    const std::uint8_t code = packet[kCommandOffset];
    commands_.push_back(code);
    if (const auto init = DecodeTransaction<InitCommand>(packet)) {
      Answer(InitReply{kResultSuccess, init->revision});
    } else if (const auto open = DecodeTransaction<OpenChannelCommand>(packet)) {
      hostSocket_[open->secondarySocket] = open->primarySocket;
      Answer(OpenChannelReply{openResult, open->primarySocket, open->secondarySocket, packetSize,
                              packetSize, initialCredit});
    } else if (const auto close = DecodeTransaction<CloseChannelCommand>(packet)) {
      Answer(CloseChannelReply{kResultSuccess, close->primarySocket, close->secondarySocket});
    } else if (const auto credit = DecodeTransaction<CreditCommand>(packet)) {
      Answer(CreditReply{kResultSuccess, credit->primarySocket, credit->secondarySocket});
    } else if (const auto request = DecodeTransaction<CreditRequestCommand>(packet)) {
      Answer(CreditRequestReply{kResultSuccess, request->primarySocket, request->secondarySocket,
                                creditPerRequest});
    } else if (DecodeTransaction<ExitCommand>(packet)) {
      Answer(ExitReply{kResultSuccess});
    }
  }

  void Run() {
    std::vector<std::uint8_t> stream;
    while (running_) {
      pollfd ready{master_, POLLIN, 0};
      if (poll(&ready, 1, 20) <= 0) continue;
      std::uint8_t chunk[8192];
      const ssize_t n = read(master_, chunk, sizeof chunk);
      if (n <= 0) continue;
      if (!protocol) {
        std::lock_guard lock(mutex_);
        received_[0].append(reinterpret_cast<char*>(chunk), static_cast<std::size_t>(n));
        continue;
      }
      stream.insert(stream.end(), chunk, chunk + n);
      while (stream.size() >= kPacketHeaderSize) {
        const std::size_t length = DecodeHeader(stream).length;
        if (length < kPacketHeaderSize || stream.size() < length) break;
        Handle({stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(length)});
        stream.erase(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(length));
      }
    }
  }

  int master_ = -1;
  int slave_ = -1;
  std::atomic<bool> running_{true};
  std::thread thread_;
  std::mutex mutex_;
  std::map<std::uint8_t, std::string> received_;
  std::map<std::uint8_t, std::uint8_t> hostSocket_;
  std::vector<std::uint8_t> commands_;
};

}  // namespace tgx::chanlib::testing
