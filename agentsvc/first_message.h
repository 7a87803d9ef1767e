// What the listener makes of the first message of a new connection, from the
// bytes it peeked without taking them off the socket.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "session.h"

namespace tgx::agent {

// The router looks at no more than the size of a CreateSocket request.
inline constexpr std::size_t kRouterPeekLimit = create_socket::kRequestSize;

struct FirstMessage {
  enum class Kind {
    kIncomplete,    // not all of it has arrived: no reply, the socket waits for its close
    kUnsound,       // a length below the header or beyond the peek: close the connection
    kCreateSocket,  // route by `descriptor`
    kRefuse,        // read `length` bytes and send them back with 0xC010000C
  };
  Kind kind;
  std::uint32_t length = 0;
  ChannelDescriptor descriptor{};
};

FirstMessage ExamineFirstMessage(std::span<const std::uint8_t> peeked);

// Session key comparison: same service channel, and the port names equal
// without regard to case.
bool SameServiceChannel(const ChannelDescriptor& a, const ChannelDescriptor& b);
bool SamePortName(const ChannelDescriptor& a, const ChannelDescriptor& b);

}  // namespace tgx::agent
