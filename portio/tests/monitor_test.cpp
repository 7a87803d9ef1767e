// Monitor ports through the exported functions, with plug-ins loaded by dlopen:
// the NT and 9x interfaces, the "USBPRN" chunked reads, and plug-ins that break
// the interface.
#include <dlfcn.h>
#include <stdlib.h>

#include <gtest/gtest.h>

#include <string>

#include "holder.h"
#include "testsupport.h"
#include "tgx/portio.h"
#include "tgx/registry.h"
#include "tgx/win32.h"

namespace tgx::portio {
namespace {

constexpr uint32_t kReadWrite = VI1284_GENERIC_READ | VI1284_GENERIC_WRITE;
constexpr DWORD kErrorCrc = 23;

std::string Plugin(const char* name) {
  return (tgx::test::BinDir() / ("lib" + std::string(name) + ".so")).string();
}

// The test's own view of the test monitor: the same loaded instance the
// library uses, through the functions the test monitor exports for tests.
class TestMonitor {
 public:
  TestMonitor() : path_(Plugin("portio_testmon")), handle_(dlopen(path_.c_str(), RTLD_NOW)) {
    Call<void (*)()>("TestMonitor_Reset")();
  }
  ~TestMonitor() {
    if (handle_) dlclose(handle_);
  }
  const char* path() const { return path_.c_str(); }
  void Feed(const std::string& data) {
    Call<void (*)(const char*, uint32_t)>("TestMonitor_Feed")(data.data(),
                                                              static_cast<uint32_t>(data.size()));
  }
  std::string Written() { return Call<const char* (*)()>("TestMonitor_Written")(); }
  int ReadCalls() { return Call<int (*)()>("TestMonitor_ReadCalls")(); }
  int OpenPorts() { return Call<int (*)()>("TestMonitor_OpenPorts")(); }
  int EndDocs() { return Call<int (*)()>("TestMonitor_EndDocs")(); }
  int TimeoutCalls() { return Call<int (*)()>("TestMonitor_TimeoutCalls")(); }
  uint32_t ReadTimeoutConstant() {
    return Call<uint32_t (*)()>("TestMonitor_ReadTimeoutConstant")();
  }
  void FailWritesWith(uint32_t error) {
    Call<void (*)(uint32_t)>("TestMonitor_FailWritesWith")(error);
  }

