// Costs of the 1394 transport against a simulated printer, beside the raw
// cross-process event round trip of the platform layer measured in the same
// run (a request is two such event hand-overs plus the worker's device call):
//   event_roundtrip_median         one process sets an event, another answers with a second
//   ppdt_request_roundtrip_median  PPDT_GetDeviceID: library, request block, worker, device
//   ppdt_request_to_event_ratio    the second over the first
//   ppdt_jobwrite_16k_median       one PPDT_JobWrite of 16 KiB
//   ppdt_jobwrite_throughput       job data through PPDT_JobWrite in 16 KiB requests, then
//                                  PPDT_JobFlush
// Runs in a private runtime and device directory, which it removes at the end.
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "printersim/client.h"
#include "tgx/kobj.h"
#include "tgx/ppdt.h"

namespace {

using namespace tgx;

constexpr int kEventRoundTrips = 20000;
constexpr int kRequestRoundTrips = 20000;
constexpr std::size_t kJobBytes = 256u << 20;
constexpr std::uint32_t kChunk = 16384;
constexpr const char* kPing = "Global\\bench-ppdt-ping";
constexpr const char* kPong = "Global\\bench-ppdt-pong";

double NowNs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

double Median(std::vector<double>& samples) {
  std::nth_element(samples.begin(), samples.begin() + samples.size() / 2, samples.end());
  return samples[samples.size() / 2];
}

// The median event round trip in microseconds, or a negative value on failure.
double EventRoundTripUs() {
  Handle ping = CreateEventA(nullptr, FALSE, FALSE, kPing);
  Handle pong = CreateEventA(nullptr, FALSE, FALSE, kPong);
  if (!ping || !pong) return -1;
  const pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    Handle in = OpenEventA(EVENT_ALL_ACCESS, FALSE, kPing);
    Handle out = OpenEventA(EVENT_ALL_ACCESS, FALSE, kPong);
    for (int i = 0; i < kEventRoundTrips; ++i) {
      if (WaitForSingleObject(in, INFINITE) != WAIT_OBJECT_0 || !SetEvent(out)) _exit(1);
    }
    _exit(0);
  }
  std::vector<double> samples;
  samples.reserve(kEventRoundTrips);
  bool ok = true;
  for (int i = 0; i < kEventRoundTrips && ok; ++i) {
    const double start = NowNs();
    ok = SetEvent(ping) && WaitForSingleObject(pong, INFINITE) == WAIT_OBJECT_0;
    samples.push_back(NowNs() - start);
  }
  int status = 0;
  waitpid(child, &status, 0);
  if (!ok || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return Median(samples) / 1000;
}

bool Measure() {
  const double eventUs = EventRoundTripUs();
  if (eventUs < 0) return false;

  PPDT_HANDLE port = nullptr;
  if (PPDT_OpenPort("BENCH1394", &port) != PPDT_OK) return false;
  char id[64];
  std::uint32_t count = 0;
  std::vector<double> samples;
  samples.reserve(kRequestRoundTrips);
  for (int i = 0; i < kRequestRoundTrips; ++i) {
    const double start = NowNs();
    if (PPDT_GetDeviceID(port, id, sizeof id, &count) != PPDT_OK) return false;
    samples.push_back(NowNs() - start);
  }
  const double requestUs = Median(samples) / 1000;

  if (PPDT_JobOpen(port) != PPDT_OK) return false;
  std::vector<std::uint8_t> chunk(kChunk);
  for (std::size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<std::uint8_t>(i * 7);
  samples.clear();
  const double start = NowNs();
  for (std::size_t sent = 0; sent < kJobBytes; sent += count) {
    const double writeStart = NowNs();
    if (PPDT_JobWrite(port, chunk.data(), kChunk, &count) != PPDT_OK || count == 0) return false;
    samples.push_back(NowNs() - writeStart);
  }
  if (PPDT_JobFlush(port) != PPDT_OK) return false;
  const double seconds = (NowNs() - start) / 1e9;
  if (PPDT_JobClose(port) != PPDT_OK || PPDT_ClosePort(port) != PPDT_OK) return false;

  std::printf("event_roundtrip_median=%.2f us\n", eventUs);
  std::printf("ppdt_request_roundtrip_median=%.2f us\n", requestUs);
  std::printf("ppdt_request_to_event_ratio=%.2f x\n", requestUs / eventUs);
  std::printf("ppdt_jobwrite_16k_median=%.2f us\n", Median(samples) / 1000);
  std::printf("ppdt_jobwrite_throughput=%.1f MB/s\n",
              static_cast<double>(kJobBytes) / 1e6 / seconds);
  return true;
}

}  // namespace

int main() {
  char pattern[] = "/tmp/bench-ppdt-XXXXXX";
  if (!mkdtemp(pattern)) return 1;
  const std::filesystem::path scratch = pattern;
  setenv("TGX_RUNTIME_DIR", (scratch / "run").c_str(), 1);
  setenv("TGX_DEVICE_ROOT", (scratch / "root").c_str(), 1);
  std::filesystem::create_directories(scratch / "run");
  std::filesystem::create_directories(scratch / "root");

  bool ok = false;
  {
    printersim::StartOptions options;
    options.config_text =
        "[printer bench]\nport = none\nppdt = BENCH1394\ndevice_id = MFG:Bench;CMD:PJL;\n"
        "ppdt_flush_delay_ms = 0\n";
    std::string error;
    auto sim = printersim::Simulator::Start(options, &error);
    if (!sim) {
      std::fprintf(stderr, "bench_ppdt: printersim did not start: %s\n", error.c_str());
    } else {
      ok = Measure();
      if (!ok) std::fprintf(stderr, "bench_ppdt: a request failed\n");
    }
    PPDT_Terminate();
  }
  std::error_code ignored;
  std::filesystem::remove_all(scratch, ignored);
  return ok ? 0 : 1;
}
