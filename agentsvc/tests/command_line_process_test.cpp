// The program's command line in both run modes: background mode with its
// start-up registry value and close requests, and systemd mode with a fake
// systemctl on PATH, a temporary unit directory and a notify socket.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>

#include "service.h"
#include "service_harness.h"
#include "testsupport.h"
#include "tgx/registry.h"

namespace tgx::agent::test {
namespace {

namespace fs = std::filesystem;

// The program exits with 1052 on failure; a Linux exit status keeps its low 8 bits.
constexpr int kFailureStatus = service::kExitFailure & 0xFF;

std::string StartupValue() {
  RegKey key;
  if (key.Open(HKEY_LOCAL_MACHINE, service::kRunServicesKey, KEY_QUERY_VALUE) != ERROR_SUCCESS) {
    return "<no key>";
  }
  char value[1024];
  DWORD size = sizeof(value);
  if (RegQueryValueExA(key.get(), service::kServiceName, nullptr, nullptr,
                       reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS) {
    return "<no value>";
  }
  return std::string(value, size ? size - 1 : 0);
}

void SetStartupValue(const std::string& value) {
  RegKey key;
  ASSERT_EQ(key.Create(HKEY_LOCAL_MACHINE, service::kRunServicesKey, KEY_WRITE), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValueExA(key.get(), service::kServiceName, 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1)),
            ERROR_SUCCESS);
}

TEST(BackgroundMode, InstallAndRemoveTheStartupValue) {
  ServiceProcess program;
  EXPECT_EQ(program.Run({"-install"}), 0);
  EXPECT_EQ(StartupValue(), (program.dir() / "agentsvc").string());
  EXPECT_EQ(program.Run({"/remove"}), 0);
  EXPECT_EQ(StartupValue(), "<no value>");
  EXPECT_EQ(program.Run({"-remove"}), kFailureStatus);
}

TEST(BackgroundMode, StopAndInstallCloseTheRunningInstance) {
  for (const char* option : {"-stop", "-install"}) {
    ServiceProcess running;
    running.StartListening();
    ServiceProcess second;
    EXPECT_EQ(second.Run({option}), 0) << option;
    EXPECT_EQ(running.Wait(15000), 0) << option;
  }
  ServiceProcess nobody;
  EXPECT_EQ(nobody.Run({"-stop"}), 0);  // always succeeds in this mode
}

TEST(BackgroundMode, StartRunsOnlyWithTheStartupValue) {
  ServiceProcess program;
  EXPECT_EQ(program.Run({"-start"}), kFailureStatus);
  SetStartupValue("/somewhere/agentsvc");
  program.Start({"-start"});
  ASSERT_TRUE(program.WaitListening());
  program.Signal(SIGTERM);
  EXPECT_EQ(program.Wait(15000), 0);
}

TEST(BackgroundMode, WordsOtherThanTheOptionsRunTheService) {
  for (const char* text : {"-stop ", "-debug", "-Stop", "/"}) {
    ServiceProcess program;
    program.Start({text});
    EXPECT_TRUE(program.WaitListening()) << '"' << text << '"';
    program.Signal(SIGTERM);
    EXPECT_EQ(program.Wait(15000), 0) << '"' << text << '"';
  }
}

TEST(CommandLine, HelpPrintsUsageAndRunsNothing) {
  ServiceProcess program;
  const std::string command = (program.dir() / "agentsvc").string() + " --help";
  FILE* out = popen(command.c_str(), "r");
  ASSERT_NE(out, nullptr);
  std::string text;
  char buffer[256];
  while (std::fgets(buffer, sizeof(buffer), out)) text += buffer;
  const int status = pclose(out);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_NE(text.find("Usage: agentsvc"), std::string::npos) << text;
  EXPECT_NE(text.find("install [TEXT]"), std::string::npos) << text;
}

// systemd mode: a fake systemctl that logs its arguments and keeps the unit's
// state in a file.
class SystemdMode : public ::testing::Test {
 protected:
  void SetUp() override {
    fake_ = tgx::test::MakeTempDir("systemctl");
    units_ = tgx::test::MakeTempDir("units");
    std::ofstream script(fake_ / "systemctl");
    script << "#!/bin/sh\n"
           << "d='" << fake_.string() << "'\n"
           << "echo \"$*\" >> \"$d/log\"\n"
           << "case \"$1\" in\n"
           << "  show) cat \"$d/state\" 2>/dev/null || echo inactive ;;\n"
           << "  stop) [ -e \"$d/stop_sticks\" ] || echo inactive > \"$d/state\" ;;\n"
           << "esac\n"
           << "exit 0\n";
    script.close();
    fs::permissions(fake_ / "systemctl", fs::perms::owner_all);
  }

