// bench_chanlib: a print job's way to a simulated 1284.4 USB printer that grants
// credit generously, three ways side by side in one run:
//   raw_write        a plain write loop into the printer's pty (a raw printer
//                    sinks the bytes): the yardstick;
//   cbt_send         CBT_Send on a 0x10 channel of libchanlibNT.so, through the
//                    chanportNT worker and libportio.so;
//   agentcli_send    AuCbtSend of libagentcli.so through agentsvc, which drives
//                    the same printer path.
// Each sends the same data (256 MiB, or the MiB given, in all) in rounds: each
// round runs the three ways one after the other on a share of the data, so that
// a busy moment of the machine falls on all three alike. Per way, the median
// over the rounds of MB/s (until the printer has taken the last byte) and of
// CPU seconds per GiB summed over every process involved; the printer's SHA-256
// of each job must equal the data's. Then the ratios to raw_write (medians of
// the ratios within a round), the round trip of a request to the worker (a
// device-ID control answered by the port) and, beside it, the platform layer's
// event round trip.
//
// Usage: bench_chanlib [MiB [rounds]]
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "chanlib/cbt.h"
#include "printersim/client.h"
#include "round_trips.h"
#include "service_harness.h"
#include "testsupport.h"
#include "tgx/agentcli.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kDefaultMiB = 256;
constexpr int kDefaultRounds = 4;
// Divides the worker's 10 s idle check (and the failure time-outs, still far
// above anything a healthy run waits).
constexpr char kTimeoutDivisor[] = "5";
constexpr std::size_t kWriteChunk = 64 * 1024;
constexpr std::int32_t kAgentSendChunk = 0xFFFF;  // the most one Send message carries
constexpr int kWorkerRoundTrips = 2000;
constexpr int kEventBlocks = 10;
constexpr int kEventRoundTripsPerBlock = 2000;
// The device-ID control of the 9x family: on the NT build it is no local
// answer but a control the worker runs on the port.
constexpr std::uint32_t kWorkerDeviceIdControl = 17;
constexpr auto kJobEndTimeout = 600s;
constexpr auto kWorkerExitTimeout = 30s;

// Printer "raw" takes the plain writes, "p1" speaks the packet protocol and
// keeps the host supplied with as much credit as a Credit field carries: the
// host reads the printer's Credit commands only when it runs out, and each
// time that costs a 10 ms pause and a transaction.
constexpr char kPrinters[] =
    "[printer raw]\n"
    "port = USB001\n"
    "protocol = raw\n"
    "device_id = MFG:Bench;MDL:Raw;CMD:PCL;CLS:PRINTER;\n"
    "tcp_port = none\n"
    "[printer p1]\n"
    "port = USB002\n"
    "device_id = MFG:Bench;MDL:Channel;CMD:1284.4;CLS:PRINTER;\n"
    "credit = generous\n"
    "credit_window = 65535\n"
    "tcp_port = none\n";
constexpr char kPacketPort[] = "USB002";

Bytes RandomBytes(std::size_t size) {
  std::mt19937_64 generator(std::random_device{}());
  Bytes data(size);
  for (std::size_t at = 0; at < size; at += 8) {
    const std::uint64_t word = generator();
    std::memcpy(data.data() + at, &word, std::min<std::size_t>(8, size - at));
  }
  return data;
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// CPU seconds (user and system) of another process; 0 once it has gone.
double ProcessCpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string stat;
  if (!std::getline(in, stat)) return 0;
  // Fields after the command name (which may hold spaces): state is field 3,
  // utime and stime are fields 14 and 15.
  const std::size_t close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(stat.substr(close + 2));
  std::string skip;
  for (int field = 3; field < 14; ++field) fields >> skip;
  unsigned long long user = 0, system = 0;
  fields >> user >> system;
  return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double SelfCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  const auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The processes named `command` that run with this program's private runtime
// directory: the workers and the service this benchmark caused to start.
std::vector<pid_t> OurProcesses(const std::string& command) {
  const std::string mark = std::string("TGX_RUNTIME_DIR=") + std::getenv("TGX_RUNTIME_DIR");
  std::vector<pid_t> found;
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream comm(entry.path() / "comm");
    std::string seen;
    if (!std::getline(comm, seen) || seen != command) continue;
    std::ifstream environ(entry.path() / "environ");
    for (std::string variable; std::getline(environ, variable, '\0');) {
      if (variable == mark) found.push_back(std::stoi(name));
    }
  }
  return found;
}

