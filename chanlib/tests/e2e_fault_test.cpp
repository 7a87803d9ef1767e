// End to end, a printer that misbehaves: a program calling the CBT functions
// of libchanlibNT.so talks through the chanportNT worker and libportio.so to the
// printer simulator, which exits, stalls, is unplugged, refuses channels or
// revisions, or loses its worker. Each fault gives its result code in bounded
// time, what reached the printer before the fault is exactly what was sent, and
// a later connection prints again.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "chanlib/cbt.h"
#include "chanlib/result_codes.h"
#include "e2e_support.h"
#include "printersim/client.h"
#include "testsupport.h"

namespace tgx::e2e {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
namespace codes = chanlib;

// A failed worker is given up after 12 s instead of a minute: still longer
// than the slowest port call of a USB printer (an empty read is tried twice
// for 500 ms + 512 x 10 ms each).
const bool kScaledTimeouts = setenv("TGX_TIMEOUT_DIVISOR", "5", 1) == 0;

// p1 keeps its credit window small, so that a stalled printer leaves the host
// without credit long before the pty fills up; it is a parallel printer, whose
// empty reads take 560 ms. big grants so much credit that a stalled printer
// leaves the worker blocked in a write. rev accepts only revision 0x10 of the
// protocol.
std::string Printers(const std::filesystem::path& jobs) {
  return "[printer p1]\n"
         "port = LPT1\n"
         "device_id = MFG:Test;MDL:Faults;CMD:1284.4;\n"
         "max_packet = 1024\n"
         "credit_window = 8\n"
         "tcp_port = none\n"
         "answer.5 = 01 02 03 04\n"
         "job_file = " +
         (jobs / "p1.job").string() +
         "\n"
         "[printer big]\n"
         "port = USB002\n"
         "device_id = MFG:Test;MDL:Big;CMD:1284.4;\n"
         "credit_window = 200\n"
         "tcp_port = none\n"
         "[printer rev]\n"
         "port = USB003\n"
         "device_id = MFG:Test;MDL:Rev;CMD:1284.4;\n"
         "revision = 0x10\n"
         "tcp_port = none\n";
}

class EndToEndFault : public ::testing::Test {
 protected:
  static constexpr std::size_t kLargestPayload = 4096 - 6;

  void SetUp() override {
    ASSERT_TRUE(kScaledTimeouts);
    jobs_ = test::MakeTempDir("jobs");
    printersim::StartOptions options;
    options.config_text = Printers(jobs_);
    options.trace = std::getenv("E2E_TRACE") != nullptr;  // packets on standard error
    std::string error;
    sim_ = printersim::Simulator::Start(options, &error);
    ASSERT_TRUE(sim_) << error;
    job_ = SeededBytes(4 << 20, 1);
  }

  // Sends job_[sent_, until) whole.
  void SendUpTo(std::uint16_t socket, std::size_t until) {
    const auto end = Clock::now() + 30s;
    while (sent_ < until) {
      ASSERT_LT(Clock::now(), end) << "the job stopped moving at " << sent_;
      const int n = CBT_Send(socket, job_.data() + sent_, static_cast<int>(until - sent_));
      ASSERT_GE(n, 0) << "after " << sent_ << " bytes";
      sent_ += static_cast<std::size_t>(n);
    }
  }

  // Goes on sending the job until a call fails: its result, or 0 when none
  // failed within 20 s.
  int SendUntilFailure(std::uint16_t socket) {
    const auto end = Clock::now() + 20s;
    while (Clock::now() < end && sent_ < job_.size()) {
      const int n = CBT_Send(socket, job_.data() + sent_, static_cast<int>(job_.size() - sent_));
      if (n < 0) return n;
      sent_ += static_cast<std::size_t>(n);
    }
    return 0;
  }

  // The job up to `bytes` is handed over and p1 has taken all of it but what
  // the queue keeps until a packet's payload is full; then the fault.
  void PrintUntilReceived(std::uint16_t socket, std::size_t bytes) {
    ASSERT_NO_FATAL_FAILURE(SendUpTo(socket, bytes));
    ASSERT_TRUE(sim_->WaitForCounter("p1", "job.bytes", bytes - kLargestPayload, 30s))
        << Dump("p1");
    delivered_ = sim_->Counter("p1", "job.bytes");
  }

