// Parallel ports through the exported functions, on ptys that play /dev/lp<n>.
#include <gtest/gtest.h>

#include <string>

#include "pty_device.h"
#include "tgx/portio.h"
#include "tgx/win32.h"

namespace tgx::portio {
namespace {

using test::PtyDevice;
using test::WriteDeviceFile;

constexpr uint32_t kReadWrite = VI1284_GENERIC_READ | VI1284_GENERIC_WRITE;

TEST(ParallelPort, LptNameOpensTheMatchingDeviceInAnyCase) {
  PtyDevice lp1("/dev/lp1");
  for (const char* name : {"LPT2", "lpt2", "LPT2:"}) {
    VI1284_HANDLE handle = 0;
    ASSERT_TRUE(Vi1284_OpenPort(name, kReadWrite, &handle)) << name << " " << GetLastError();
    uint32_t written = 0;
    ASSERT_TRUE(Vi1284_WritePort(handle, "page", 4, &written));
    EXPECT_EQ(4u, written);
    EXPECT_EQ("page", lp1.Receive(4));
    lp1.Send("status");
    char buffer[16];
    uint32_t read = 0;
    ASSERT_TRUE(Vi1284_ReadPort(handle, buffer, sizeof buffer, &read));
    EXPECT_EQ("status", std::string(buffer, read));
    EXPECT_TRUE(Vi1284_ClosePort(handle));
  }
}

TEST(ParallelPort, ReadWithNothingToReadSucceedsEmptyAfterTheTimeout) {
  PtyDevice lp0("/dev/lp0");
  VI1284_HANDLE handle = 0;
  ASSERT_TRUE(Vi1284_OpenPort("LPT1", kReadWrite, &handle));
  const VI1284_COMMTIMEOUTS timeouts{100, 10, 50, 10, 500};
  ASSERT_TRUE(Vi1284_SetCommTimeouts(handle, &timeouts));
  char buffer[6];
  uint32_t read = 9;
  EXPECT_TRUE(Vi1284_ReadPort(handle, buffer, sizeof buffer, &read));
  EXPECT_EQ(0u, read);
  EXPECT_TRUE(Vi1284_ClosePort(handle));
}

TEST(ParallelPort, WriteOnlyOpenRefusesReads) {
  PtyDevice lp0("/dev/lp0");
  VI1284_HANDLE handle = 0;
  ASSERT_TRUE(Vi1284_OpenPort("LPT1", VI1284_GENERIC_WRITE, &handle));
  char buffer[4];
  uint32_t read = 0;
  EXPECT_FALSE(Vi1284_ReadPort(handle, buffer, sizeof buffer, &read));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  uint32_t written = 0;
  EXPECT_TRUE(Vi1284_WritePort(handle, "ok", 2, &written));
  EXPECT_EQ("ok", lp0.Receive(2));
  EXPECT_TRUE(Vi1284_ClosePort(handle));
}

TEST(ParallelPort, DeviceIdFromTheKernelProbe) {
  PtyDevice lp0("/dev/lp0");
  VI1284_HANDLE handle = 0;
  ASSERT_TRUE(Vi1284_OpenPort("LPT1", kReadWrite, &handle));
  char id[128] = {};
  uint32_t returned = 0;
  EXPECT_FALSE(Vi1284_IoControlPort(handle, VI1284_IOCTL_PAR_QUERY_DEVICE_ID, nullptr, 0, id,
                                    sizeof id, &returned));
  EXPECT_EQ(ERROR_NOT_SUPPORTED, GetLastError());

  WriteDeviceFile("/proc/sys/dev/parport/parport0/autoprobe",
                  "CLASS:PRINTER;\nMODEL:TX-1;\nMANUFACTURER:Arvona;\nCOMMAND SET:1284.4;\n");
  for (const uint32_t code : {VI1284_IOCTL_PAR_QUERY_DEVICE_ID, VI1284_IOCTL_DEVICE_ID_9X}) {
    ASSERT_TRUE(Vi1284_IoControlPort(handle, code, nullptr, 0, id, sizeof id, &returned));
    EXPECT_EQ(std::string("CLASS:PRINTER;MODEL:TX-1;MANUFACTURER:Arvona;COMMAND SET:1284.4;"), id);
  }
  EXPECT_TRUE(Vi1284_ClosePort(handle));
}

}  // namespace
}  // namespace tgx::portio
