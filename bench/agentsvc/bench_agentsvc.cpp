// bench_agentsvc: the agent service's cost over plain loopback TCP.
//
// Runs a copy of agentsvc beside the test channel library (whose printer answers
// at once) and measures, next to a plain TCP echo of the same message sizes in
// the same run:
//   - the round trip of GetDataSizeInSocket (median, µs);
//   - Send throughput in 65535-byte requests (MB/s);
//   - 16 clients on one shared management channel, each doing 10,000
//     request/answer transactions: misrouted answers and the p50/p99 latency
//     added over two plain TCP round trips (a transaction is a Send and a Recv).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tgx/device_packet.h"
#include "tgx/socket.h"
#include "tgx/wire/agent_wire.h"

namespace {

using namespace tgx::agent;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr int kRoundTrips = 20000;
constexpr int kSends = 2000;
constexpr int kClients = 16;
constexpr int kTransactions = 10000;

double Micros(Clock::duration d) { return std::chrono::duration<double, std::micro>(d).count(); }

double Percentile(std::vector<double> v, double p) {
  std::sort(v.begin(), v.end());
  return v[static_cast<std::size_t>(p * (v.size() - 1))];
}

bool ReadExactly(int fd, std::uint8_t* out, std::size_t n) {
  while (n > 0) {
    const ssize_t got = ::recv(fd, out, n, 0);
    if (got <= 0) return false;
    out += got;
    n -= static_cast<std::size_t>(got);
  }
  return true;
}

Bytes Exchange(int fd, const Bytes& request, std::size_t reply_size) {
  ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  Bytes reply(reply_size);
  if (!ReadExactly(fd, reply.data(), reply_size)) reply.clear();
  return reply;
}

Bytes Request(std::uint32_t code, std::size_t size) {
  Bytes m(size, 0);
  WriteHeader(m.data(), static_cast<std::uint32_t>(size), code, 0);
  return m;
}

Bytes CreateSocketRequest(std::uint16_t channel, const char* port) {
  Bytes m = Request(code::kCreateSocket, create_socket::kRequestSize);
  StoreLe16(m.data() + create_socket::kDescriptor + descriptor::kServiceChannel, channel);
  std::memcpy(m.data() + create_socket::kDescriptor + descriptor::kPortName, port,
              std::strlen(port));
  return m;
}

Bytes SendRequest(const Bytes& data) {
  Bytes m = Request(code::kSend, data.size() + send::kOverhead);
  StoreLe32(m.data() + send::kCount, static_cast<std::uint32_t>(data.size()));
  std::copy(data.begin(), data.end(), m.begin() + send::kData);
  return m;
}

// Opens a channel socket on the service; -1 on failure.
int OpenChannel(std::uint16_t port, std::uint16_t channel, const char* name) {
  const int fd = tgx::ConnectLoopback(port);
  if (fd < 0) return -1;
  const Bytes created = Exchange(fd, CreateSocketRequest(channel, name), create_socket::kReplySize);
  const Bytes connected = Exchange(fd, Request(code::kConnect, connect::kRequestSize), 12);
  if (created.empty() || connected.empty() || MessageResult(created.data()) != 0 ||
      MessageResult(connected.data()) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

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

// A plain TCP peer: reads `request` bytes, answers `reply` bytes, until closed.
class EchoServer {
 public:
  EchoServer(std::size_t request, std::size_t reply) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof(a));
    ::listen(listener_, 1);
    socklen_t len = sizeof(a);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this, request, reply] {
      const int fd = ::accept(listener_, nullptr, nullptr);
      const int one = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
      Bytes in(request), out(reply, 0);
      while (ReadExactly(fd, in.data(), in.size())) {
        ::send(fd, out.data(), out.size(), MSG_NOSIGNAL);
      }
      ::close(fd);
    });
  }
  ~EchoServer() {
    thread_.join();
    ::close(listener_);
  }
  std::uint16_t port() const { return port_; }

 private:
  int listener_;
  std::uint16_t port_;
  std::thread thread_;
};