  // What p1 took of the job is the job's beginning: all it had before the
  // fault, nothing lost, repeated or added before the point where it stopped.
  void ExpectJobPrefixReceived() {
    // The job file is complete once the job has ended.
    ASSERT_TRUE(sim_->WaitForCounter("p1", "jobs.ended", 1)) << Dump("p1");
    std::ifstream file(jobs_ / "p1.job", std::ios::binary);
    const Bytes received{std::istreambuf_iterator<char>(file), {}};
    EXPECT_EQ(received.size(), sim_->Counter("p1", "job.bytes"));
    EXPECT_GE(received.size(), delivered_);
    ASSERT_LE(received.size(), sent_);
    EXPECT_TRUE(std::equal(received.begin(), received.end(), job_.begin()))
        << "the printer's " << received.size() << " bytes differ from the job's beginning";
  }

  // A new connection prints a job whole.
  void ExpectLaterJobPrints(const std::string& port, const std::string& printer) {
    const std::uint64_t ended = sim_->Counter(printer, "jobs.ended");
    const CbtConnection later = ConnectCbt(port, 0x10);
    ASSERT_EQ(0, later.connectResult) << Dump(printer);
    const Bytes data = RandomBytes(100000);
    for (std::size_t at = 0; at < data.size();) {
      const int n = CBT_Send(later.socket, data.data() + at, static_cast<int>(data.size() - at));
      ASSERT_GE(n, 0);
      at += static_cast<std::size_t>(n);
    }
    EXPECT_EQ(codes::kOk, CBT_CloseSocket(later.socket));
    ASSERT_TRUE(sim_->WaitForCounter(printer, "jobs.ended", ended + 1, 30s)) << Dump(printer);
    EXPECT_EQ(printersim::JobSha256(data), sim_->Counters(printer)["job.sha256"]);
  }

  std::string Dump(const std::string& printer) {
    std::string text;
    for (const auto& [name, value] : sim_->Counters(printer)) text += name + "=" + value + "\n";
    return text;
  }

