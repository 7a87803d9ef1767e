// Opening and closing: handle numbers, failed opens that leave nothing behind,
// and the exclusive use of a port across handles and processes.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "holder.h"
#include "pty_device.h"
#include "tgx/portio.h"
#include "tgx/win32.h"

namespace tgx::portio {
namespace {

using test::Holder;
using test::PtyDevice;

constexpr uint32_t kReadWrite = VI1284_GENERIC_READ | VI1284_GENERIC_WRITE;

int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (readdir(dir)) ++count;
    closedir(dir);
  }
  return count;
}

// Expects a failed open: result 0, handle 0, the given error.
void ExpectOpenFails(const char* name, DWORD error, uint32_t access = kReadWrite) {
  VI1284_HANDLE handle = 77;
  EXPECT_FALSE(Vi1284_OpenPort(name, access, &handle)) << name;
  EXPECT_EQ(0u, handle) << name;
  EXPECT_EQ(error, GetLastError()) << name;
}

TEST(OpenPort, HandlesCountUpFromOneAndAreNeverReused) {
  PtyDevice usb("/dev/usb/lp0");
  PtyDevice parallel("/dev/lp0");
  VI1284_HANDLE first = 0, second = 0, third = 0;
  ASSERT_TRUE(Vi1284_OpenPort("USB001", kReadWrite, &first));
  ASSERT_TRUE(Vi1284_OpenPort("LPT1", kReadWrite, &second));
  EXPECT_GE(first, 1u);
  EXPECT_EQ(first + 1, second);
  EXPECT_TRUE(Vi1284_ClosePort(first));
  ASSERT_TRUE(Vi1284_OpenPort("USB001", kReadWrite, &third));
  EXPECT_EQ(second + 1, third);
  EXPECT_FALSE(Vi1284_ClosePort(first)) << "closed handles stay unknown";
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  EXPECT_TRUE(Vi1284_ClosePort(second));
  EXPECT_TRUE(Vi1284_ClosePort(third));
}

TEST(OpenPort, UsbNamesMatchThePortNumberExactly) {
  PtyDevice lp0("/dev/usb/lp0");
  PtyDevice lp4("/dev/usb/lp4");
  VI1284_HANDLE handle = 0;
  ASSERT_TRUE(Vi1284_OpenPort("USB005", kReadWrite, &handle)) << GetLastError();
  EXPECT_TRUE(Vi1284_ClosePort(handle));
  ExpectOpenFails("USB002", ERROR_FILE_NOT_FOUND);
  ExpectOpenFails("USB000", ERROR_FILE_NOT_FOUND);
  // The name is compared in exact case with "USB" and the number.
  ExpectOpenFails("usb001", ERROR_FILE_NOT_FOUND);
}

TEST(OpenPort, FailedOpensLeaveNothingOpenOrLocked) {
  const int before = OpenDescriptors();
  ExpectOpenFails("USB001", ERROR_FILE_NOT_FOUND);  // no device yet
  ExpectOpenFails("LPT1", ERROR_FILE_NOT_FOUND);
  ExpectOpenFails("LPT0", ERROR_FILE_NOT_FOUND);
  ExpectOpenFails("LPT1", ERROR_INVALID_PARAMETER, 0);
  EXPECT_EQ(before, OpenDescriptors());
  {
    // The failed USB open did not keep its lock.
    PtyDevice usb("/dev/usb/lp0");
    VI1284_HANDLE handle = 0;
    ASSERT_TRUE(Vi1284_OpenPort("USB001", kReadWrite, &handle)) << GetLastError();
    EXPECT_TRUE(Vi1284_ClosePort(handle));
  }
  EXPECT_EQ(before, OpenDescriptors());
}

TEST(OpenPort, BadArguments) {
  VI1284_HANDLE handle = 5;
  EXPECT_FALSE(Vi1284_OpenPort(nullptr, kReadWrite, &handle));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  EXPECT_EQ(0u, handle);
  EXPECT_FALSE(Vi1284_OpenPort("USB001", kReadWrite, nullptr));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  handle = 5;
  EXPECT_FALSE(Vi1284_OpenPort2("USB001", nullptr, kReadWrite, &handle));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  EXPECT_EQ(0u, handle);
  ExpectOpenFails(std::string(300, 'P').c_str(), ERROR_INVALID_NAME);
}

TEST(OpenPort, SecondOpenerOfAUsbPortWaitsForTheFirstToClose) {
  PtyDevice usb("/dev/usb/lp0");
  VI1284_HANDLE first = 0;
  ASSERT_TRUE(Vi1284_OpenPort("USB001", kReadWrite, &first));
  ExpectOpenFails("USB001", ERROR_ALREADY_EXISTS);
  EXPECT_TRUE(Vi1284_ClosePort(first));
  VI1284_HANDLE second = 0;
  ASSERT_TRUE(Vi1284_OpenPort("USB001", kReadWrite, &second)) << GetLastError();
  EXPECT_TRUE(Vi1284_ClosePort(second));
}

TEST(OpenPort, AnotherProcessHoldingTheUsbPortLocksItOutUntilItEnds) {
  PtyDevice usb("/dev/usb/lp0");
  {
    Holder holder("USB001");
    ASSERT_EQ("opened", holder.Report());
    ExpectOpenFails("USB001", ERROR_ALREADY_EXISTS);
    EXPECT_EQ(0, holder.Release());
  }
  VI1284_HANDLE handle = 0;
  ASSERT_TRUE(Vi1284_OpenPort("USB001", kReadWrite, &handle)) << GetLastError();
  {
    Holder second("USB001");
    EXPECT_EQ("failed 183", second.Report()) << "the lock works both ways";
  }
  EXPECT_TRUE(Vi1284_ClosePort(handle));

  Holder killed("USB001");
  ASSERT_EQ("opened", killed.Report());
  ExpectOpenFails("USB001", ERROR_ALREADY_EXISTS);
  killed.Kill();
  ASSERT_TRUE(Vi1284_OpenPort("USB001", kReadWrite, &handle)) << GetLastError();
  EXPECT_TRUE(Vi1284_ClosePort(handle));
}

}  // namespace
}  // namespace tgx::portio
