// Bytes a device delivered beyond what the caller asked for, handed out first
// on the next read. Filled only when empty: a read goes to the device only once
// what is held has been handed out.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstring>
#include <span>

#include "tgx/win32.h"

namespace tgx::portio {

template <std::size_t Capacity>
class CarryOver {
 public:
  std::size_t size() const { return fill_; }

  // Moves the oldest held bytes into out, as many as fit; returns the count.
  std::size_t TakeInto(std::span<BYTE> out) {
    const std::size_t count = std::min(fill_, out.size());
    if (count == 0) return 0;
    std::memcpy(out.data(), buffer_.data(), count);
    std::memmove(buffer_.data(), buffer_.data() + count, fill_ - count);
    fill_ -= count;
    return count;
  }

  // The whole buffer, for a device read to land in while it is empty; then
  // Filled() says how much arrived.
  std::span<BYTE> Space() { return buffer_; }
  void Filled(std::size_t count) { fill_ = std::min(count, Capacity); }

  // Keeps a copy of bytes (at most the capacity), replacing what was held.
  void Keep(std::span<const BYTE> bytes) {
    fill_ = std::min(bytes.size(), Capacity);
    if (fill_ != 0) std::memcpy(buffer_.data(), bytes.data(), fill_);
  }

  void Clear() { fill_ = 0; }

 private:
  std::array<BYTE, Capacity> buffer_{};
  std::size_t fill_ = 0;
};

}  // namespace tgx::portio
