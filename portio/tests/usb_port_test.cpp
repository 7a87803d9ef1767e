// USB ports through the exported functions, on ptys that play usblp devices.
#include <pthread.h>
#include <signal.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "pty_device.h"
#include "tgx/portio.h"
#include "tgx/win32.h"

namespace tgx::portio {
namespace {

using test::PtyDevice;
using test::WriteDeviceFile;
using namespace std::chrono_literals;

constexpr uint32_t kReadWrite = VI1284_GENERIC_READ | VI1284_GENERIC_WRITE;
const std::string kId = "MFG:Arvona;MDL:TX-1;CMD:1284.4,RAW;";

class UsbPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Vi1284_OpenPort("USB001", kReadWrite, &handle_)) << GetLastError();
    ASSERT_NE(0u, handle_);
  }
  void TearDown() override {
    if (handle_) {
      EXPECT_TRUE(Vi1284_ClosePort(handle_));
    }
  }
  void SetTimeouts(uint32_t readConstant, uint32_t writeConstant) {
    const VI1284_COMMTIMEOUTS timeouts{0, 0, readConstant, 0, writeConstant};
    ASSERT_TRUE(Vi1284_SetCommTimeouts(handle_, &timeouts));
  }
  std::string Read(uint32_t n, int* ok = nullptr) {
    std::string buffer(n, '\0');
    uint32_t got = 0xFFFF;
    const int result = Vi1284_ReadPort(handle_, buffer.data(), n, &got);
    if (ok) *ok = result;
    buffer.resize(result ? got : 0);
    return buffer;
  }

  PtyDevice printer_{"/dev/usb/lp0"};
  VI1284_HANDLE handle_ = 0;
};

TEST_F(UsbPortTest, WritesReachTheDevice) {
  uint32_t written = 0;
  ASSERT_TRUE(Vi1284_WritePort(handle_, "hello printer", 13, &written));
  EXPECT_EQ(13u, written);
  EXPECT_EQ("hello printer", printer_.Receive(13));
}

TEST_F(UsbPortTest, SmallReadTakesOnePacketAndKeepsTheRestForTheNextCall) {
  std::string data(600, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  printer_.Send(data);
  ASSERT_EQ(600u, printer_.PendingForHost());

  EXPECT_EQ(data.substr(0, 6), Read(6));
  // One 512-byte device read: 6 bytes to the caller, 506 into the carry-over.
  EXPECT_EQ(88u, printer_.PendingForHost());
  EXPECT_EQ(data.substr(6, 506), Read(506));
  EXPECT_EQ(88u, printer_.PendingForHost()) << "served from the carry-over alone";

  SetTimeouts(200, 5000);
  EXPECT_EQ(data.substr(512), Read(100));
  EXPECT_EQ(0u, printer_.PendingForHost());
}

TEST_F(UsbPortTest, ReadThatFindsNothingTimesOut) {
  SetTimeouts(100, 5000);
  int ok = 1;
  EXPECT_EQ("", Read(6, &ok));
  EXPECT_FALSE(ok);
  EXPECT_EQ(ERROR_OPERATION_ABORTED, GetLastError());
  // The port is still usable.
  printer_.Send("abc");
  EXPECT_EQ("abc", Read(3));
}

TEST_F(UsbPortTest, TimedOutWriteReportsWhatItMoved) {
  SetTimeouts(100, 300);
  // Nobody drains the pty: it takes what fits, then the write times out.
  const std::vector<char> big(4 << 20, 'x');
  uint32_t written = 0;
  ASSERT_TRUE(Vi1284_WritePort(handle_, big.data(), static_cast<uint32_t>(big.size()), &written));
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, big.size());
  // A full device that takes nothing more fails the write outright (the pty
  // may still find room for a few single bytes first).
  int ok = TRUE;
  for (int attempt = 0; ok && attempt < 65536; ++attempt) {
    ok = Vi1284_WritePort(handle_, big.data(), 1, &written);
    ASSERT_EQ(ok ? 1u : 0u, written);
  }
  ASSERT_FALSE(ok);
  EXPECT_EQ(ERROR_OPERATION_ABORTED, GetLastError());
}

