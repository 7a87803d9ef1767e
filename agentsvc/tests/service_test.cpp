// The agent service as a program: real TCP connections to a real agentsvc
// process speaking raw wire bytes, with the test channel library behind it.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <thread>

#include "service_harness.h"

namespace tgx::agent::test {
namespace {

constexpr std::size_t kCreateReply = create_socket::kReplySize;

int CountLines(const std::vector<std::string>& lines, const std::string& prefix) {
  return static_cast<int>(std::count_if(
      lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; }));
}

// Opens a client and creates its channel socket; returns the CreateSocket result.
std::uint32_t Create(Client& c, std::uint16_t channel, const std::string& port) {
  return ResultOf(c.Exchange(CreateSocketRequest(channel, port), kCreateReply));
}

std::uint32_t ConnectChannel(Client& c) {
  return ResultOf(c.Exchange(ConnectRequest(), connect::kReplySize));
}

// Receives until `n` bytes of channel data have come (Recv polls the channel).
Bytes ReceiveData(Client& c, std::size_t n) {
  Bytes data;
  for (int i = 0; i < 200 && data.size() < n; ++i) {
    const Bytes reply = c.Exchange(RecvRequest(4096), recv::kReplySize);
    if (reply.size() != recv::kReplySize || ResultOf(reply) != 0) break;
    const Bytes got = RecvData(reply);
    data.insert(data.end(), got.begin(), got.end());
    if (got.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return data;
}

TEST(AgentService, ServesAPrintJobChannel) {
  ServiceProcess service;
  service.StartListening();
  Client c(service.port());
  const Bytes reply = c.Exchange(CreateSocketRequest(0x10, "USB001"), kCreateReply);
  ASSERT_EQ(reply.size(), kCreateReply);
  EXPECT_EQ(ResultOf(reply), 0u);
  EXPECT_EQ(MessageCode(reply.data()), code::kCreateSocket);
  EXPECT_EQ(LoadLe32(reply.data() + create_socket::kSocketId), 0x01u);  // low byte of 0x101
  EXPECT_EQ(ConnectChannel(c), 0u);
  EXPECT_EQ(ResultOf(c.Exchange(SendRequest(Bytes(65535, 0x42)), send::kReplySize)), 0u);
  EXPECT_EQ(ResultOf(c.Exchange(SendRequest({}), send::kReplySize)), 0u);
  const Bytes sizes = c.Exchange(GetPacketSizeRequest(), get_packet_size::kReplySize);
  EXPECT_EQ(LoadLe16(sizes.data() + get_packet_size::kSendingSize), 4096);
  EXPECT_EQ(LoadLe16(sizes.data() + get_packet_size::kReceivingSize), 512);
  const Bytes nothing = c.Exchange(RecvRequest(100), recv::kReplySize);
  EXPECT_EQ(ResultOf(nothing), 0u);
  EXPECT_EQ(LoadLe32(nothing.data() + recv::kCount), 0u);
  EXPECT_EQ(ResultOf(c.Exchange(DeleteSocketRequest(1), delete_socket::kReplySize)), 0u);

  const auto log = service.ChannelLog();
  EXPECT_EQ(CountLines(log, "Send 0 65535"), 1);
  EXPECT_EQ(CountLines(log, "Bind 0 USB001"), 1);
  EXPECT_EQ(CountLines(log, "SetTimeout 100 100"), 1);
  // The job is cancelled before the channel closes.
  const auto cancel = std::find(log.begin(), log.end(), "JobCancel 0");
  ASSERT_NE(cancel, log.end());
  EXPECT_EQ(*std::next(cancel), "CloseSocket 0");
}

TEST(AgentService, RecvCarriesAtMost4096BytesAndKeepsTheRest) {
  ServiceProcess service;
  service.StartListening();
  Client c(service.port());
  ASSERT_EQ(Create(c, 0x30, "USB001"), 0u);
  ASSERT_EQ(ConnectChannel(c), 0u);
  // The printer answers with a packet of 6020 bytes.
  const Bytes request = DevicePacket(3, 9, packet::kFlagExpectsAnswer, Bytes(6000, 0x61));
  ASSERT_EQ(ResultOf(c.Exchange(SendRequest(request), send::kReplySize)), 0u);
  const Bytes first = c.Exchange(RecvRequest(100000), recv::kReplySize);
  ASSERT_EQ(first.size(), recv::kReplySize);
  EXPECT_EQ(LoadLe32(first.data() + recv::kCount), 4096u);
  const Bytes rest = ReceiveData(c, request.size() - 4096);
  Bytes answer = RecvData(first);
  answer.insert(answer.end(), rest.begin(), rest.end());
  Bytes expected = request;
  expected[packet::kFlags] = packet::kFlagAnswer;
  EXPECT_EQ(answer, expected);
}

TEST(AgentService, LibraryWithoutJobCancelClosesWithoutIt) {
  ServiceProcess service({.job_cancel = false});
  service.StartListening();
  Client c(service.port());
  ASSERT_EQ(Create(c, 0x10, "LPT1"), 0u);
  ASSERT_EQ(ConnectChannel(c), 0u);
  EXPECT_EQ(ResultOf(c.Exchange(DeleteSocketRequest(1), delete_socket::kReplySize)), 0u);
  const auto log = service.ChannelLog();
  EXPECT_EQ(CountLines(log, "JobCancel"), 0);
  EXPECT_EQ(CountLines(log, "CloseSocket 0"), 1);
}

TEST(AgentService, MissingChannelLibraryIsRetriedForALaterSession) {
  ServiceProcess service({.channel_library = false});
  service.StartListening();
  {
    Client c(service.port());
    EXPECT_EQ(Create(c, 0x20, "USB001"), result::kNoLibrary);
    EXPECT_EQ(ConnectChannel(c), result::kNoLibrary);
  }
  service.InstallChannelLibrary();
  // The next session binds the library.
  Client c(service.port());
  EXPECT_EQ(Create(c, 0x20, "USB002"), 0u);
  EXPECT_EQ(ConnectChannel(c), 0u);
}

TEST(AgentService, SharedChannelRewritesAndRestoresIdentifiers) {
  ServiceProcess service;
  service.StartListening();
  Client a(service.port()), b(service.port());
  ASSERT_EQ(Create(a, 0x20, "USB001"), 0u);
  ASSERT_EQ(Create(b, 0x20, "usb001"), 0u);  // same session: names compare without case
  ASSERT_EQ(ConnectChannel(a), 0u);
  ASSERT_EQ(ConnectChannel(b), 0u);
  const Bytes request = DevicePacket(3, 5, packet::kFlagExpectsAnswer, Bytes(6, 0x11));
  ASSERT_EQ(ResultOf(a.Exchange(SendRequest(request), send::kReplySize)), 0u);
  ASSERT_EQ(ResultOf(b.Exchange(SendRequest(request), send::kReplySize)), 0u);

  Bytes expected = request;
  expected[packet::kFlags] = packet::kFlagAnswer;
  EXPECT_EQ(ReceiveData(a, expected.size()), expected);
  EXPECT_EQ(ReceiveData(b, expected.size()), expected);

  // The printer saw two identifiers: each client's slot above its counter.
  const auto log = service.ChannelLog();
  std::vector<std::string> sends;
  for (const auto& l : log) {
    if (l.rfind("Send ", 0) == 0) sends.push_back(l);
  }
  ASSERT_EQ(sends.size(), 2u);
  EXPECT_NE(sends[0], sends[1]);
  EXPECT_EQ(CountLines(log, "CreateSocket"), 1);
  EXPECT_EQ(CountLines(log, "Connect "), 1);
}

TEST(AgentService, NotificationsReachEveryClient) {
  ServiceProcess service;
  service.StartListening();
  Client a(service.port()), b(service.port());
  for (Client* c : {&a, &b}) {
    ASSERT_EQ(Create(*c, 0x20, "USB002"), 0u);
    ASSERT_EQ(ConnectChannel(*c), 0u);
  }
  ASSERT_EQ(ResultOf(a.Exchange(SendRequest(DevicePacket(0x7F, 0, 0, {})), send::kReplySize)), 0u);
  for (Client* c : {&a, &b}) {
    const Bytes note = ReceiveData(*c, packet::kHeaderSize);
    ASSERT_EQ(note.size(), packet::kHeaderSize);
    EXPECT_EQ(packet::Opcode(note.data()), packet::kOpNotification);
  }
}

TEST(AgentService, MergesEventRegistrations) {
  ServiceProcess service;
  service.StartListening();
  Client a(service.port()), b(service.port());
  for (Client* c : {&a, &b}) {
    ASSERT_EQ(Create(*c, 0x20, "USB003"), 0u);
    ASSERT_EQ(ConnectChannel(*c), 0u);
  }
  const std::uint32_t key = 0x01020304;
  auto send = [](Client& c, const Bytes& p) {
    return ResultOf(c.Exchange(SendRequest(p), send::kReplySize));
  };
  ASSERT_EQ(send(a, RegistrationPacket(8, 1, key, {1, 2}, 0)), 0u);
  ASSERT_EQ(send(b, RegistrationPacket(8, 2, key, {2, 3}, 0)), 0u);
  ASSERT_EQ(send(a, RegistrationPacket(9, 3, key, {1, 2}, 0)), 0u);
  ASSERT_EQ(send(b, RegistrationPacket(9, 4, key, {2, 3}, 0)), 0u);
  std::vector<std::string> codes;
  for (const auto& l : service.ChannelLog()) {
    if (l.rfind("Send ", 0) != 0) continue;
    const std::string hex = l.substr(l.rfind(' ') + 1);
    const bool reg = hex.substr(8, 4) == "0008";
    // The code list follows the count at byte 29 (register) or 27 (unregister).
    const std::size_t count_at = reg ? 29 : 27;
    const int n = std::stoi(hex.substr(2 * count_at, 4), nullptr, 16);
    codes.push_back((reg ? "register " : "unregister ") + hex.substr(2 * count_at + 4, 4 * n));
  }
  EXPECT_EQ(codes, (std::vector<std::string>{"register 01000200", "register 010002000300",
                                             "unregister 02000300"}));
  // a got a local answer to its unregister at once, and the printer's answer to
  // its register (the merged packet, 45 bytes) at its first Recv, each with a's
  // own identifier.
  const Bytes answers = ReceiveData(a, 28 + 45);
  ASSERT_EQ(answers.size(), 28u + 45u);
  EXPECT_EQ(packet::Transaction(answers.data() + 28), 1);
  const std::uint8_t* local = answers.data();
  EXPECT_EQ(packet::Opcode(local), packet::kOpUnregister);
  EXPECT_EQ(local[packet::kFlags], packet::kFlagAnswer);
  EXPECT_EQ(packet::Transaction(local), 3);
}

TEST(AgentService, RefusesTheSeventeenthSession) {
  ServiceProcess service;
  service.StartListening();
  std::vector<std::unique_ptr<Client>> clients;
  int n = 0;
  for (std::uint16_t channel : {0x10, 0x20, 0x30}) {
    for (int i = 0; i < 5; ++i) {
      clients.push_back(std::make_unique<Client>(service.port()));
      ASSERT_EQ(Create(*clients.back(), channel, "PORT" + std::to_string(n++)), 0u);
    }
  }
  // A sixteenth session on a channel that admits no client still takes a slot.
  clients.push_back(std::make_unique<Client>(service.port()));
  EXPECT_EQ(Create(*clients.back(), 0x40, "PORT16"), result::kRefused);
  clients.push_back(std::make_unique<Client>(service.port()));
  const Bytes request = CreateSocketRequest(0x10, "PORT17");
  Bytes refused = clients.back()->Exchange(request, kCreateReply);
  // The router sends the very bytes back with the result set.
  Bytes expected = request;
  SetMessageResult(expected.data(), result::kRefused);
  EXPECT_EQ(refused, expected);
}

TEST(AgentService, AtMostFiveSessionsPerServiceChannel) {
  ServiceProcess service;
  service.StartListening();
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < 6; ++i) {
    clients.push_back(std::make_unique<Client>(service.port()));
    EXPECT_EQ(Create(*clients.back(), 0x30, "LPT" + std::to_string(i)),
              i < 5 ? 0u : result::kRefused)
        << i;
  }
  // Another service channel still has room.
  Client other(service.port());
  EXPECT_EQ(Create(other, 0x20, "LPT0"), 0u);
}

TEST(AgentService, SecondClientOnThePrintJobChannelIsRefused) {
  ServiceProcess service;
  service.StartListening();
  Client first(service.port()), second(service.port());
  ASSERT_EQ(Create(first, 0x10, "USB001"), 0u);
  const Bytes create = second.Exchange(CreateSocketRequest(0x10, "USB001"), kCreateReply);
  ASSERT_EQ(create.size(), kCreateReply);
  EXPECT_EQ(ResultOf(create), result::kRefused);
  EXPECT_TRUE(std::all_of(create.begin() + 12, create.end(), [](std::uint8_t b) { return !b; }));
  EXPECT_EQ(ResultOf(second.Exchange(ConnectRequest(), 12)), result::kRefused);
  const Bytes recv = second.Exchange(RecvRequest(10), recv::kReplySize);
  EXPECT_EQ(recv.size(), recv::kReplySize);
  EXPECT_EQ(ResultOf(recv), result::kNotServed);
  EXPECT_EQ(ResultOf(second.Exchange(DeleteSocketRequest(0), 16)), 0u);
  EXPECT_EQ(CountLines(service.ChannelLog(), "CreateSocket"), 1);
}

TEST(AgentService, SixteenClientsShareOneSessionAndTheSeventeenthIsRefused) {
  ServiceProcess service;
  service.StartListening();
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < 17; ++i) {
    clients.push_back(std::make_unique<Client>(service.port()));
    EXPECT_EQ(Create(*clients.back(), 0x20, "USB009"), i < 16 ? 0u : result::kRefused) << i;
  }
  EXPECT_EQ(CountLines(service.ChannelLog(), "CreateSocket"), 1);
}

TEST(AgentService, SplitMessages) {
  ServiceProcess service;
  service.StartListening();
  // A first message split so that its first event sees less than its length is
  // never routed: no reply.
  {
    Client c(service.port());
    const Bytes request = CreateSocketRequest(0x10, "USB001");
    c.Send(Bytes(request.begin(), request.begin() + 20));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    c.Send(Bytes(request.begin() + 20, request.end()));
    EXPECT_TRUE(c.Quiet(500));
  }
  // A later message split over several events is handled once complete.
  Client c(service.port());
  ASSERT_EQ(Create(c, 0x10, "USB002"), 0u);
  ASSERT_EQ(ConnectChannel(c), 0u);
  const Bytes send = SendRequest(Bytes(3000, 0x33));
  for (std::size_t at = 0; at < send.size(); at += 1000) {
    c.Send(Bytes(send.begin() + at, send.begin() + std::min(send.size(), at + 1000)));
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
  EXPECT_EQ(ResultOf(c.Read(send::kReplySize)), 0u);
  EXPECT_EQ(CountLines(service.ChannelLog(), "Send 0 3000"), 1);
}

TEST(AgentService, UnsoundMessagesCloseTheirConnectionOnly) {
  ServiceProcess service;
  service.StartListening();
  Client good(service.port());
  ASSERT_EQ(Create(good, 0x20, "USB001"), 0u);
  {
    Client bad(service.port());
    Bytes tiny = ConnectRequest();
    StoreLe32(tiny.data(), 8);
    bad.Send(tiny);
    EXPECT_TRUE(bad.ClosedByPeer());
  }
  {
    Client bad(service.port());
    ASSERT_EQ(Create(bad, 0x20, "USB001"), 0u);
    Bytes lying = SendRequest(Bytes(16, 1));
    StoreLe32(lying.data() + send::kCount, 1000);
    bad.Send(lying);
    EXPECT_TRUE(bad.ClosedByPeer());
  }
  {
    Client bad(service.port());
    ASSERT_EQ(Create(bad, 0x20, "USB001"), 0u);
    bad.Send(Request(code::kRecv, 200));  // longer than a Recv can be
    EXPECT_TRUE(bad.ClosedByPeer());
  }
  EXPECT_EQ(ConnectChannel(good), 0u);
}

TEST(AgentService, RepeatedCreateSocketAndConnect) {
  ServiceProcess service;
  service.Script("connect=1\n");
  service.StartListening();
  Client c(service.port());
  const Bytes first = c.Exchange(CreateSocketRequest(0x30, "LPT1"), kCreateReply);
  EXPECT_EQ(c.Exchange(CreateSocketRequest(0x30, "LPT1"), kCreateReply), first);
  EXPECT_EQ(ConnectChannel(c), result::kRawPort);
  EXPECT_EQ(ConnectChannel(c), result::kRawPort);
  const auto log = service.ChannelLog();
  EXPECT_EQ(CountLines(log, "CreateSocket"), 1);
  EXPECT_EQ(CountLines(log, "Connect "), 1);
  const Bytes sizes = c.Exchange(GetPacketSizeRequest(), get_packet_size::kReplySize);
  EXPECT_EQ(LoadLe16(sizes.data() + get_packet_size::kSendingSize), 1024);
}

TEST(AgentService, SecondInstanceEndsQuietly) {
  ServiceProcess first;
  first.StartListening();
  ServiceProcess second;  // same runtime directory: same single-instance mutex
  EXPECT_EQ(second.Run({}), 0);
  EXPECT_TRUE(second.PpdtLog().empty());  // it never got as far as the 1394 library
  Client c(first.port());
  EXPECT_EQ(Create(c, 0x10, "USB001"), 0u);
}

TEST(AgentService, WithoutThe1394LibraryTheServiceDoesNotListen) {
  ServiceProcess missing({.ppdt = false});
  EXPECT_EQ(missing.Run({}), 0);
  ServiceProcess refusing({.environment = {"TGX_TEST_PPDT_INIT=0"}});
  EXPECT_EQ(refusing.Run({}), 0);
  EXPECT_EQ(refusing.PpdtLog(), (std::vector<std::string>{"Initialize"}));
}

TEST(AgentService, TerminationWithSessionsOpenShutsDownCleanly) {
  ServiceProcess service;
  service.StartListening();
  Client a(service.port()), b(service.port());
  ASSERT_EQ(Create(a, 0x10, "USB001"), 0u);
  ASSERT_EQ(ConnectChannel(a), 0u);
  ASSERT_EQ(Create(b, 0x20, "USB002"), 0u);
  service.Signal(SIGTERM);
  EXPECT_EQ(service.Wait(15000), 0);
  EXPECT_TRUE(a.ClosedByPeer());
  EXPECT_TRUE(b.ClosedByPeer());
  EXPECT_EQ(service.PpdtLog(), (std::vector<std::string>{"Initialize", "Terminate"}));
  const auto log = service.ChannelLog();
  EXPECT_EQ(CountLines(log, "CloseSocket"), 2);
}

}  // namespace
}  // namespace tgx::agent::test
