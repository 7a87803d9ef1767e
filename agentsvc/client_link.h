// One client connection attached to a session: its slot on the session, its
// connected flag, the data waiting for its Recv and its partial outgoing packets.
#pragma once

#include <algorithm>
#include <cstdint>
#include <list>
#include <span>
#include <vector>

#include "tgx/device_packet.h"

namespace tgx::agent {

// A client is known by its connection (the TCP socket on the service side).
using ClientId = int;

class ReceiveQueue {
 public:
  void Append(std::span<const std::uint8_t> bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
  }
  // Moves up to `limit` bytes from the front into `out`; returns how many.
  std::size_t Take(std::uint8_t* out, std::size_t limit) {
    const std::size_t n = std::min(limit, size());
    std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(head_), n, out);
    head_ += n;
    if (head_ == bytes_.size()) {
      bytes_.clear();
      head_ = 0;
    } else if (head_ > bytes_.size() / 2) {
      bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(head_));
      head_ = 0;
    }
    return n;
  }
  void Clear() {
    bytes_.clear();
    head_ = 0;
  }
  std::size_t size() const { return bytes_.size() - head_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::size_t head_ = 0;
};

struct ClientLink {
  ClientLink(ClientId socket, std::uint16_t slot) : socket(socket), slot(slot) {}

  // A change of the flag discards what was queued under the old state.
  void SetConnected(bool value) {
    if (value != connected) queue.Clear();
    connected = value;
  }
  // Data for the client is taken only while it is connected.
  void Deliver(std::span<const std::uint8_t> bytes) {
    if (connected) queue.Append(bytes);
  }

  const ClientId socket;
  const std::uint16_t slot;  // 0x0000, 0x1000, ... 0xF000: top bits of its identifiers
  bool connected = false;
  ReceiveQueue queue;
  packet::Splitter parse_buffer{packet::Answers::kRefused};  // partial packets of its Sends
};

// A session's clients in attach order; elements stay put while others come and go.
using ClientLinks = std::list<ClientLink>;

}  // namespace tgx::agent
