// The library against a real agentsvc process, which binds a scripted channel
// library in place of the printer's.
#include <cstring>
#include <thread>

#include "client_fixture.h"
#include "service_harness.h"
#include "tgx/device_packet.h"

namespace tgx::test {
namespace {

namespace packet = tgx::agent::packet;
using tgx::agent::test::ServiceProcess;
using namespace std::chrono_literals;

bool Logged(const ServiceProcess& service, const std::string& line) {
  for (const std::string& l : service.ChannelLog()) {
    if (l == line) return true;
  }
  return false;
}

class AgentClientWithService : public ClientTest {
 protected:
  void SetUp() override {
    service_.StartListening();
    ::setenv("TGX_AGENT_PORT", std::to_string(service_.port()).c_str(), 1);
    ClientTest::SetUp();
  }

  // Receives until `size` bytes have come or a few seconds have passed.
  std::vector<std::uint8_t> ReceiveAtLeast(AuCbtSocket socket, std::size_t size) {
    std::vector<std::uint8_t> got;
    const auto end = std::chrono::steady_clock::now() + 5s;
    std::uint8_t buffer[4096];
    while (got.size() < size && std::chrono::steady_clock::now() < end) {
      const std::int32_t n = AuCbtRecv(socket, buffer, sizeof buffer);
      if (n < 0) break;
      got.insert(got.end(), buffer, buffer + n);
      if (n == 0) std::this_thread::sleep_for(20ms);
    }
    return got;
  }

  ServiceProcess service_;
};

TEST_F(AgentClientWithService, PrintJobChannelFromCreateToDelete) {
  service_.Script("job_open=1\n");
  const Descriptor d = MakeDescriptor(0x10, "USB001");
  std::uint32_t id = 0;
  const AuCbtSocket socket = AuCbtCreateSocket(d.data(), &id);
  ASSERT_NE(AUCBT_INVALID_SOCKET, socket);
  EXPECT_EQ(0x01u, id);  // the low byte of the socket identifier of channel socket 0
  EXPECT_EQ(0, AuCbtConnect(socket));

  const std::uint8_t data[] = {'h', 'e', 'l', 'l', 'o'};
  EXPECT_EQ(5, AuCbtSend(socket, data, 5));
  EXPECT_TRUE(Logged(service_, "Send 0 5 68656c6c6f"));

  std::uint16_t sendSize = 0, receiveSize = 0;
  EXPECT_EQ(0, AuCbtGetPacketSizeFromSocket(socket, &sendSize, &receiveSize));
  EXPECT_EQ(4096, sendSize);
  EXPECT_EQ(512, receiveSize);

  EXPECT_EQ(1, AuCbtSetTimeout(socket, 700, 800));
  std::int32_t receive = 0, send = 0;
  EXPECT_EQ(1, AuCbtGetTimeout(socket, &receive, &send));
  EXPECT_EQ(700, receive);
  EXPECT_EQ(800, send);
  EXPECT_EQ(0, AuCbtSetPollingTime(socket, 100));
  EXPECT_EQ(1, AuCbtCheckOpenedJobCH(socket));
  EXPECT_EQ(0, AuCbtGetDataSizeInSocket(socket, 0));
  std::uint8_t buffer[16];
  EXPECT_EQ(0, AuCbtRecv(socket, buffer, sizeof buffer));

  // The scripted channel library answers a capability query with its input.
  const char input[] = "query";
  char output[64];
  std::uint32_t length = 0;
  EXPECT_EQ(0,
            AuCbtGetChannelCapability(socket, 0x16000C, input, 5, output, sizeof output, &length));
  EXPECT_EQ("query", std::string(output, length));

  EXPECT_EQ(0, AuCbtDeleteSocket(socket, 1));
  const auto end = std::chrono::steady_clock::now() + 5s;
  while (!Logged(service_, "CloseSocket 0") && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_TRUE(Logged(service_, "JobCancel 0"));
  EXPECT_TRUE(Logged(service_, "CloseSocket 0"));
}

TEST_F(AgentClientWithService, RawPortConnectsWithTheWarningResult) {
  service_.Script("connect=1\n");
  EXPECT_EQ(0x40100001, AuCbtConnect(Create()));
}

TEST_F(AgentClientWithService, ManagementChannelAnswersAndNotifications) {
  const AuCbtSocket first = Create(0x20);
  const AuCbtSocket second = Create(0x20);
  ASSERT_EQ(0, AuCbtConnect(first));
  ASSERT_EQ(0, AuCbtConnect(second));

  // A packet that expects an answer comes back with the client's own identifier.
  std::uint8_t request[packet::kHeaderSize] = {0xCD, 0xCA, 0x10, packet::kFlagExpectsAnswer,
                                               0,    5,    0,    9};
  EXPECT_EQ(20, AuCbtSend(first, request, sizeof request));
  const auto answer = ReceiveAtLeast(first, packet::kHeaderSize);
  ASSERT_EQ(packet::kHeaderSize, answer.size());
  EXPECT_EQ(packet::kFlagAnswer, packet::Flags(answer.data()));
  EXPECT_EQ(9, packet::Transaction(answer.data()));

  // Opcode 0x7F makes the printer send a notification, which every client gets.
  std::uint8_t trigger[packet::kHeaderSize] = {0xCD, 0xCA, 0x10, 0, 0, 0x7F};
  EXPECT_EQ(20, AuCbtSend(first, trigger, sizeof trigger));
  for (AuCbtSocket s : {first, second}) {
    const auto note = ReceiveAtLeast(s, packet::kHeaderSize);
    ASSERT_EQ(packet::kHeaderSize, note.size());
    EXPECT_EQ(packet::kOpNotification, packet::Opcode(note.data()));
  }

  // Data that is no packet stream is refused by the service.
  const std::uint8_t garbage[24] = {1, 2, 3};
  EXPECT_EQ(AUCBT_WRONG_REPLY, AuCbtSend(first, garbage, sizeof garbage));
}

TEST_F(AgentClientWithService, SecondClientOfThePrintJobChannelIsRefused) {
  const AuCbtSocket first = Create(0x10);
  ASSERT_EQ(0, AuCbtConnect(first));
  const Descriptor d = MakeDescriptor(0x10, "USB001");
  std::uint32_t id = 0;
  EXPECT_EQ(AUCBT_INVALID_SOCKET, AuCbtCreateSocket(d.data(), &id));
}

}  // namespace
}  // namespace tgx::test
