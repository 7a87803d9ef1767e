#include "printersim/client.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "sha256.h"

extern char** environ;

namespace fs = std::filesystem;

namespace printersim {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kControlTimeout{10000};
constexpr std::chrono::milliseconds kStopTimeout{5000};
constexpr int kReadyFd = 3;  // the simulator's end of the ready pipe

fs::path FindProgram(const StartOptions& options) {
  if (!options.program.empty()) return options.program;
  if (const char* dir = std::getenv("TGX_BIN_DIR"); dir && *dir) {
    if (fs::exists(fs::path(dir) / "printersim")) return fs::path(dir) / "printersim";
  }
  std::error_code ec;
  const fs::path beside = fs::read_symlink("/proc/self/exe", ec).parent_path() / "printersim";
  if (!ec && fs::exists(beside)) return beside;
  return "printersim";  // posix_spawnp searches PATH
}

// Waits until fd is readable; false on time-out.
bool WaitReadable(int fd, Clock::time_point deadline) {
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd p{fd, POLLIN, 0};
    const int n = poll(&p, 1, static_cast<int>(left.count()));
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
}

std::string Field(const std::string& line, const std::string& key) {
  const std::string needle = " " + key + "=";
  const std::size_t at = line.find(needle);
  if (at == std::string::npos) return {};
  const std::size_t start = at + needle.size();
  return line.substr(start, line.find(' ', start) - start);
}

}  // namespace

