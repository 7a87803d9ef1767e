#include "first_message.h"

#include <algorithm>
#include <cctype>

namespace tgx::agent {

// The smallest peek that holds a length and a command code.
constexpr std::size_t kRoutableMinimum = 8;

FirstMessage ExamineFirstMessage(std::span<const std::uint8_t> peeked) {
  FirstMessage m{FirstMessage::Kind::kIncomplete};
  if (peeked.size() < kRoutableMinimum) return m;
  m.length = MessageLength(peeked.data());
  // A refusal sends the message back with the result in bytes 8 to 11: it must
  // hold them, and it must lie within what was peeked.
  if (m.length < header::kSize || m.length > kRouterPeekLimit) {
    m.kind = FirstMessage::Kind::kUnsound;
    return m;
  }
  if (peeked.size() < m.length) return m;
  if (MessageCode(peeked.data()) == code::kCreateSocket &&
      m.length == create_socket::kRequestSize) {
    m.kind = FirstMessage::Kind::kCreateSocket;
    std::copy_n(peeked.begin() + create_socket::kDescriptor, descriptor::kSize,
                m.descriptor.begin());
  } else {
    m.kind = FirstMessage::Kind::kRefuse;
  }
  return m;
}

bool SameServiceChannel(const ChannelDescriptor& a, const ChannelDescriptor& b) {
  return ServiceChannelOf(a) == ServiceChannelOf(b);
}

bool SamePortName(const ChannelDescriptor& a, const ChannelDescriptor& b) {
  for (std::size_t i = descriptor::kPortName; i < descriptor::kPortName + descriptor::kPortNameSize;
       ++i) {
    if (std::tolower(a[i]) != std::tolower(b[i])) return false;
    if (a[i] == 0) return true;
  }
  return true;
}

}  // namespace tgx::agent
