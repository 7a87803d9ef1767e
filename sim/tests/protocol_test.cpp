// The printer's side of the packet protocol, driven by the tests' own host
// through the simulated USB device (a real pty).
#include <fstream>

#include "sim_fixture.h"

using namespace hostside;

namespace {

Bytes Pattern(std::size_t n) {
  Bytes data(n);
  for (std::size_t i = 0; i < n; ++i) data[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
  return data;
}

// Answers the printer's Credit commands collected so far; returns the credit they gave.
std::uint32_t TakeOfferedCredit(Port& port) {
  std::uint32_t credit = 0;
  for (const Packet& p : port.others) {
    if (p.transaction() && p.code() == 0x03) {
      credit += p.U16(9);
      port.Write(Reply(0x03, {0, p.U8(7), p.U8(8)}));
    }
  }
  port.others.clear();
  return credit;
}

// Sends data on an open channel under the printer's credit, as a host does:
// without credit it asks with CreditRequest, taking what the printer offered
// on the way with its own Credit commands.
bool SendUnderCredit(Port& port, std::uint8_t psid, std::uint8_t ssid, std::uint32_t credit,
                     std::uint16_t packet_size, const Bytes& data) {
  std::size_t offset = 0;
  while (offset < data.size()) {
    while (credit == 0) {
      auto reply = port.Transact(CreditRequest(psid, ssid, 0xFFFF, 0xFFFF));
      if (!reply || reply->U8(7) != 0) return false;
      credit += reply->U16(10) + TakeOfferedCredit(port);
    }
    const std::size_t n = std::min<std::size_t>(packet_size - 6u, data.size() - offset);
    if (!port.Write(
            MakePacket(psid, ssid, 0, Bytes(data.begin() + offset, data.begin() + offset + n)))) {
      return false;
    }
    offset += n;
    --credit;
  }
  return true;
}

}  // namespace

class ProtocolTest : public SimTest {};

TEST_F(ProtocolTest, DeviceAppearsWithItsIdBeside) {
  Start(kPacketPrinter);
  EXPECT_TRUE(std::filesystem::exists(Root() / "dev/usb/lp0"));
  std::ifstream id(Root() / "sys/class/usbmisc/lp0/device/ieee1284_id");
  std::string text((std::istreambuf_iterator<char>(id)), {});
  EXPECT_EQ(text, "MFG:Arvona;MDL:TG-1;CMD:1284.4,PJL;CLS:PRINTER;");
}

TEST_F(ProtocolTest, InitIsAnsweredWithItsRevisionAndOneCredit) {
  Start(kPacketPrinter);
  Port port = OpenUsb();
  auto reply = port.Transact(Init(1));
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->length, 9);
  EXPECT_EQ(reply->credit, 1);
  EXPECT_EQ(reply->control, 0);
  EXPECT_EQ(reply->U8(7), 0);  // result
  EXPECT_EQ(reply->U8(8), 1);  // revision
}

TEST_F(ProtocolTest, InitWithAnotherRevisionIsRefusedWithResult2AndTheRevisionOffered) {
  Start(std::string(kPacketPrinter) + "revision = 0x10\n");
  Port port = OpenUsb();
  auto refused = port.Transact(Init(1));
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->U8(7), 2);
  EXPECT_EQ(refused->U8(8), 0x10);
  auto accepted = port.Transact(Init(0x10));
  ASSERT_TRUE(accepted);
  EXPECT_EQ(accepted->U8(7), 0);
}

