// The library's reference count, readiness and shutdown, and its exports.
#include <dlfcn.h>

#include <cstdio>
#include <set>
#include <sstream>
#include <string>

#include "client_fixture.h"
#include "testsupport.h"
#include "tgx/wire/agent_wire.h"

namespace tgx::test {
namespace {

namespace wire = tgx::agent;
using namespace std::chrono_literals;

// Every call that takes a socket, with the result it gives for a socket that
// may not be used (`refusal` is the status of the calls that return one).
void ExpectEveryCallRefused(AuCbtSocket socket, std::int32_t refusal) {
  std::uint8_t buffer[16] = {};
  std::int32_t receive = 11, send = 22;
  std::uint16_t sendSize = 33, receiveSize = 44;
  std::uint32_t outputLength = 55;
  EXPECT_EQ(refusal, AuCbtConnect(socket));
  EXPECT_EQ(-1, AuCbtSend(socket, buffer, sizeof buffer));
  EXPECT_EQ(-1, AuCbtRecv(socket, buffer, sizeof buffer));
  EXPECT_EQ(-1, AuCbtGetDataSizeInSocket(socket, 1));
  EXPECT_EQ(refusal, AuCbtWakeupRead(socket));
  EXPECT_EQ(refusal, AuCbtSetPollingTime(socket, 10));
  EXPECT_EQ(0, AuCbtSetTimeout(socket, 100, 100));
  EXPECT_EQ(0, AuCbtGetTimeout(socket, &receive, &send));
  EXPECT_EQ(11, receive);  // outputs untouched
  EXPECT_EQ(22, send);
  EXPECT_EQ(refusal, AuCbtGetChannelCapability(socket, 0x16000C, nullptr, 0, buffer, sizeof buffer,
                                               &outputLength));
  EXPECT_EQ(55u, outputLength);
  EXPECT_EQ(refusal, AuCbtGetPacketSizeFromSocket(socket, &sendSize, &receiveSize));
  EXPECT_EQ(33, sendSize);
  EXPECT_EQ(0, AuCbtCheckOpenedJobCH(socket));
  EXPECT_EQ(refusal, AuCbtDeleteSocket(socket, 0));
}

TEST(AgentClientLifecycle, NotInitialisedRefusesEveryCallAndSendsNothing) {
  ModelService model;
  FakeService service(model.Handler());
  const Descriptor d = MakeDescriptor(0x10, "LPT1");
  std::uint32_t id = 99;
  EXPECT_EQ(AUCBT_INVALID_SOCKET, AuCbtCreateSocket(d.data(), &id));
  EXPECT_EQ(99u, id);
  ExpectEveryCallRefused(3, AUCBT_NOT_READY);
  EXPECT_EQ(0u, service.ConnectionsAccepted());
}

TEST(AgentClientLifecycle, ShutdownWithoutInitializeKeepsCountAtMinusOne) {
  EXPECT_EQ(AUCBT_LIBRARY_NOT_INITIALISED, AuCbtShutdown());
  EXPECT_EQ(AUCBT_LIBRARY_NOT_INITIALISED, AuCbtShutdown());
  // Still at -1: one Initialize makes the count 1 and the library ready, one
  // Shutdown ends it.
  EXPECT_EQ(0, AuCbtInitialize());
  EXPECT_EQ(AUCBT_UNKNOWN_SOCKET, AuCbtWakeupRead(3));
  EXPECT_EQ(0, AuCbtShutdown());
  EXPECT_EQ(AUCBT_NOT_READY, AuCbtWakeupRead(3));
}

TEST(AgentClientLifecycle, LastShutdownDeletesEverySocketLeftOpen) {
  ModelService model;
  FakeService service(model.Handler());
  ASSERT_EQ(0, AuCbtInitialize());
  ASSERT_EQ(0, AuCbtInitialize());
  const Descriptor d = MakeDescriptor(0x20, "USB001");
  std::uint32_t id = 0;
  AuCbtSocket sockets[3];
  for (AuCbtSocket& s : sockets) {
    s = AuCbtCreateSocket(d.data(), &id);
    ASSERT_NE(AUCBT_INVALID_SOCKET, s);
    EXPECT_EQ(7u, id);
  }

  // The first Shutdown only lowers the count: the sockets stay usable.
  EXPECT_EQ(0, AuCbtShutdown());
  for (AuCbtSocket s : sockets) EXPECT_EQ(0, AuCbtConnect(s));
  EXPECT_EQ(0u, service.MessagesWithCode(wire::code::kDeleteSocket).size());

  EXPECT_EQ(0, AuCbtShutdown());
  const auto deletes = service.MessagesWithCode(wire::code::kDeleteSocket);
  ASSERT_EQ(3u, deletes.size());
  for (const auto& m : deletes) EXPECT_EQ(0u, wire::LoadLe32(m.bytes.data() + 12));  // no cancel
  EXPECT_TRUE(service.WaitUntilAllClosed(3, 5s));

  // A later start-up begins with an empty registry.
  ASSERT_EQ(0, AuCbtInitialize());
  for (AuCbtSocket s : sockets) EXPECT_EQ(AUCBT_UNKNOWN_SOCKET, AuCbtWakeupRead(s));
  EXPECT_EQ(0, AuCbtShutdown());
}

TEST(AgentClientLifecycle, ExportsTheFifteenFunctionsUnderTheirOrdinals) {
  const std::string path = (tgx::test::BinDir() / "libagentcli.so").string();
  void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(nullptr, library) << ::dlerror();
  ASSERT_EQ(15u, std::size(agentcli::kExports));
  for (const agentcli::Export& e : agentcli::kExports) {
    EXPECT_NE(nullptr, ::dlsym(library, e.name)) << e.name;
    EXPECT_STREQ(e.name, agentcli::ExportName(e.ordinal));
  }
  EXPECT_EQ(nullptr, agentcli::ExportName(102));
  ::dlclose(library);

  // Nothing else leaves the library: its dynamic symbol table defines exactly these.
  std::set<std::string> defined;
  FILE* nm = ::popen(("nm -D --defined-only " + path).c_str(), "r");
  ASSERT_NE(nullptr, nm);
  char line[512];
  while (std::fgets(line, sizeof line, nm)) {
    std::istringstream fields(line);
    std::string address, type, name;
    if (fields >> address >> type >> name) defined.insert(name);
  }
  ASSERT_EQ(0, ::pclose(nm));
  std::set<std::string> expected;
  for (const agentcli::Export& e : agentcli::kExports) expected.insert(e.name);
  EXPECT_EQ(expected, defined);
}

}  // namespace
}  // namespace tgx::test
