// tgxchan against a real agentsvc process, which binds a scripted channel
// library in place of the printer's.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "run_tgxchan.h"
#include "service_harness.h"
#include "testsupport.h"

namespace tgx::test {
namespace {

using tgx::agent::test::ServiceProcess;
using namespace std::chrono_literals;

class TgxchanWithService : public ::testing::Test {
 protected:
  void SetUp() override {
    service_.StartListening();
    ::setenv("TGX_AGENT_PORT", std::to_string(service_.port()).c_str(), 1);
  }

  // The bytes that the channel library was given, from its log lines
  // "Send <socket> <count> <hex of up to 64 bytes>".
  std::size_t BytesSent() const {
    std::size_t total = 0;
    for (const std::string& line : service_.ChannelLog()) {
      std::istringstream fields(line);
      std::string word, socket;
      std::size_t count = 0;
      if (fields >> word >> socket >> count && word == "Send") total += count;
    }
    return total;
  }

  ServiceProcess service_;
};

TEST_F(TgxchanWithService, PrintsAFileThroughTheService) {
  const auto file = MakeTempDir("print") / "job.prn";
  { std::ofstream(file, std::ios::binary) << std::string(150000, 'P'); }
  const Outcome o = RunTgxchan({"print", "USB001", file.string()});
  EXPECT_EQ(0, o.exit) << o.err;
  EXPECT_EQ("150000 bytes sent to USB001\n", o.out);
  EXPECT_EQ(150000u, BytesSent());
}

TEST_F(TgxchanWithService, PacketIsAnsweredWithItsOwnIdentifier) {
  const Outcome o = RunTgxchan({"packet", "--opcode=12", "--id=77", "--data=aa bb", "LPT1"});
  EXPECT_EQ(0, o.exit) << o.err;
  EXPECT_TRUE(Contains(o.out, "answer opcode=12 id=77 flags=0x01 payload=2 bytes\n")) << o.out;
}

TEST_F(TgxchanWithService, ListenShowsANotificationTriggeredByAnotherClient) {
  Outcome listened;
  std::thread listener([&] {
    listened = RunTgxchan({"listen", "--events=1,2", "--count=1", "--seconds=15", "LPT1"});
  });
  // Once the listener is registered, opcode 0x7F makes the printer notify.
  const auto end = std::chrono::steady_clock::now() + 10s;
  bool registered = false;
  while (!registered && std::chrono::steady_clock::now() < end) {
    for (const std::string& line : service_.ChannelLog()) {
      registered = registered || line.rfind("Send 0 ", 0) == 0;
    }
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_TRUE(registered);
  const Outcome trigger = RunTgxchan({"packet", "--opcode=0x7f", "--no-answer", "LPT1"});
  EXPECT_EQ(0, trigger.exit) << trigger.err;
  listener.join();
  EXPECT_EQ(0, listened.exit) << listened.err;
  EXPECT_TRUE(Contains(listened.out, "event opcode=10")) << listened.out;
}

TEST_F(TgxchanWithService, InfoShowsTheConnection) {
  service_.Script("connect=2\nsending=1030\nreceiving=70\n");
  const Outcome o = RunTgxchan({"info", "USB002"});
  EXPECT_EQ(0, o.exit) << o.err;
  EXPECT_TRUE(Contains(o.out, "connection:   raw port (no packet protocol)")) << o.out;
  // A raw port keeps the packet sizes the service starts with.
  EXPECT_TRUE(Contains(o.out, "packet sizes: send 1024 bytes, receive 1024 bytes")) << o.out;
}

}  // namespace
}  // namespace tgx::test
