// End to end: a client of the agent client library reaches a simulated printer
// through a real agentsvc process, libchanlibNT.so, the chanportNT worker and
// libportio.so, and the printer's side shows what arrived.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.h"
#include "printersim/client.h"
#include "testsupport.h"
#include "tgx/agentcli.h"
#include "tgx/device_packet.h"
#include "tgx/device_packet_builder.h"

namespace {

using namespace std::chrono_literals;
using tgx::e2e::Bytes;
using tgx::e2e::OurWorkers;
using tgx::e2e::RandomBytes;
namespace packet = tgx::agent::packet;

constexpr char kPrinters[] =
    "[printer p1]\n"
    "port = USB001\n"
    "device_id = MFG:Test;MDL:E2E;CMD:1284.4;CLS:PRINTER;\n"
    "tcp_port = none\n"
    "answer.5 = 01 02 03 04\n"
    "[printer raw]\n"
    "port = USB002\n"
    "device_id = MFG:Test;MDL:Raw;CMD:PCL;CLS:PRINTER;\n"
    "tcp_port = none\n";

// A loopback port that nothing listens on right now.
std::uint16_t FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

bool Listening(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(port);
  const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return connected;
}

// The agentsvc program in background mode, stopped with SIGTERM.
class Service {
 public:
  // divisor: TGX_TIMEOUT_DIVISOR of the service, which shortens its failure time-outs.
  Service(std::uint16_t port, int divisor) {
    const std::string program = (tgx::test::BinDir() / "agentsvc").string();
    pid_ = ::fork();
    if (pid_ == 0) {
      ::setenv("TGX_SERVICE_MODE", "background", 1);
      ::setenv("TGX_AGENT_PORT", std::to_string(port).c_str(), 1);
      ::setenv("TGX_TIMEOUT_DIVISOR", std::to_string(divisor).c_str(), 1);
      ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  ~Service() {
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;

 private:
  pid_t pid_ = -1;
};

class EndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    printersim::StartOptions options;
    options.config_text = kPrinters;
    sim_ = printersim::Simulator::Start(options, &error);
    ASSERT_TRUE(sim_) << error;
    const std::uint16_t port = FreePort();
    ::setenv("TGX_AGENT_PORT", std::to_string(port).c_str(), 1);
    service_ = std::make_unique<Service>(port, divisor_);
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (!Listening(port) && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(Listening(port)) << "agentsvc does not listen";
    ASSERT_EQ(0, AuCbtInitialize());
  }

  void TearDown() override {
    AuCbtShutdown();
    service_.reset();
  }

  static AuCbtSocket Create(std::uint16_t channel, const std::string& port) {
    std::array<std::uint8_t, AUCBT_DESCRIPTOR_SIZE> d{};
    d[2] = static_cast<std::uint8_t>(channel);
    d[3] = static_cast<std::uint8_t>(channel >> 8);
    std::memcpy(d.data() + 4, port.data(), port.size());
    std::uint32_t id = 0;
    return AuCbtCreateSocket(d.data(), &id);
  }

  // Sends everything, taking partial sends and "busy" (0) as they come; false on
  // a failure or after 20 s.
  static bool SendAll(AuCbtSocket socket, const Bytes& data) {
    constexpr std::size_t kPiece = 16384;
    const auto end = std::chrono::steady_clock::now() + 20s;
    for (std::size_t at = 0; at < data.size();) {
      if (std::chrono::steady_clock::now() > end) return false;
      const auto size = static_cast<std::int32_t>(std::min(kPiece, data.size() - at));
      const std::int32_t n = AuCbtSend(socket, data.data() + at, size);
      if (n < 0 || n > size) return false;
      if (n == 0) std::this_thread::sleep_for(10ms);
      at += static_cast<std::size_t>(n);
    }
    return true;
  }

  // Management packets from the socket until `wanted` answers or notifications
  // with `opcode` have come, or 10 s have passed.
  static std::vector<Bytes> ReceivePackets(AuCbtSocket socket, std::uint16_t opcode,
                                           std::size_t wanted) {
    std::int32_t receiveTimeout = 0, sendTimeout = 0;
    AuCbtGetTimeout(socket, &receiveTimeout, &sendTimeout);
    AuCbtSetTimeout(socket, 200, sendTimeout);
    packet::Splitter stream(packet::Answers::kAccepted);
    std::vector<Bytes> packets;
    const auto end = std::chrono::steady_clock::now() + 10s;
    std::uint8_t buffer[4096];
    while (packets.size() < wanted && std::chrono::steady_clock::now() < end) {
      const std::int32_t n = AuCbtRecv(socket, buffer, sizeof buffer);
      if (n < 0) break;
      if (n == 0) {
        std::this_thread::sleep_for(20ms);
        continue;
      }
      stream.Feed({buffer, static_cast<std::size_t>(n)});
      Bytes p;
      while (stream.Next(p) == packet::Splitter::Status::kPacket) {
        if (packet::Opcode(p.data()) == opcode) packets.push_back(p);
      }
    }
    return packets;
  }

  // Polls until the printer's last job has the SHA-256 of `data`.
  bool WaitForJob(const std::string& printer, const Bytes& data) {
    const std::string sha = printersim::JobSha256(data);
    const auto end = std::chrono::steady_clock::now() + 20s;
    while (std::chrono::steady_clock::now() < end) {
      const auto counters = sim_->Counters(printer);
      if (counters.contains("job.sha256") && counters.at("job.sha256") == sha) return true;
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }

  int divisor_ = 1;
  std::unique_ptr<printersim::Simulator> sim_;
  std::unique_ptr<Service> service_;
};

class EndToEndFaults : public EndToEnd {
 protected:
  void SetUp() override {
    divisor_ = 5;
    EndToEnd::SetUp();
  }

  // Sends until a call fails or 30 s have passed; the failing result, or 0.
  static std::int32_t SendUntilFailure(AuCbtSocket socket) {
    const Bytes piece(16384, 0x5A);
    const auto end = std::chrono::steady_clock::now() + 30s;
    while (std::chrono::steady_clock::now() < end) {
      const std::int32_t n =
          AuCbtSend(socket, piece.data(), static_cast<std::int32_t>(piece.size()));
      if (n < 0) return n;
    }
    return 0;
  }

  // A job on a new connection prints whole.
  void ExpectLaterJobPrints() {
    const Bytes data = RandomBytes(50000);
    const AuCbtSocket socket = Create(0x10, "USB001");
    ASSERT_NE(AUCBT_INVALID_SOCKET, socket);
    ASSERT_EQ(0, AuCbtConnect(socket));
    ASSERT_TRUE(SendAll(socket, data));
    EXPECT_EQ(0, AuCbtDeleteSocket(socket, 0));
    EXPECT_TRUE(WaitForJob("p1", data));
  }
};

TEST_F(EndToEnd, PrintJobArrivesWhole) {
  const Bytes data = RandomBytes(1 << 20);
  const AuCbtSocket socket = Create(0x10, "USB001");
  ASSERT_NE(AUCBT_INVALID_SOCKET, socket);
  ASSERT_EQ(0, AuCbtConnect(socket));
  ASSERT_TRUE(SendAll(socket, data));
  EXPECT_EQ(0, AuCbtDeleteSocket(socket, 0));
  ASSERT_TRUE(sim_->WaitForCounter("p1", "jobs.ended", 1, 20s));
  const auto counters = sim_->Counters("p1");
  EXPECT_EQ(std::to_string(data.size()), counters.at("job.bytes"));
  EXPECT_EQ(printersim::JobSha256(data), counters.at("job.sha256"));
}

TEST_F(EndToEnd, ManagementAnswersAndNotificationsReachEveryClient) {
  const AuCbtSocket first = Create(0x20, "USB001");
  const AuCbtSocket second = Create(0x20, "USB001");
  ASSERT_NE(AUCBT_INVALID_SOCKET, first);
  ASSERT_NE(AUCBT_INVALID_SOCKET, second);
  ASSERT_EQ(0, AuCbtConnect(first));
  ASSERT_EQ(0, AuCbtConnect(second));

  const Bytes request = packet::BuildPacket(packet::kFlagExpectsAnswer, 5, 7, {});
  ASSERT_TRUE(SendAll(first, request));
  ASSERT_TRUE(SendAll(second, request));
  for (AuCbtSocket socket : {first, second}) {
    const std::vector<Bytes> answers = ReceivePackets(socket, 5, 1);
    ASSERT_EQ(1u, answers.size());
    const Bytes& answer = answers[0];
    EXPECT_EQ(packet::kFlagAnswer, packet::Flags(answer.data()) & packet::kFlagAnswer);
    EXPECT_EQ(7, packet::Transaction(answer.data()));
    ASSERT_EQ(4, packet::PayloadLength(answer.data()));
    EXPECT_EQ((Bytes{1, 2, 3, 4}), Bytes(answer.begin() + packet::kHeaderSize, answer.end()));
  }

  ASSERT_TRUE(sim_->Notify("p1", "00 10 00 02 00 01").has_value());
  for (AuCbtSocket socket : {first, second}) {
    EXPECT_EQ(1u, ReceivePackets(socket, packet::kOpNotification, 1).size());
  }
  EXPECT_EQ(0, AuCbtDeleteSocket(first, 0));
  EXPECT_EQ(0, AuCbtDeleteSocket(second, 0));
}

TEST_F(EndToEnd, RawPrinterTakesPlainData) {
  const AuCbtSocket socket = Create(0x10, "USB002");
  ASSERT_NE(AUCBT_INVALID_SOCKET, socket);
  // Connect result 1 (a raw port) in the service's form.
  EXPECT_EQ(0x40100001, AuCbtConnect(socket));
  const Bytes data = RandomBytes(100000);
  ASSERT_TRUE(SendAll(socket, data));
  EXPECT_EQ(0, AuCbtDeleteSocket(socket, 0));
  ASSERT_TRUE(sim_->WaitForCounter("raw", "sink.bytes", data.size(), 20s));
  EXPECT_EQ(std::to_string(data.size()), sim_->Counters("raw").at("sink.bytes"));
}

TEST_F(EndToEndFaults, PrinterErrorFailsTheJobWithoutHanging) {
  const AuCbtSocket socket = Create(0x10, "USB001");
  ASSERT_NE(AUCBT_INVALID_SOCKET, socket);
  ASSERT_EQ(0, AuCbtConnect(socket));
  ASSERT_TRUE(SendAll(socket, RandomBytes(20000)));
  ASSERT_TRUE(sim_->Fault("p1", "error"));
  EXPECT_LT(SendUntilFailure(socket), 0);
  AuCbtDeleteSocket(socket, 1);
  ExpectLaterJobPrints();
}

TEST_F(EndToEndFaults, WithheldCreditMakesThePrinterBusyWithoutHanging) {
  ASSERT_TRUE(sim_->Fault("p1", "credit withheld"));
  const AuCbtSocket socket = Create(0x10, "USB001");
  ASSERT_NE(AUCBT_INVALID_SOCKET, socket);
  ASSERT_EQ(0, AuCbtConnect(socket));
  // What the queues hold is taken, then each call answers "busy".
  const Bytes piece(16384, 0x5A);
  const auto end = std::chrono::steady_clock::now() + 30s;
  std::int32_t sent = 1;
  while (sent > 0 && std::chrono::steady_clock::now() < end) {
    sent = AuCbtSend(socket, piece.data(), static_cast<std::int32_t>(piece.size()));
  }
  EXPECT_EQ(0, sent);
  AuCbtDeleteSocket(socket, 1);
  ASSERT_TRUE(sim_->Fault("p1", "credit generous"));
  ExpectLaterJobPrints();
}

TEST_F(EndToEndFaults, RefusedChannelMakesThePrinterBusy) {
  ASSERT_TRUE(sim_->Fault("p1", "refuse 16 7"));
  const AuCbtSocket socket = Create(0x10, "USB001");
  ASSERT_NE(AUCBT_INVALID_SOCKET, socket);
  // CBT_Connect's -50 in the service's form.
  EXPECT_EQ(static_cast<std::int32_t>(0xC010000B), AuCbtConnect(socket));
  AuCbtDeleteSocket(socket, 0);
  EXPECT_EQ(1u, sim_->Counter("p1", "channels.refused"));
  ASSERT_TRUE(sim_->Fault("p1", "refuse 16 0"));
  ExpectLaterJobPrints();
}

// The service gives up on a worker after 60 s divided by its divisor: here 2 s,
// well within the client's 5 s wait for the service's reply.
class EndToEndKilledWorker : public EndToEndFaults {
 protected:
  void SetUp() override {
    divisor_ = 30;
    EndToEnd::SetUp();
  }
};

TEST_F(EndToEndKilledWorker, JobFailsAndANewWorkerStarts) {
  const AuCbtSocket socket = Create(0x10, "USB001");
  ASSERT_NE(AUCBT_INVALID_SOCKET, socket);
  ASSERT_EQ(0, AuCbtConnect(socket));
  ASSERT_TRUE(SendAll(socket, RandomBytes(20000)));
  const std::vector<pid_t> workers = OurWorkers();
  ASSERT_EQ(1u, workers.size());
  ASSERT_EQ(0, ::kill(workers[0], SIGKILL));
  // The queued data cannot reach the port: the job fails (a protocol failure).
  EXPECT_LT(SendUntilFailure(socket), 0);
  AuCbtDeleteSocket(socket, 1);
  ExpectLaterJobPrints();
  const std::vector<pid_t> later = OurWorkers();
  ASSERT_EQ(1u, later.size());
  EXPECT_NE(workers[0], later[0]);
}

}  // namespace
