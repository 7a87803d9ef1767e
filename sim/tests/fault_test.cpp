// Every fault the simulator injects, seen from the host's end of the device.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "sim_fixture.h"

using namespace hostside;
using Clock = std::chrono::steady_clock;

class FaultTest : public SimTest {};

TEST_F(FaultTest, ErrorAfterNPacketsThenOnlyExitOrInitIsTaken) {
  Start(std::string(kPacketPrinter) + "error_after_packets = 3\n");
  Port port = OpenUsb();
  ASSERT_TRUE(port.Open(3, 0x10));          // packets 1 and 2
  port.Write(MakePacket(3, 0x10, 0, {1}));  // packet 3
  auto error = port.ReadPacket();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->length, 10);
  EXPECT_EQ(error->code(), 0x7F);
  EXPECT_EQ(error->U8(9), 0xFE);
  port.Write(MakePacket(3, 0x10, 0, {2}));
  ASSERT_TRUE(WaitCounter("dropped_after_error", 1));
  auto exit = port.Transact(Exit());
  ASSERT_TRUE(exit);
  EXPECT_EQ(exit->U8(7), 0);
  EXPECT_EQ(Counter("job.bytes"), 1u);
}

TEST_F(FaultTest, ErrorAndExitOnCommand) {
  Start(kPacketPrinter);
  Port port = OpenUsb();
  std::string error;
  EXPECT_FALSE(sim_->Fault("p", "exit", &error));  // no conversation yet
  EXPECT_NE(error.find("no host"), std::string::npos);
  ASSERT_TRUE(port.Open(3, 0x10));
  ASSERT_TRUE(sim_->Fault("p", "exit"));
  auto exit = port.ReadPacket();
  ASSERT_TRUE(exit);
  EXPECT_EQ(exit->code(), 0x08);
  EXPECT_EQ(exit->length, 7);
  port.Write(Reply(0x08, {0}));
  ASSERT_TRUE(WaitCounter("reply.ExitReply", 1));
  EXPECT_EQ(Counter("jobs.ended"), 1u);  // the printer's Exit ended the conversation
  ASSERT_TRUE(port.Open(3, 0x10));
  ASSERT_TRUE(sim_->Fault("p", "error 0x42"));
  auto packet = port.ReadPacket();
  ASSERT_TRUE(packet);
  EXPECT_EQ(packet->code(), 0x7F);
  EXPECT_EQ(packet->U8(9), 0x42);
}

TEST_F(FaultTest, CreditWithheldAtRunTimeAndGivenBack) {
  Start(std::string(kPacketPrinter) + "credit_window = 2\n");
  Port port = OpenUsb();
  auto open = port.Open(3, 0x10);
  ASSERT_TRUE(open);
  EXPECT_EQ(open->U16(14), 2);
  ASSERT_TRUE(sim_->Fault("p", "credit withheld"));
  port.Write(MakePacket(3, 0x10, 0, {1}));
  port.Write(MakePacket(3, 0x10, 0, {2}));
  auto reply = port.Transact(CreditRequest(3, 0x10, 0xFFFF, 0xFFFF));
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->U16(10), 0);
  EXPECT_TRUE(port.others.empty());  // no Credit command either
  ASSERT_TRUE(sim_->Fault("p", "credit generous"));
  auto credit = port.ReadPacket();
  ASSERT_TRUE(credit);
  EXPECT_EQ(credit->code(), 0x03);
  EXPECT_EQ(credit->U16(9), 2);
}

TEST_F(FaultTest, StalledPrinterStopsReadingUntilReleased) {
  Start(std::string(kPacketPrinter) + "protocol = raw\n");
  ASSERT_TRUE(sim_->Fault("p", "stall on"));
  Port port = OpenUsb();
  fcntl(port.fd(), F_SETFL, O_NONBLOCK);
  const Bytes chunk(4096, 0x5A);
  std::uint64_t written = 0;
  for (int i = 0; i < 10000; ++i) {
    const ssize_t n = write(port.fd(), chunk.data(), chunk.size());
    if (n <= 0) break;
    written += static_cast<std::uint64_t>(n);
  }
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, 4096u * 10000);  // the pty filled up: nobody reads
  EXPECT_EQ(Counter("host.bytes_in"), 0u);
  ASSERT_TRUE(sim_->Fault("p", "stall off"));
  EXPECT_TRUE(WaitCounter("job.bytes", written));
}

