// How fast printersim sinks job data through its pty, against a plain program
// reading the same kind of pty, in one run:
//   sim_sink        a raw printer: every byte hashed (SHA-256) and counted
//   plain_reader    a process that only reads the master side of a raw pty
//   sim_packet_sink a packet-protocol printer taking 4 KiB packets on channel 0x10
//   sim_start_ms    starting printersim until its devices are present
// Each figure is the best of a few runs; the writer writes 64 KiB at a time.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "printersim/client.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::size_t kBytes = 128u << 20;
constexpr std::size_t kChunk = 64u << 10;
constexpr int kRounds = 5;  // the machine may be busy: keep the best

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, data, size);
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Writes kBytes of data in chunks; the chunks are built by `chunk_for`.
template <class ChunkFor>
bool WriteJob(int fd, ChunkFor chunk_for) {
  for (std::size_t done = 0; done < kBytes;) {
    const std::vector<std::uint8_t>& chunk = chunk_for(done);
    if (!WriteAll(fd, chunk.data(), chunk.size())) return false;
    done += kChunk;
  }
  return true;
}

double MegabytesPerSecond(Clock::duration took) {
  return static_cast<double>(kBytes) / (1 << 20) / std::chrono::duration<double>(took).count();
}

// The yardstick: a separate process that only reads the master side of a raw
// pty with blocking reads, as the simulator's process reads its own.
double PlainReader(const std::vector<std::uint8_t>& data) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  grantpt(master);
  unlockpt(master);
  const int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  termios settings{};
  tcgetattr(slave, &settings);
  cfmakeraw(&settings);
  tcsetattr(slave, TCSANOW, &settings);
  int done[2];
  if (pipe(done) != 0) return 0;
  const pid_t reader = fork();
  if (reader == 0) {
    std::vector<std::uint8_t> buffer(64 * 1024);
    std::size_t received = 0;
    while (received < kBytes) {
      const ssize_t n = read(master, buffer.data(), buffer.size());
      if (n <= 0) break;
      received += static_cast<std::size_t>(n);
    }
    const char ok = received == kBytes ? 1 : 0;
    _exit(write(done[1], &ok, 1) == 1 ? 0 : 1);
  }
  const auto start = Clock::now();
  WriteJob(slave, [&](std::size_t) -> const std::vector<std::uint8_t>& { return data; });
  char ok = 0;
  const bool finished = read(done[0], &ok, 1) == 1 && ok == 1;
  const auto took = Clock::now() - start;
  waitpid(reader, nullptr, 0);
  close(done[0]);
  close(done[1]);
  close(slave);
  close(master);
  return finished ? MegabytesPerSecond(took) : 0;
}

struct SimRun {
  double rate = 0;
  double start_ms = 0;
};

SimRun SimSink(const fs::path& root, bool packets) {
  printersim::StartOptions options;
  options.root = root;
  options.config_text =
      "[printer bench]\nport = USB001\ntcp_port = none\ncredit_window = 65535\nmax_packet = "
      "4102\ndevice_id = MFG:Bench;CMD:" +
      std::string(packets ? "1284.4" : "PCL") + ";\n";
  std::string error;
  const auto begin = Clock::now();
  auto sim = printersim::Simulator::Start(options, &error);
  SimRun run;
  run.start_ms = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
  if (!sim) {
    std::fprintf(stderr, "bench_sim: %s\n", error.c_str());
    return run;
  }
  const int fd = open((root / "dev/usb/lp0").c_str(), O_RDWR | O_NOCTTY);
  std::vector<std::uint8_t> chunk(kChunk, 0x5A);
  std::vector<std::uint8_t> framed;
  if (packets) {
    // Init, OpenChannel(1, 0x10, 4102/4102), then 16 data packets of 4096 per chunk.
    const std::uint8_t open_conversation[] = {0,    0,    0,    8,    1,    0,    0,   1,    0,
                                              0,    0,    17,   1,    0,    1,    1,   0x10, 0x10,
                                              0x06, 0x10, 0x06, 0xFF, 0xFF, 0xFF, 0xFF};
    WriteAll(fd, open_conversation, sizeof open_conversation);
    for (std::size_t at = 0; at < kChunk; at += 4096) {
      const std::uint8_t header[] = {1, 0x10, 0x10, 0x06, 0, 0};
      framed.insert(framed.end(), header, header + 6);
      framed.insert(framed.end(), chunk.begin() + at, chunk.begin() + at + 4096);
    }
    sim->WaitForCounter("bench", "channels.opened", 1);
  }
  const auto start = Clock::now();
  WriteJob(fd, [&](std::size_t) -> const std::vector<std::uint8_t>& {
    return packets ? framed : chunk;
  });
  const bool done = sim->WaitForCounter("bench", "sink.bytes", kBytes);
  const auto took = Clock::now() - start;
  close(fd);
  if (done) run.rate = MegabytesPerSecond(took);
  return run;
}

}  // namespace

int main() {
  const fs::path scratch = fs::temp_directory_path() / ("bench_sim-" + std::to_string(getpid()));
  const std::vector<std::uint8_t> data(kChunk, 0x5A);
  double plain = 0, sim = 0, packet = 0, start_ms = 1e9;
  for (int round = 0; round < kRounds; ++round) {
    plain = std::max(plain, PlainReader(data));
    const SimRun raw = SimSink(scratch / ("raw" + std::to_string(round)), false);
    sim = std::max(sim, raw.rate);
    start_ms = std::min(start_ms, raw.start_ms);
    packet = std::max(packet, SimSink(scratch / ("pkt" + std::to_string(round)), true).rate);
  }
  std::error_code ec;
  fs::remove_all(scratch, ec);
  std::printf("sim_sink=%.1f MB/s\n", sim);
  std::printf("plain_reader=%.1f MB/s\n", plain);
  std::printf("sim_to_plain_ratio=%.3f x\n", plain > 0 ? sim / plain : 0);
  std::printf("sim_packet_sink=%.1f MB/s\n", packet);
  std::printf("sim_start_ms=%.1f ms\n", start_ms);
  return sim > 0 && plain > 0 ? 0 : 1;
}