TEST_F(UsbPortTest, ZeroWriteTimeOutMovesWhatFitsAtOnce) {
  SetTimeouts(100, 0);
  const std::vector<char> big(4 << 20, 'z');
  uint32_t written = 0;
  ASSERT_TRUE(Vi1284_WritePort(handle_, big.data(), static_cast<uint32_t>(big.size()), &written));
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, big.size());
  EXPECT_EQ(written, printer_.Receive(written).size());
  ASSERT_TRUE(Vi1284_WritePort(handle_, "0123456789", 10, &written)) << GetLastError();
  EXPECT_EQ(10u, written);
  EXPECT_EQ("0123456789", printer_.Receive(10));
}

TEST_F(UsbPortTest, UnplugEndsAWriteThatWaitsForRoom) {
  SetTimeouts(100, 20000);
  std::thread unplug([this] {
    std::this_thread::sleep_for(300ms);
    printer_.HangUp();
  });
  const std::vector<char> big(4 << 20, 'u');
  uint32_t written = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Vi1284_WritePort(handle_, big.data(), static_cast<uint32_t>(big.size()), &written));
  const DWORD gone = GetLastError();
  unplug.join();
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s) << "the unplug, not the time-out";
  EXPECT_TRUE(gone == ERROR_DEVICE_NOT_CONNECTED || gone == ERROR_GEN_FAILURE) << gone;
  EXPECT_LT(written, big.size());
  EXPECT_FALSE(Vi1284_WritePort(handle_, "x", 1, &written));
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
}

TEST_F(UsbPortTest, OtherSignalsDoNotCutAWriteShort) {
  SetTimeouts(100, 20000);
  // A host program's own signal, handled without restarting calls.
  struct sigaction action {
  }, previous{};
  action.sa_handler = [](int) {};
  sigemptyset(&action.sa_mask);
  ASSERT_EQ(0, sigaction(SIGUSR1, &action, &previous));
  const pthread_t writer = pthread_self();
  const std::vector<char> big(1 << 20, 'w');
  std::string received;
  std::thread printer([&] {
    for (int i = 0; i < 5; ++i) {
      std::this_thread::sleep_for(50ms);
      pthread_kill(writer, SIGUSR1);
    }
    received = printer_.Receive(big.size(), 5000);
  });
  uint32_t written = 0;
  EXPECT_TRUE(Vi1284_WritePort(handle_, big.data(), static_cast<uint32_t>(big.size()), &written))
      << GetLastError();
  printer.join();
  sigaction(SIGUSR1, &previous, nullptr);
  EXPECT_EQ(big.size(), written);
  EXPECT_EQ(big.size(), received.size());
}

TEST_F(UsbPortTest, DeviceIdByBothControlCodes) {
  WriteDeviceFile("/sys/class/usbmisc/lp0/device/ieee1284_id", kId);
  for (const uint32_t code : {VI1284_IOCTL_PAR_QUERY_DEVICE_ID, VI1284_IOCTL_DEVICE_ID_9X}) {
    char id[256] = {};
    uint32_t returned = 0;
    ASSERT_TRUE(Vi1284_IoControlPort(handle_, code, nullptr, 0, id, sizeof id, &returned)) << code;
    EXPECT_EQ(kId.size() + 1, returned);
    EXPECT_EQ(kId, id);
  }
  // Cut to the caller's output.
  char shortId[4] = {};
  uint32_t returned = 0;
  ASSERT_TRUE(Vi1284_IoControlPort(handle_, 17, nullptr, 0, shortId, sizeof shortId, &returned));
  EXPECT_EQ(4u, returned);
  EXPECT_EQ("MFG:", std::string(shortId, 4));
}