TEST_F(ProtocolTest, OpenChannelNegotiatesTheSmallerPacketSizesAndGrantsTheWindow) {
  Start(std::string(kPacketPrinter) + "max_packet = 1024\ncredit_window = 8\n");
  Port port = OpenUsb();
  ASSERT_TRUE(port.Transact(Init(1)));
  auto reply = port.Transact(OpenChannel(5, 0x10, 4096, 512));
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->length, 16);
  EXPECT_EQ(reply->U8(7), 0);
  EXPECT_EQ(reply->U8(8), 5);
  EXPECT_EQ(reply->U8(9), 0x10);
  EXPECT_EQ(reply->U16(10), 1024);  // host to printer: the printer's maximum
  EXPECT_EQ(reply->U16(12), 512);   // printer to host: the host's maximum
  EXPECT_EQ(reply->U16(14), 8);     // credit
  // A packet above the negotiated size is refused with an Error packet.
  port.Write(MakePacket(5, 0x10, 0, Bytes(2000)));
  auto error = port.ReadPacket();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), 0x7F);
  EXPECT_EQ(error->length, 10);
  EXPECT_TRUE(WaitCounter("violation.oversize", 1));
}

TEST_F(ProtocolTest, JobDataReachesTheSinkWholeWithItsChecksum) {
  const auto job_file = tgx::test::MakeTempDir("job") / "job.bin";
  Start(std::string(kPacketPrinter) + "credit_window = 4\njob_file = " + job_file.string() + "\n");
  Port port = OpenUsb();
  auto open = port.Open(7, 0x10);
  ASSERT_TRUE(open);
  const Bytes data = Pattern(300000);
  ASSERT_TRUE(SendUnderCredit(port, 7, 0x10, open->U16(14), open->U16(10), data));
  ASSERT_TRUE(WaitCounter("job.bytes", data.size()));
  auto reply = port.Transact(CloseChannel(7, 0x10));
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->U8(7), 0);
  const auto counters = sim_->Counters("p");
  EXPECT_EQ(counters.at("job.sha256"), printersim::JobSha256(data));
  EXPECT_EQ(counters.at("jobs.ended"), "1");
  EXPECT_EQ(counters.count("violations"), 0u);
  std::ifstream in(job_file, std::ios::binary);
  Bytes written((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(written, data);
}

TEST_F(ProtocolTest, OneAtATimeGrantsASinglePacketAfterEachConsumed) {
  Start(std::string(kPacketPrinter) + "credit = one\n");
  Port port = OpenUsb();
  auto open = port.Open(3, 0x10);
  ASSERT_TRUE(open);
  EXPECT_EQ(open->U16(14), 1);
  port.Write(MakePacket(3, 0x10, 0, {1, 2, 3}));
  auto credit = port.ReadPacket();
  ASSERT_TRUE(credit);
  EXPECT_EQ(credit->code(), 0x03);
  EXPECT_EQ(credit->length, 11);
  EXPECT_EQ(credit->U16(9), 1);
  port.Write(Reply(0x03, {0, 3, 0x10}));
  // The host holds one credit again: a request gets nothing more.
  auto reply = port.Transact(CreditRequest(3, 0x10, 5, 5));
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->length, 12);
  EXPECT_EQ(reply->U16(10), 0);
}

TEST_F(ProtocolTest, WithheldCreditGrantsNothingAndCountsDataSentWithoutCredit) {
  Start(std::string(kPacketPrinter) + "credit = withheld\n");
  Port port = OpenUsb();
  auto open = port.Open(3, 0x10);
  ASSERT_TRUE(open);
  EXPECT_EQ(open->U16(14), 0);
  auto reply = port.Transact(CreditRequest(3, 0x10, 0xFFFF, 0xFFFF));
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->U8(7), 0);
  EXPECT_EQ(reply->U16(10), 0);
  port.Write(MakePacket(3, 0x10, 0, {9}));
  EXPECT_TRUE(WaitCounter("violation.no_credit", 1));
  EXPECT_EQ(Counter("job.bytes"), 1u);  // taken, but reported
}