  std::filesystem::path jobs_;
  std::unique_ptr<printersim::Simulator> sim_;
  Bytes job_;
  std::size_t sent_ = 0;       // handed to CBT_Send
  std::size_t delivered_ = 0;  // taken by the printer before the fault
};

TEST_F(EndToEndFault, PrinterExitEndsEveryConnectionOfThePort) {
  const CbtConnection job = ConnectCbt("LPT1", 0x10);
  ASSERT_EQ(0, job.connectResult);
  const CbtConnection status = ConnectCbt("LPT1", 0x20);
  ASSERT_EQ(0, status.connectResult);
  ASSERT_NO_FATAL_FAILURE(PrintUntilReceived(job.socket, 40000));

  ASSERT_TRUE(sim_->Fault("p1", "exit"));
  const auto start = Clock::now();
  EXPECT_EQ(codes::kSessionEnded, SendUntilFailure(job.socket));
  EXPECT_LT(Clock::now() - start, 15s);
  EXPECT_EQ(1u, sim_->Counter("p1", "reply.ExitReply"));
  EXPECT_EQ(0u, sim_->Counter("p1", "reply.ExitReply.result"));

  // The port is down for both connections until their sockets close.
  EXPECT_EQ(codes::kNoConnection, CBT_Send(job.socket, job_.data(), 100));
  std::uint8_t buffer[16];
  EXPECT_EQ(codes::kConnectionGone, CBT_Recv(status.socket, buffer, sizeof buffer));
  EXPECT_EQ(codes::kProtocolFailure, CBT_GetDataSizeInSocket(status.socket, 0));
  EXPECT_EQ(codes::kSessionEnded, CBT_CloseSocket(job.socket));  // the job's own failure
  EXPECT_EQ(codes::kOk, CBT_CloseSocket(status.socket));
  ASSERT_NO_FATAL_FAILURE(ExpectJobPrefixReceived());
  ASSERT_NO_FATAL_FAILURE(ExpectLaterJobPrints("LPT1", "p1"));
}

TEST_F(EndToEndFault, StalledPrinterLeavesTheJobWithoutAnswer) {
  const CbtConnection job = ConnectCbt("LPT1", 0x10);
  ASSERT_EQ(0, job.connectResult);
  ASSERT_NO_FATAL_FAILURE(PrintUntilReceived(job.socket, 40000));

  ASSERT_TRUE(sim_->Fault("p1", "stall on"));
  const auto start = Clock::now();
  // The credit runs out, and the printer answers no request for more.
  EXPECT_EQ(codes::kNoReply, SendUntilFailure(job.socket));
  EXPECT_LT(Clock::now() - start, 15s);
  EXPECT_EQ(codes::kNoReply, CBT_Send(job.socket, job_.data(), 100));  // the job stays failed
  EXPECT_EQ(codes::kNoReply, CBT_CloseSocket(job.socket));
  EXPECT_LT(Clock::now() - start, 25s);
  ASSERT_NO_FATAL_FAILURE(ExpectJobPrefixReceived());

  ASSERT_TRUE(sim_->Fault("p1", "stall off"));
  ASSERT_NO_FATAL_FAILURE(ExpectLaterJobPrints("LPT1", "p1"));
}

TEST_F(EndToEndFault, UnpluggedPrinterFailsTheJobAndPrintsOncePluggedIn) {
  const CbtConnection job = ConnectCbt("LPT1", 0x10);
  ASSERT_EQ(0, job.connectResult);
  ASSERT_NO_FATAL_FAILURE(PrintUntilReceived(job.socket, 40000));

  ASSERT_TRUE(sim_->Fault("p1", "hangup"));
  const auto start = Clock::now();
  // A packet write or a read for more credit finds the device gone (-999), or
  // the request for more credit cannot be written (-14).
  const int failure = SendUntilFailure(job.socket);
  EXPECT_THAT(failure, testing::AnyOf(codes::kSessionEnded, codes::kSendFailed));
  EXPECT_LT(Clock::now() - start, 15s);
  EXPECT_EQ(failure, CBT_CloseSocket(job.socket));  // the job's own failure
  ASSERT_NO_FATAL_FAILURE(ExpectJobPrefixReceived());

  // While the printer is away, a connect finds no port to open.
  const CbtConnection away = ConnectCbt("LPT1", 0x10);
  EXPECT_EQ(codes::kOpenPortShift + codes::kPortNotOpen, away.connectResult);
  EXPECT_EQ(codes::kOk, CBT_CloseSocket(away.socket));

  ASSERT_TRUE(sim_->Fault("p1", "plug"));
  ASSERT_NO_FATAL_FAILURE(ExpectLaterJobPrints("LPT1", "p1"));
}

TEST_F(EndToEndFault, UnpluggedPrinterEndsAWaitingReceive) {
  const CbtConnection status = ConnectCbt("LPT1", 0x20);
  ASSERT_EQ(0, status.connectResult);
  ASSERT_EQ(1, CBT_SetTimeout(status.socket, 3000, 3000));
  ASSERT_TRUE(sim_->Fault("p1", "hangup"));
  // Not "nothing came in time": the device is gone, and the port with it.
  std::uint8_t buffer[64];
  const auto start = Clock::now();
  EXPECT_EQ(codes::kSessionEnded, CBT_Recv(status.socket, buffer, sizeof buffer));
  EXPECT_LT(Clock::now() - start, 10s);
  EXPECT_EQ(codes::kConnectionGone, CBT_Recv(status.socket, buffer, sizeof buffer));
  EXPECT_EQ(codes::kOk, CBT_CloseSocket(status.socket));

  ASSERT_TRUE(sim_->Fault("p1", "plug"));
  ASSERT_NO_FATAL_FAILURE(ExpectLaterJobPrints("LPT1", "p1"));
}

TEST_F(EndToEndFault, RefusedChannelsGiveTheirCodesAndLeaveThePortUsable) {
  ASSERT_TRUE(sim_->Fault("p1", "refuse 16 3"));
  const CbtConnection first = ConnectCbt("LPT1", 0x10);
  EXPECT_EQ(codes::kChannelRefused3, first.connectResult);
  EXPECT_EQ(codes::kNoConnection, CBT_Send(first.socket, "x", 1));
  EXPECT_EQ(codes::kOk, CBT_CloseSocket(first.socket));

  ASSERT_TRUE(sim_->Fault("p1", "refuse 16 7"));
  const CbtConnection second = ConnectCbt("LPT1", 0x10);
  EXPECT_EQ(codes::kChannelRefused7, second.connectResult);
  EXPECT_EQ(codes::kOk, CBT_CloseSocket(second.socket));
  EXPECT_EQ(2u, sim_->Counter("p1", "channels.refused"));

  // Management channels were never refused; a refusal of 0x10 leaves them be.
  const CbtConnection status = ConnectCbt("LPT1", 0x20);
  EXPECT_EQ(0, status.connectResult);
  EXPECT_EQ(codes::kOk, CBT_CloseSocket(status.socket));

  ASSERT_TRUE(sim_->Fault("p1", "refuse 16 0"));
  ASSERT_NO_FATAL_FAILURE(ExpectLaterJobPrints("LPT1", "p1"));
}

TEST_F(EndToEndFault, RevisionRefusedAtFirstIsRetriedWithThePrintersOwn) {
  const CbtConnection job = ConnectCbt("USB003", 0x10);
  ASSERT_EQ(0, job.connectResult) << Dump("rev");
  // Revision 1 was refused with result 2; the second Init offered 0x10.
  EXPECT_EQ(2u, sim_->Counter("rev", "command.Init"));
  EXPECT_EQ(1u, sim_->Counter("rev", "channels.opened"));
  EXPECT_EQ(0u, sim_->Counter("rev", "violations"));
  EXPECT_EQ(codes::kOk, CBT_CloseSocket(job.socket));
  ASSERT_NO_FATAL_FAILURE(ExpectLaterJobPrints("USB003", "rev"));
}

TEST_F(EndToEndFault, WorkerKilledMidRequestGivesWorkerTimeoutAndIsReplaced) {
  const CbtConnection job = ConnectCbt("USB002", 0x10);
  ASSERT_EQ(0, job.connectResult);
  const std::vector<pid_t> workers = OurWorkers();
  ASSERT_EQ(1u, workers.size());

  // A stalled printer with credit to spare: the worker blocks in a write that
  // cannot finish, the sender waits for it and the queue fills up.
  ASSERT_TRUE(sim_->Fault("big", "stall on"));
  auto busySince = Clock::now();
  const auto end = Clock::now() + 20s;
  while (Clock::now() - busySince < 500ms) {
    ASSERT_LT(Clock::now(), end) << "the queue never filled";
    const int n = CBT_Send(job.socket, job_.data() + sent_, 4096);
    ASSERT_GE(n, 0);
    if (n > 0) busySince = Clock::now();
    sent_ += static_cast<std::size_t>(n);
  }
  ASSERT_EQ(0, ::kill(workers[0], SIGKILL));
  const auto start = Clock::now();
  EXPECT_EQ(codes::kWorkerTimeout, SendUntilFailure(job.socket));
  EXPECT_LT(Clock::now() - start, 15s);
  // The port failed with its worker: the connection is gone, its close is quick.
  EXPECT_EQ(codes::kNoConnection, CBT_Send(job.socket, job_.data(), 100));
  EXPECT_EQ(codes::kWorkerTimeout, CBT_CloseSocket(job.socket));
  EXPECT_LT(Clock::now() - start, 15s);

  // The killed write left half a packet in the pty, which would swallow the
  // next conversation's Init: the printer is power-cycled (a fresh pty).
  ASSERT_TRUE(sim_->Fault("big", "hangup"));
  ASSERT_TRUE(sim_->Fault("big", "stall off"));
  ASSERT_TRUE(sim_->Fault("big", "plug"));
  ASSERT_NO_FATAL_FAILURE(ExpectLaterJobPrints("USB002", "big"));
  const std::vector<pid_t> later = OurWorkers();
  ASSERT_FALSE(later.empty());
  EXPECT_NE(workers[0], later[0]);
}

}  // namespace
}  // namespace tgx::e2e
