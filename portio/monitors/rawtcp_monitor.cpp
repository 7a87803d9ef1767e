// Raw TCP port monitor (AppSocket): each document is one TCP connection to the
// printer, job data goes out as it is, whatever the printer sends back is read.
//
// A port's settings are values of its registry key (Monitors\<monitor>\Ports\<port>):
//   HostName       REG_SZ     the printer's host name or address (required)
//   PortNumber     REG_DWORD  TCP port, 9100 when absent
//   DeviceIdQuery  REG_SZ or REG_BINARY  bytes that make the printer answer with
//                  its IEEE 1284 device ID; absent: the port has no device ID
// The answer is taken as it arrives until the printer sends a form feed or stays
// quiet for 200 ms (at most 1024 bytes, 3 s), then read as a device ID.
#include <array>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device_id.h"
#include "io_timeouts.h"
#include "monitor_entry.h"
#include "monitor_registry.h"
#include "poll_wait.h"
#include "stream_socket.h"

namespace tgx::portio {
namespace {

constexpr WORD kDefaultPort = 9100;
constexpr DWORD kConnectTimeout = 5000;
constexpr DWORD kIdQuietTime = 200;
constexpr DWORD kIdTotalTime = 3000;
constexpr BYTE kFormFeed = 0x0C;

struct RawTcpPort {
  std::string host;
  WORD port = kDefaultPort;
  std::vector<BYTE> deviceIdQuery;
  VI1284_COMMTIMEOUTS timeouts{0, 0, 3000, 0, 5000};
  StreamSocket connection;
};

RawTcpPort* PortOf(PORTMON_HANDLE handle) { return static_cast<RawTcpPort*>(handle); }

// A value of the port's key: nullopt when absent, the bytes otherwise.
std::optional<std::vector<BYTE>> ReadValue(const RegKey& key, const char* name, DWORD* type) {
  DWORD size = 0;
  if (RegQueryValueExA(key.get(), name, nullptr, type, nullptr, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::vector<BYTE> data(size);
  if (RegQueryValueExA(key.get(), name, nullptr, type, data.data(), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  data.resize(size);
  // A stored string carries its terminator; the setting is the text before it.
  if (*type == REG_SZ) {
    while (!data.empty() && data.back() == 0) data.pop_back();
  }
  return data;
}

int Open(const std::string& name, PORTMON_HANDLE* handle) {
  if (!handle) return MonitorFail(ERROR_INVALID_PARAMETER);
  const RegKey key = OpenPortSettings(name);
  if (!key) return 0;
  auto port = std::make_unique<RawTcpPort>();
  DWORD type = REG_NONE;
  const auto host = ReadValue(key, "HostName", &type);
  if (!host || type != REG_SZ || host->empty()) return MonitorFail(ERROR_INVALID_DATA);
  port->host.assign(host->begin(), host->end());
  if (const auto number = ReadValue(key, "PortNumber", &type)) {
    DWORD value = 0;
    if (type != REG_DWORD || number->size() != sizeof value) return MonitorFail(ERROR_INVALID_DATA);
    std::memcpy(&value, number->data(), sizeof value);
    if (value == 0 || value > 0xFFFF) return MonitorFail(ERROR_INVALID_DATA);
    port->port = static_cast<WORD>(value);
  }
  if (auto query = ReadValue(key, "DeviceIdQuery", &type)) port->deviceIdQuery = std::move(*query);
  *handle = port.release();
  return 1;
}

int StartDoc(PORTMON_HANDLE handle) {
  RawTcpPort* port = PortOf(handle);
  DWORD error = ERROR_SUCCESS;
  auto connection = StreamSocket::ConnectTcp(port->host, port->port, kConnectTimeout, &error);
  if (!connection) return MonitorFail(error);
  port->connection = std::move(*connection);
  return 1;
}

int Write(PORTMON_HANDLE handle, uint8_t* buffer, uint32_t size, uint32_t* written) {
  RawTcpPort* port = PortOf(handle);
  *written = 0;
  if (!port->connection) return MonitorFail(ERROR_DEVICE_NOT_CONNECTED);
  const IoResult result = port->connection.Send(
      {buffer, size}, TotalTimeout(port->timeouts.WriteTotalTimeoutConstant,
                                   port->timeouts.WriteTotalTimeoutMultiplier, size));
  *written = static_cast<uint32_t>(result.bytes);
  if (result.ok() || (result.error == ERROR_OPERATION_ABORTED && result.bytes != 0)) return 1;
  return MonitorFail(result.error);
}

// What the printer sent within the read time-out; nothing at all is a success.
int Read(PORTMON_HANDLE handle, uint8_t* buffer, uint32_t size, uint32_t* read) {
  RawTcpPort* port = PortOf(handle);
  *read = 0;
  if (!port->connection) return MonitorFail(ERROR_DEVICE_NOT_CONNECTED);
  if (size == 0) return 1;
  const IoResult result = port->connection.ReceiveSome(
      {buffer, size}, TotalTimeout(port->timeouts.ReadTotalTimeoutConstant,
                                   port->timeouts.ReadTotalTimeoutMultiplier, size));
  *read = static_cast<uint32_t>(result.bytes);
  return result.ok() || result.error == ERROR_OPERATION_ABORTED ? 1 : MonitorFail(result.error);
}

int EndDoc(PORTMON_HANDLE handle) {
  PortOf(handle)->connection.Close();
  return 1;
}

int Close(PORTMON_HANDLE handle) {
  delete PortOf(handle);
  return 1;
}

// The printer's answer to the device-ID query.
std::optional<std::string> QueryDeviceId(RawTcpPort& port) {
  const IoResult sent = port.connection.Send(port.deviceIdQuery, kConnectTimeout);
  if (!sent.ok()) {
    SetLastError(sent.error);
    return std::nullopt;
  }
  std::array<BYTE, kMaxDeviceIdBytes> answer;
  std::size_t used = 0;
  const Deadline deadline(kIdTotalTime);
  while (used < answer.size()) {
    const int left = deadline.RemainingForPoll();
    if (left == 0) break;
    const IoResult part = port.connection.ReceiveSome(
        std::span(answer).subspan(used), used == 0 ? static_cast<DWORD>(left) : kIdQuietTime);
    used += part.bytes;
    if (!part.ok()) {
      if (part.error != ERROR_OPERATION_ABORTED) {
        SetLastError(part.error);
        return std::nullopt;
      }
      break;
    }
    if (std::memchr(answer.data(), kFormFeed, used)) break;
  }
  if (used == 0) {
    SetLastError(ERROR_TIMEOUT);
    return std::nullopt;
  }
  std::span<const BYTE> text(answer.data(), used);
  if (const void* end = std::memchr(answer.data(), kFormFeed, used)) {
    text = text.first(static_cast<const BYTE*>(end) - answer.data());
  }
  return DeviceIdText(text);
}

int GetPrinterData(PORTMON_HANDLE handle, uint32_t controlId, const uint8_t*, uint32_t,
                   uint8_t* output, uint32_t outputSize, uint32_t* returned) {
  RawTcpPort* port = PortOf(handle);
  *returned = 0;
  if (controlId != VI1284_IOCTL_PAR_QUERY_DEVICE_ID && controlId != VI1284_IOCTL_DEVICE_ID_9X) {
    return MonitorFail(ERROR_INVALID_FUNCTION);
  }
  if (port->deviceIdQuery.empty()) return MonitorFail(ERROR_NOT_SUPPORTED);
  if (!port->connection) return MonitorFail(ERROR_DEVICE_NOT_CONNECTED);
  const auto id = QueryDeviceId(*port);
  if (!id) return 0;
  *returned = CopyDeviceId(*id, {output, outputSize});
  return 1;
}

int SetTimeouts(PORTMON_HANDLE handle, const VI1284_COMMTIMEOUTS& timeouts) {
  PortOf(handle)->timeouts = timeouts;
  return 1;
}

constexpr MonitorOperations kRawTcp = {Open,   StartDoc, Write,          Read,
                                       EndDoc, Close,    GetPrinterData, SetTimeouts};

}  // namespace
}  // namespace tgx::portio

TGX_PORT_MONITOR_ENTRIES(tgx::portio::kRawTcp)
