// Each call against a well-behaved service: what it sends, byte for byte, and
// what it makes of the reply.
#include <cstring>
#include <numeric>

#include "client_fixture.h"
#include "tgx/wire/agent_wire.h"

namespace tgx::test {
namespace {

namespace wire = tgx::agent;
using namespace std::chrono_literals;

class AgentClientCalls : public ClientTest {
 protected:
  ReceivedMessage LastMessage() {
    const auto all = service_.Messages();
    return all.empty() ? ReceivedMessage{} : all.back();
  }
  // Checks the header of the last request: its length and command code.
  void ExpectLastRequest(std::uint32_t code, std::size_t size) {
    const ReceivedMessage m = LastMessage();
    ASSERT_EQ(size, m.bytes.size());
    EXPECT_EQ(size, wire::MessageLength(m.bytes.data()));
    EXPECT_EQ(code, m.code());
  }

  ModelService model_;
  FakeService service_{model_.Handler()};
};

TEST_F(AgentClientCalls, CreateConnectAndDeleteSendTheirRequests) {
  const Descriptor d = MakeDescriptor(0x10, "LPT1");
  std::uint32_t id = 0;
  const AuCbtSocket socket = AuCbtCreateSocket(d.data(), &id);
  ASSERT_NE(AUCBT_INVALID_SOCKET, socket);
  EXPECT_EQ(7u, id);
  ExpectLastRequest(wire::code::kCreateSocket, 44);
  const ReceivedMessage create = LastMessage();
  EXPECT_EQ(0, std::memcmp(create.bytes.data() + 12, d.data(), d.size()));
  EXPECT_TRUE(std::all_of(create.bytes.begin() + 38, create.bytes.end(),
                          [](std::uint8_t b) { return b == 0; }));

  EXPECT_EQ(0, AuCbtConnect(socket));
  ExpectLastRequest(wire::code::kConnect, 12);

  EXPECT_EQ(0, AuCbtDeleteSocket(socket, 1));
  ExpectLastRequest(wire::code::kDeleteSocket, 16);
  EXPECT_EQ(std::vector<std::uint32_t>{1}, model_.CancelFlags());
  EXPECT_TRUE(service_.WaitUntilAllClosed(1, 5s));
  EXPECT_EQ(AUCBT_UNKNOWN_SOCKET, AuCbtConnect(socket));
}

TEST_F(AgentClientCalls, ConnectPassesTheServiceStatusThrough) {
  ModelSettings settings;
  settings.connect_result = 0x40100001;
  ModelService raw(settings);
  FakeService rawService(raw.Handler());
  EXPECT_EQ(0x40100001, AuCbtConnect(Create()));

  settings.connect_result = 0xC010000B;
  ModelService busy(settings);
  FakeService busyService(busy.Handler());
  EXPECT_EQ(static_cast<std::int32_t>(0xC010000B), AuCbtConnect(Create()));
}

TEST_F(AgentClientCalls, SendCutsAt65535BytesAndCarriesTheDataWithATrailingZero) {
  const AuCbtSocket socket = Create();
  std::vector<std::uint8_t> data(70000);
  std::iota(data.begin(), data.end(), std::uint8_t{1});
  EXPECT_EQ(65535, AuCbtSend(socket, data.data(), static_cast<std::int32_t>(data.size())));
  ExpectLastRequest(wire::code::kSend, 65548);
  const ReceivedMessage m = LastMessage();
  EXPECT_EQ(65535u, wire::LoadLe32(m.bytes.data() + 8));
  EXPECT_EQ(0, m.bytes.back());
  EXPECT_EQ(std::vector<std::uint8_t>(data.begin(), data.begin() + 65535), model_.Printed());

  EXPECT_EQ(3, AuCbtSend(socket, data.data(), 3));
  ExpectLastRequest(wire::code::kSend, 16);
}

TEST_F(AgentClientCalls, SendTurnsPartialAndBusyStatusesIntoCounts) {
  ModelSettings settings;
  settings.send_statuses = {0x40100200, 0xC010000B, 0xC010000D};
  ModelService model(settings);
  FakeService service(model.Handler());
  const AuCbtSocket socket = Create();
  std::vector<std::uint8_t> data(1000, 0xAB);
  EXPECT_EQ(512, AuCbtSend(socket, data.data(), 1000));
  EXPECT_EQ(0, AuCbtSend(socket, data.data(), 1000));
  EXPECT_EQ(static_cast<std::int32_t>(0xC010000D), AuCbtSend(socket, data.data(), 1000));
  EXPECT_EQ(1000, AuCbtSend(socket, data.data(), 1000));
  EXPECT_EQ(1512u, model.Printed().size());
}

TEST_F(AgentClientCalls, RecvCopiesTheReplyDataWhenItFits) {
  const AuCbtSocket socket = Create();
  const std::vector<std::uint8_t> incoming = {1, 2, 3, 4, 5, 6, 7, 8};
  model_.QueueIncoming(incoming);
  EXPECT_EQ(8, AuCbtGetDataSizeInSocket(socket, 1));
  ExpectLastRequest(wire::code::kGetDataSizeInSocket, 20);
  EXPECT_EQ(1u, wire::LoadLe32(LastMessage().bytes.data() + 12));

  std::uint8_t buffer[8] = {};
  EXPECT_EQ(8, AuCbtRecv(socket, buffer, 8));  // a count equal to the size is copied whole
  ExpectLastRequest(wire::code::kRecv, 12);
  EXPECT_EQ(8u, wire::LoadLe32(LastMessage().bytes.data() + 8));
  EXPECT_EQ(0, std::memcmp(buffer, incoming.data(), 8));
  EXPECT_EQ(0, AuCbtRecv(socket, buffer, 8));  // nothing waiting
}

TEST_F(AgentClientCalls, SettingsAndQueries) {
  const AuCbtSocket socket = Create();
  EXPECT_EQ(0, AuCbtSetPollingTime(socket, 250));
  ExpectLastRequest(wire::code::kSetPollingTime, 16);
  EXPECT_EQ(250u, wire::LoadLe32(LastMessage().bytes.data() + 12));

  EXPECT_EQ(1, AuCbtSetTimeout(socket, 3000, 4000));
  ExpectLastRequest(wire::code::kSetTimeout, 20);
  std::int32_t receive = 0, send = 0;
  EXPECT_EQ(1, AuCbtGetTimeout(socket, &receive, &send));
  ExpectLastRequest(wire::code::kGetTimeout, 20);
  EXPECT_EQ(3000, receive);
  EXPECT_EQ(4000, send);

  std::uint16_t sendSize = 0, receiveSize = 0;
  EXPECT_EQ(0, AuCbtGetPacketSizeFromSocket(socket, &sendSize, &receiveSize));
  ExpectLastRequest(wire::code::kGetPacketSizeFromSocket, 16);
  EXPECT_EQ(4096, sendSize);
  EXPECT_EQ(512, receiveSize);

  EXPECT_EQ(1, AuCbtCheckOpenedJobCH(socket));
  ExpectLastRequest(wire::code::kCheckOpenedJobCH, 16);

  const std::size_t before = service_.Messages().size();
  EXPECT_EQ(0, AuCbtWakeupRead(socket));
  EXPECT_EQ(before, service_.Messages().size());  // sends nothing
}

TEST_F(AgentClientCalls, ChannelCapabilityCarriesInputAndReturnsTheDeviceId) {
  const AuCbtSocket socket = Create();
  char output[256];
  std::memset(output, 'x', sizeof output);
  std::uint32_t length = 99;
  const std::uint8_t input[3] = {9, 8, 7};
  EXPECT_EQ(0,
            AuCbtGetChannelCapability(socket, 0x16000C, input, 3, output, sizeof output, &length));
  ExpectLastRequest(wire::code::kGetChannelCapability, 1044);
  const ReceivedMessage m = LastMessage();
  EXPECT_EQ(0x16000Cu, wire::LoadLe32(m.bytes.data() + 8));
  EXPECT_EQ(0, std::memcmp(m.bytes.data() + 12, input, 3));
  EXPECT_EQ(3u, wire::LoadLe32(m.bytes.data() + 1036));
  EXPECT_EQ(256u, wire::LoadLe32(m.bytes.data() + 1040));
  const std::string id = "MFG:Tessagraph;CMD:QRS,PJL;MDL:QRS-1100;";
  ASSERT_EQ(id.size(), length);
  EXPECT_EQ(id, std::string(output, length));
  EXPECT_EQ(0, output[length]);  // the rest was cleared

  // The output capacity travels to the service, which cuts the ID to it.
  EXPECT_EQ(0, AuCbtGetChannelCapability(socket, 0x16000C, nullptr, 0, output, 10, &length));
  EXPECT_EQ(10u, length);
  EXPECT_EQ("MFG:Tessag", std::string(output, length));
  // The service's own failure passes through.
  EXPECT_EQ(AUCBT_BAD_ARGUMENT,
            AuCbtGetChannelCapability(socket, 0x1234, nullptr, 0, output, 16, &length));
}

}  // namespace
}  // namespace tgx::test
