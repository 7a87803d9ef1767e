// The 26-byte channel address that a client gives CreateSocket: the service
// hands it unchanged to CBT_Bind (which reads the port name and the flag) and
// CBT_Connect (which reads the service channel).
#pragma once

#include <cstddef>

namespace tgx::wire::channel_descriptor {

inline constexpr std::size_t kSize = 26;
inline constexpr std::size_t kServiceChannel = 2;  // u16, little-endian
inline constexpr std::size_t kPortName = 4;        // NUL-terminated, up to byte 23
inline constexpr std::size_t kPortNameSize = 20;
inline constexpr std::size_t kBindFlag = 24;  // u8

}  // namespace tgx::wire::channel_descriptor
