#include <gtest/gtest.h>

#include "port_name.h"

namespace tgx::portio {
namespace {

TEST(PortName, ParallelNamesAreLptAndOneDigit) {
  for (const char* name : {"LPT1", "lpt1", "Lpt9", "LPT2:", "LPT0"}) {
    EXPECT_EQ(PortKind::kParallel, ClassifyPortName(name, PlatformClass::kNt5Plus)) << name;
  }
  EXPECT_EQ(3u, ParallelPortDigit("lpt3:"));
  for (const char* name : {"LPT10", "LPT", "LPT1x", "LPT1::", "LPTA", "XLPT1", ""}) {
    EXPECT_EQ(PortKind::kNtMonitor, ClassifyPortName(name, PlatformClass::kNt5Plus)) << name;
    EXPECT_FALSE(ParallelPortDigit(name)) << name;
  }
}

TEST(PortName, UsbNamesAreUsbAndExactlyThreeDigits) {
  for (const char* name : {"USB001", "usb001", "UsB999"}) {
    EXPECT_EQ(PortKind::kUsb, ClassifyPortName(name, PlatformClass::kNt4)) << name;
  }
  for (const char* name : {"USB1", "USB0001", "USB01", "USB00a", "USBPRN01"}) {
    EXPECT_EQ(PortKind::kNtMonitor, ClassifyPortName(name, PlatformClass::kNt4)) << name;
  }
}

TEST(PortName, OtherNamesGoToTheMonitorOfThePlatform) {
  EXPECT_EQ(PortKind::kNtMonitor, ClassifyPortName("IP_10.0.0.1", PlatformClass::kNt5Plus));
  EXPECT_EQ(PortKind::kNtMonitor, ClassifyPortName("IP_10.0.0.1", PlatformClass::kNt4));
  EXPECT_EQ(PortKind::k9xMonitor, ClassifyPortName("IP_10.0.0.1", PlatformClass::kWin9x4));
  EXPECT_EQ(PortKind::k9xMonitor, ClassifyPortName("USB1", PlatformClass::kOther));
}

TEST(PortName, UsbPrnPortsAreSixLettersAndTwoDigits) {
  EXPECT_TRUE(IsUsbPrnPort("USBPRN01"));
  EXPECT_TRUE(IsUsbPrnPort("usbprn99"));
  EXPECT_FALSE(IsUsbPrnPort("USBPRN1"));
  EXPECT_FALSE(IsUsbPrnPort("USBPRN001"));
  EXPECT_FALSE(IsUsbPrnPort("USBPRNx1"));
}

TEST(PlatformClassTest, FollowsFamilyAndMajorVersion) {
  EXPECT_EQ(PlatformClass::kWin9x4, ClassifyPlatform(kPlatformWin32Windows, 4));
  EXPECT_EQ(PlatformClass::kOther, ClassifyPlatform(kPlatformWin32Windows, 5));
  EXPECT_EQ(PlatformClass::kOther, ClassifyPlatform(kPlatformWin32Nt, 3));
  EXPECT_EQ(PlatformClass::kNt4, ClassifyPlatform(kPlatformWin32Nt, 4));
  EXPECT_EQ(PlatformClass::kNt5Plus, ClassifyPlatform(kPlatformWin32Nt, 5));
  EXPECT_EQ(PlatformClass::kNt5Plus, ClassifyPlatform(kPlatformWin32Nt, 10));
  EXPECT_EQ(PlatformClass::kOther, ClassifyPlatform(0, 3));  // Win32s
  EXPECT_EQ(PlatformClass::kOther, ClassifyPlatform(7, 10));
}

}  // namespace
}  // namespace tgx::portio
