// End to end across processes: several client programs, each loading
// libchanlibNT.so on its own, share one printer port through one chanportNT
// worker, and every process sees the same table of sockets.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "chanlib/cbt.h"
#include "chanlib/result_codes.h"
#include "e2e_support.h"
#include "printersim/client.h"
#include "testsupport.h"

extern char** environ;

namespace tgx::e2e {
namespace {

using namespace std::chrono_literals;

// A parallel printer: a read that finds nothing gives up after 560 ms (a USB
// port waits 11 s), and the clients' reads often find nothing when another
// process has taken their packet into their ring already.
constexpr char kPrinter[] =
    "[printer p1]\n"
    "port = LPT1\n"
    "device_id = MFG:Test;MDL:Shared;CMD:1284.4;\n"
    "tcp_port = none\n"
    "answer.5 = 01 02 03 04\n";

// One run of the e2e_client program, its standard output in a pipe.
class Client {
 public:
  explicit Client(const std::vector<std::string>& args) {
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) return;
    const std::string program = (test::BinDir() / "e2e_client").string();
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    output_ = pipeFds[0];
  }
  ~Client() {
    if (pid_ > 0) Finish(0ms);
    if (output_ >= 0) ::close(output_);
  }
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool started() const { return pid_ > 0; }
  bool running() {
    if (pid_ <= 0) return false;
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) != pid_) return true;
    pid_ = -1;
    status_ = status;
    ReadOutput();
    return false;
  }
  // Waits up to `limit` for the client's end (then kills it); true when it
  // ended by itself with status 0.
  bool Finish(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (running() && std::chrono::steady_clock::now() < end) {
      std::this_thread::sleep_for(10ms);
    }
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status_, 0);
      pid_ = -1;
      ReadOutput();
      return false;
    }
    return WIFEXITED(status_) && WEXITSTATUS(status_) == 0;
  }
  // The "name=value" lines it printed.
  std::map<std::string, std::string> values() const {
    std::map<std::string, std::string> result;
    std::istringstream lines(text_);
    for (std::string line; std::getline(lines, line);) {
      const auto equals = line.find('=');
      if (equals != std::string::npos) result[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return result;
  }
  const std::string& text() const { return text_; }

 private:
  void ReadOutput() {
    char buffer[4096];
    for (ssize_t n; (n = ::read(output_, buffer, sizeof buffer)) > 0;) text_.append(buffer, n);
  }

  pid_t pid_ = -1;
  int status_ = -1;
  int output_ = -1;
  std::string text_;
};

class EndToEndShared : public ::testing::Test {
 protected:
  void SetUp() override {
    printersim::StartOptions options;
    options.config_text = kPrinter;
    options.trace = std::getenv("E2E_TRACE") != nullptr;  // packets on standard error
    std::string error;
    sim_ = printersim::Simulator::Start(options, &error);
    ASSERT_TRUE(sim_) << error;
  }

  std::unique_ptr<printersim::Simulator> sim_;
};

TEST_F(EndToEndShared, ClientProcessesShareOnePortThroughOneWorker) {
  constexpr std::size_t kJobSize = 256 << 10;
  constexpr std::uint32_t kSeed = 42;
  constexpr int kExchanges = 12;
  // All three connect first, then work at the same time.
  const std::filesystem::path gate = test::MakeTempDir("e2e-gate") / "gate";
  ::setenv("E2E_START_GATE", gate.c_str(), 1);
  Client printer({"print", "LPT1", std::to_string(kJobSize), std::to_string(kSeed)});
  Client first({"exchange", "LPT1", "256", std::to_string(kExchanges)});
  Client second({"exchange", "LPT1", "1024", std::to_string(kExchanges)});
  ASSERT_TRUE(printer.started() && first.started() && second.started());
  ::unsetenv("E2E_START_GATE");
  const auto ready = [&] {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(gate.parent_path())) {
      count += entry.path().filename().string().starts_with("gate.ready.");
    }
    return count;
  };
  for (const auto until = std::chrono::steady_clock::now() + 30s;
       ready() < 3 && std::chrono::steady_clock::now() < until;) {
    std::this_thread::sleep_for(5ms);
  }
  std::ofstream(gate).put('\n');

  std::set<pid_t> workers;
  const auto end = std::chrono::steady_clock::now() + 60s;
  while ((printer.running() || first.running() || second.running()) &&
         std::chrono::steady_clock::now() < end) {
    for (pid_t worker : OurWorkers()) workers.insert(worker);
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_TRUE(printer.Finish(0ms)) << printer.text();
  EXPECT_TRUE(first.Finish(0ms)) << first.text();
  EXPECT_TRUE(second.Finish(0ms)) << second.text();

  // Each exchange saw its own answers only, all of them; the job arrived whole.
  EXPECT_EQ(std::to_string(kExchanges), first.values()["answers"]);
  EXPECT_EQ(std::to_string(kExchanges), second.values()["answers"]);
  EXPECT_EQ(std::to_string(2 * kExchanges), sim_->Counters("p1")["mgmt.answers"]);
  ASSERT_TRUE(sim_->WaitForCounter("p1", "jobs.ended", 1, 20s));
  EXPECT_EQ(printersim::JobSha256(SeededBytes(kJobSize, kSeed)),
            sim_->Counters("p1")["job.sha256"]);
  EXPECT_EQ(0u, sim_->Counter("p1", "violations"));

  // They ran at the same time, through one worker.
  const auto overlap = [](Client& a, Client& b) {
    return std::stoll(a.values()["start_ms"]) < std::stoll(b.values()["end_ms"]) &&
           std::stoll(b.values()["start_ms"]) < std::stoll(a.values()["end_ms"]);
  };
  EXPECT_TRUE(overlap(printer, first));
  EXPECT_TRUE(overlap(printer, second));
  EXPECT_TRUE(overlap(first, second));
  EXPECT_EQ(1u, workers.size());
  EXPECT_EQ(1u, sim_->Counter("p1", "command.Init"));  // one port, opened once
}

TEST_F(EndToEndShared, ProcessesInitialisingTheLibrarySeeOneTable) {
  const CbtConnection own = ConnectCbt("LPT1", 0x20);
  ASSERT_EQ(0, own.connectResult);
  ASSERT_EQ(0, own.socket);
  ASSERT_EQ(1, CBT_GetSocketID(own.socket));

  // The second process joins the table: its socket comes after ours.
  Client other({"sockets"});
  ASSERT_TRUE(other.Finish(20s)) << other.text();
  EXPECT_EQ("1", other.values()["handle"]);
  EXPECT_EQ("2", other.values()["id"]);
  EXPECT_EQ("1", other.values()["id_of_0"]);

  // Joining cleared nothing: our connection still works, and the socket the
  // other process closed is closed here too.
  EXPECT_EQ(1, CBT_GetSocketID(own.socket));
  EXPECT_EQ(chanlib::kBadSocket, CBT_GetSocketID(1));
  const Bytes request = ManagementRequest(5, 7);
  EXPECT_EQ(static_cast<int>(request.size()),
            CBT_Send(own.socket, request.data(), static_cast<int>(request.size())));
  ASSERT_TRUE(sim_->WaitForCounter("p1", "mgmt.answers", 1));
  EXPECT_EQ(chanlib::kOk, CBT_CloseSocket(own.socket));
}

}  // namespace
}  // namespace tgx::e2e
