// The raw TCP monitor, loaded by libportio from the registry, against a
// printer played by a loopback TCP listener.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "tgx/portio.h"
#include "tgx/registry.h"
#include "tgx/win32.h"

namespace tgx::portio {
namespace {

constexpr uint32_t kReadWrite = VI1284_GENERIC_READ | VI1284_GENERIC_WRITE;
const std::string kQuery = "\x1b%-12345X@PJL INFO ID\r\n";
const std::string kId = "MFG:Arvona;MDL:TX-1;CMD:1284.4,PJL;";

// A network printer on 127.0.0.1: takes one connection, answers the device-ID
// query with its ID and a form feed, keeps everything else as job data.
class LoopbackPrinter {
 public:
  LoopbackPrinter() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 4);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    server_ = std::thread([this] { Serve(); });
  }
  ~LoopbackPrinter() {
    shutdown(listener_, SHUT_RDWR);
    server_.join();
    close(listener_);
  }
  uint16_t port() const { return port_; }
  // Job data received over the connection, once the host has closed it.
  std::string Job() {
    server_.join();
    server_ = std::thread([] {});
    return job_;
  }

 private:
  void Serve() {
    const int connection = accept(listener_, nullptr, nullptr);
    if (connection < 0) return;
    const std::string status = "READY";
    send(connection, status.data(), status.size(), MSG_NOSIGNAL);
    char buffer[4096];
    for (;;) {
      const ssize_t n = recv(connection, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      job_.append(buffer, static_cast<std::size_t>(n));
      if (const auto at = job_.find(kQuery); at != std::string::npos) {
        job_.erase(at, kQuery.size());
        const std::string answer = kId + "\f";
        send(connection, answer.data(), answer.size(), MSG_NOSIGNAL);
      }
    }
    close(connection);
  }

  int listener_ = -1;
  uint16_t port_ = 0;
  std::thread server_;
  std::string job_;
};

void SetString(HKEY key, const char* name, const std::string& value) {
  ASSERT_EQ(ERROR_SUCCESS,
            RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                           static_cast<DWORD>(value.size() + 1)));
}

// Registers a raw TCP port; port 0 leaves PortNumber out.
void RegisterRawTcpPort(const char* name, const std::string& host, DWORD port,
                        const std::string& query) {
  RegKey monitor;
  ASSERT_EQ(ERROR_SUCCESS,
            monitor.Create(HKEY_LOCAL_MACHINE,
                           "System\\CurrentControlSet\\Control\\Print\\Monitors\\Raw TCP Port",
                           KEY_ALL_ACCESS));
  SetString(monitor.get(), "Driver", "libportmon_rawtcp.so");
  RegKey key;
  ASSERT_EQ(ERROR_SUCCESS,
            key.Create(monitor.get(), (std::string("Ports\\") + name).c_str(), KEY_ALL_ACCESS));
  if (!host.empty()) SetString(key.get(), "HostName", host);
  if (port != 0) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key.get(), "PortNumber", 0, REG_DWORD,
                                            reinterpret_cast<const BYTE*>(&port), sizeof port));
  }
  if (!query.empty()) SetString(key.get(), "DeviceIdQuery", query);
}

TEST(RawTcpMonitor, JobStatusAndDeviceIdOverOneConnection) {
  LoopbackPrinter printer;
  RegisterRawTcpPort("NET1", "127.0.0.1", printer.port(), kQuery);
  VI1284_HANDLE handle = 0;
  ASSERT_TRUE(Vi1284_OpenPort("NET1", kReadWrite, &handle)) << GetLastError();
  const VI1284_COMMTIMEOUTS timeouts{100, 10, 500, 10, 3500};
  ASSERT_TRUE(Vi1284_SetCommTimeouts(handle, &timeouts));

  char buffer[64] = {};
  uint32_t count = 0;
  ASSERT_TRUE(Vi1284_ReadPort(handle, buffer, 5, &count));
  EXPECT_EQ("READY", std::string(buffer, count));
  ASSERT_TRUE(Vi1284_IoControlPort(handle, VI1284_IOCTL_PAR_QUERY_DEVICE_ID, nullptr, 0, buffer,
                                   sizeof buffer, &count));
  EXPECT_EQ(kId, buffer);
  EXPECT_EQ(kId.size() + 1, count);
  ASSERT_TRUE(Vi1284_WritePort(handle, "%!PS job", 8, &count));
  EXPECT_EQ(8u, count);
  // Nothing more from the printer: an empty, successful read after the time-out.
  ASSERT_TRUE(Vi1284_ReadPort(handle, buffer, 6, &count));
  EXPECT_EQ(0u, count);
  EXPECT_TRUE(Vi1284_ClosePort(handle));
  EXPECT_EQ("%!PS job", printer.Job());
}

TEST(RawTcpMonitor, PortWithoutQueryHasNoDeviceId) {
  LoopbackPrinter printer;
  RegisterRawTcpPort("NET2", "localhost", printer.port(), "");
  VI1284_HANDLE handle = 0;
  ASSERT_TRUE(Vi1284_OpenPort("NET2", kReadWrite, &handle)) << GetLastError();
  char buffer[64];
  uint32_t count = 0;
  EXPECT_FALSE(Vi1284_IoControlPort(handle, 17, nullptr, 0, buffer, sizeof buffer, &count));
  EXPECT_EQ(ERROR_NOT_SUPPORTED, GetLastError());
  EXPECT_TRUE(Vi1284_ClosePort(handle));
}

TEST(RawTcpMonitor, UnreachableOrMisconfiguredPortsFailToOpen) {
  uint16_t closedPort = 0;
  {
    LoopbackPrinter gone;
    closedPort = gone.port();
  }
  RegisterRawTcpPort("NET3", "127.0.0.1", closedPort, "");
  RegisterRawTcpPort("NET4", "", 9100, "");
  RegisterRawTcpPort("NET5", "no-such-host.invalid", 9100, "");
  struct Case {
    const char* port;
    DWORD error;
  };
  for (const Case& c : {Case{"NET3", ERROR_DEVICE_NOT_CONNECTED}, Case{"NET4", ERROR_INVALID_DATA},
                        Case{"NET5", 67}}) {
    VI1284_HANDLE handle = 3;
    EXPECT_FALSE(Vi1284_OpenPort(c.port, kReadWrite, &handle)) << c.port;
    EXPECT_EQ(c.error, GetLastError()) << c.port;
    EXPECT_EQ(0u, handle);
  }
  // The failed open left the port unlocked.
  LoopbackPrinter printer;
  RegisterRawTcpPort("NET3", "127.0.0.1", printer.port(), "");
  VI1284_HANDLE handle = 0;
  ASSERT_TRUE(Vi1284_OpenPort("NET3", kReadWrite, &handle)) << GetLastError();
  EXPECT_TRUE(Vi1284_ClosePort(handle));
}

}  // namespace
}  // namespace tgx::portio