TEST_F(ProtocolTest, CreditAndCloseForAnUnknownChannelAnswerResult0A) {
  Start(kPacketPrinter);
  Port port = OpenUsb();
  ASSERT_TRUE(port.Transact(Init(1)));
  auto credit = port.Transact(Credit(9, 0x20, 4));
  ASSERT_TRUE(credit);
  EXPECT_EQ(credit->length, 10);
  EXPECT_EQ(credit->U8(7), 0x0A);
  auto request = port.Transact(CreditRequest(9, 0x20, 1, 1));
  ASSERT_TRUE(request);
  EXPECT_EQ(request->U8(7), 0x0A);
  auto close = port.Transact(CloseChannel(9, 0x20));
  ASSERT_TRUE(close);
  EXPECT_EQ(close->U8(7), 0x0A);
  port.Write(MakePacket(9, 0x20, 0, {1}));
  EXPECT_TRUE(WaitCounter("violation.unknown_channel", 1));
}

TEST_F(ProtocolTest, ExitIsAnsweredAndEndsTheConversation) {
  Start(kPacketPrinter);
  Port port = OpenUsb();
  ASSERT_TRUE(port.Open(3, 0x10));
  auto reply = port.Transact(Exit());
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->length, 8);
  EXPECT_EQ(reply->U8(7), 0);
  port.Write(MakePacket(3, 0x10, 0, {1}));
  EXPECT_TRUE(WaitCounter("violation.before_init", 1));
  EXPECT_EQ(Counter("jobs.ended"), 1u);
}

TEST_F(ProtocolTest, ManagementAnswerAsksForCreditThenCarriesTheTransactionId) {
  Start(std::string(kPacketPrinter) + "answer.5 = 01 02 03\n");
  Port port = OpenUsb();
  ASSERT_TRUE(port.Open(4, 0x30));
  const Bytes request = DevicePacket(0x04, 5, 77, {0xEE});
  // Split across two packets: the printer reassembles the stream.
  port.Write(MakePacket(4, 0x30, 0, Bytes(request.begin(), request.begin() + 7)));
  port.Write(MakePacket(4, 0x30, 0, Bytes(request.begin() + 7, request.end())));
  auto ask = port.ReadPacket();
  ASSERT_TRUE(ask);
  ASSERT_EQ(ask->code(), 0x04);  // CreditRequest from the printer
  EXPECT_EQ(ask->U8(7), 4);
  EXPECT_EQ(ask->U8(8), 0x30);
  EXPECT_GE(ask->U16(9), 1);
  port.Write(Reply(0x04, {0, 4, 0x30, 0, 1}));
  auto data = port.ReadPacket();
  ASSERT_TRUE(data);
  EXPECT_EQ(data->psid, 4);
  EXPECT_EQ(data->ssid, 0x30);
  const Bytes answer = data->payload();
  ASSERT_EQ(answer.size(), 23u);
  EXPECT_EQ(answer[0], 0xCD);
  EXPECT_EQ(answer[1], 0xCA);
  EXPECT_EQ(answer[2], 0x10);
  EXPECT_EQ(answer[3], 0x01);                                 // the answer flag
  EXPECT_EQ(answer[4] << 8 | answer[5], 5);                   // opcode
  EXPECT_EQ(answer[6] << 8 | answer[7], 77);                  // transaction id
  EXPECT_EQ(answer[8] << 8 | answer[9], 3);                   // payload length
  EXPECT_EQ(Bytes(answer.begin() + 10, answer.begin() + 20),  // carried unchanged
            Bytes(request.begin() + 10, request.begin() + 20));
  EXPECT_EQ(Bytes(answer.begin() + 20, answer.end()), (Bytes{1, 2, 3}));
}

