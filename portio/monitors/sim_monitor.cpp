// Simulator port monitor: reaches a printer played by printersim through the
// simulator's monitor socket, one connection per open port, the port name being
// the printer's name. The socket is $TGX_PRINTERSIM_MONITOR, else
// $TGX_DEVICE_ROOT/run/printersim/monitor. Framing: tgx/wire/sim_monitor.h.
#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device_file.h"
#include "device_id.h"
#include "io_timeouts.h"
#include "monitor_entry.h"
#include "poll_wait.h"
#include "stream_socket.h"
#include "tgx/wire/byte_order.h"
#include "tgx/wire/sim_monitor.h"

namespace tgx::portio {
namespace {

namespace wire = ::tgx::wire;
namespace protocol = ::tgx::wire::sim_monitor;

// How long past a request's own time-out its reply may take before the
// simulator counts as gone.
constexpr DWORD kReplyGrace = 5000;
// The largest data a write frame carries, and a read asks for.
constexpr std::size_t kMaxWriteChunk = protocol::kMaxFrame -
                                       (protocol::kRequestHeaderSize - protocol::kLengthSize) -
                                       protocol::kWriteDataOffset;
constexpr std::size_t kMaxReadChunk =
    protocol::kMaxFrame - (protocol::kReplyHeaderSize - protocol::kLengthSize);

struct Reply {
  DWORD status = ERROR_SUCCESS;
  std::vector<BYTE> payload;
};

std::string MonitorSocketPath() {
  if (const char* path = std::getenv("TGX_PRINTERSIM_MONITOR"); path && *path) return path;
  return DevicePath("/run/printersim/monitor");
}

class SimPort {
 public:
  explicit SimPort(StreamSocket connection) : connection_(std::move(connection)) {}

  VI1284_COMMTIMEOUTS timeouts{0, 0, 3000, 0, 5000};

  // One request and its reply; nullopt (last error set) when the simulator is
  // gone or answered out of turn: the connection is then closed.
  std::optional<Reply> Call(protocol::Operation operation, std::span<const BYTE> head,
                            std::span<const BYTE> data, DWORD timeoutMs) {
    if (!connection_) return Lost(ERROR_DEVICE_NOT_CONNECTED);
    std::array<BYTE, protocol::kRequestHeaderSize + 8> frame{};
    const std::size_t length =
        protocol::kRequestHeaderSize - protocol::kLengthSize + head.size() + data.size();
    wire::StoreLe32(frame.data(), static_cast<std::uint32_t>(length));
    frame[protocol::kLengthSize] = operation;
    std::copy(head.begin(), head.end(), frame.begin() + protocol::kRequestHeaderSize);
    const DWORD limit = TotalTimeout(kReplyGrace, 1, timeoutMs);
    IoResult sent = connection_.Send(
        std::span<const BYTE>(frame).first(protocol::kRequestHeaderSize + head.size()), limit);
    if (sent.ok() && !data.empty()) sent = connection_.Send(data, limit);
    if (!sent.ok()) return Lost(sent.error);

    std::array<BYTE, protocol::kReplyHeaderSize> header;
    IoResult got = connection_.ReceiveAll(header, limit);
    if (!got.ok()) return Lost(got.error);
    const std::uint32_t replyLength = wire::LoadLe32(header.data());
    if (header[protocol::kLengthSize] != (operation | protocol::kReplyBit) ||
        replyLength < protocol::kReplyHeaderSize - protocol::kLengthSize ||
        replyLength > protocol::kMaxFrame) {
      return Lost(ERROR_INVALID_DATA);
    }
    Reply reply;
    reply.status = wire::LoadLe32(header.data() + protocol::kLengthSize + 1);
    reply.payload.resize(replyLength - (protocol::kReplyHeaderSize - protocol::kLengthSize));
    got = connection_.ReceiveAll(reply.payload, limit);
    if (!got.ok()) return Lost(got.error);
    return reply;
  }

  void Close() { connection_.Close(); }

 private:
  std::optional<Reply> Lost(DWORD error) {
    connection_.Close();
    SetLastError(error == ERROR_OPERATION_ABORTED ? ERROR_DEVICE_NOT_CONNECTED : error);
    return std::nullopt;
  }

