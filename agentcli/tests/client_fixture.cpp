#include "client_fixture.h"

#include <cstdlib>
#include <cstring>

namespace tgx::test {
namespace {

// Set before any call reads it: the library reads the divisor once.
const bool kDivisorSet =
    ::setenv("TGX_TIMEOUT_DIVISOR", std::to_string(kTimeoutDivisor).c_str(), 1) == 0;

}  // namespace

Descriptor MakeDescriptor(std::uint16_t serviceChannel, const std::string& portName) {
  Descriptor d{};
  d[2] = static_cast<std::uint8_t>(serviceChannel);
  d[3] = static_cast<std::uint8_t>(serviceChannel >> 8);
  std::memcpy(d.data() + 4, portName.data(), std::min<std::size_t>(portName.size(), 19));
  return d;
}

AuCbtSocket ClientTest::Create(std::uint16_t serviceChannel) {
  EXPECT_TRUE(kDivisorSet);
  const Descriptor d = MakeDescriptor(serviceChannel, "USB001");
  std::uint32_t id = 0;
  const AuCbtSocket socket = AuCbtCreateSocket(d.data(), &id);
  EXPECT_NE(AUCBT_INVALID_SOCKET, socket);
  return socket;
}

}  // namespace tgx::test
