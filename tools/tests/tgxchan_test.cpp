// The command-line client as a user runs it: a real tgxchan process against a
// scripted agent service on loopback.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <random>
#include <thread>

#include "fake_service.h"
#include "run_tgxchan.h"
#include "testsupport.h"
#include "tgx/wire/agent_wire.h"

namespace tgx::test {
namespace {

namespace wire = tgx::agent;
using namespace std::chrono_literals;

extern "C" char** environ;

TEST(Tgxchan, HelpForTheProgramAndEachCommand) {
  const Outcome top = RunTgxchan({"--help"});
  EXPECT_EQ(0, top.exit);
  for (const char* command : {"print", "packet", "listen", "info"}) {
    EXPECT_TRUE(Contains(top.out, command)) << command;
    const Outcome help = RunTgxchan({command, "--help"});
    EXPECT_EQ(0, help.exit) << command;
    EXPECT_TRUE(Contains(help.out, std::string("Usage: tgxchan ") + command)) << help.out;
  }
}

TEST(Tgxchan, UsageErrorsExitWithTwoAndSendNothing) {
  ModelService model;
  FakeService service(model.Handler());
  const std::vector<std::vector<std::string>> mistakes = {
      {},
      {"frobnicate"},
      {"print"},
      {"print", "--bogus", "USB001"},
      {"print", "USB001", "/nonexistent/file"},
      {"print", "A_PORT_NAME_FAR_TOO_LONG", "-"},
      {"print", "USB001", "/"},
      {"packet", "USB001"},
      {"packet", "--opcode=0", "USB001"},
      {"packet", "--opcode=5", "--data=xyz", "USB001"},
      {"packet", "--opcode=5", "--channel=0x10", "USB001"},
      {"listen", "--events=1,,2", "USB001"},
      {"info", "--channel=0x40", "USB001"},
      {"info", "USB001", "LPT1"},
  };
  for (const auto& args : mistakes) {
    const Outcome o = RunTgxchan(args);
    std::string line;
    for (const auto& a : args) line += a + " ";
    EXPECT_EQ(2, o.exit) << line << o.err;
    EXPECT_TRUE(Contains(o.err, "tgxchan: ")) << line;
  }
  EXPECT_EQ(0u, service.ConnectionsAccepted());
}

TEST(Tgxchan, PrintsAFileWholeAndReportsTheByteCount) {
  ModelSettings settings;
  // A busy printer and a partial take on the way must not lose or reorder data.
  settings.send_statuses = {0xC010000B, 0x40100010};
  ModelService model(settings);
  FakeService service(model.Handler());
  std::string data(200000, '\0');
  std::mt19937 random(7);
  for (char& c : data) c = static_cast<char>(random());
  const auto file = MakeTempDir("print") / "job.bin";
  { std::ofstream(file, std::ios::binary) << data; }

  const Outcome o = RunTgxchan({"print", "USB001", file.string()});
  EXPECT_EQ(0, o.exit) << o.err;
  EXPECT_EQ("200000 bytes sent to USB001\n", o.out);
  const Bytes printed = model.Printed();
  EXPECT_TRUE(data == std::string(printed.begin(), printed.end()));
  EXPECT_EQ(std::vector<std::uint32_t>{0}, model.CancelFlags());  // not cancelled
  const auto creates = service.MessagesWithCode(wire::code::kCreateSocket);
  ASSERT_EQ(1u, creates.size());
  EXPECT_EQ(0x10, creates[0].bytes[12 + 2]);  // the print-job channel
  EXPECT_EQ("USB001", std::string(reinterpret_cast<const char*>(creates[0].bytes.data() + 16)));
}

TEST(Tgxchan, PrintsStandardInput) {
  ModelService model;
  FakeService service(model.Handler());
  const Outcome o = RunTgxchan({"print", "-q", "LPT1"}, "%!PS\nshowpage\n");
  EXPECT_EQ(0, o.exit) << o.err;
  EXPECT_EQ("14 bytes sent to LPT1\n", o.out);
  const Bytes printed = model.Printed();
  EXPECT_EQ("%!PS\nshowpage\n", std::string(printed.begin(), printed.end()));
}

TEST(Tgxchan, ChannelFailuresExitWithOneAndNameTheResultCode) {
  {
    ModelSettings settings;
    settings.send_statuses = {0xC010000D};
    ModelService model(settings);
    FakeService service(model.Handler());
    const Outcome o = RunTgxchan({"print", "USB001"}, "data");
    EXPECT_EQ(1, o.exit);
    EXPECT_TRUE(Contains(o.err, "0xC010000D (the printer channel is not open")) << o.err;
    EXPECT_EQ(std::vector<std::uint32_t>{1}, model.CancelFlags());  // the job is cancelled
  }
  {
    ModelSettings settings;
    settings.connect_result = 0xC010000C;
    ModelService model(settings);
    FakeService service(model.Handler());
    const Outcome o = RunTgxchan({"info", "USB001"});
    EXPECT_EQ(1, o.exit);
    EXPECT_TRUE(Contains(o.err, "cannot connect to USB001: 0xC010000C (the agent service refused"))
        << o.err;
  }
  {
    const std::uint16_t port = [] {
      FakeService gone([](ServiceConnection&, const ReceivedMessage&) {});
      return gone.port();
    }();
    ::setenv(wire::kPortVariable, std::to_string(port).c_str(), 1);
    const Outcome o = RunTgxchan({"info", "USB001"});
    EXPECT_EQ(1, o.exit);
    EXPECT_TRUE(Contains(o.err, "not reachable")) << o.err;
  }
}

TEST(Tgxchan, InfoShowsTheDeviceIdAndPacketSizes) {
  ModelSettings settings;
  // As a port answers: the length it counts includes the NUL that ends the text.
  settings.device_id = std::string("\x00\x2B", 2) + "MFG:Tessagraph;CMD:QRS,PJL;MDL:QRS-1100;" +
                       std::string(1, '\0');
  ModelService model(settings);
  FakeService service(model.Handler());
  const Outcome o = RunTgxchan({"info", "USB001"});
  EXPECT_EQ(0, o.exit) << o.err;
  EXPECT_TRUE(Contains(o.out, "connection:   packet protocol")) << o.out;
  EXPECT_TRUE(Contains(o.out, "device ID:    MFG:Tessagraph;CMD:QRS,PJL;MDL:QRS-1100;\n")) << o.out;
  EXPECT_TRUE(Contains(o.out, "  CMD:        QRS,PJL\n")) << o.out;
  EXPECT_TRUE(Contains(o.out, "packet sizes: send 4096 bytes, receive 512 bytes")) << o.out;
  const auto queries = service.MessagesWithCode(wire::code::kGetChannelCapability);
  ASSERT_EQ(1u, queries.size());
  EXPECT_EQ(0x16000Cu, wire::LoadLe32(queries[0].bytes.data() + 8));
}

TEST(Tgxchan, PacketIsSentWholeAndItsAnswerShown) {
  ModelService model;
  FakeService service(model.Handler());
  const Outcome o = RunTgxchan({"packet", "--opcode=5", "--id=9", "--data=01 02", "USB001"});
  EXPECT_EQ(0, o.exit) << o.err;
  EXPECT_TRUE(Contains(o.out, "answer opcode=5 id=9 flags=0x01 payload=2 bytes\n")) << o.out;
  const auto sends = service.MessagesWithCode(wire::code::kSend);
  ASSERT_EQ(1u, sends.size());
  const Bytes expected = {0xCD, 0xCA, 0x10, 0x04, 0, 5, 0, 9, 0, 2, 0,
                          0,    0,    0,    0,    0, 0, 0, 0, 0, 1, 2};
  EXPECT_EQ(expected, Bytes(sends[0].bytes.begin() + 12, sends[0].bytes.end() - 1));
  EXPECT_EQ(0x20, service.MessagesWithCode(wire::code::kCreateSocket)[0].bytes[14]);
}

TEST(Tgxchan, PacketWithoutAnAnswerFailsAfterTheWait) {
  ModelSettings settings;
  settings.echo_packets = false;
  ModelService model(settings);
  FakeService service(model.Handler());
  const Outcome o = RunTgxchan({"packet", "-o", "3", "-w", "300", "USB001"});
  EXPECT_EQ(1, o.exit);
  EXPECT_TRUE(Contains(o.err, "no answer from USB001")) << o.err;
}

TEST(Tgxchan, ListenRegistersAndShowsEventNotifications) {
  ModelService model;
  FakeService service(model.Handler());
  Bytes events;
  for (std::uint8_t n : {1, 2}) {
    const Bytes event = {0xCD, 0xCA, 0x10, 0x00, 0, 10, 0, 0, 0, 1, 0,
                         0,    0,    0,    0,    0, 0,  0, 0, 0, n};
    events.insert(events.end(), event.begin(), event.end());
  }
  model.QueueIncoming(events);
  const Outcome o =
      RunTgxchan({"listen", "--events=1,0x102", "--key=0x11223344", "--count=2", "LPT1"});
  EXPECT_EQ(0, o.exit) << o.err;
  EXPECT_TRUE(Contains(o.err, "registered for 2 event codes on LPT1")) << o.err;
  const std::string event = "event opcode=10 id=0 flags=0x00 payload=1 bytes\n";
  const std::size_t first = o.out.find(event);
  ASSERT_NE(std::string::npos, first) << o.out;
  EXPECT_NE(std::string::npos, o.out.find(event, first + 1)) << o.out;

  const auto sends = service.MessagesWithCode(wire::code::kSend);
  ASSERT_EQ(1u, sends.size());
  const Bytes& request = sends[0].bytes;
  ASSERT_GE(request.size(), 12u + 20 + 1 + 4 + 4 + 2 + 4);
  const std::uint8_t* p = request.data() + 12;
  EXPECT_EQ(8, p[5]);                                                 // opcode 8: register
  EXPECT_EQ(Bytes({0x11, 0x22, 0x33, 0x44}), Bytes(p + 21, p + 25));  // the key
  EXPECT_EQ(Bytes({0, 2, 0, 1, 1, 2}), Bytes(p + 29, p + 35));        // two codes
}

TEST(Tgxchan, InterruptedPrintCancelsTheJob) {
  ModelService model;
  FakeService service(model.Handler());
  int input[2];
  ASSERT_EQ(0, ::pipe(input));
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_adddup2(&files, input[0], 0);
  posix_spawn_file_actions_addclose(&files, input[1]);
  posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
  const auto errFile = MakeTempDir("interrupt") / "err";
  posix_spawn_file_actions_addopen(&files, 2, errFile.c_str(), O_WRONLY | O_CREAT, 0600);
  const std::string program = (BinDir() / "tgxchan").string();
  const char* argv[] = {program.c_str(), "print", "-q", "USB001", nullptr};
  pid_t pid = 0;
  ASSERT_EQ(0,
            posix_spawn(&pid, program.c_str(), &files, nullptr, const_cast<char**>(argv), environ));
  posix_spawn_file_actions_destroy(&files);
  ::close(input[0]);

  // A first part of the job, then the input stays open: the program waits.
  const std::string part(70000, 'J');
  ASSERT_EQ(static_cast<ssize_t>(part.size()), ::write(input[1], part.data(), part.size()));
  auto end = std::chrono::steady_clock::now() + 10s;
  while (model.Printed().size() < part.size() && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(part.size(), model.Printed().size());
  ::kill(pid, SIGINT);
  int status = 0;
  end = std::chrono::steady_clock::now() + 10s;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > end) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(10ms);
  }
  ::close(input[1]);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(130, WEXITSTATUS(status));
  std::ifstream err(errFile);
  const std::string text{std::istreambuf_iterator<char>(err), {}};
  EXPECT_TRUE(Contains(text, "interrupted after")) << text;
  EXPECT_EQ(std::vector<std::uint32_t>{1}, model.CancelFlags());
}

}  // namespace
}  // namespace tgx::test