  StreamSocket connection_;
};

SimPort* PortOf(PORTMON_HANDLE handle) { return static_cast<SimPort*>(handle); }

std::array<BYTE, 4> Le32(std::uint32_t value) {
  std::array<BYTE, 4> bytes;
  wire::StoreLe32(bytes.data(), value);
  return bytes;
}

int Open(const std::string& name, PORTMON_HANDLE* handle) {
  if (!handle) return MonitorFail(ERROR_INVALID_PARAMETER);
  DWORD error = ERROR_SUCCESS;
  auto connection = StreamSocket::ConnectUnix(MonitorSocketPath(), &error);
  if (!connection) return MonitorFail(error);
  auto port = std::make_unique<SimPort>(std::move(*connection));
  const auto reply =
      port->Call(protocol::kOpen, {}, {reinterpret_cast<const BYTE*>(name.data()), name.size()},
                 ScaledTimeout(kReplyGrace));
  if (!reply) return 0;
  if (reply->status != ERROR_SUCCESS) return MonitorFail(reply->status);
  *handle = port.release();
  return 1;
}

// A document is the open connection itself: the simulator ends the job when
// the port closes.
int StartDoc(PORTMON_HANDLE) { return 1; }
int EndDoc(PORTMON_HANDLE) { return 1; }

int Write(PORTMON_HANDLE handle, uint8_t* buffer, uint32_t size, uint32_t* written) {
  SimPort* port = PortOf(handle);
  *written = 0;
  const Deadline deadline(TotalTimeout(port->timeouts.WriteTotalTimeoutConstant,
                                       port->timeouts.WriteTotalTimeoutMultiplier, size));
  std::size_t done = 0;
  do {
    const std::size_t chunk = std::min<std::size_t>(size - done, kMaxWriteChunk);
    const int left = deadline.RemainingForPoll();
    const DWORD timeout = left < 0 ? INFINITE : static_cast<DWORD>(left);
    const auto reply = port->Call(protocol::kWrite, Le32(timeout), {buffer + done, chunk}, timeout);
    if (!reply) return 0;
    const std::size_t taken =
        reply->payload.size() >= protocol::kWriteReplyPayloadSize
            ? std::min<std::size_t>(wire::LoadLe32(reply->payload.data()), chunk)
            : 0;
    done += taken;
    *written = static_cast<uint32_t>(done);
    if (reply->status != ERROR_SUCCESS) {
      // A time-out after some data went through is a short, successful write.
      return reply->status == ERROR_TIMEOUT && done != 0 ? 1 : MonitorFail(reply->status);
    }
  } while (done < size);
  return 1;
}

// What the printer sent within the read time-out; nothing at all is a success.
int Read(PORTMON_HANDLE handle, uint8_t* buffer, uint32_t size, uint32_t* read) {
  SimPort* port = PortOf(handle);
  *read = 0;
  if (size == 0) return 1;
  const DWORD timeout = TotalTimeout(port->timeouts.ReadTotalTimeoutConstant,
                                     port->timeouts.ReadTotalTimeoutMultiplier, size);
  std::array<BYTE, protocol::kReadPayloadSize> request;
  wire::StoreLe32(request.data() + protocol::kReadMaxOffset,
                  static_cast<std::uint32_t>(std::min<std::size_t>(size, kMaxReadChunk)));
  wire::StoreLe32(request.data() + protocol::kReadTimeoutOffset, timeout);
  const auto reply = port->Call(protocol::kRead, request, {}, timeout);
  if (!reply) return 0;
  if (reply->status == ERROR_TIMEOUT) return 1;
  if (reply->status != ERROR_SUCCESS) return MonitorFail(reply->status);
  const std::size_t n = std::min<std::size_t>(reply->payload.size(), size);
  std::copy_n(reply->payload.begin(), n, buffer);
  *read = static_cast<uint32_t>(n);
  return 1;
}

int Close(PORTMON_HANDLE handle) {
  std::unique_ptr<SimPort> port(PortOf(handle));
  port->Call(protocol::kClose, {}, {}, 0);
  return 1;
}

int GetPrinterData(PORTMON_HANDLE handle, uint32_t controlId, const uint8_t*, uint32_t,
                   uint8_t* output, uint32_t outputSize, uint32_t* returned) {
  *returned = 0;
  if (controlId != VI1284_IOCTL_PAR_QUERY_DEVICE_ID && controlId != VI1284_IOCTL_DEVICE_ID_9X) {
    return MonitorFail(ERROR_INVALID_FUNCTION);
  }
  const auto reply = PortOf(handle)->Call(protocol::kGetDeviceId, {}, {}, 0);
  if (!reply) return 0;
  if (reply->status != ERROR_SUCCESS) return MonitorFail(reply->status);
  *returned = CopyDeviceId(DeviceIdText(reply->payload), {output, outputSize});
  return 1;
}

int SetTimeouts(PORTMON_HANDLE handle, const VI1284_COMMTIMEOUTS& timeouts) {
  PortOf(handle)->timeouts = timeouts;
  return 1;
}

constexpr MonitorOperations kSim = {Open,   StartDoc, Write,          Read,
                                    EndDoc, Close,    GetPrinterData, SetTimeouts};

}  // namespace
}  // namespace tgx::portio

TGX_PORT_MONITOR_ENTRIES(tgx::portio::kSim)