TEST_F(FaultTest, HangupRemovesTheDeviceAndPlugBringsItBack) {
  Start(kPacketPrinter);
  Port port = OpenUsb();
  ASSERT_TRUE(port.Open(3, 0x10));
  ASSERT_TRUE(sim_->Fault("p", "hangup"));
  EXPECT_FALSE(std::filesystem::exists(Root() / "dev/usb/lp0"));
  EXPECT_FALSE(std::filesystem::exists(Root() / "sys/class/usbmisc/lp0"));
  std::uint8_t byte;
  EXPECT_LE(read(port.fd(), &byte, 1), 0);  // the pty is gone: end of file or EIO
  EXPECT_EQ(write(port.fd(), &byte, 1), -1);
  auto info = sim_->Info("p");
  ASSERT_TRUE(info);
  EXPECT_FALSE(info->present);
  EXPECT_EQ(Counter("jobs.ended"), 1u);
  ASSERT_TRUE(sim_->Fault("p", "plug"));
  Port again = OpenUsb();
  auto init = again.Transact(Init(1));
  ASSERT_TRUE(init);
  EXPECT_EQ(init->U8(7), 0);
}

TEST_F(FaultTest, SlowPrinterDelaysItsReplies) {
  Start(kPacketPrinter);
  ASSERT_TRUE(sim_->Fault("p", "slow 300"));
  Port port = OpenUsb();
  const auto start = Clock::now();
  auto init = port.Transact(Init(1));
  ASSERT_TRUE(init);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(280));
  ASSERT_TRUE(sim_->Fault("p", "slow 0"));
  EXPECT_TRUE(port.Transact(OpenChannel(3, 0x10)));
}

TEST_F(FaultTest, MalformedPacketsReachTheHostAsAsked) {
  Start(kPacketPrinter);
  Port port = OpenUsb();
  ASSERT_TRUE(port.Open(3, 0x10));
  ASSERT_TRUE(sim_->Fault("p", "malformed short"));
  Bytes short_header = port.Read(6);
  ASSERT_EQ(short_header.size(), 6u);
  EXPECT_EQ(short_header[2] << 8 | short_header[3], 3);  // length below the header size
  ASSERT_TRUE(sim_->Fault("p", "malformed truncated"));
  Bytes truncated = port.Read(40, std::chrono::milliseconds(300));
  ASSERT_EQ(truncated.size(), 11u);  // announces 40, delivers 11
  EXPECT_EQ(truncated[2] << 8 | truncated[3], 40);
  ASSERT_TRUE(sim_->Fault("p", "malformed unknown"));
  auto unknown = port.ReadPacket();
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->code(), 0x55);
  EXPECT_EQ(Counter("sent.malformed"), 3u);
}

TEST_F(FaultTest, RefusedChannelsAnswerTheConfiguredResult) {
  Start(std::string(kPacketPrinter) + "refuse_channel = 0x30:3, 0x20:7\n");
  Port port = OpenUsb();
  ASSERT_TRUE(port.Transact(Init(1)));
  auto refused3 = port.Transact(OpenChannel(4, 0x30));
  ASSERT_TRUE(refused3);
  EXPECT_EQ(refused3->U8(7), 3);
  auto refused7 = port.Transact(OpenChannel(4, 0x20));
  ASSERT_TRUE(refused7);
  EXPECT_EQ(refused7->U8(7), 7);
  ASSERT_TRUE(sim_->Fault("p", "refuse 0x20 0"));
  auto accepted = port.Transact(OpenChannel(4, 0x20));
  ASSERT_TRUE(accepted);
  EXPECT_EQ(accepted->U8(7), 0);
  ASSERT_TRUE(sim_->Fault("p", "refuse 0x10 7"));
  auto refused_job = port.Transact(OpenChannel(5, 0x10));
  ASSERT_TRUE(refused_job);
  EXPECT_EQ(refused_job->U8(7), 7);
  EXPECT_EQ(Counter("channels.refused"), 3u);
}

TEST_F(FaultTest, ExitAfterNPackets) {
  Start(std::string(kPacketPrinter) + "exit_after_packets = 2\n");
  Port port = OpenUsb();
  ASSERT_TRUE(port.Transact(Init(1)));
  auto reply = port.Transact(OpenChannel(3, 0x10));
  ASSERT_TRUE(reply);
  auto exit = port.ReadPacket();
  ASSERT_TRUE(exit);
  EXPECT_EQ(exit->code(), 0x08);
}