TEST_F(ProtocolTest, RegistrationsAreKeptPerKeyAndAnsweredWithTheKey) {
  Start(kPacketPrinter);
  Port port = OpenUsb();
  ASSERT_TRUE(port.Open(4, 0x20));
  port.Write(Credit(4, 0x20, 10));  // as the host does on a shared channel
  auto credit_reply = port.ReadPacket();
  ASSERT_TRUE(credit_reply);
  EXPECT_EQ(credit_reply->code(), 0x83);
  port.Write(MakePacket(4, 0x20, 0,
                        DevicePacket(0x04, 8, 1, RegisterPayload(0xA1B2C3D4, {1, 2}, 0x01020000))));
  auto answer = port.ReadPacket();
  ASSERT_TRUE(answer);
  const Bytes payload = answer->payload();
  ASSERT_EQ(payload.size(), 28u);
  EXPECT_EQ(Bytes(payload.begin() + 20, payload.end()),
            (Bytes{0xA1, 0xB2, 0xC3, 0xD4, 0x11, 0x11, 0x22, 0x22}));
  port.Write(MakePacket(4, 0x20, 0, DevicePacket(0, 9, 0, UnregisterPayload(0xA1B2C3D4, {1}))));
  ASSERT_TRUE(WaitCounter("mgmt.op.9", 1));
  auto lines = sim_->Command("registrations p");
  ASSERT_TRUE(lines);
  ASSERT_EQ(lines->size(), 1u);
  EXPECT_EQ(lines->front(),
            "key=0xA1B2C3D4 codes=0x0002 duration=0x01020000 registers=1 unregisters=1");
}

TEST_F(ProtocolTest, NotificationsGoToOpenManagementChannelsOnCommandAndOnTimer) {
  Start(std::string(kPacketPrinter) + "notify_interval_ms = 100\nnotify_payload = AB CD\n");
  Port port = OpenUsb();
  ASSERT_TRUE(port.Open(4, 0x20));
  port.Write(Credit(4, 0x20, 10));
  ASSERT_TRUE(port.ReadPacket());  // CreditReply
  EXPECT_EQ(sim_->Notify("p", "0102"), 1u);
  bool commanded = false, timed = false;
  for (int i = 0; i < 4 && !(commanded && timed); ++i) {
    auto p = port.ReadPacket();
    ASSERT_TRUE(p);
    const Bytes payload = p->payload();
    ASSERT_GE(payload.size(), 20u);
    EXPECT_EQ(payload[4] << 8 | payload[5], 10);
    const Bytes body(payload.begin() + 20, payload.end());
    commanded |= body == Bytes{1, 2};
    timed |= body == Bytes{0xAB, 0xCD};
  }
  EXPECT_TRUE(commanded);
  EXPECT_TRUE(timed);
}

TEST_F(ProtocolTest, PrinterCommandsAreSentWithCreditAndTheHostsAnswersCounted) {
  Start(kPacketPrinter);
  Port port = OpenUsb();
  ASSERT_TRUE(port.Open(4, 0x10));
  ASSERT_TRUE(sim_->Send("p", "init"));
  auto init = port.ReadPacket();
  ASSERT_TRUE(init);
  EXPECT_EQ(init->code(), 0x00);
  EXPECT_EQ(init->credit, 1);
  port.Write(Reply(0x00, {4, 0x10}));
  ASSERT_TRUE(sim_->Send("p", "open 0x40 0x50"));
  auto open = port.ReadPacket();
  ASSERT_TRUE(open);
  EXPECT_EQ(open->code(), 0x01);
  EXPECT_EQ(open->length, 17);
  port.Write(Reply(0x01, {4, 0x40, 0x50, 0, 0, 0, 0, 0, 0}));
  ASSERT_TRUE(sim_->Send("p", "credit-request 4 0x10 3"));
  auto request = port.ReadPacket();
  ASSERT_TRUE(request);
  EXPECT_EQ(request->code(), 0x04);
  EXPECT_EQ(request->U16(9), 3);
  port.Write(Reply(0x04, {0, 4, 0x10, 0, 2}));
  ASSERT_TRUE(WaitCounter("reply.CreditRequestReply", 1));
  EXPECT_EQ(Counter("reply.InitReply.result"), 4u);
  EXPECT_EQ(Counter("reply.OpenChannelReply.result"), 4u);
}