bool WaitUntilGone(pid_t pid, Clock::duration timeout) {
  const auto end = Clock::now() + timeout;
  while (fs::exists("/proc/" + std::to_string(pid))) {
    if (Clock::now() > end) return false;
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

// CPU time of this process and of the others taking part, from construction to Stop.
class CpuMeter {
 public:
  explicit CpuMeter(std::vector<pid_t> others) : others_(std::move(others)) { start_ = Sample(); }
  double Stop() const { return Sample() - start_; }

 private:
  double Sample() const {
    double total = SelfCpuSeconds();
    for (pid_t pid : others_) total += ProcessCpuSeconds(pid);
    return total;
  }
  std::vector<pid_t> others_;
  double start_;
};

struct Figures {
  double mb_per_s = 0;
  double cpu_per_gib = 0;
};

// Times a transfer from its first byte until the printer has ended the job,
// and checks that the job holds exactly `data`.
class Run {
 public:
  Run(printersim::Simulator& sim, const std::string& printer, const Bytes& data,
      const std::string& sha, std::vector<pid_t> others)
      : sim_(sim), printer_(printer), data_(data), sha_(sha), cpu_(std::move(others)) {}

  std::optional<Figures> Finish(const char* what) const {
    if (!sim_.WaitForCounter(printer_, "jobs.ended", 1, kJobEndTimeout)) {
      std::fprintf(stderr, "bench_chanlib: %s: the printer did not end the job\n", what);
      return std::nullopt;
    }
    const double seconds = Seconds(Clock::now() - start_);
    const double cpu = cpu_.Stop();
    const auto counters = sim_.Counters(printer_);
    const std::string bytes = counters.count("job.bytes") ? counters.at("job.bytes") : "0";
    const std::string sha = counters.count("job.sha256") ? counters.at("job.sha256") : "";
    if (bytes != std::to_string(data_.size()) || sha != sha_) {
      std::fprintf(stderr, "bench_chanlib: %s: the printer received %s bytes with SHA-256 %s\n",
                   what, bytes.c_str(), sha.c_str());
      return std::nullopt;
    }
    const double size = static_cast<double>(data_.size());
    return Figures{size / seconds / 1e6, cpu / (size / (1u << 30))};
  }

 private:
  printersim::Simulator& sim_;
  std::string printer_;
  const Bytes& data_;
  const std::string& sha_;
  CpuMeter cpu_;
  Clock::time_point start_ = Clock::now();
};

bool ResetPrinter(printersim::Simulator& sim, const std::string& printer) {
  std::string error;
  if (sim.Command("reset " + printer, &error)) return true;
  std::fprintf(stderr, "bench_chanlib: reset %s: %s\n", printer.c_str(), error.c_str());
  return false;
}

// (a) Plain writes into the raw printer's pty.
std::optional<Figures> RawWrite(printersim::Simulator& sim, const Bytes& data,
                                const std::string& sha) {
  const auto info = sim.Info("raw");
  if (!info || !ResetPrinter(sim, "raw")) return std::nullopt;
  const int fd = ::open(info->device.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) {
    std::perror("bench_chanlib: open the raw printer");
    return std::nullopt;
  }
  Run run(sim, "raw", data, sha, {sim.pid()});
  bool ok = true;
  for (std::size_t at = 0; at < data.size() && ok;) {
    const ssize_t n = ::write(fd, data.data() + at, std::min(kWriteChunk, data.size() - at));
    if (n > 0) {
      at += static_cast<std::size_t>(n);
    } else if (n < 0 && errno != EINTR) {
      std::perror("bench_chanlib: write to the raw printer");
      ok = false;
    }
  }
  ::close(fd);  // ends the raw job
  return ok ? run.Finish("raw_write") : std::nullopt;
}

double Median(std::vector<double> samples) {
  std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
  return samples[samples.size() / 2];
}

// A CBT socket connected to the packet printer's job channel, closed on every path.
class CbtJob {
 public:
  CbtJob() : socket_(CBT_CreateSocket()) {}
  ~CbtJob() { Close(); }
  CbtJob(const CbtJob&) = delete;
  CbtJob& operator=(const CbtJob&) = delete;

  // The connect result (0: the packet protocol runs), or a negative error.
  int Connect() {
    if (socket_ == kNoSocket) return -1;
    std::uint8_t bind[28] = {};
    std::memcpy(bind + 4, kPacketPort, sizeof kPacketPort);
    if (const int rc = CBT_Bind(socket_, bind); rc != 0) return rc;
    std::uint8_t connect[26] = {};
    connect[2] = 0x10;
    return CBT_Connect(socket_, connect);
  }
  // Waits for the job queue to drain.
  int Close() {
    if (socket_ == kNoSocket) return 0;
    const int rc = CBT_CloseSocket(socket_);
    socket_ = kNoSocket;
    return rc;
  }
  std::uint16_t socket() const { return socket_; }

 private:
  static constexpr std::uint16_t kNoSocket = 0xFFFF;
  std::uint16_t socket_;
};

// Median µs of a control request that the worker runs on the port.
std::optional<double> WorkerRoundTrip(std::uint16_t socket) {
  std::vector<double> samples;
  samples.reserve(kWorkerRoundTrips);
  std::uint8_t id[256];
  for (int i = 0; i < kWorkerRoundTrips; ++i) {
    std::uint32_t returned = 0;
    const auto start = Clock::now();
    const int rc = CBT_GetChannelCapability(socket, kWorkerDeviceIdControl, nullptr, 0, id,
                                            sizeof id, &returned);
    samples.push_back(Seconds(Clock::now() - start) * 1e6);
    if (rc != 0 || returned == 0) {
      std::fprintf(stderr, "bench_chanlib: the worker's device-ID request gave %d\n", rc);
      return std::nullopt;
    }
  }
  return Median(samples);
}

struct CbtFigures {
  Figures send;
  double worker_round_trip_us;
  pid_t worker;
};

// (b) CBT_Send straight through the channel library.
std::optional<CbtFigures> CbtSend(printersim::Simulator& sim, const Bytes& data,
                                  const std::string& sha) {
  if (!ResetPrinter(sim, "p1")) return std::nullopt;
  CbtJob job;
  if (const int rc = job.Connect(); rc != 0) {
    std::fprintf(stderr, "bench_chanlib: CBT_Connect gave %d\n", rc);
    return std::nullopt;
  }
  const std::vector<pid_t> workers = OurProcesses("chanportNT");
  if (workers.size() != 1) {
    std::fprintf(stderr, "bench_chanlib: %zu workers run, 1 expected\n", workers.size());
    return std::nullopt;
  }
  const auto roundTrip = WorkerRoundTrip(job.socket());
  if (!roundTrip) return std::nullopt;

  Run run(sim, "p1", data, sha, {sim.pid(), workers[0]});
  for (std::size_t at = 0; at < data.size();) {
    const int size = static_cast<int>(std::min(kWriteChunk, data.size() - at));
    const int n = CBT_Send(job.socket(), data.data() + at, size);
    if (n < 0) {
      std::fprintf(stderr, "bench_chanlib: CBT_Send gave %d after %zu bytes\n", n, at);
      return std::nullopt;
    }
    at += static_cast<std::size_t>(n);
  }
  if (const int rc = job.Close(); rc != 0) {
    std::fprintf(stderr, "bench_chanlib: CBT_CloseSocket gave %d\n", rc);
    return std::nullopt;
  }
  const auto figures = run.Finish("cbt_send");
  if (!figures) return std::nullopt;
  return CbtFigures{*figures, *roundTrip, workers[0]};
}

// A socket of the client library on the packet printer's job channel.
class AgentJob {
 public:
  AgentJob() {
    std::array<std::uint8_t, AUCBT_DESCRIPTOR_SIZE> descriptor{};
    descriptor[2] = 0x10;
    std::memcpy(descriptor.data() + 4, kPacketPort, sizeof kPacketPort);
    std::uint32_t id = 0;
    socket_ = AuCbtCreateSocket(descriptor.data(), &id);
  }
  ~AgentJob() { Delete(); }
  AgentJob(const AgentJob&) = delete;
  AgentJob& operator=(const AgentJob&) = delete;

  std::int32_t Connect() const {
    return socket_ == AUCBT_INVALID_SOCKET ? -1 : AuCbtConnect(socket_);
  }
  std::int32_t Delete() {
    if (socket_ == AUCBT_INVALID_SOCKET) return 0;
    const std::int32_t rc = AuCbtDeleteSocket(socket_, 0);
    socket_ = AUCBT_INVALID_SOCKET;
    return rc;
  }
  AuCbtSocket socket() const { return socket_; }

 private:
  AuCbtSocket socket_ = AUCBT_INVALID_SOCKET;
};

// The client library initialised for the run, shut down on every path.
struct AgentLibrary {
  std::int32_t status = AuCbtInitialize();
  ~AgentLibrary() {
    if (status == 0) AuCbtShutdown();
  }
};

struct AgentFigures {
  Figures send;
  pid_t worker;
};

// (c) The client library through the agent service.
std::optional<AgentFigures> AgentSend(printersim::Simulator& sim, const Bytes& data,
                                      const std::string& sha) {
  if (!ResetPrinter(sim, "p1")) return std::nullopt;
  tgx::agent::test::ServiceProcess service({.channel_library = false});
  // The real channel library; it starts the worker found beside it.
  const fs::path bin = tgx::test::BinDir();
  for (const char* name : {"libchanlibNT.so", "chanportNT"}) {
    fs::create_symlink(bin / name, service.dir() / name);
  }
  service.Start();
  if (!service.WaitListening()) {
    std::fprintf(stderr, "bench_chanlib: agentsvc does not listen\n");
    return std::nullopt;
  }
  ::setenv("TGX_AGENT_PORT", std::to_string(service.port()).c_str(), 1);
  AgentLibrary library;
  if (library.status != 0) {
    std::fprintf(stderr, "bench_chanlib: AuCbtInitialize gave 0x%08x\n", library.status);
    return std::nullopt;
  }
  AgentJob job;
  if (const std::int32_t rc = job.Connect(); rc != 0) {
    std::fprintf(stderr, "bench_chanlib: AuCbtConnect gave 0x%08x\n", rc);
    return std::nullopt;
  }
  const std::vector<pid_t> services = OurProcesses("agentsvc");
  const std::vector<pid_t> workers = OurProcesses("chanportNT");
  if (services.size() != 1 || workers.size() != 1) {
    std::fprintf(stderr, "bench_chanlib: %zu services and %zu workers run, 1 each expected\n",
                 services.size(), workers.size());
    return std::nullopt;
  }

  Run run(sim, "p1", data, sha, {services[0], workers[0], sim.pid()});
  for (std::size_t at = 0; at < data.size();) {
    const auto size =
        static_cast<std::int32_t>(std::min<std::size_t>(kAgentSendChunk, data.size() - at));
    const std::int32_t n = AuCbtSend(job.socket(), data.data() + at, size);
    if (n < 0 || n > size) {
      std::fprintf(stderr, "bench_chanlib: AuCbtSend gave 0x%08x after %zu bytes\n", n, at);
      return std::nullopt;
    }
    at += static_cast<std::size_t>(n);
  }
  if (const std::int32_t rc = job.Delete(); rc != 0) {
    std::fprintf(stderr, "bench_chanlib: AuCbtDeleteSocket gave 0x%08x\n", rc);
    return std::nullopt;
  }
  const auto figures = run.Finish("agentcli_send");
  if (!figures) return std::nullopt;
  return AgentFigures{*figures, workers[0]};
}

// One round of the three ways, each sending the same data.
struct Round {
  Figures raw, cbt, agent;
  double worker_round_trip_us = 0;
};

std::optional<Round> RunRound(printersim::Simulator& sim, const Bytes& data,
                              const std::string& sha) {
  Round round;
  const auto raw = RawWrite(sim, data, sha);
  if (!raw) return std::nullopt;
  round.raw = *raw;
  const auto cbt = CbtSend(sim, data, sha);
  if (!cbt) return std::nullopt;
  round.cbt = cbt->send;
  round.worker_round_trip_us = cbt->worker_round_trip_us;
  // The next connect would otherwise meet this worker while it decides to end.
  if (!WaitUntilGone(cbt->worker, kWorkerExitTimeout)) {
    std::fprintf(stderr, "bench_chanlib: the idle worker did not end\n");
    return std::nullopt;
  }
  const auto agent = AgentSend(sim, data, sha);
  if (!agent) return std::nullopt;
  round.agent = agent->send;
  if (!WaitUntilGone(agent->worker, kWorkerExitTimeout)) {
    std::fprintf(stderr, "bench_chanlib: the idle worker did not end\n");
    return std::nullopt;
  }
  return round;
}

// The median over the rounds of one figure.
template <typename Of>
double MedianOf(const std::vector<Round>& rounds, Of of) {
  std::vector<double> samples;
  for (const Round& round : rounds) samples.push_back(of(round));
  return Median(std::move(samples));
}

int Bench(std::size_t bytes, int rounds) {
  // Before any thread starts: it forks.
  const auto events = tgx::bench::MeasureRoundTrips(kEventBlocks, kEventRoundTripsPerBlock);
  if (!events) {
    std::fprintf(stderr, "bench_chanlib: the event round trip failed\n");
    return 1;
  }
  // An idle worker ends after its idle check, scaled down here: each round
  // waits for its two workers to end.
  ::setenv("TGX_TIMEOUT_DIVISOR", kTimeoutDivisor, 1);

  const Bytes data = RandomBytes(bytes / static_cast<std::size_t>(rounds));
  const std::string sha = printersim::JobSha256(data);
  std::string error;
  printersim::StartOptions options;
  options.config_text = kPrinters;
  const auto sim = printersim::Simulator::Start(options, &error);
  if (!sim) {
    std::fprintf(stderr, "bench_chanlib: printersim: %s\n", error.c_str());
    return 1;
  }

  std::vector<Round> done;
  for (int i = 0; i < rounds; ++i) {
    const auto round = RunRound(*sim, data, sha);
    if (!round) return 1;
    done.push_back(*round);
  }
  const auto print = [&done](const char* name, Figures Round::*way) {
    std::printf("%s=%.1f MB/s\n", name,
                MedianOf(done, [way](const Round& r) { return (r.*way).mb_per_s; }));
    std::printf("%s_cpu=%.2f s/GiB\n", name,
                MedianOf(done, [way](const Round& r) { return (r.*way).cpu_per_gib; }));
  };
  print("raw_write", &Round::raw);
  print("cbt_send", &Round::cbt);
  print("agentcli_send", &Round::agent);
  // Each round's ways met the same moment of the machine: the ratio is taken
  // within a round.
  std::printf("cbt_to_raw_ratio=%.2f x\n",
              MedianOf(done, [](const Round& r) { return r.cbt.mb_per_s / r.raw.mb_per_s; }));
  std::printf("agentcli_to_raw_ratio=%.2f x\n",
              MedianOf(done, [](const Round& r) { return r.agent.mb_per_s / r.raw.mb_per_s; }));
  // Each run has checked the printer's length and SHA-256 of its job.
  std::printf("verified=%zu bytes\n", 3 * data.size() * done.size());
  std::printf("worker_request_roundtrip_median=%.1f us\n",
              MedianOf(done, [](const Round& r) { return r.worker_round_trip_us; }));
  std::printf("event_roundtrip_median=%.1f us\n", events->event_us);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  std::size_t mib = kDefaultMiB;
  int rounds = kDefaultRounds;
  if (argc > 3 || (argc >= 2 && (std::sscanf(argv[1], "%zu", &mib) != 1 || mib == 0)) ||
      (argc == 3 && (std::sscanf(argv[2], "%d", &rounds) != 1 || rounds < 1 || rounds > 64))) {
    std::fprintf(stderr,
                 "usage: bench_chanlib [MiB [rounds]]   (default %zu MiB in %d rounds)\n"
                 "Each way sends MiB in all, a share per round; the figures are the\n"
                 "medians over the rounds.\n",
                 kDefaultMiB, kDefaultRounds);
    return 2;
  }
  // In shared memory, where the runtime directory is by default: on a disk
  // every flush of the shared table would wait for the disk.
  if (!tgx::test::MakeScratch("/dev/shm")) {
    std::fprintf(stderr, "bench_chanlib: no scratch directory\n");
    return 1;
  }
  const int status = Bench(mib << 20, rounds);
  tgx::test::RemoveScratch();
  return status;
}