std::unique_ptr<Simulator> Simulator::Start(const StartOptions& options, std::string* error) {
  std::unique_ptr<Simulator> sim(new Simulator());
  sim->root_ = options.root;
  if (sim->root_.empty()) {
    const char* root = std::getenv("TGX_DEVICE_ROOT");
    sim->root_ = root && *root ? root : "/";
  }
  sim->control_path_ = sim->root_ / "run/printersim/control";
  sim->monitor_path_ = sim->root_ / "run/printersim/monitor";
  std::error_code ec;
  fs::create_directories(sim->root_ / "run/printersim", ec);
  const fs::path config_path = sim->root_ / "run/printersim/printersim.conf";
  {
    std::ofstream out(config_path, std::ios::binary | std::ios::trunc);
    out << options.config_text;
    if (!out) {
      *error = "cannot write " + config_path.string();
      return nullptr;
    }
  }
  int ready[2];
  if (pipe2(ready, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    return nullptr;
  }
  const fs::path program = FindProgram(options);
  std::vector<std::string> args = {
      program.string(),    "--config",   config_path.string(),    "--root",
      sim->root_.string(), "--ready-fd", std::to_string(kReadyFd)};
  if (options.trace) args.push_back("--trace");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ready[1], kReadyFd);  // dup2 clears close-on-exec
  const int rc = posix_spawnp(&sim->pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(ready[1]);
  if (rc != 0) {
    close(ready[0]);
    sim->pid_ = -1;
    *error = "cannot start " + program.string() + ": " + std::strerror(rc);
    return nullptr;
  }
  char line[16] = {};
  ssize_t n = 0;
  if (WaitReadable(ready[0], Clock::now() + options.start_timeout)) {
    n = read(ready[0], line, sizeof line - 1);
  }
  close(ready[0]);
  if (n <= 0 || std::string(line) != "ready\n") {
    kill(sim->pid_, SIGKILL);
    int status = 0;
    waitpid(sim->pid_, &status, 0);
    sim->exit_status_ = status;
    sim->pid_ = -1;
    *error = n <= 0 && WIFEXITED(status)
                 ? "printersim exited with status " + std::to_string(WEXITSTATUS(status)) +
                       " (its standard error says why)"
                 : "printersim did not become ready";
    return nullptr;
  }
  if (!sim->Connect(error)) return nullptr;
  return sim;
}

Simulator::~Simulator() { Stop(); }

bool Simulator::Connect(std::string* error) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (control_path_.string().size() >= sizeof address.sun_path) {
    if (error) *error = "control path too long";
    return false;
  }
  std::strcpy(address.sun_path, control_path_.c_str());
  control_fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (connect(control_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (error) *error = "cannot connect to " + control_path_.string() + ": " + std::strerror(errno);
    close(control_fd_);
    control_fd_ = -1;
    return false;
  }
  return true;
}

std::optional<std::vector<std::string>> Simulator::Command(const std::string& line,
                                                           std::string* error) {
  std::string ignored;
  if (error == nullptr) error = &ignored;
  if (control_fd_ < 0 && !Connect(error)) return std::nullopt;
  const std::string request = line + "\n";
  if (send(control_fd_, request.data(), request.size(), MSG_NOSIGNAL) !=
      static_cast<ssize_t>(request.size())) {
    *error = "control socket closed";
    return std::nullopt;
  }
  std::vector<std::string> lines;
  const auto deadline = Clock::now() + kControlTimeout;
  for (;;) {
    std::size_t eol;
    while ((eol = pending_.find('\n')) != std::string::npos) {
      std::string reply = pending_.substr(0, eol);
      pending_.erase(0, eol + 1);
      if (reply == "ok") return lines;
      if (reply.rfind("error", 0) == 0) {
        *error = reply.size() > 6 ? reply.substr(6) : reply;
        return std::nullopt;
      }
      lines.push_back(std::move(reply));
    }
    char buffer[4096];
    if (!WaitReadable(control_fd_, deadline)) {
      *error = "no answer from printersim";
      return std::nullopt;
    }
    const ssize_t n = read(control_fd_, buffer, sizeof buffer);
    if (n <= 0) {
      *error = "control socket closed";
      close(control_fd_);
      control_fd_ = -1;
      return std::nullopt;
    }
    pending_.append(buffer, static_cast<std::size_t>(n));
  }
}

std::map<std::string, std::string> Simulator::Counters(const std::string& printer) {
  std::map<std::string, std::string> values;
  if (auto lines = Command("counters " + printer)) {
    for (const std::string& line : *lines) {
      const std::size_t eq = line.find('=');
      if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    }
  }
  return values;
}

std::uint64_t Simulator::Counter(const std::string& printer, const std::string& name) {
  auto lines = Command("counters " + printer + " " + name);
  if (!lines || lines->size() != 1) return 0;
  const std::string& line = lines->front();
  return std::strtoull(line.c_str() + line.find('=') + 1, nullptr, 10);
}

bool Simulator::WaitForCounter(const std::string& printer, const std::string& name,
                               std::uint64_t value, std::chrono::milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  for (;;) {
    if (Counter(printer, name) >= value) return true;
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
}

std::optional<PrinterInfo> Simulator::Info(const std::string& printer) {
  auto lines = Command("list");
  if (!lines) return std::nullopt;
  for (const std::string& line : *lines) {
    if (line.rfind("printer " + printer + " ", 0) != 0) continue;
    PrinterInfo info;
    info.name = printer;
    info.port = Field(line, "port");
    info.device = Field(line, "device");
    info.protocol = Field(line, "protocol");
    const std::string tcp = Field(line, "tcp");
    info.tcp_port = tcp.empty() ? 0 : static_cast<std::uint16_t>(std::stoul(tcp));
    info.ppdt = Field(line, "ppdt");
    info.monitor = Field(line, "monitor");
    info.present = Field(line, "state") == "present";
    return info;
  }
  return std::nullopt;
}

bool Simulator::Fault(const std::string& printer, const std::string& text, std::string* error) {
  return Command("fault " + printer + " " + text, error).has_value();
}

bool Simulator::Send(const std::string& printer, const std::string& text, std::string* error) {
  return Command("send " + printer + " " + text, error).has_value();
}

std::optional<unsigned> Simulator::Notify(const std::string& printer,
                                          const std::string& hex_payload) {
  auto lines = Command("notify " + printer + (hex_payload.empty() ? "" : " " + hex_payload));
  if (!lines || lines->empty()) return std::nullopt;
  const std::string count = Field(" " + lines->front(), "channels");
  return count.empty() ? std::nullopt : std::optional<unsigned>(std::stoul(count));
}

int Simulator::Stop() {
  if (pid_ < 0) return exit_status_;
  if (control_fd_ >= 0) {
    Command("quit");
    close(control_fd_);
    control_fd_ = -1;
  }
  const auto deadline = Clock::now() + kStopTimeout;
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_ || (done < 0 && errno != EINTR)) break;
    if (Clock::now() >= deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  pid_ = -1;
  exit_status_ = status;
  return status;
}

std::string JobSha256(std::span<const std::uint8_t> data) {
  Sha256 digest;
  digest.Update(data);
  return digest.HexDigest();
}

}  // namespace printersim
