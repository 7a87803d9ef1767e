// Several threads creating, using and deleting sockets at once.
#include <atomic>
#include <set>
#include <thread>

#include "client_fixture.h"
#include "tgx/wire/agent_wire.h"

namespace tgx::test {
namespace {

namespace wire = tgx::agent;
using namespace std::chrono_literals;

class AgentClientThreads : public ClientTest {};

TEST_F(AgentClientThreads, ManyThreadsCreateUseAndDeleteTheirOwnSockets) {
  ModelService model;
  FakeService service(model.Handler());
  constexpr int kThreads = 8;
  constexpr int kRounds = 25;
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const Descriptor d = MakeDescriptor(0x20, "USB00" + std::to_string(t));
      const std::uint8_t data[4] = {std::uint8_t(t), 1, 2, 3};
      for (int round = 0; round < kRounds; ++round) {
        std::uint32_t id = 0;
        const AuCbtSocket socket = AuCbtCreateSocket(d.data(), &id);
        if (socket == AUCBT_INVALID_SOCKET) {
          ++failures;
          continue;
        }
        std::uint16_t sendSize = 0, receiveSize = 0;
        if (AuCbtConnect(socket) != 0 || AuCbtSend(socket, data, 4) != 4 ||
            AuCbtGetPacketSizeFromSocket(socket, &sendSize, &receiveSize) != 0 ||
            sendSize != 4096 || AuCbtWakeupRead(socket) != 0 || AuCbtDeleteSocket(socket, 0) != 0 ||
            AuCbtWakeupRead(socket) == 0) {
          ++failures;
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(0, failures.load());
  EXPECT_EQ(std::size_t{kThreads * kRounds * 4}, model.Printed().size());
  EXPECT_TRUE(service.WaitUntilAllClosed(kThreads * kRounds, 10s));
}

TEST_F(AgentClientThreads, ConcurrentDeletesOfOneSocketCloseItOnce) {
  ModelService model;
  FakeService service(model.Handler());
  constexpr int kSockets = 20;
  for (int round = 0; round < kSockets; ++round) {
    const AuCbtSocket socket = Create();
    std::atomic<int> deleted{0}, unknown{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&] {
        const std::int32_t r = AuCbtDeleteSocket(socket, 0);
        if (r == 0) ++deleted;
        if (r == AUCBT_UNKNOWN_SOCKET) ++unknown;
      });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(1, deleted.load());
    EXPECT_EQ(3, unknown.load());
  }
  EXPECT_EQ(std::size_t{kSockets}, service.MessagesWithCode(wire::code::kDeleteSocket).size());
  EXPECT_TRUE(service.WaitUntilAllClosed(kSockets, 10s));
}

TEST_F(AgentClientThreads, ShutdownWhileOtherThreadsStillCreateLeavesNothingBehind) {
  ModelService model;
  FakeService service(model.Handler());
  ASSERT_EQ(0, AuCbtInitialize());  // a second reference, released below
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      const Descriptor d = MakeDescriptor(0x20, "LPT1");
      while (!stop) {
        std::uint32_t id = 0;
        AuCbtCreateSocket(d.data(), &id);  // left open on purpose
        std::this_thread::sleep_for(1ms);
      }
    });
  }
  std::this_thread::sleep_for(200ms);
  stop = true;
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(0, AuCbtShutdown());  // count 2 -> 1: nothing deleted yet
  EXPECT_EQ(0u, service.MessagesWithCode(wire::code::kDeleteSocket).size());
  AuCbtShutdown();  // count 1 -> 0: every socket goes
  const std::size_t created = service.MessagesWithCode(wire::code::kCreateSocket).size();
  EXPECT_GT(created, 0u);
  EXPECT_EQ(created, service.MessagesWithCode(wire::code::kDeleteSocket).size());
  EXPECT_TRUE(service.WaitUntilAllClosed(created, 10s));
  ASSERT_EQ(0, AuCbtInitialize());  // for the fixture's own shutdown
}

}  // namespace
}  // namespace tgx::test
