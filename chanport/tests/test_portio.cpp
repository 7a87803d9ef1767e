// A port access library for the worker's tests. A port name is a file below
// $TGX_DEVICE_ROOT/testport/ (a pty slave, in practice). Beside it:
// "<name>.id" holds the device ID that control codes 0x16000C and 17 return,
// "<name>.writeonly" makes the port refuse read access, "<name>.hang" makes
// reads hang, and the library appends what it was asked to "<name>.log".
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "tgx/portio.h"
#include "tgx/win32.h"

namespace {

struct TestPort {
  int fd;
  std::string path;
  VI1284_COMMTIMEOUTS timeouts{0, 0, 500, 0, 0};
};
std::map<VI1284_HANDLE, TestPort> g_ports;
VI1284_HANDLE g_nextHandle = 1;

std::string PathOf(const char* name) {
  const char* root = std::getenv("TGX_DEVICE_ROOT");
  return std::string(root ? root : "") + "/testport/" + name;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

void Log(const TestPort& port, const std::string& line) {
  std::ofstream(port.path + ".log", std::ios::app) << line << "\n";
}

TestPort* Find(VI1284_HANDLE handle) {
  const auto it = g_ports.find(handle);
  if (it == g_ports.end()) {
    tgx::SetLastError(tgx::ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return &it->second;
}

}  // namespace

extern "C" {

// The signatures come from the public header: a double that drifted from the
// real library would not compile.
int Vi1284_OpenPort(const char* name, uint32_t access, VI1284_HANDLE* handle) {
  *handle = 0;
  const std::string path = PathOf(name);
  const bool wantsRead = (access & VI1284_GENERIC_READ) != 0;
  if (wantsRead && Exists(path + ".writeonly")) {
    tgx::SetLastError(tgx::ERROR_ACCESS_DENIED);
    return tgx::FALSE;
  }
  const int fd = open(path.c_str(), (wantsRead ? O_RDWR : O_WRONLY) | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    tgx::SetLastErrorFromErrno();
    return tgx::FALSE;
  }
  termios mode;
  if (tcgetattr(fd, &mode) == 0) {
    cfmakeraw(&mode);
    tcsetattr(fd, TCSANOW, &mode);
  }
  *handle = g_nextHandle++;
  TestPort& port = g_ports[*handle] = TestPort{fd, path};
  Log(port, "open pid " + std::to_string(getpid()) + (wantsRead ? " rw" : " w"));
  return tgx::TRUE;
}

int Vi1284_ClosePort(VI1284_HANDLE handle) {
  TestPort* port = Find(handle);
  if (!port) return tgx::FALSE;
  Log(*port, "close");
  close(port->fd);
  g_ports.erase(handle);
  return tgx::TRUE;
}

int Vi1284_ReadPort(VI1284_HANDLE handle, void* buffer, uint32_t length, uint32_t* read) {
  *read = 0;
  TestPort* port = Find(handle);
  if (!port) return tgx::FALSE;
  if (Exists(port->path + ".hang")) pause();
  pollfd ready{port->fd, POLLIN, 0};
  const int timeout = static_cast<int>(port->timeouts.ReadTotalTimeoutConstant +
                                       port->timeouts.ReadTotalTimeoutMultiplier * length);
  if (poll(&ready, 1, timeout) <= 0) return tgx::TRUE;  // time-out: nothing read
  const ssize_t n = ::read(port->fd, buffer, length);
  if (n < 0) {
    tgx::SetLastErrorFromErrno();
    return tgx::FALSE;
  }
  *read = static_cast<uint32_t>(n);
  return tgx::TRUE;
}

int Vi1284_WritePort(VI1284_HANDLE handle, const void* buffer, uint32_t length, uint32_t* written) {
  *written = 0;
  TestPort* port = Find(handle);
  if (!port) return tgx::FALSE;
  const auto* bytes = static_cast<const char*>(buffer);
  while (*written < length) {
    const ssize_t n = ::write(port->fd, bytes + *written, length - *written);
    if (n < 0) {
      tgx::SetLastErrorFromErrno();
      return tgx::FALSE;
    }
    *written += static_cast<uint32_t>(n);
  }
  return tgx::TRUE;
}

int Vi1284_IoControlPort(VI1284_HANDLE handle, uint32_t code, const void*, uint32_t, void* output,
                         uint32_t outputSize, uint32_t* returned) {
  *returned = 0;
  TestPort* port = Find(handle);
  if (!port) return tgx::FALSE;
  Log(*port, "ioctl " + std::to_string(code));
  if (code != VI1284_IOCTL_PAR_QUERY_DEVICE_ID && code != VI1284_IOCTL_DEVICE_ID_9X) {
    tgx::SetLastError(tgx::ERROR_INVALID_FUNCTION);
    return tgx::FALSE;
  }
  std::ifstream file(port->path + ".id", std::ios::binary);
  if (!file) {
    tgx::SetLastError(tgx::ERROR_NOT_SUPPORTED);
    return tgx::FALSE;
  }
  const std::string id{std::istreambuf_iterator<char>(file), {}};
  const uint32_t n = std::min<uint32_t>(outputSize, static_cast<uint32_t>(id.size()));
  id.copy(static_cast<char*>(output), n);
  *returned = n;
  return tgx::TRUE;
}

// Built once more without this export, as a library the worker must refuse.
#ifndef TEST_PORTIO_WITHOUT_TIMEOUTS
int Vi1284_SetCommTimeouts(VI1284_HANDLE handle, const VI1284_COMMTIMEOUTS* timeouts) {
  TestPort* port = Find(handle);
  if (!port) return tgx::FALSE;
  port->timeouts = *timeouts;
  Log(*port, "timeouts " + std::to_string(timeouts->ReadIntervalTimeout) + " " +
                 std::to_string(timeouts->ReadTotalTimeoutMultiplier) + " " +
                 std::to_string(timeouts->ReadTotalTimeoutConstant) + " " +
                 std::to_string(timeouts->WriteTotalTimeoutMultiplier) + " " +
                 std::to_string(timeouts->WriteTotalTimeoutConstant));
  return tgx::TRUE;
}
#endif

}  // extern "C"
