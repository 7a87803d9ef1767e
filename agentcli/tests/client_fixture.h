// Shared pieces of the client library tests: channel descriptors, timing, and a
// fixture that holds the library initialised for the length of a test.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <string>

#include "fake_service.h"
#include "tgx/agentcli.h"

namespace tgx::test {

// The divisor the tests run with: reply waits of 5000 ms take 500 ms, the
// 30000 ms wait of AuCbtRecv takes 3000 ms.
inline constexpr int kTimeoutDivisor = 10;
inline constexpr std::chrono::milliseconds kScaledReplyWait{5000 / kTimeoutDivisor};
inline constexpr std::chrono::milliseconds kScaledRecvWait{30000 / kTimeoutDivisor};

using Descriptor = std::array<std::uint8_t, AUCBT_DESCRIPTOR_SIZE>;

// A channel descriptor for a service channel and a port name.
Descriptor MakeDescriptor(std::uint16_t serviceChannel, const std::string& portName);

// Milliseconds that a call takes.
template <typename Call>
std::chrono::milliseconds TimeOf(Call&& call) {
  const auto start = std::chrono::steady_clock::now();
  call();
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               start);
}

class ClientTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(0, AuCbtInitialize()); }
  void TearDown() override { AuCbtShutdown(); }

  // Creates a socket on the print-job channel of USB001; fails the test if the
  // call fails.
  AuCbtSocket Create(std::uint16_t serviceChannel = 0x10);
};

}  // namespace tgx::test
