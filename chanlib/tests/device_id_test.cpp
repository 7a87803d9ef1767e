#include "chanlib/device_id.h"

#include <gtest/gtest.h>

#include "chanlib/shared_layout.h"

namespace tgx::chanlib {
namespace {

using namespace std::literals;

TEST(DeviceId, CommandSetFromEitherKey) {
  EXPECT_EQ("1284.4,PCL", CommandSetOf("MFG:X;COMMAND SET:1284.4,PCL;MDL:Y;"));
  EXPECT_EQ("USBHS,1284.4", CommandSetOf("\x00\x20MFG:X;CMD:USBHS,1284.4;"sv));
  // "COMMAND SET:" is looked for first, wherever it is.
  EXPECT_EQ("A", CommandSetOf("CMD:B;COMMAND SET:A;"));
  EXPECT_FALSE(CommandSetOf("MFG:X;MDL:Y;"));
  EXPECT_FALSE(CommandSetOf("MFG:X;CMD:1284.4"));  // runs to the end: absent
  EXPECT_FALSE(CommandSetOf("command set:1284.4;"));
}

TEST(DeviceId, ModeNamesTheProtocolAndUsbHs) {
  EXPECT_EQ(0x13, ModeFromDeviceId("CMD:1284.4;"));
  EXPECT_EQ(0x33, ModeFromDeviceId("COMMAND SET:USBHS,1284.4;"));
  EXPECT_EQ(0x03, ModeFromDeviceId("CMD:PCL,POSTSCRIPT;"));
  EXPECT_EQ(0x23, ModeFromDeviceId("CMD:USBHS;"));
  EXPECT_EQ(0x03, ModeFromDeviceId("MFG:X;CMD:1284.4"));
}

}  // namespace
}  // namespace tgx::chanlib