  ServiceOptions Options() const {
    return {.environment = {"TGX_SERVICE_MODE=systemd",
                            "PATH=" + fake_.string() + ":" + std::getenv("PATH"),
                            "TGX_SYSTEMD_UNIT_DIR=" + units_.string(), "TGX_TIMEOUT_DIVISOR=20"}};
  }
  std::vector<std::string> Calls() const { return ReadLines(fake_ / "log"); }
  void State(const char* state) const { std::ofstream(fake_ / "state") << state << "\n"; }
  fs::path Unit() const { return units_ / "TGXDeviceAgentService.service"; }

  fs::path fake_;
  fs::path units_;
};

TEST_F(SystemdMode, InstallWritesAndEnablesTheUnit) {
  ServiceProcess program(Options());
  EXPECT_EQ(program.Run({"-install", "Printer agent service"}), 0);
  const auto unit = ReadLines(Unit());
  auto has = [&unit](const std::string& line) {
    return std::find(unit.begin(), unit.end(), line) != unit.end();
  };
  EXPECT_TRUE(has("Description=Printer agent service"));
  EXPECT_TRUE(has("Type=notify"));
  EXPECT_TRUE(has("After=cups.service"));
  EXPECT_TRUE(has("ExecStart=" + (program.dir() / "agentsvc").string()));
  EXPECT_EQ(Calls(),
            (std::vector<std::string>{"daemon-reload", "enable TGXDeviceAgentService.service"}));

  // Installing again stops, deletes and creates the service anew.
  State("active");
  EXPECT_EQ(program.Run({"-install"}), 0);
  const auto calls = Calls();
  EXPECT_EQ(std::vector<std::string>(calls.begin() + 2, calls.end()),
            (std::vector<std::string>{"show -p ActiveState --value TGXDeviceAgentService.service",
                                      "stop --no-block TGXDeviceAgentService.service",
                                      "show -p ActiveState --value TGXDeviceAgentService.service",
                                      "disable TGXDeviceAgentService.service", "daemon-reload",
                                      "daemon-reload", "enable TGXDeviceAgentService.service"}));
  const auto again = ReadLines(Unit());
  EXPECT_NE(std::find(again.begin(), again.end(), "Description="), again.end());
}

TEST_F(SystemdMode, RemoveWithoutTheServiceStillDeletesTheStartupValue) {
  SetStartupValue("/old/agentsvc");
  ServiceProcess program(Options());
  EXPECT_EQ(program.Run({"-remove"}), 0);
  EXPECT_EQ(StartupValue(), "<no value>");
  EXPECT_TRUE(Calls().empty());
}

TEST_F(SystemdMode, StopSucceedsOnlyWhenTheServiceStops) {
  ServiceProcess program(Options());
  EXPECT_EQ(program.Run({"-stop"}), kFailureStatus);  // not installed
  ASSERT_EQ(program.Run({"-install"}), 0);
  State("active");
  EXPECT_EQ(program.Run({"-stop"}), 0);
  State("active");
  std::ofstream(fake_ / "stop_sticks").close();
  EXPECT_EQ(program.Run({"-stop"}), kFailureStatus);
  EXPECT_EQ(program.Run({"-remove"}), kFailureStatus);
  EXPECT_TRUE(fs::exists(Unit()));
  EXPECT_EQ(program.Run({"-start"}), 0);
  EXPECT_EQ(Calls().back(), "start --no-block TGXDeviceAgentService.service");
}

TEST_F(SystemdMode, ReportsItsStatesThroughTheNotifySocket) {
  const fs::path path = tgx::test::MakeTempDir("notify") / "socket";
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  auto next = [fd] {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 10000) <= 0) return std::string("<none>");
    char buffer[512];
    const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
    return std::string(buffer, n > 0 ? static_cast<std::size_t>(n) : 0);
  };

  ServiceOptions options = Options();
  options.environment.push_back("NOTIFY_SOCKET=" + path.string());
  ServiceProcess service(options);
  service.Start();
  EXPECT_EQ(next(), "STATUS=Starting (check point 1)\nEXTEND_TIMEOUT_USEC=3000000");
  EXPECT_EQ(next(), "READY=1\nSTATUS=Running");
  ASSERT_TRUE(service.WaitListening());
  service.Signal(SIGTERM);
  EXPECT_EQ(next(), "STOPPING=1\nSTATUS=Stopping (check point 2)\nEXTEND_TIMEOUT_USEC=5000000");
  EXPECT_EQ(next(), "STATUS=Stopped, exit code 0");
  EXPECT_EQ(service.Wait(15000), 0);
  ::close(fd);
}

}  // namespace
}  // namespace tgx::agent::test
