// The simulator backend: "\\.\<name>" is the Unix socket
// $TGX_DEVICE_ROOT/dev/ppdt/<name> of printersim; each device control is one
// request and one answer on it (framing in tgx/wire/ppdt_device.h).
// Connecting opens the device; the simulator answers the connection with the
// outcome of the open.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "device.h"
#include "tgx/wire/ppdt_device.h"

namespace tgx::ppdt {
namespace {

namespace wire = ::tgx::wire::ppdt_device;

class SocketDevice final : public Device {
 public:
  explicit SocketDevice(int fd) : fd_(fd) {}
  ~SocketDevice() override { ::close(fd_); }
  SocketDevice(const SocketDevice&) = delete;
  SocketDevice& operator=(const SocketDevice&) = delete;

  BOOL Control(DWORD controlCode, const void* input, DWORD inputLength, void* output,
               DWORD outputLength, DWORD* returned) override {
    *returned = 0;
    if (inputLength > wire::kMaxBuffer || outputLength > wire::kMaxBuffer) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    wire::RequestHeader header;
    header.control_code = controlCode;
    header.input_length = inputLength;
    header.output_length = outputLength;
    header.output_data_length = wire::SendsOutputBuffer(controlCode) ? outputLength : 0;
    std::vector<std::uint8_t> request(wire::kRequestHeaderSize + inputLength +
                                      header.output_data_length);
    wire::WriteRequestHeader(request.data(), header);
    if (inputLength) std::memcpy(&request[wire::kRequestHeaderSize], input, inputLength);
    if (header.output_data_length) {
      std::memcpy(&request[wire::kRequestHeaderSize + inputLength], output,
                  header.output_data_length);
    }
    if (!WriteAll(request.data(), request.size())) return Gone();

    wire::AnswerHeader answer;
    if (!ReadAnswer(answer)) return Gone();
    // A device never returns more than it was asked for; an answer that does
    // is a broken device, not data to copy.
    if (answer.data_length > outputLength) return Gone();
    if (answer.data_length && !ReadAll(output, answer.data_length)) return Gone();
    if (answer.status != ERROR_SUCCESS) {
      SetLastError(answer.status);
      return FALSE;
    }
    *returned = answer.bytes_returned;
    return TRUE;
  }

  // The answer to the connection: the outcome of the open.
  BOOL AwaitOpen() {
    wire::AnswerHeader answer;
    if (!ReadAnswer(answer) || answer.data_length != 0) {
      SetLastError(ERROR_DEV_NOT_EXIST);
      return FALSE;
    }
    if (answer.status != ERROR_SUCCESS) {
      SetLastError(answer.status);
      return FALSE;
    }
    return TRUE;
  }

 private:
  // The peer went away: the device is gone.
  BOOL Gone() {
    SetLastError(ERROR_DEV_NOT_EXIST);
    return FALSE;
  }

  bool WriteAll(const void* data, std::size_t size) {
    auto* at = static_cast<const char*>(data);
    while (size) {
      const ssize_t n = ::send(fd_, at, size, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      at += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }

  bool ReadAnswer(wire::AnswerHeader& answer) {
    std::uint8_t header[wire::kAnswerHeaderSize];
    return ReadAll(header, sizeof header) && wire::ReadAnswerHeader(header, answer);
  }

  bool ReadAll(void* data, std::size_t size) {
    auto* at = static_cast<char*>(data);
    while (size) {
      const ssize_t n = ::recv(fd_, at, size, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      at += n;
      size -= static_cast<std::size_t>(n);
    }
    return true;
  }

  int fd_;
};

// The socket path of a device name; empty when the name cannot be a file name.
std::string SocketPathOf(std::string_view name) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string_view::npos ||
      name.find('\0') != std::string_view::npos) {
    return {};
  }
  const char* root = std::getenv("TGX_DEVICE_ROOT");
  std::string path = (root && *root) ? root : "/";
  if (path.back() != '/') path += '/';
  path += "dev/ppdt/";
  path += name;
  return path;
}

class SimulatorBackend final : public DeviceBackend {
 public:
  std::unique_ptr<Device> Open(std::string_view path) override {
    if (!path.starts_with(kDevicePathPrefix)) {
      SetLastError(ERROR_FILE_NOT_FOUND);
      return nullptr;
    }
    const std::string socketPath = SocketPathOf(path.substr(kDevicePathPrefix.size()));
    if (socketPath.empty()) {
      SetLastError(ERROR_INVALID_NAME);
      return nullptr;
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path) {
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return nullptr;
    }
    socketPath.copy(address.sun_path, socketPath.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      SetLastErrorFromErrno();
      return nullptr;
    }
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      const int err = errno;
      ::close(fd);
      // No simulator behind the name: the device does not exist.
      SetLastError(err == ENOENT || err == ECONNREFUSED ? ERROR_FILE_NOT_FOUND
                                                        : Win32ErrorFromErrno(err));
      return nullptr;
    }
    auto device = std::make_unique<SocketDevice>(fd);
    if (!device->AwaitOpen()) return nullptr;
    return device;
  }
};

}  // namespace

DeviceBackend& SimulatorDeviceBackend() {
  static SimulatorBackend backend;
  return backend;
}

}  // namespace tgx::ppdt