TEST_F(ProtocolTest, BrokenHostPacketsAreCountedAndAnsweredAsAPrinterWould) {
  Start(kPacketPrinter);
  Port port = OpenUsb();
  port.Write(MakePacket(3, 0x10, 0, {1}));  // before Init
  ASSERT_TRUE(WaitCounter("violation.before_init", 1));
  ASSERT_TRUE(port.Open(3, 0x10));
  Bytes bad_control = MakePacket(3, 0x10, 0, {1});
  bad_control[5] = 0x40;
  port.Write(bad_control);
  ASSERT_TRUE(WaitCounter("violation.bad_control", 1));
  port.Write(MakePacket(0, 0, 1, {0x00}));  // Init without its revision
  ASSERT_TRUE(WaitCounter("violation.bad_command_length", 1));
  port.Write(MakePacket(0, 0, 1, {0x66}));  // no such command
  ASSERT_TRUE(WaitCounter("violation.unknown_command", 1));
  port.Write({0, 0, 0, 2, 0, 0, 0xFF, 0xFF});  // length below the header size
  auto error = port.ReadPacket();
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code(), 0x7F);
  EXPECT_EQ(error->U8(9), 0x80);
  EXPECT_TRUE(WaitCounter("violation.short_length", 1));
  EXPECT_EQ(Counter("violations"), 5u);
  // The printer still answers a fresh conversation.
  auto init = port.Transact(Init(1));
  ASSERT_TRUE(init);
  EXPECT_EQ(init->U8(7), 0);
}

TEST_F(ProtocolTest, ARawPrinterSinksEverythingAndEndsTheJobWhenTheHostCloses) {
  Start("[printer p]\nport = LPT2\ndevice_id = MFG:Arvona;MDL:Raw;CMD:PCL,PJL;CLS:PRINTER;\n");
  std::ifstream id(Root() / "proc/sys/dev/parport/parport1/autoprobe");
  std::string text((std::istreambuf_iterator<char>(id)), {});
  EXPECT_EQ(text, "CLASS:PRINTER;\nMODEL:Raw;\nMANUFACTURER:Arvona;\nCOMMAND SET:PCL,PJL;\n");
  const Bytes data = Pattern(100000);
  {
    auto port = Port::OpenDevice(Root() / "dev/lp1");
    ASSERT_TRUE(port);
    ASSERT_TRUE(port->Write(data));
  }
  ASSERT_TRUE(WaitCounter("jobs.ended", 1));
  EXPECT_EQ(Counter("job.bytes"), data.size());
  EXPECT_EQ(sim_->Counters("p").at("job.sha256"), printersim::JobSha256(data));
}

TEST_F(ProtocolTest, TheTcpEndpointSpeaksTheSameProtocol) {
  Start(std::string(kPacketPrinter) + "tcp_port = 0\n");
  auto info = sim_->Info("p");
  ASSERT_TRUE(info);
  ASSERT_NE(info->tcp_port, 0);
  auto port = Port::ConnectTcp(info->tcp_port);
  ASSERT_TRUE(port);
  auto open = port->Open(2, 0x10);
  ASSERT_TRUE(open);
  port->Write(MakePacket(2, 0x10, 0, {1, 2, 3, 4}));
  EXPECT_TRUE(WaitCounter("job.bytes", 4));
  EXPECT_EQ(Counter("tcp.connections"), 1u);
}

TEST_F(ProtocolTest, WhatTheHostLeftUnreadIsGoneWhenItOpensAgain) {
  Start(kPacketPrinter);
  {
    Port port = OpenUsb();
    port.Write(Init(1));
    ASSERT_TRUE(WaitCounter("command.Init", 1));
  }  // closed without reading the InitReply
  ASSERT_TRUE(WaitCounter("host.closes", 1));
  Port port = OpenUsb();
  EXPECT_TRUE(port.ReadAvailable(std::chrono::milliseconds(200)).empty());
  auto init = port.Transact(Init(1));
  ASSERT_TRUE(init);
  EXPECT_EQ(init->U8(7), 0);
  EXPECT_EQ(Counter("host.opens"), 2u);
}
