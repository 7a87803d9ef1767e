#include "service_harness.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "testsupport.h"
#include "tgx/socket.h"

extern char** environ;

namespace tgx::agent::test {

namespace fs = std::filesystem;

namespace {

std::uint16_t FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a));
  socklen_t len = sizeof(a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

fs::path TestLibs(const char* variant) { return fs::path(TGX_AGENTSVC_TESTLIBS) / variant; }

}  // namespace

std::vector<std::string> ReadLines(const fs::path& file) {
  std::vector<std::string> lines;
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

ServiceProcess::ServiceProcess(ServiceOptions options)
    : options_(std::move(options)), dir_(tgx::test::MakeTempDir("agentsvc")), port_(FreePort()) {
  tgx::test::CopyBuilt("agentsvc", dir_);
  if (options_.channel_library) InstallChannelLibrary();
  if (options_.ppdt) fs::create_symlink(TestLibs("full") / "libppdtlib.so", dir_ / "libppdtlib.so");
}

ServiceProcess::~ServiceProcess() {
  if (pid_ > 0) {
    Signal(SIGTERM);
    if (Wait(15000) < 0) {
      Signal(SIGKILL);
      Wait(5000);
    }
  }
}

void ServiceProcess::InstallChannelLibrary() const {
  fs::create_symlink(TestLibs(options_.job_cancel ? "full" : "nocancel") / "libchanlibNT.so",
                     dir_ / "libchanlibNT.so");
}

void ServiceProcess::Start(const std::vector<std::string>& arguments) {
  std::vector<std::string> env;
  // Later entries replace earlier ones of the same name.
  auto set = [&env](const std::string& entry) {
    const std::string name = entry.substr(0, entry.find('=') + 1);
    const auto same = std::find_if(env.begin(), env.end(),
                                   [&](const std::string& e) { return e.rfind(name, 0) == 0; });
    if (same != env.end()) {
      *same = entry;
    } else {
      env.push_back(entry);
    }
  };
  for (char** e = environ; *e; ++e) set(*e);
  set("TGX_SERVICE_MODE=background");
  set("TGX_AGENT_PORT=" + std::to_string(port_));
  set("TGX_TEST_CHANLIB_SCRIPT=" + (dir_ / "script").string());
  set("TGX_TEST_CHANLIB_LOG=" + (dir_ / "chanlib.log").string());
  set("TGX_TEST_PPDT_LOG=" + (dir_ / "ppdt.log").string());
  for (const std::string& e : options_.environment) set(e);
  const std::string program = (dir_ / "agentsvc").string();
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : arguments) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  pid_ = ::fork();
  if (pid_ == 0) {
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
}

void ServiceProcess::StartListening() {
  Start();
  if (!WaitListening()) throw std::runtime_error("agentsvc does not listen");
}

bool ServiceProcess::WaitListening(int timeout_ms) const {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (std::chrono::steady_clock::now() < end) {
    // A bare connect, closed at once, is never routed: the service drops it.
    if (const int fd = tgx::ConnectLoopback(port_); fd >= 0) {
      ::close(fd);
      return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return false;
}

int ServiceProcess::Wait(int timeout_ms) {
  if (pid_ <= 0) return -1;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    if (std::chrono::steady_clock::now() >= end) return -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

int ServiceProcess::Run(const std::vector<std::string>& arguments, int timeout_ms) {
  Start(arguments);
  return Wait(timeout_ms);
}

void ServiceProcess::Signal(int signal) const {
  if (pid_ > 0) ::kill(pid_, signal);
}

void ServiceProcess::Script(const std::string& lines) const {
  std::ofstream(dir_ / "script", std::ios::trunc) << lines;
}

std::vector<std::string> ServiceProcess::ChannelLog() const {
  return ReadLines(dir_ / "chanlib.log");
}

std::vector<std::string> ServiceProcess::PpdtLog() const { return ReadLines(dir_ / "ppdt.log"); }

Client::Client(std::uint16_t port) : fd_(tgx::ConnectLoopback(port)) {}

Client::~Client() {
  if (fd_ >= 0) ::close(fd_);
}

void Client::Send(const Bytes& bytes) const {
  ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

Bytes Client::Read(std::size_t n, int timeout_ms) const {
  Bytes out;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (out.size() < n) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          end - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) break;
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) break;
    std::uint8_t buffer[8192];
    const ssize_t got = ::recv(fd_, buffer, std::min(sizeof(buffer), n - out.size()), 0);
    if (got <= 0) break;
    out.insert(out.end(), buffer, buffer + got);
  }
  return out;
}

Bytes Client::Exchange(const Bytes& request, std::size_t reply_size) const {
  Send(request);
  return Read(reply_size);
}

bool Client::Quiet(int ms) const {
  pollfd p{fd_, POLLIN, 0};
  return ::poll(&p, 1, ms) == 0;
}

bool Client::ClosedByPeer(int timeout_ms) const {
  pollfd p{fd_, POLLIN, 0};
  if (::poll(&p, 1, timeout_ms) <= 0) return false;
  std::uint8_t b;
  return ::recv(fd_, &b, 1, MSG_PEEK) <= 0;
}

}  // namespace tgx::agent::test
