// Bad arguments, unknown handles, and services that fail: silence, late, short,
// garbage and wrongly coded replies, connections closed mid-reply.
#include <cstring>

#include "client_fixture.h"
#include "tgx/wire/agent_wire.h"

namespace tgx::test {
namespace {

namespace wire = tgx::agent;
using namespace std::chrono_literals;

// A service that answers CreateSocket well and treats every later request as
// the test says.
FakeService::Handler AfterCreate(FakeService::Handler later) {
  return [later = std::move(later)](ServiceConnection& c, const ReceivedMessage& m) {
    if (m.code() == wire::code::kCreateSocket) {
      c.Answer(m, wire::create_socket::kReplySize, 0);
    } else {
      later(c, m);
    }
  };
}

// The reply size of each command code.
std::size_t ReplySize(std::uint32_t code) { return wire::FindCommand(code)->reply_size; }

using AgentClientArguments = ClientTest;

TEST_F(AgentClientArguments, MissingPointersAndSizesFailBeforeAnythingIsSent) {
  ModelService model;
  FakeService service(model.Handler());
  const Descriptor d = MakeDescriptor(0x10, "USB001");
  std::uint32_t id = 0;
  EXPECT_EQ(AUCBT_INVALID_SOCKET, AuCbtCreateSocket(nullptr, &id));
  EXPECT_EQ(AUCBT_INVALID_SOCKET, AuCbtCreateSocket(d.data(), nullptr));
  EXPECT_EQ(0u, service.ConnectionsAccepted());

  const AuCbtSocket socket = Create();
  const std::size_t sent = service.Messages().size();
  std::uint8_t buffer[32];
  std::memset(buffer, 0x5A, sizeof buffer);
  EXPECT_EQ(-1, AuCbtSend(socket, nullptr, 10));
  EXPECT_EQ(-1, AuCbtSend(socket, buffer, 0));
  EXPECT_EQ(-1, AuCbtSend(socket, buffer, -5));
  EXPECT_EQ(-1, AuCbtRecv(socket, nullptr, 10));
  EXPECT_EQ(-1, AuCbtRecv(socket, buffer, 0));
  EXPECT_EQ(-1, AuCbtRecv(socket, buffer, -1));
  std::int32_t timeout = 0;
  EXPECT_EQ(0, AuCbtGetTimeout(socket, &timeout, nullptr));
  EXPECT_EQ(0, AuCbtGetTimeout(socket, nullptr, &timeout));
  std::uint16_t size = 0;
  EXPECT_EQ(AUCBT_BAD_ARGUMENT, AuCbtGetPacketSizeFromSocket(socket, &size, nullptr));
  EXPECT_EQ(AUCBT_BAD_ARGUMENT, AuCbtGetPacketSizeFromSocket(socket, nullptr, &size));

  // Capability: inconsistent input, missing output; nothing is cleared.
  std::uint32_t length = 77;
  EXPECT_EQ(AUCBT_BAD_ARGUMENT,
            AuCbtGetChannelCapability(socket, 0x16000C, buffer, 0, buffer, 32, &length));
  EXPECT_EQ(AUCBT_BAD_ARGUMENT,
            AuCbtGetChannelCapability(socket, 0x16000C, nullptr, 4, buffer, 32, &length));
  EXPECT_EQ(AUCBT_BAD_ARGUMENT,
            AuCbtGetChannelCapability(socket, 0x16000C, nullptr, 0, nullptr, 32, &length));
  EXPECT_EQ(AUCBT_BAD_ARGUMENT,
            AuCbtGetChannelCapability(socket, 0x16000C, nullptr, 0, buffer, 0, &length));
  EXPECT_EQ(AUCBT_BAD_ARGUMENT,
            AuCbtGetChannelCapability(socket, 0x16000C, nullptr, 0, buffer, 32, nullptr));
  EXPECT_EQ(77u, length);
  EXPECT_EQ(0x5A, buffer[0]);
  // Input above 1024 bytes: the output is cleared, nothing is sent.
  std::vector<std::uint8_t> input(1025, 1);
  EXPECT_EQ(AUCBT_INPUT_TOO_LONG,
            AuCbtGetChannelCapability(socket, 0x16000C, input.data(), 1025, buffer, 32, &length));
  EXPECT_EQ(0u, length);
  EXPECT_TRUE(std::all_of(std::begin(buffer), std::end(buffer), [](auto b) { return b == 0; }));

  EXPECT_EQ(sent, service.Messages().size());
  EXPECT_EQ(0, AuCbtConnect(socket));  // the connection is still fine
}

TEST_F(AgentClientArguments, UnknownAndStaleHandlesAreRefusedWithoutSending) {
  ModelService model;
  FakeService service(model.Handler());
  EXPECT_EQ(AUCBT_UNKNOWN_SOCKET, AuCbtWakeupRead(12345));
  EXPECT_EQ(AUCBT_UNKNOWN_SOCKET, AuCbtConnect(AUCBT_INVALID_SOCKET));
  const AuCbtSocket socket = Create();
  ASSERT_EQ(0, AuCbtDeleteSocket(socket, 0));
  const std::size_t sent = service.Messages().size();
  std::uint8_t buffer[8];
  EXPECT_EQ(AUCBT_UNKNOWN_SOCKET, AuCbtConnect(socket));
  EXPECT_EQ(AUCBT_UNKNOWN_SOCKET, AuCbtDeleteSocket(socket, 0));
  EXPECT_EQ(-1, AuCbtSend(socket, buffer, 8));
  EXPECT_EQ(-1, AuCbtRecv(socket, buffer, 8));
  EXPECT_EQ(0, AuCbtCheckOpenedJobCH(socket));
  EXPECT_EQ(sent, service.Messages().size());
}

class AgentClientFailures : public ClientTest {};

TEST_F(AgentClientFailures, SilentServiceTimesOutAfterTheReplyWaits) {
  FakeService service([](ServiceConnection&, const ReceivedMessage&) {});
  const Descriptor d = MakeDescriptor(0x10, "USB001");
  std::uint32_t id = 42;
  AuCbtSocket socket = 0;
  const auto createTime = TimeOf([&] { socket = AuCbtCreateSocket(d.data(), &id); });
  EXPECT_EQ(AUCBT_INVALID_SOCKET, socket);
  EXPECT_EQ(42u, id);
  EXPECT_GE(createTime, kScaledReplyWait);
  // The failed create left no connection open.
  EXPECT_TRUE(service.WaitUntilAllClosed(1, 5s));
}

TEST_F(AgentClientFailures, SilentServiceConnectAndRecvFailAfterAlittleMoreThanTheirLimits) {
  FakeService service(AfterCreate([](ServiceConnection&, const ReceivedMessage&) {}));
  const AuCbtSocket socket = Create();
  std::int32_t result = 0;
  const auto connectTime = TimeOf([&] { result = AuCbtConnect(socket); });
  EXPECT_EQ(AUCBT_TRANSPORT_FAILED, result);
  EXPECT_GE(connectTime, kScaledReplyWait);
  EXPECT_LT(connectTime, kScaledRecvWait);

  std::uint8_t buffer[64];
  const auto recvTime = TimeOf([&] { result = AuCbtRecv(socket, buffer, sizeof buffer); });
  EXPECT_EQ(-1, result);
  EXPECT_GE(recvTime, kScaledRecvWait);
  EXPECT_LT(recvTime, kScaledRecvWait + 10s);

  // The socket stays registered; deleting it closes the connection even though
  // the service never answers.
  EXPECT_EQ(AUCBT_TRANSPORT_FAILED, AuCbtDeleteSocket(socket, 0));
  EXPECT_EQ(AUCBT_UNKNOWN_SOCKET, AuCbtWakeupRead(socket));
  EXPECT_TRUE(service.WaitUntilAllClosed(1, 5s));
}

TEST_F(AgentClientFailures, LateReplyIsDiscardedBeforeTheNextRequest) {
  std::unique_ptr<Later> late;
  ModelService model;
  FakeService service([&](ServiceConnection& c, const ReceivedMessage& m) {
    if (m.code() == wire::code::kConnect) {
      // Answered only after the client has given up waiting.
      late = std::make_unique<Later>(kScaledReplyWait + 1000ms,
                                     [&c, m] { c.Answer(m, wire::connect::kReplySize, 0); });
    } else {
      model.Handle(c, m);
    }
  });
  const AuCbtSocket socket = Create();
  EXPECT_EQ(AUCBT_TRANSPORT_FAILED, AuCbtConnect(socket));
  late->Wait();
  std::this_thread::sleep_for(100ms);  // let the late bytes arrive

  std::uint16_t sendSize = 0, receiveSize = 0;
  EXPECT_EQ(0, AuCbtGetPacketSizeFromSocket(socket, &sendSize, &receiveSize));
  EXPECT_EQ(4096, sendSize);
  EXPECT_EQ(512, receiveSize);
  EXPECT_EQ(1, AuCbtCheckOpenedJobCH(socket));
}

TEST_F(AgentClientFailures, WrongCommandCodeFailsEachCallByItsRow) {
  FakeService service(AfterCreate([](ServiceConnection& c, const ReceivedMessage& m) {
    ReceivedMessage other = m;
    wire::StoreLe32(other.bytes.data() + 4, m.code() ^ 0x1000);
    std::vector<std::uint8_t> reply(ReplySize(m.code()));
    wire::WriteHeader(reply.data(), static_cast<std::uint32_t>(reply.size()), m.code() ^ 0x1000, 0);
    c.Write(reply);
  }));
  const AuCbtSocket socket = Create();
  std::uint8_t buffer[16];
  std::int32_t receive = 5, send = 5;
  std::uint16_t sendSize = 5, receiveSize = 5;
  std::uint32_t length = 5;
  EXPECT_EQ(AUCBT_WRONG_REPLY, AuCbtConnect(socket));
  EXPECT_EQ(-1, AuCbtSend(socket, buffer, sizeof buffer));
  EXPECT_EQ(-1, AuCbtRecv(socket, buffer, sizeof buffer));
  EXPECT_EQ(-1, AuCbtGetDataSizeInSocket(socket, 0));
  EXPECT_EQ(AUCBT_WRONG_REPLY, AuCbtSetPollingTime(socket, 1));
  EXPECT_EQ(0, AuCbtSetTimeout(socket, 1, 1));
  EXPECT_EQ(0, AuCbtGetTimeout(socket, &receive, &send));
  EXPECT_EQ(0, receive);  // cleared before the exchange
  EXPECT_EQ(0, send);
  EXPECT_EQ(AUCBT_WRONG_REPLY,
            AuCbtGetChannelCapability(socket, 0x16000C, nullptr, 0, buffer, 16, &length));
  EXPECT_EQ(AUCBT_WRONG_REPLY, AuCbtGetPacketSizeFromSocket(socket, &sendSize, &receiveSize));
  EXPECT_EQ(0, sendSize);
  EXPECT_EQ(0, AuCbtCheckOpenedJobCH(socket));
  EXPECT_EQ(AUCBT_WRONG_REPLY, AuCbtDeleteSocket(socket, 0));
  EXPECT_TRUE(service.WaitUntilAllClosed(1, 5s));
}

TEST_F(AgentClientFailures, RefusedOrGarbledCreateLeavesNothingOpen) {
  const Descriptor d = MakeDescriptor(0x10, "USB001");
  std::uint32_t id = 42;
  {
    // The service refuses the session.
    FakeService service([](ServiceConnection& c, const ReceivedMessage& m) {
      c.Answer(m, wire::create_socket::kReplySize, wire::result::kRefused);
    });
    EXPECT_EQ(AUCBT_INVALID_SOCKET, AuCbtCreateSocket(d.data(), &id));
    EXPECT_TRUE(service.WaitUntilAllClosed(1, 5s));
  }
  {
    // Garbage of the reply's length.
    FakeService service([](ServiceConnection& c, const ReceivedMessage&) {
      std::vector<std::uint8_t> garbage(wire::create_socket::kReplySize);
      for (std::size_t i = 0; i < garbage.size(); ++i)
        garbage[i] = static_cast<std::uint8_t>(i * 37);
      c.Write(garbage);
    });
    EXPECT_EQ(AUCBT_INVALID_SOCKET, AuCbtCreateSocket(d.data(), &id));
    EXPECT_TRUE(service.WaitUntilAllClosed(1, 5s));
  }
  {
    // No service at all: the port is closed.
    const std::uint16_t port = [] {
      FakeService gone([](ServiceConnection&, const ReceivedMessage&) {});
      return gone.port();
    }();
    ::setenv(wire::kPortVariable, std::to_string(port).c_str(), 1);
    EXPECT_EQ(AUCBT_INVALID_SOCKET, AuCbtCreateSocket(d.data(), &id));
  }
  EXPECT_EQ(42u, id);
  // Nothing was registered: the final shutdown has nothing to delete.
  ModelService model;
  FakeService service(model.Handler());
  AuCbtShutdown();
  EXPECT_EQ(0u, service.ConnectionsAccepted());
  ASSERT_EQ(0, AuCbtInitialize());
}

TEST_F(AgentClientFailures, ShortReplyAndClosedConnectionFail) {
  FakeService service(AfterCreate([](ServiceConnection& c, const ReceivedMessage& m) {
    std::vector<std::uint8_t> reply(ReplySize(m.code()));
    wire::WriteHeader(reply.data(), static_cast<std::uint32_t>(reply.size()), m.code(), 0);
    if (m.code() == wire::code::kConnect) {
      c.Write(std::span(reply).first(8));  // short, the connection stays open
    } else {
      c.Write(std::span(reply).first(reply.size() / 2));  // half, then closed
      c.Close();
    }
  }));
  const AuCbtSocket socket = Create();
  EXPECT_EQ(AUCBT_TRANSPORT_FAILED, AuCbtConnect(socket));

  // A reply cut off by the service closing the connection fails without waiting
  // out the time limit.
  std::uint8_t buffer[64];
  std::int32_t result = 0;
  const auto recvTime = TimeOf([&] { result = AuCbtRecv(socket, buffer, sizeof buffer); });
  EXPECT_EQ(-1, result);
  EXPECT_LT(recvTime, kScaledRecvWait);
  // Later calls fail by their rows until the socket is deleted.
  EXPECT_EQ(AUCBT_TRANSPORT_FAILED, AuCbtSetPollingTime(socket, 1));
  EXPECT_EQ(-1, AuCbtSend(socket, buffer, 4));
  EXPECT_EQ(0, AuCbtCheckOpenedJobCH(socket));
  EXPECT_EQ(AUCBT_TRANSPORT_FAILED, AuCbtDeleteSocket(socket, 0));
  EXPECT_EQ(AUCBT_UNKNOWN_SOCKET, AuCbtDeleteSocket(socket, 0));
}

TEST_F(AgentClientFailures, RecvRejectsCountsBeyondTheBufferOrTheDataArea) {
  std::uint32_t count = 0;
  FakeService service(AfterCreate([&count](ServiceConnection& c, const ReceivedMessage& m) {
    std::vector<std::uint8_t> reply(wire::recv::kReplySize, 0xEE);
    wire::WriteHeader(reply.data(), static_cast<std::uint32_t>(reply.size()), m.code(), 0);
    wire::StoreLe32(reply.data() + wire::recv::kCount, count);
    c.Write(reply);
  }));
  const AuCbtSocket socket = Create();
  std::vector<std::uint8_t> buffer(8000, 0x11);
  count = 9;
  EXPECT_EQ(AUCBT_BUFFER_TOO_SMALL, AuCbtRecv(socket, buffer.data(), 8));
  EXPECT_EQ(0x11, buffer[0]);  // left unchanged
  count = 5000;                // more than the reply's data area
  EXPECT_EQ(-1, AuCbtRecv(socket, buffer.data(), static_cast<std::int32_t>(buffer.size())));
  EXPECT_EQ(0x11, buffer[0]);
  count = 4096;
  EXPECT_EQ(4096, AuCbtRecv(socket, buffer.data(), static_cast<std::int32_t>(buffer.size())));
  EXPECT_EQ(0xEE, buffer[4095]);
  EXPECT_EQ(0x11, buffer[4096]);
}

}  // namespace
}  // namespace tgx::test