// Median round trip (µs) of `request` answered by `reply_size` bytes on fd.
double MedianRoundTrip(int fd, const Bytes& request, std::size_t reply_size) {
  std::vector<double> samples;
  samples.reserve(kRoundTrips);
  for (int i = 0; i < kRoundTrips; ++i) {
    const auto start = Clock::now();
    Exchange(fd, request, reply_size);
    samples.push_back(Micros(Clock::now() - start));
  }
  return Percentile(samples, 0.5);
}

double SendThroughput(int fd, const Bytes& request) {
  const auto start = Clock::now();
  for (int i = 0; i < kSends; ++i) Exchange(fd, request, send::kReplySize);
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  return kSends * static_cast<double>(send::kMaxCount) / seconds / 1e6;
}

struct Service {
  fs::path dir;
  std::uint16_t port;
  pid_t pid = -1;

  bool Start() {
    char pattern[] = "/tmp/bench-agentsvc-XXXXXX";
    if (!::mkdtemp(pattern)) return false;
    dir = pattern;
    const fs::path bin = fs::read_symlink("/proc/self/exe").parent_path();
    fs::copy_file(bin / "agentsvc", dir / "agentsvc");
    fs::copy_file(bin / "libtgx_platform.so", dir / "libtgx_platform.so");
    const fs::path libs = fs::path(TGX_AGENTSVC_TESTLIBS) / "full";
    fs::create_symlink(libs / "libchanlibNT.so", dir / "libchanlibNT.so");
    fs::create_symlink(libs / "libppdtlib.so", dir / "libppdtlib.so");
    fs::create_directories(dir / "run");
    fs::create_directories(dir / "registry");
    port = FreePort();
    setenv("TGX_AGENT_PORT", std::to_string(port).c_str(), 1);
    setenv("TGX_SERVICE_MODE", "background", 1);
    setenv("TGX_RUNTIME_DIR", (dir / "run").c_str(), 1);
    setenv("TGX_REGISTRY_DIR", (dir / "registry").c_str(), 1);
    unsetenv("TGX_TEST_CHANLIB_LOG");
    pid = ::fork();
    if (pid == 0) {
      const std::string program = (dir / "agentsvc").string();
      ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    for (int i = 0; i < 500; ++i) {
      if (const int fd = tgx::ConnectLoopback(port); fd >= 0) {
        ::close(fd);
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
  }

  ~Service() {
    if (pid > 0) {
      ::kill(pid, SIGTERM);
      ::waitpid(pid, nullptr, 0);
    }
    std::error_code ec;
    if (!dir.empty()) fs::remove_all(dir, ec);
  }
};

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  Service service;
  if (!service.Start()) {
    std::fprintf(stderr, "bench_agentsvc: the service did not start\n");
    return 1;
  }

  // Round trip of GetDataSizeInSocket (20 bytes each way).
  const Bytes size_request = [] {
    Bytes m = Request(code::kGetDataSizeInSocket, get_data_size::kRequestSize);
    return m;
  }();
  const int job = OpenChannel(service.port, kPrintJobChannel, "BENCH1");
  if (job < 0) return 1;
  const double service_rt = MedianRoundTrip(job, size_request, get_data_size::kReplySize);
  double tcp_rt;
  {
    EchoServer echo(get_data_size::kRequestSize, get_data_size::kReplySize);
    const int fd = tgx::ConnectLoopback(echo.port());
    tcp_rt = MedianRoundTrip(fd, size_request, get_data_size::kReplySize);
    ::close(fd);
  }
  std::printf("agentsvc_roundtrip_median=%.1f us\n", service_rt);
  std::printf("tcp_roundtrip_median=%.1f us\n", tcp_rt);
  std::printf("agentsvc_roundtrip_ratio=%.2f x\n", service_rt / tcp_rt);

  // Send throughput in 65535-byte requests.
  const Bytes big = SendRequest(Bytes(send::kMaxCount, 0x5A));
  const double service_mbs = SendThroughput(job, big);
  ::close(job);
  double tcp_mbs;
  {
    EchoServer echo(big.size(), send::kReplySize);
    const int fd = tgx::ConnectLoopback(echo.port());
    tcp_mbs = SendThroughput(fd, big);
    ::close(fd);
  }
  std::printf("agentsvc_send_throughput=%.1f MB/s\n", service_mbs);
  std::printf("tcp_send_throughput=%.1f MB/s\n", tcp_mbs);

  // 16 clients sharing one management channel.
  std::vector<int> clients;
  for (int c = 0; c < kClients; ++c) {
    const int fd = OpenChannel(service.port, kSharedManagementChannel, "BENCH2");
    if (fd < 0) return 1;
    clients.push_back(fd);
  }
  std::atomic<long> misrouted{0}, failed{0};
  std::vector<std::vector<double>> latencies(kClients);
  std::vector<std::thread> threads;
  const Bytes recv_request = [] {
    Bytes m = Request(code::kRecv, recv::kRequestSize);
    StoreLe32(m.data() + recv::kLargestCount, recv::kDataCapacity);
    return m;
  }();
  for (int c = 0; c < kClients; ++c) {
    threads.emplace_back([&, c] {
      const int fd = clients[c];
      Bytes pending;  // answers received but not yet matched
      for (int t = 0; t < kTransactions; ++t) {
        const auto id = static_cast<std::uint16_t>(1 + t % 4000);
        Bytes p(packet::kHeaderSize + 4, 0);
        packet::StoreBe16(p.data() + packet::kMagic, packet::kMagicValue);
        p[packet::kVersion] = packet::kVersionValue;
        p[packet::kFlags] = packet::kFlagExpectsAnswer;
        packet::StoreBe16(p.data() + packet::kOpcode, 3);
        packet::SetTransaction(p.data(), id);
        packet::SetPayloadLength(p.data(), 4);
        StoreLe32(p.data() + packet::kHeaderSize, static_cast<std::uint32_t>(c));
        const auto start = Clock::now();
        const Bytes sent = Exchange(fd, SendRequest(p), send::kReplySize);
        if (sent.empty() || MessageResult(sent.data()) != 0) {
          ++failed;
          continue;
        }
        bool answered = false;
        while (!answered) {
          const Bytes reply = Exchange(fd, recv_request, recv::kReplySize);
          if (reply.empty() || MessageResult(reply.data()) != 0) {
            ++failed;
            break;
          }
          const std::uint32_t n = LoadLe32(reply.data() + recv::kCount);
          pending.insert(pending.end(), reply.begin() + recv::kData,
                         reply.begin() + recv::kData + n);
          while (pending.size() >= packet::kHeaderSize + 4) {
            const std::uint8_t* a = pending.data();
            if (LoadLe32(a + packet::kHeaderSize) != static_cast<std::uint32_t>(c)) ++misrouted;
            answered |= packet::Transaction(a) == id;
            pending.erase(pending.begin(), pending.begin() + packet::kHeaderSize + 4);
          }
        }
        latencies[c].push_back(Micros(Clock::now() - start));
      }
    });
  }
  for (auto& t : threads) t.join();
  for (int fd : clients) ::close(fd);
  std::vector<double> all;
  for (auto& l : latencies) all.insert(all.end(), l.begin(), l.end());
  std::printf("shared_channel_transactions=%zu count\n", all.size());
  std::printf("shared_channel_misrouted=%ld count\n", misrouted.load());
  std::printf("shared_channel_failed=%ld count\n", failed.load());
  if (!all.empty()) {
    std::printf("shared_channel_added_latency_p50=%.1f us\n", Percentile(all, 0.5) - 2 * tcp_rt);
    std::printf("shared_channel_added_latency_p99=%.1f us\n", Percentile(all, 0.99) - 2 * tcp_rt);
  }
  return misrouted.load() == 0 && failed.load() == 0 ? 0 : 1;
}
