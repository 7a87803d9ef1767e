#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "device_id.h"

namespace tgx::portio {
namespace {

std::string Text(const std::string& raw) {
  return DeviceIdText(std::span(reinterpret_cast<const BYTE*>(raw.data()), raw.size()));
}

std::string Prefixed(const std::string& id, bool bigEndian) {
  const std::size_t length = id.size() + 2;
  std::string raw(2, '\0');
  raw[bigEndian ? 0 : 1] = static_cast<char>(length >> 8);
  raw[bigEndian ? 1 : 0] = static_cast<char>(length & 0xFF);
  return raw + id;
}

const std::string kId = "MFG:Arvona;MDL:TX-1;CMD:1284.4,RAW;CLS:PRINTER;";

TEST(DeviceId, BareTextIsTakenAsItIs) { EXPECT_EQ(kId, Text(kId)); }

TEST(DeviceId, LengthPrefixInEitherByteOrderIsDropped) {
  EXPECT_EQ(kId, Text(Prefixed(kId, true)));
  EXPECT_EQ(kId, Text(Prefixed(kId, false)));
  // The prefix bounds the text: bytes after it are not part of the ID.
  EXPECT_EQ(kId, Text(Prefixed(kId, true) + "garbage"));
}

TEST(DeviceId, OddLengths) {
  EXPECT_EQ("", Text(""));
  EXPECT_EQ("M", Text("M"));
  EXPECT_EQ("", Text(std::string("\0", 1)));
  EXPECT_EQ("", Text(std::string("\0\0", 2)));
  EXPECT_EQ("", Text(std::string("\0\2", 2)));  // a prefix counting only itself
  // A prefix claiming more than arrived keeps what arrived.
  EXPECT_EQ("MFG:X;", Text(std::string("\x01\x00", 2) + "MFG:X;"));
}

TEST(DeviceId, TextEndsAtTheFirstNulOrWithoutOne) {
  EXPECT_EQ("MFG:A;", Text(std::string("MFG:A;\0CMD:B;", 13)));
  EXPECT_EQ("MFG:A;CMD:B;", Text("MFG:A;CMD:B;"));
}

TEST(DeviceId, LongerThan1024BytesIsCut) {
  const std::string longId = "CMD:" + std::string(2000, 'x');
  EXPECT_EQ(kMaxDeviceIdBytes, Text(longId).size());
  // With a prefix, the prefix's two bytes count towards the 1024.
  EXPECT_EQ(kMaxDeviceIdBytes - 2, Text(Prefixed(longId.substr(0, 1500), true)).size());
}

TEST(DeviceId, ProcfsLinesAreJoined) {
  EXPECT_EQ("CLASS:PRINTER;MODEL:TX-1;COMMAND SET:1284.4;",
            Text("CLASS:PRINTER;\nMODEL:TX-1;\nCOMMAND SET:1284.4;\n"));
}

TEST(DeviceId, CopyAddsTheTerminatorWhenThereIsRoom) {
  std::vector<BYTE> out(64, 0xEE);
  EXPECT_EQ(7u, CopyDeviceId("MFG:A;", out));
  EXPECT_EQ(0, out[6]);
  EXPECT_EQ(3u, CopyDeviceId("MFG:A;", std::span(out).first(3)));
  EXPECT_EQ(0u, CopyDeviceId("MFG:A;", {}));
  EXPECT_EQ(1u, CopyDeviceId("", out));
}

}  // namespace
}  // namespace tgx::portio
