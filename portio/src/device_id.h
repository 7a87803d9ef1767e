// The printer's IEEE 1284 device ID as the library hands it out: the ID text
// without its two-byte length prefix, cut at the first NUL, at most 1024 bytes.
#pragma once

#include <cstddef>
#include <span>
#include <string>

#include "tgx/win32.h"

namespace tgx::portio {

// The most any source gives: usblp's ID buffer, length prefix included.
inline constexpr std::size_t kMaxDeviceIdBytes = 1024;

// Turns what a device or ID file gave into the ID text. Accepts the raw form
// (a length prefix that counts itself, big-endian as IEEE 1284 says or
// little-endian as some devices send it) and the bare text of the sysfs and
// procfs files; a prefix claiming more than is there yields what is there.
// Line breaks between fields (procfs "autoprobe" files) and trailing blanks are
// dropped.
std::string DeviceIdText(std::span<const BYTE> raw);

// Copies the ID text and its terminating NUL into output, cut to output.size();
// returns the number of bytes copied.
DWORD CopyDeviceId(const std::string& text, std::span<BYTE> output);

}  // namespace tgx::portio
