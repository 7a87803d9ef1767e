// The worker program with the library's side of the handshake, across real
// processes: named objects, the command records, a test port library and a pty
// standing in for the printer port.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <iterator>
#include <string>

#include "chanlib/object_names.h"
#include "chanlib/result_codes.h"
#include "port_requests.h"
#include "shared_set.h"
#include "testsupport.h"
#include "tgx/process.h"
#include "worker.h"

namespace tgx::chanlib {
namespace {

namespace fs = std::filesystem;

// Failure waits (worker answer and start: 3 s; idle exit: 0.5 s).
const bool kScaledTimeouts = setenv("TGX_TIMEOUT_DIVISOR", "20", 1) == 0;

fs::path PortDirectory() {
  const fs::path dir = fs::path(std::getenv("TGX_DEVICE_ROOT")) / "testport";
  fs::create_directories(dir);
  return dir;
}

// A pty whose slave is the port file "name"; the test plays the printer on the
// master side.
class Pty {
 public:
  explicit Pty(const std::string& name) : path_(PortDirectory() / name) {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    EXPECT_GE(master_, 0);
    grantpt(master_);
    unlockpt(master_);
    const std::string slave = ptsname(master_);
    // Held open so that the line stays up between the worker's opens.
    slave_ = open(slave.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios mode;
    tcgetattr(slave_, &mode);
    cfmakeraw(&mode);
    tcsetattr(slave_, TCSANOW, &mode);
    fs::create_symlink(slave, path_);
  }
  ~Pty() {
    close(slave_);
    close(master_);
  }

  std::string Read(std::size_t count) const {
    std::string data;
    while (data.size() < count) {
      pollfd ready{master_, POLLIN, 0};
      if (poll(&ready, 1, 5000) <= 0) break;
      char chunk[4096];
      const ssize_t n = read(master_, chunk, std::min(sizeof chunk, count - data.size()));
      if (n <= 0) break;
      data.append(chunk, static_cast<std::size_t>(n));
    }
    return data;
  }
  void Write(const std::string& data) const {
    ASSERT_EQ(static_cast<ssize_t>(data.size()), write(master_, data.data(), data.size()));
  }
  void Mark(const std::string& suffix, const std::string& content = "") const {
    std::ofstream(path_.string() + suffix, std::ios::binary) << content;
  }
  std::string Log() const {
    std::ifstream file(path_.string() + ".log");
    return {std::istreambuf_iterator<char>(file), {}};
  }

 private:
  fs::path path_;
  int master_ = -1;
  int slave_ = -1;
};

bool WorkerRunning(int port) {
  return static_cast<bool>(
      OpenMutexA(MUTEX_ALL_ACCESS, FALSE, NameOf(names::kWorkerPresence, port).c_str()));
}

bool WaitUntilWorkerGone(int port, DWORD milliseconds) {
  const DWORD start = GetTickCount();
  while (WorkerRunning(port)) {
    if (GetTickCount() - start > milliseconds) return false;
    Sleep(10);
  }
  return true;
}

struct WorkerTest : ::testing::Test {
  void SetUp() override {
    ASSERT_TRUE(kScaledTimeouts);
    set = SharedSet::Open(Family::kNt);
    ASSERT_TRUE(set);
  }
  void TearDown() override {
    for (int port = 0; port < kPortCount; ++port) {
      if (WorkerRunning(port)) PortEndWorker(*set, port);
      EXPECT_TRUE(WaitUntilWorkerGone(port, 5000));
    }
  }
  std::string ReadUntil(int port, std::size_t count) {
    std::string data;
    for (int tries = 0; tries < 20 && data.size() < count; ++tries) {
      std::uint8_t chunk[256];
      const int n = PortRead(*set, port, chunk);
      EXPECT_GE(n, 0);
      if (n < 0) break;
      data.append(reinterpret_cast<char*>(chunk), static_cast<std::size_t>(n));
    }
    return data;
  }
  std::unique_ptr<SharedSet> set;
};

TEST_F(WorkerTest, SecondOpenJoinsTheSameSet) {
  EXPECT_TRUE(set->creator());
  set->table().port(3).state = kPortOpen;
  const auto joiner = SharedSet::Open(Family::kNt);
  ASSERT_TRUE(joiner);
  EXPECT_FALSE(joiner->creator());
  EXPECT_EQ(kPortOpen, joiner->table().port(3).state);
  joiner->channelCount() = 7;
  EXPECT_EQ(7u, set->channelCount().get());
}

TEST_F(WorkerTest, ServesOpenWriteReadControlAndClose) {
  Pty printer("USB001");
  printer.Mark(".id", "MFG:Test;COMMAND SET:1284.4;");
  ASSERT_EQ(kOk, StartPortWorker(*set, 0));
  EXPECT_TRUE(WorkerRunning(0));
  ASSERT_EQ(kOk, StartPortWorker(*set, 0));  // already running: no second worker

  bool writeOnly = true;
  ASSERT_EQ(kOk, PortOpen(*set, 0, "USB001", &writeOnly));
  EXPECT_FALSE(writeOnly);
  EXPECT_NE(std::string::npos, printer.Log().find("timeouts 100 10 500 10 3500"));

  std::string job(3000, '\0');
  for (std::size_t i = 0; i < job.size(); ++i) job[i] = static_cast<char>(i * 7);
  EXPECT_EQ(3000, PortWrite(*set, 0, PortCommand::kWriteData,
                            {reinterpret_cast<const std::uint8_t*>(job.data()), job.size()}));
  EXPECT_EQ(job, printer.Read(job.size()));

  printer.Write("status?");
  EXPECT_EQ("status?", ReadUntil(0, 7));

  std::uint8_t id[256];
  DWORD returned = 0;
  ASSERT_EQ(kOk, PortIoControl(*set, 0, 0x16000C, {}, id, &returned));
  EXPECT_EQ("MFG:Test;COMMAND SET:1284.4;", std::string(reinterpret_cast<char*>(id), returned));
  // The port library's error reaches the caller as the last error.
  EXPECT_EQ(kIoControlFailed, PortIoControl(*set, 0, 0x220008, {}, id, &returned));
  EXPECT_EQ(ERROR_INVALID_FUNCTION, GetLastError());

  EXPECT_EQ(kOk, PortClose(*set, 0, "USB001"));
  EXPECT_EQ(kCloseFailed, PortClose(*set, 0, "USB001"));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  // Every request leaves the record empty and every transfer buffer freed.
  const PortCommandRecord empty{};
  EXPECT_EQ(0, std::memcmp(&empty, &set->table().portCommand(0), sizeof empty));
  EXPECT_EQ(0, BlocksInUse(set->mainPool()));

  ASSERT_EQ(kOk, PortEndWorker(*set, 0));
  EXPECT_TRUE(WaitUntilWorkerGone(0, 5000));
}

TEST_F(WorkerTest, OpenFailuresAndWriteOnlyParallelPorts) {
  Pty parallel("LPT1");
  parallel.Mark(".writeonly");
  ASSERT_EQ(kOk, StartPortWorker(*set, 2));
  bool writeOnly = false;
  EXPECT_EQ(kPortNotOpen, PortOpen(*set, 2, "USB009", &writeOnly));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
  ASSERT_EQ(kOk, PortOpen(*set, 2, "LPT1", &writeOnly));
  EXPECT_TRUE(writeOnly);
  EXPECT_NE(std::string::npos, parallel.Log().find("open pid"));
  EXPECT_NE(std::string::npos, parallel.Log().find(" w\n"));
}

TEST_F(WorkerTest, EndsOnceNoProcessKeepsItAlive) {
  ASSERT_EQ(kOk, StartPortWorker(*set, 1));
  ASSERT_TRUE(WorkerRunning(1));
  Sleep(800);  // past one idle check: still kept alive
  EXPECT_TRUE(WorkerRunning(1));
  ReleasePortWorker(*set, 1);
  EXPECT_TRUE(WaitUntilWorkerGone(1, 5000));
  // The next start brings a new worker.
  ASSERT_EQ(kOk, StartPortWorker(*set, 1));
  EXPECT_TRUE(WorkerRunning(1));
}

DWORD RunToEnd(const char* commandLine) {
  PROCESS_INFORMATION process;
  if (!CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr, nullptr, nullptr,
                      &process)) {
    return 0xFFFF;
  }
  if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) return 0xFFFE;
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  return code;
}

TEST_F(WorkerTest, CannotStartExitsWithTwo) {
  ASSERT_EQ(kOk, StartPortWorker(*set, 4));
  EXPECT_EQ(2u, RunToEnd("chanportNT.exe -LPT_INDEX=4"));  // the port has its worker
  EXPECT_EQ(2u, RunToEnd("chanportNT.exe -LPT_INDEX=5"));
  EXPECT_EQ(2u, RunToEnd("chanportNT.exe -LPT_INDEX="));
  EXPECT_EQ(2u, RunToEnd("chanportNT.exe"));
  EXPECT_TRUE(WorkerRunning(4));

  // A port access library that lacks one of the six functions.
  const std::string incomplete =
      (fs::read_symlink("/proc/self/exe").parent_path() / "incomplete" / "chanportNT.exe")
          .string() +
      " -LPT_INDEX=0";
  EXPECT_EQ(2u, RunToEnd(incomplete.c_str()));
  EXPECT_FALSE(WorkerRunning(0));
}

TEST(WorkerArguments, PortIndexFromTheOption) {
  const char* good[] = {"chanportNT", "-x", "-LPT_INDEX=3"};
  EXPECT_EQ(3, chanport::PortIndexFromArguments(3, good));
  const char* zero[] = {"chanportNT", "-LPT_INDEX=0"};
  EXPECT_EQ(0, chanport::PortIndexFromArguments(2, zero));
  const char* range[] = {"chanportNT", "-LPT_INDEX=5"};
  EXPECT_FALSE(chanport::PortIndexFromArguments(2, range));
  const char* junk[] = {"chanportNT", "-LPT_INDEX=1x"};
  EXPECT_FALSE(chanport::PortIndexFromArguments(2, junk));
  const char* none[] = {"chanportNT", "LPT_INDEX=1"};
  EXPECT_FALSE(chanport::PortIndexFromArguments(2, none));
}

TEST_F(WorkerTest, KilledWorkerTimesOutItsRequestAndIsReplaced) {
  Pty printer("USB002");
  printer.Mark(".hang");
  ASSERT_EQ(kOk, StartPortWorker(*set, 3));
  bool writeOnly = false;
  ASSERT_EQ(kOk, PortOpen(*set, 3, "USB002", &writeOnly));
  const std::string log = printer.Log();
  const pid_t worker = std::stoi(log.substr(log.find("pid ") + 4));

  auto pending = std::async(std::launch::async, [&] {
    std::uint8_t buffer[16];
    return PortRead(*set, 3, buffer);
  });
  Sleep(200);
  kill(worker, SIGKILL);
  EXPECT_EQ(kWorkerTimeout, pending.get());
  EXPECT_TRUE(WaitUntilWorkerGone(3, 5000));

  fs::remove(PortDirectory() / "USB002.hang");
  ASSERT_EQ(kOk, StartPortWorker(*set, 3));
  ASSERT_EQ(kOk, PortOpen(*set, 3, "USB002", &writeOnly));
  printer.Write("ok");
  EXPECT_EQ("ok", ReadUntil(3, 2));
}

TEST_F(WorkerTest, The9xWorkerUsesItsOwnTimeouts) {
  Pty printer("USB003");
  const auto set9x = SharedSet::Open(Family::k9x);
  ASSERT_TRUE(set9x);
  ASSERT_EQ(kOk, StartPortWorker(*set9x, 1));
  bool writeOnly = false;
  ASSERT_EQ(kOk, PortOpen(*set9x, 1, "USB003", &writeOnly));
  EXPECT_NE(std::string::npos, printer.Log().find("timeouts 80 10 80 10 500"));
  PortEndWorker(*set9x, 1);
  EXPECT_TRUE(WaitUntilWorkerGone(1, 5000));
}

}  // namespace
}  // namespace tgx::chanlib
