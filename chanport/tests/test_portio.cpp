// A port access library for the worker's tests. A port name is a file below
// $TGX_DEVICE_ROOT/testport/ (a pty slave, in practice). Beside it:
// "<name>.id" holds the device ID that control codes 0x16000C and 17 return,
// "<name>.writeonly" makes the port refuse read access, "<name>.hang" makes
// reads hang, and the library appends what it was asked to "<name>.log".
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "command_executor.h"
#include "tgx/win32.h"

using tgx::BOOL;
using tgx::DWORD;
using tgx::chanport::CommTimeouts;

namespace {

struct TestPort {
  int fd;
  std::string path;
  CommTimeouts timeouts{0, 0, 500, 0, 0};
};
std::map<DWORD, TestPort> g_ports;
DWORD g_nextHandle = 1;

std::string PathOf(const char* name) {
  const char* root = std::getenv("TGX_DEVICE_ROOT");
  return std::string(root ? root : "") + "/testport/" + name;
}

bool Exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

void Log(const TestPort& port, const std::string& line) {
  std::ofstream(port.path + ".log", std::ios::app) << line << "\n";
}

TestPort* Find(DWORD handle) {
  const auto it = g_ports.find(handle);
  if (it == g_ports.end()) {
    tgx::SetLastError(tgx::ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return &it->second;
}

}  // namespace

extern "C" {

BOOL Vi1284_OpenPort(const char* name, DWORD access, DWORD* handle) {
  *handle = 0;
  const std::string path = PathOf(name);
  const bool wantsRead = (access & tgx::chanport::GENERIC_READ) != 0;
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

BOOL Vi1284_ClosePort(DWORD handle) {
  TestPort* port = Find(handle);
  if (!port) return tgx::FALSE;
  Log(*port, "close");
  close(port->fd);
  g_ports.erase(handle);
  return tgx::TRUE;
}

BOOL Vi1284_ReadPort(DWORD handle, void* buffer, DWORD length, DWORD* read) {
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
  *read = static_cast<DWORD>(n);
  return tgx::TRUE;
}

BOOL Vi1284_WritePort(DWORD handle, const void* buffer, DWORD length, DWORD* written) {
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
    *written += static_cast<DWORD>(n);
  }
  return tgx::TRUE;
}

BOOL Vi1284_IoControlPort(DWORD handle, DWORD code, void*, DWORD, void* output, DWORD outputSize,
                          DWORD* returned) {
  *returned = 0;
  TestPort* port = Find(handle);
  if (!port) return tgx::FALSE;
  Log(*port, "ioctl " + std::to_string(code));
  if (code != 0x16000C && code != 17) {
    tgx::SetLastError(tgx::ERROR_INVALID_FUNCTION);
    return tgx::FALSE;
  }
  std::ifstream file(port->path + ".id", std::ios::binary);
  if (!file) {
    tgx::SetLastError(tgx::ERROR_NOT_SUPPORTED);
    return tgx::FALSE;
  }
  const std::string id{std::istreambuf_iterator<char>(file), {}};
  const DWORD n = std::min<DWORD>(outputSize, static_cast<DWORD>(id.size()));
  id.copy(static_cast<char*>(output), n);
  *returned = n;
  return tgx::TRUE;
}

BOOL Vi1284_SetCommTimeouts(DWORD handle, CommTimeouts* timeouts) {
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

}  // extern "C"
