// printersim_client: start a printersim process from a configuration text, wait
// until its devices are present, drive it through its control socket, stop it.
// Link `printersim_client`; the printersim program is found beside the calling
// program (or through TGX_BIN_DIR, or on PATH).
//
//   printersim::StartOptions options;
//   options.config_text = "[printer p1]\nport = USB001\n";
//   std::string error;
//   auto sim = printersim::Simulator::Start(options, &error);   // null on failure
//   ... the host opens $TGX_DEVICE_ROOT/dev/usb/lp0 ...
//   sim->WaitForCounter("p1", "job.bytes", 4096);
//   std::string sha = sim->Counters("p1")["job.sha256"];
//   sim->Fault("p1", "stall on");
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace printersim {

struct StartOptions {
  std::string config_text;        // the configuration file's contents
  std::filesystem::path root;     // device root; empty: $TGX_DEVICE_ROOT, else "/"
  std::filesystem::path program;  // empty: printersim found as described above
  bool trace = false;             // packet trace on the simulator's standard error
  std::chrono::milliseconds start_timeout{5000};
};

// What `list` tells about one printer.
struct PrinterInfo {
  std::string name;
  std::string port;               // "USB001", "LPT1" or "none"
  std::filesystem::path device;   // $ROOT/dev/usb/lp0, empty without a port
  std::string protocol;           // "1284.4" or "raw"
  std::uint16_t tcp_port = 0;     // 0 without a TCP endpoint
  std::filesystem::path ppdt;     // 1394 device socket, empty without one
  std::filesystem::path monitor;  // the port monitor's socket
  bool present = false;           // false after a hang-up
};

class Simulator {
 public:
  // Starts printersim and returns once every device is present (or the process
  // failed: nullptr, with the reason in *error).
  static std::unique_ptr<Simulator> Start(const StartOptions& options, std::string* error);
  // Stops the simulator (Stop()).
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  const std::filesystem::path& root() const { return root_; }
  const std::filesystem::path& control_path() const { return control_path_; }
  const std::filesystem::path& monitor_path() const { return monitor_path_; }
  pid_t pid() const { return pid_; }

  // Runs one control command. On "ok" returns the lines before it; on "error"
  // (or a broken control connection) returns nullopt with the text in *error.
  std::optional<std::vector<std::string>> Command(const std::string& line,
                                                  std::string* error = nullptr);

  // The printer's counters as name -> value text (empty map when it is unknown).
  std::map<std::string, std::string> Counters(const std::string& printer);
  // One numeric counter (0 when absent).
  std::uint64_t Counter(const std::string& printer, const std::string& name);
  // Polls until the counter reaches at least `value`; false after the time-out.
  bool WaitForCounter(const std::string& printer, const std::string& name, std::uint64_t value,
                      std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));
  std::optional<PrinterInfo> Info(const std::string& printer);

  // "fault NAME <text>", e.g. Fault("p1", "stall on"); false with *error on refusal.
  bool Fault(const std::string& printer, const std::string& text, std::string* error = nullptr);
  // "send NAME <text>", e.g. Send("p1", "credit 5 16 4").
  bool Send(const std::string& printer, const std::string& text, std::string* error = nullptr);
  // Sends an event notification; returns the number of channels that took it.
  std::optional<unsigned> Notify(const std::string& printer, const std::string& hex_payload = {});

  // Asks the simulator to quit, waits for it (killing it after 5 s) and returns
  // its exit status as waitpid reports it; later calls return the same status.
  int Stop();

 private:
  Simulator() = default;
  bool Connect(std::string* error);

  pid_t pid_ = -1;
  int exit_status_ = -1;
  int control_fd_ = -1;
  std::string pending_;  // control bytes read beyond the last reply
  std::filesystem::path root_, control_path_, monitor_path_;
};

// The SHA-256 of `data` in lower-case hex: what the "job.sha256" counter
// reports for a job of exactly these bytes.
std::string JobSha256(std::span<const std::uint8_t> data);

}  // namespace printersim
