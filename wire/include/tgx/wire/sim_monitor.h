// The simulator port monitor's wire: a Unix stream socket, by default
// $TGX_DEVICE_ROOT/run/printersim/monitor, through which a port-monitor plug-in
// reaches any simulated printer by its port name (the printer's section name in
// the configuration). One connection is one open port.
//
// Requests and replies are frames; all integers are little-endian 32-bit.
//
//   Request:  0 length (bytes after this field, at least 1, at most kMaxFrame)
//             4 operation (1 byte)
//             5 operation's payload
//   Reply:    0 length (bytes after this field)
//             4 operation | kReplyBit (1 byte)
//             5 status: 0 success, else a Win32 error code
//             9 reply payload
//
// Operations (payload -> reply payload):
//   kOpen         port name (no NUL)       -> nothing. ERROR_FILE_NOT_FOUND (2) for
//                                             an unknown or unplugged printer,
//                                             ERROR_BUSY (170) when another
//                                             connection has it open,
//                                             ERROR_INVALID_PARAMETER (87) when this
//                                             connection already has a port open.
//   kWrite        timeout ms, data         -> bytes taken. Status 0 when all was
//                                             taken; ERROR_TIMEOUT (1460) with the
//                                             count taken (possibly 0) when the
//                                             printer did not read in time (stalled).
//   kRead         max bytes, timeout ms    -> 1 to max bytes from the printer; status
//                                             ERROR_TIMEOUT with no bytes when
//                                             nothing came within the time-out.
//   kGetDeviceId  nothing                  -> the IEEE 1284 device ID text (no length
//                                             prefix, no NUL).
//   kClose        nothing                  -> nothing; the connection stays usable
//                                             for another kOpen.
// Every operation but kOpen answers ERROR_INVALID_HANDLE (6) before a port is
// open; an unknown operation answers ERROR_INVALID_FUNCTION (1).
//
// Requests are served one at a time in order: a pending read or write delays the
// requests behind it. When the printer hangs up, the simulator closes every
// connection that has it open (the plug-in sees end of file: device gone). A
// malformed frame (length 0 or above kMaxFrame, short payload) closes the connection.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tgx::wire::sim_monitor {

inline constexpr std::uint32_t kMaxFrame = 1 << 20;
inline constexpr std::uint8_t kReplyBit = 0x80;

inline constexpr std::size_t kLengthSize = 4;
inline constexpr std::size_t kRequestHeaderSize = 5;  // length, operation
inline constexpr std::size_t kReplyHeaderSize = 9;    // length, operation, status

enum Operation : std::uint8_t {
  kOpen = 0x01,
  kWrite = 0x02,
  kRead = 0x03,
  kGetDeviceId = 0x04,
  kClose = 0x05,
};

// Offsets inside the payload.
inline constexpr std::size_t kWriteTimeoutOffset = 0;
inline constexpr std::size_t kWriteDataOffset = 4;
inline constexpr std::size_t kReadMaxOffset = 0;
inline constexpr std::size_t kReadTimeoutOffset = 4;
inline constexpr std::size_t kReadPayloadSize = 8;
inline constexpr std::size_t kWriteReplyPayloadSize = 4;

}  // namespace tgx::wire::sim_monitor
