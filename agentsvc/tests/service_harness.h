// Runs copies of the agentsvc program for the tests, each in a directory of its
// own beside the test libraries it should find, and talks to it over loopback
// TCP with raw wire bytes.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "messages.h"

namespace tgx::agent::test {

struct ServiceOptions {
  bool channel_library = true;
  bool job_cancel = true;  // the channel library exports CBT_JobCancel
  bool ppdt = true;
  std::vector<std::string> environment = {};  // extra "NAME=value" entries
};

class ServiceProcess {
 public:
  explicit ServiceProcess(ServiceOptions options = {});
  ~ServiceProcess();
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  // Starts the program with these arguments.
  void Start(const std::vector<std::string>& arguments = {});
  // Starts it and waits until it accepts connections.
  void StartListening();
  bool WaitListening(int timeout_ms = 10000) const;
  // The exit code once the process has ended, or -1 when it is still running
  // after timeout_ms (128 + signal for a signal).
  int Wait(int timeout_ms = 10000);
  // Runs the program to its end and returns the exit code.
  int Run(const std::vector<std::string>& arguments, int timeout_ms = 20000);
  void Signal(int signal) const;
  bool running() const { return pid_ > 0; }

  // The channel library's script and call log.
  void Script(const std::string& lines) const;
  std::vector<std::string> ChannelLog() const;
  std::vector<std::string> PpdtLog() const;
  // Installs the channel library later (it was left out at construction).
  void InstallChannelLibrary() const;

  std::uint16_t port() const { return port_; }
  const std::filesystem::path& dir() const { return dir_; }

 private:
  ServiceOptions options_;
  std::filesystem::path dir_;
  std::uint16_t port_;
  pid_t pid_ = -1;
};

// A raw client connection to the service.
class Client {
 public:
  explicit Client(std::uint16_t port);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  bool connected() const { return fd_ >= 0; }
  void Send(const Bytes& bytes) const;
  // Reads exactly n bytes, or fewer when the connection closes or the time runs out.
  Bytes Read(std::size_t n, int timeout_ms = 5000) const;
  Bytes Exchange(const Bytes& request, std::size_t reply_size) const;
  // True when nothing arrives within ms.
  bool Quiet(int ms) const;
  // True when the service closes the connection within timeout_ms.
  bool ClosedByPeer(int timeout_ms = 5000) const;

 private:
  int fd_ = -1;
};

// The reply's result field.
inline std::uint32_t ResultOf(const Bytes& reply) {
  return reply.size() >= 12 ? MessageResult(reply.data()) : 0xFFFFFFFF;
}

std::vector<std::string> ReadLines(const std::filesystem::path& file);

}  // namespace tgx::agent::test