TEST_F(UsbPortTest, DeviceIdFileWithLengthPrefix) {
  std::string raw = std::string(1, '\0') + static_cast<char>(kId.size() + 2) + kId + "junk";
  WriteDeviceFile("/sys/class/usbmisc/lp0/device/ieee1284_id", raw);
  char id[256] = {};
  uint32_t returned = 0;
  ASSERT_TRUE(Vi1284_IoControlPort(handle_, 17, nullptr, 0, id, sizeof id, &returned));
  EXPECT_EQ(kId, id);
}

TEST_F(UsbPortTest, NoDeviceIdAndUnknownControlCodes) {
  char out[16];
  uint32_t returned = 0;
  EXPECT_FALSE(Vi1284_IoControlPort(handle_, 17, nullptr, 0, out, sizeof out, &returned));
  EXPECT_EQ(ERROR_NOT_SUPPORTED, GetLastError());
  EXPECT_FALSE(Vi1284_IoControlPort(handle_, 0x220008, nullptr, 0, out, sizeof out, &returned));
  EXPECT_EQ(ERROR_INVALID_FUNCTION, GetLastError());
}

TEST_F(UsbPortTest, UnplugClosesTheDeviceUntilTheHandleIsClosed) {
  SetTimeouts(1000, 1000);
  printer_.HangUp();
  int ok = 1;
  Read(6, &ok);
  EXPECT_FALSE(ok);
  const DWORD gone = GetLastError();
  EXPECT_TRUE(gone == ERROR_DEVICE_NOT_CONNECTED || gone == ERROR_GEN_FAILURE) << gone;
  for (int i = 0; i < 2; ++i) {
    Read(6, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
    uint32_t written = 7;
    EXPECT_FALSE(Vi1284_WritePort(handle_, "x", 1, &written));
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_EQ(0u, written);
  }
  EXPECT_TRUE(Vi1284_ClosePort(handle_));
  handle_ = 0;
}

TEST_F(UsbPortTest, BadArguments) {
  uint32_t count = 5;
  EXPECT_FALSE(Vi1284_ReadPort(handle_, nullptr, 10, &count));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  EXPECT_EQ(0u, count);
  EXPECT_FALSE(Vi1284_WritePort(handle_, nullptr, 10, &count));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  EXPECT_FALSE(Vi1284_ReadPort(handle_, &count, 4, nullptr));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  EXPECT_FALSE(Vi1284_IoControlPort(handle_, 17, nullptr, 0, nullptr, 256, &count));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  EXPECT_FALSE(Vi1284_IoControlPort(handle_, 17, nullptr, 8, &count, 4, &count));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  EXPECT_FALSE(Vi1284_SetCommTimeouts(handle_, nullptr));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  // Empty requests are fine and touch nothing.
  EXPECT_TRUE(Vi1284_WritePort(handle_, nullptr, 0, &count));
  EXPECT_EQ(0u, count);
  EXPECT_TRUE(Vi1284_ReadPort(handle_, nullptr, 0, &count));
  EXPECT_EQ(0u, count);
}

TEST(UsbPortUnknownHandle, EveryCallRefusesIt) {
  uint32_t count = 9;
  char buffer[4];
  for (const VI1284_HANDLE handle : {0u, 12345u}) {
    EXPECT_FALSE(Vi1284_ReadPort(handle, buffer, 4, &count));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
    EXPECT_EQ(0u, count);
    EXPECT_FALSE(Vi1284_WritePort(handle, buffer, 4, &count));
    EXPECT_FALSE(Vi1284_IoControlPort(handle, 17, nullptr, 0, buffer, 4, &count));
    const VI1284_COMMTIMEOUTS timeouts{};
    EXPECT_FALSE(Vi1284_SetCommTimeouts(handle, &timeouts));
    EXPECT_FALSE(Vi1284_ClosePort(handle));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  }
}

}  // namespace
}  // namespace tgx::portio