 private:
  template <class Fn>
  Fn Call(const char* name) {
    void* symbol = handle_ ? dlsym(handle_, name) : nullptr;
    if (!symbol) throw std::runtime_error(std::string("test monitor lacks ") + name);
    return reinterpret_cast<Fn>(symbol);
  }
  std::string path_;
  void* handle_;
};

// Runs a test as the 9x family (Windows 98) reports itself.
class As9x {
 public:
  As9x() { setenv("TGX_PLATFORM_VERSION", "1.4.10", 1); }
  ~As9x() { unsetenv("TGX_PLATFORM_VERSION"); }
};

std::string Read(VI1284_HANDLE handle, uint32_t n) {
  std::string buffer(n, '\0');
  uint32_t got = 0;
  EXPECT_TRUE(Vi1284_ReadPort(handle, buffer.data(), n, &got)) << GetLastError();
  buffer.resize(got);
  return buffer;
}

TEST(NtMonitorPort, OpensThroughTheNamedPluginAndRunsADocument) {
  TestMonitor monitor;
  VI1284_HANDLE handle = 0;
  ASSERT_TRUE(Vi1284_OpenPort2("TESTPORT", monitor.path(), kReadWrite, &handle)) << GetLastError();
  EXPECT_EQ(1, monitor.OpenPorts());

  uint32_t count = 0;
  ASSERT_TRUE(Vi1284_WritePort(handle, "job data", 8, &count));
  EXPECT_EQ(8u, count);
  EXPECT_EQ("job data", monitor.Written());
  monitor.Feed("reply");
  EXPECT_EQ("reply", Read(handle, 16));

  char id[64] = {};
  for (const uint32_t code : {VI1284_IOCTL_PAR_QUERY_DEVICE_ID, VI1284_IOCTL_DEVICE_ID_9X}) {
    ASSERT_TRUE(Vi1284_IoControlPort(handle, code, nullptr, 0, id, sizeof id, &count));
    EXPECT_EQ(std::string("MFG:Test;MDL:Monitor;CMD:1284.4;"), id);
  }
  const VI1284_COMMTIMEOUTS timeouts{100, 10, 500, 10, 3500};
  ASSERT_TRUE(Vi1284_SetCommTimeouts(handle, &timeouts));
  EXPECT_EQ(500u, monitor.ReadTimeoutConstant());

  EXPECT_TRUE(Vi1284_ClosePort(handle));
  EXPECT_EQ(0, monitor.OpenPorts());
  EXPECT_EQ(1, monitor.EndDocs());
}

TEST(NtMonitorPort, SecondOpenerIsLockedOutUntilTheFirstCloses) {
  TestMonitor monitor;
  VI1284_HANDLE first = 0, second = 7;
  ASSERT_TRUE(Vi1284_OpenPort2("TESTPORT", monitor.path(), kReadWrite, &first));
  EXPECT_FALSE(Vi1284_OpenPort2("TESTPORT", monitor.path(), kReadWrite, &second));
  EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
  EXPECT_EQ(0u, second);
  EXPECT_EQ(1, monitor.OpenPorts());
  EXPECT_TRUE(Vi1284_ClosePort(first));
  ASSERT_TRUE(Vi1284_OpenPort2("TESTPORT", monitor.path(), kReadWrite, &second));
  EXPECT_TRUE(Vi1284_ClosePort(second));
}

TEST(NtMonitorPort, BrokenPluginsAreRefusedAndLeaveNothingOpen) {
  TestMonitor monitor;
  struct Case {
    std::string library;
    const char* port;
    DWORD error;
  };
  const Case cases[] = {
      {Plugin("portio_testmon_short"), "TESTPORT", ERROR_INVALID_DATA},
      {Plugin("portio_testmon_noread"), "TESTPORT", ERROR_PROC_NOT_FOUND},
      {Plugin("portio_testmon_noentry"), "TESTPORT", ERROR_PROC_NOT_FOUND},
      {Plugin("portio_no_such_monitor"), "TESTPORT", ERROR_MOD_NOT_FOUND},
      {monitor.path(), "NOSUCHPORT", ERROR_FILE_NOT_FOUND},
      {monitor.path(), "BADSTART", ERROR_NOT_READY},
  };
  for (const Case& c : cases) {
    VI1284_HANDLE handle = 9;
    EXPECT_FALSE(Vi1284_OpenPort2(c.port, c.library.c_str(), kReadWrite, &handle)) << c.library;
    EXPECT_EQ(c.error, GetLastError()) << c.library << " " << c.port;
    EXPECT_EQ(0u, handle);
  }
  EXPECT_EQ(0, monitor.OpenPorts()) << "a failed start closes the monitor's port again";
  // None of the failures kept the port's lock.
  VI1284_HANDLE handle = 0;
  ASSERT_TRUE(Vi1284_OpenPort2("TESTPORT", monitor.path(), kReadWrite, &handle));
  EXPECT_TRUE(Vi1284_ClosePort(handle));
}

TEST(Win9xMonitorPort, UsbPrnReadsWholeChunksAndServesTheRestFromTheCarryOver) {
  As9x win98;
  TestMonitor monitor;
  VI1284_HANDLE handle = 0;
  ASSERT_TRUE(Vi1284_OpenPort2("USBPRN01", monitor.path(), kReadWrite, &handle)) << GetLastError();
  // The port got its read time-out at open; later time-outs are not passed on.
  EXPECT_EQ(500u, monitor.ReadTimeoutConstant());
  const VI1284_COMMTIMEOUTS timeouts{80, 10, 80, 10, 500};
  EXPECT_TRUE(Vi1284_SetCommTimeouts(handle, &timeouts));
  EXPECT_EQ(1, monitor.TimeoutCalls());

  std::string data(600, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 13);
  monitor.Feed(data);
  EXPECT_EQ(data.substr(0, 6), Read(handle, 6));
  EXPECT_EQ(1, monitor.ReadCalls());
  EXPECT_EQ(data.substr(6, 250), Read(handle, 250));
  EXPECT_EQ(1, monitor.ReadCalls()) << "served from the carry-over";
  EXPECT_EQ(data.substr(256, 300), Read(handle, 300));
  EXPECT_EQ(3, monitor.ReadCalls()) << "two chunks for 300 bytes";
  EXPECT_EQ(data.substr(556), Read(handle, 100));
  EXPECT_TRUE(Vi1284_ClosePort(handle));
  EXPECT_EQ(0, monitor.OpenPorts());
}

TEST(Win9xMonitorPort, OtherPortsReadStraightThrough) {
  As9x win98;
  TestMonitor monitor;
  VI1284_HANDLE handle = 0;
  ASSERT_TRUE(Vi1284_OpenPort2("TESTPORT", monitor.path(), kReadWrite, &handle));
  monitor.Feed("0123456789");
  EXPECT_EQ("012", Read(handle, 3));
  EXPECT_EQ("3456789", Read(handle, 100));
  const VI1284_COMMTIMEOUTS timeouts{80, 10, 80, 10, 500};
  EXPECT_TRUE(Vi1284_SetCommTimeouts(handle, &timeouts));
  EXPECT_EQ(80u, monitor.ReadTimeoutConstant());
  EXPECT_TRUE(Vi1284_ClosePort(handle));
}

TEST(Win9xMonitorPort, NoLockAndAWriteFailureLosesThePort) {
  As9x win98;
  TestMonitor monitor;
  VI1284_HANDLE first = 0, second = 0;
  ASSERT_TRUE(Vi1284_OpenPort2("TESTPORT", monitor.path(), kReadWrite, &first));
  ASSERT_TRUE(Vi1284_OpenPort2("TESTPORT", monitor.path(), kReadWrite, &second));
  EXPECT_TRUE(Vi1284_ClosePort(second));

  monitor.FailWritesWith(kErrorCrc);
  uint32_t count = 0;
  EXPECT_FALSE(Vi1284_WritePort(first, "x", 1, &count));
  EXPECT_EQ(kErrorCrc, GetLastError());
  EXPECT_EQ(0, monitor.OpenPorts()) << "the monitor's port was closed";
  char buffer[4];
  EXPECT_FALSE(Vi1284_ReadPort(first, buffer, 4, &count));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  EXPECT_FALSE(Vi1284_WritePort(first, "x", 1, &count));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  EXPECT_FALSE(Vi1284_IoControlPort(first, 17, nullptr, 0, buffer, 4, &count));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  EXPECT_TRUE(Vi1284_ClosePort(first));
}

TEST(Win9xMonitorPort, BrokenPluginsAreRefused) {
  As9x win98;
  for (const char* name : {"portio_testmon_noread", "portio_testmon_noentry"}) {
    VI1284_HANDLE handle = 3;
    EXPECT_FALSE(Vi1284_OpenPort2("TESTPORT", Plugin(name).c_str(), kReadWrite, &handle));
    EXPECT_EQ(ERROR_PROC_NOT_FOUND, GetLastError()) << name;
    EXPECT_EQ(0u, handle);
  }
}

}  // namespace
}  // namespace tgx::portio

