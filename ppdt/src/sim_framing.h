// The device-control framing on the simulator's 1394 socket, as the backend
// uses it: a request carries the control code, the input and the size of the
// output wanted; the answer carries the outcome, the Win32 error and the
// returned bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ppdt_shared.h"

namespace tgx::ppdt {

// Request: control code, input length, output length (u32 LE each), input.
inline constexpr std::size_t kControlRequestHeaderSize = 12;
// Answer: success, Win32 error, returned count (u32 LE each), returned bytes.
inline constexpr std::size_t kControlAnswerHeaderSize = 12;

struct ControlAnswer {
  bool success;
  std::uint32_t error;
  std::uint32_t returned;
};

inline void EncodeControlRequest(std::vector<std::byte>& out, std::uint32_t controlCode,
                                 const void* input, std::uint32_t inputLength,
                                 std::uint32_t outputLength) {
  out.resize(kControlRequestHeaderSize + inputLength);
  StoreLe32(out.data(), controlCode);
  StoreLe32(out.data() + 4, inputLength);
  StoreLe32(out.data() + 8, outputLength);
  if (inputLength) std::memcpy(out.data() + kControlRequestHeaderSize, input, inputLength);
}

inline ControlAnswer DecodeControlAnswerHeader(const std::byte* header) {
  return {LoadLe32(header) != 0, LoadLe32(header + 4), LoadLe32(header + 8)};
}

}  // namespace tgx::ppdt
