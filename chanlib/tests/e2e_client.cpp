// A second client process for the end-to-end tests: it loads libchanlibNT.so on
// its own and uses the port the test process uses. It prints what it saw as
// "name=value" lines and exits 0 when everything went as it should.
//
//   e2e_client print PORT SIZE SEED        a job of SeededBytes(SIZE, SEED) on 0x10
//   e2e_client exchange PORT FIRST COUNT   COUNT management requests on 0x20, with
//                                          transactions FIRST.., each answered in turn
//   e2e_client sockets                     one socket; its handle, its identifier and
//                                          the identifier of socket 0
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "chanlib/cbt.h"
#include "e2e_support.h"
#include "tgx/device_packet.h"

namespace {

using tgx::e2e::Bytes;
namespace packet = tgx::agent::packet;

constexpr std::uint16_t kAnsweredOpcode = 5;
constexpr int kAnswerWaitMs = 10000;

long long MonotonicMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return now.tv_sec * 1000LL + now.tv_nsec / 1000000;
}

// With E2E_START_GATE naming a file, says it is ready (a file beside the gate)
// and waits, up to 30 s, for the test to create the gate: the clients' work
// then starts together.
void AwaitStartGate() {
  const char* gate = std::getenv("E2E_START_GATE");
  if (gate == nullptr) return;
  std::ofstream(std::string(gate) + ".ready." + std::to_string(getpid())).put('\n');
  for (int waited = 0; waited < 30000 && access(gate, F_OK) != 0; ++waited) usleep(1000);
}

int Print(const std::string& port, std::size_t size, std::uint32_t seed) {
  const auto connection = tgx::e2e::ConnectCbt(port, 0x10);
  std::printf("connect=%d\n", connection.connectResult);
  if (connection.connectResult != 0) return 1;
  AwaitStartGate();
  std::printf("start_ms=%lld\n", MonotonicMs());
  const Bytes job = tgx::e2e::SeededBytes(size, seed);
  std::size_t sent = 0;
  int failure = 0;
  while (sent < job.size() && failure == 0) {
    const int n =
        CBT_Send(connection.socket, job.data() + sent, static_cast<int>(job.size() - sent));
    if (n < 0) failure = n;
    if (n > 0) sent += static_cast<std::size_t>(n);
  }
  std::printf("end_ms=%lld\nsent=%zu\nsend_failure=%d\n", MonotonicMs(), sent, failure);
  const int closed = CBT_CloseSocket(connection.socket);
  std::printf("close=%d\n", closed);
  return sent == job.size() && closed == 0 ? 0 : 1;
}

// Takes whole management packets off the front of `stream`.
std::vector<Bytes> TakePackets(Bytes& stream) {
  std::vector<Bytes> packets;
  while (stream.size() >= packet::kHeaderSize) {
    const std::size_t length = packet::kHeaderSize + packet::PayloadLength(stream.data());
    if (stream.size() < length) break;
    packets.emplace_back(stream.begin(), stream.begin() + static_cast<long>(length));
    stream.erase(stream.begin(), stream.begin() + static_cast<long>(length));
  }
  return packets;
}

int Exchange(const std::string& port, std::uint16_t first, int count) {
  const auto connection = tgx::e2e::ConnectCbt(port, 0x20);
  std::printf("connect=%d\n", connection.connectResult);
  if (connection.connectResult != 0) return 1;
  CBT_SetTimeout(connection.socket, 200, 5000);
  AwaitStartGate();
  std::printf("start_ms=%lld\n", MonotonicMs());
  Bytes stream;
  int answered = 0;
  int wrong = 0;
  for (int i = 0; i < count && wrong == 0; ++i) {
    const auto transaction = static_cast<std::uint16_t>(first + i);
    const Bytes request = tgx::e2e::ManagementRequest(kAnsweredOpcode, transaction);
    if (CBT_Send(connection.socket, request.data(), static_cast<int>(request.size())) !=
        static_cast<int>(request.size())) {
      break;
    }
    const long long end = MonotonicMs() + kAnswerWaitMs;
    bool got = false;
    while (!got && wrong == 0 && MonotonicMs() < end) {
      std::uint8_t buffer[512];
      const int n = CBT_Recv(connection.socket, buffer, sizeof buffer);
      if (n < 0) {
        std::printf("recv_failure=%d\n", n);
        wrong = 1;
        break;
      }
      stream.insert(stream.end(), buffer, buffer + n);
      for (const Bytes& answer : TakePackets(stream)) {
        const bool mine = packet::Transaction(answer.data()) == transaction &&
                          packet::Opcode(answer.data()) == kAnsweredOpcode &&
                          (packet::Flags(answer.data()) & packet::kFlagAnswer) != 0;
        if (!mine) {
          std::printf("foreign_transaction=%u\n", packet::Transaction(answer.data()));
          wrong = 1;
        }
        got = got || mine;
      }
    }
    if (got) ++answered;
  }
  std::printf("end_ms=%lld\nanswers=%d\nleftover=%zu\n", MonotonicMs(), answered, stream.size());
  const int closed = CBT_CloseSocket(connection.socket);
  std::printf("close=%d\n", closed);
  return answered == count && stream.empty() && closed == 0 ? 0 : 1;
}

int Sockets() {
  const std::uint16_t socket = CBT_CreateSocket();
  std::printf("handle=%d\nid=%d\nid_of_0=%d\n", socket, CBT_GetSocketID(socket),
              CBT_GetSocketID(0));
  const int closed = CBT_CloseSocket(socket);
  return socket != 0xFFFF && closed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // what was printed survives a kill
  const std::vector<std::string> args(argv + 1, argv + argc);
  int status = 2;
  if (args.size() == 4 && args[0] == "print") {
    status = Print(args[1], std::stoul(args[2]), static_cast<std::uint32_t>(std::stoul(args[3])));
  } else if (args.size() == 4 && args[0] == "exchange") {
    status = Exchange(args[1], static_cast<std::uint16_t>(std::stoul(args[2])), std::stoi(args[3]));
  } else if (args.size() == 1 && args[0] == "sockets") {
    status = Sockets();
  } else {
    std::fprintf(stderr, "usage: e2e_client print|exchange|sockets ...\n");
  }
  std::fflush(stdout);
  return status;
}