namespace tgx::portio {
namespace {

// Lists port under monitor in the registry, the monitor's library as driver.
void RegisterPort(const char* monitor, const char* port, const std::string& driver) {
  const std::string monitorKey =
      std::string("System\\CurrentControlSet\\Control\\Print\\Monitors\\") + monitor;
  RegKey key;
  ASSERT_EQ(ERROR_SUCCESS, key.Create(HKEY_LOCAL_MACHINE, monitorKey.c_str(), KEY_ALL_ACCESS));
  if (!driver.empty()) {
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key.get(), "Driver", 0, REG_SZ,
                                            reinterpret_cast<const BYTE*>(driver.c_str()),
                                            static_cast<DWORD>(driver.size() + 1)));
  }
  RegKey portKey;
  ASSERT_EQ(ERROR_SUCCESS,
            portKey.Create(key.get(), (std::string("Ports\\") + port).c_str(), KEY_ALL_ACCESS));
}

TEST(MonitorLookup, PortIsFoundUnderItsMonitorInAnyCase) {
  TestMonitor monitor;
  RegisterPort("Other Monitor", "ELSEWHERE", Plugin("portio_testmon_short"));
  RegisterPort("Test Monitor", "TestPort", monitor.path());
  for (const char* name : {"TestPort", "TESTPORT"}) {
    VI1284_HANDLE handle = 0;
    ASSERT_TRUE(Vi1284_OpenPort(name, kReadWrite, &handle)) << name << " " << GetLastError();
    EXPECT_EQ(1, monitor.OpenPorts());
    EXPECT_TRUE(Vi1284_ClosePort(handle));
  }
  VI1284_HANDLE handle = 4;
  EXPECT_FALSE(Vi1284_OpenPort("UNLISTED", kReadWrite, &handle));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
  EXPECT_EQ(0u, handle);
  // The other monitor's library is the broken one: its port fails to open.
  EXPECT_FALSE(Vi1284_OpenPort("ELSEWHERE", kReadWrite, &handle));
  EXPECT_EQ(ERROR_INVALID_DATA, GetLastError());
}

TEST(MonitorLookup, MonitorWithoutDriverFails) {
  RegisterPort("Driverless", "NODRIVER", "");
  VI1284_HANDLE handle = 4;
  EXPECT_FALSE(Vi1284_OpenPort("NODRIVER", kReadWrite, &handle));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
  EXPECT_EQ(0u, handle);
}

TEST(MonitorLookup, Win9xUsbPrnPortsOfTheLocalPortMonitorUseSysfmon) {
  As9x win98;
  TestMonitor monitor;
  RegisterPort("Local Port", "USBPRN02", Plugin("portio_testmon_noentry"));
  RegisterPort("SYSFMON", "UNRELATED", monitor.path());
  VI1284_HANDLE handle = 0;
  ASSERT_TRUE(Vi1284_OpenPort("USBPRN02", kReadWrite, &handle)) << GetLastError();
  EXPECT_EQ(1, monitor.OpenPorts());
  EXPECT_TRUE(Vi1284_ClosePort(handle));
}

TEST(MonitorLookup, AnotherProcessHoldingAMonitorPortLocksItOut) {
  TestMonitor monitor;
  RegisterPort("Test Monitor", "HELD", monitor.path());
  test::Holder holder("HELD");
  ASSERT_EQ("opened", holder.Report());
  VI1284_HANDLE handle = 4;
  EXPECT_FALSE(Vi1284_OpenPort("HELD", kReadWrite, &handle));
  EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
  EXPECT_EQ(0u, handle);
  holder.Kill();
  ASSERT_TRUE(Vi1284_OpenPort("HELD", kReadWrite, &handle)) << GetLastError();
  EXPECT_TRUE(Vi1284_ClosePort(handle));
}

}  // namespace
}  // namespace tgx::portio
