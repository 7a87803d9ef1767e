// The simulated IEEE 1394 printer device: a Unix stream socket at
// $TGX_DEVICE_ROOT/dev/ppdt/<name>, served by printersim, that stands for the
// device "\\.\<name>" of the 1394 printer driver.
//
// Connecting opens the device. The simulator first sends one Answer frame: status
// 0 when the open succeeded, ERROR_SHARING_VIOLATION (32) when another
// connection holds the device (the simulator then closes the connection).
// Closing the connection closes the device.
//
// Each device control is one Request frame followed by one Answer frame, in
// order; all integers are little-endian 32-bit.
//
//   Request (20-byte header, then the bytes):
//     0  magic             kMagic ("PPDT")
//     4  control code      e.g. 0x00222F12 (job write), 0x0016000C (device ID)
//     8  input length      bytes of the input buffer that follow (at most kMaxBuffer)
//    12  output length     size of the caller's output buffer (at most kMaxBuffer)
//    16  output data       bytes of the output buffer's contents that follow the
//                          input: the output length for controls whose buffer
//                          carries data to the device (SendsOutputBuffer), else 0
//    20  input bytes, then output bytes
//
//   Answer (16-byte header, then the bytes):
//     0  magic             kMagic
//     4  status            0 success, else the Win32 error of the failed control
//                          (55 ERROR_DEV_NOT_EXIST, 170 ERROR_BUSY, 1 ERROR_INVALID_FUNCTION, ...)
//     8  bytes returned    the control's byte count (for a job write: bytes taken)
//    12  data length       bytes of output data that follow (at most the output length)
//    16  data bytes
//
// A frame that breaks these rules (wrong magic, a length above kMaxBuffer) makes
// the simulator close the connection; it counts it as a protocol violation.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tgx/wire/byte_order.h"

namespace tgx::wire::ppdt_device {

inline constexpr std::uint32_t kMagic = 0x54445050;  // "PPDT" as little-endian bytes
inline constexpr std::uint32_t kMaxBuffer = 0x4000;

inline constexpr std::size_t kRequestHeaderSize = 20;
inline constexpr std::size_t kRequestMagicOffset = 0;
inline constexpr std::size_t kRequestCodeOffset = 4;
inline constexpr std::size_t kRequestInputLengthOffset = 8;
inline constexpr std::size_t kRequestOutputLengthOffset = 12;
inline constexpr std::size_t kRequestOutputDataOffset = 16;

inline constexpr std::size_t kAnswerHeaderSize = 16;
inline constexpr std::size_t kAnswerMagicOffset = 0;
inline constexpr std::size_t kAnswerStatusOffset = 4;
inline constexpr std::size_t kAnswerReturnedOffset = 8;
inline constexpr std::size_t kAnswerDataLengthOffset = 12;

// Device control codes of the 1394 printer device.
inline constexpr std::uint32_t kJobOpen = 0x00222F08;
inline constexpr std::uint32_t kJobClose = 0x00222F0C;
inline constexpr std::uint32_t kJobWrite = 0x00222F12;
inline constexpr std::uint32_t kJobFlush = 0x00222F18;
inline constexpr std::uint32_t kJobCancel = 0x00222F1C;
inline constexpr std::uint32_t kAdminOpen = 0x00222F30;
inline constexpr std::uint32_t kAdminClose = 0x00222F34;
inline constexpr std::uint32_t kAdminWrite = 0x00222F38;
inline constexpr std::uint32_t kAdminRead = 0x00222F3C;
inline constexpr std::uint32_t kResOpen = 0x00222F80;
inline constexpr std::uint32_t kResClose = 0x00222F84;
inline constexpr std::uint32_t kResWrite = 0x00222F88;
inline constexpr std::uint32_t kResRead = 0x00222F8C;
inline constexpr std::uint32_t kGetDeviceId = 0x0016000C;  // IOCTL_PAR_QUERY_DEVICE_ID

// Controls with a direct transfer method (low two bits 1 or 2) hand the driver
// the caller's output buffer itself; its contents travel with the request. Of
// the codes above only the job write does so: its data is in the output buffer.
constexpr bool SendsOutputBuffer(std::uint32_t control_code) {
  const std::uint32_t method = control_code & 3;
  return method == 1 || method == 2;
}

struct RequestHeader {
  std::uint32_t control_code = 0;
  std::uint32_t input_length = 0;
  std::uint32_t output_length = 0;
  std::uint32_t output_data_length = 0;
};

struct AnswerHeader {
  std::uint32_t status = 0;
  std::uint32_t bytes_returned = 0;
  std::uint32_t data_length = 0;
};

inline void WriteRequestHeader(std::uint8_t* p, const RequestHeader& h) {
  StoreLe32(p + kRequestMagicOffset, kMagic);
  StoreLe32(p + kRequestCodeOffset, h.control_code);
  StoreLe32(p + kRequestInputLengthOffset, h.input_length);
  StoreLe32(p + kRequestOutputLengthOffset, h.output_length);
  StoreLe32(p + kRequestOutputDataOffset, h.output_data_length);
}

// False when the magic is wrong or a length is above kMaxBuffer.
inline bool ReadRequestHeader(const std::uint8_t* p, RequestHeader& h) {
  h.control_code = LoadLe32(p + kRequestCodeOffset);
  h.input_length = LoadLe32(p + kRequestInputLengthOffset);
  h.output_length = LoadLe32(p + kRequestOutputLengthOffset);
  h.output_data_length = LoadLe32(p + kRequestOutputDataOffset);
  return LoadLe32(p + kRequestMagicOffset) == kMagic && h.input_length <= kMaxBuffer &&
         h.output_length <= kMaxBuffer && h.output_data_length <= h.output_length;
}

inline void WriteAnswerHeader(std::uint8_t* p, const AnswerHeader& h) {
  StoreLe32(p + kAnswerMagicOffset, kMagic);
  StoreLe32(p + kAnswerStatusOffset, h.status);
  StoreLe32(p + kAnswerReturnedOffset, h.bytes_returned);
  StoreLe32(p + kAnswerDataLengthOffset, h.data_length);
}

// False when the magic is wrong or the data length is above kMaxBuffer.
inline bool ReadAnswerHeader(const std::uint8_t* p, AnswerHeader& h) {
  h.status = LoadLe32(p + kAnswerStatusOffset);
  h.bytes_returned = LoadLe32(p + kAnswerReturnedOffset);
  h.data_length = LoadLe32(p + kAnswerDataLengthOffset);
  return LoadLe32(p + kAnswerMagicOffset) == kMagic && h.data_length <= kMaxBuffer;
}

}  // namespace tgx::wire::ppdt_device
