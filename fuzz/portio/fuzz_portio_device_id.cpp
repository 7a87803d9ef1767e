// Device-ID normalisation on arbitrary bytes: the raw form with a length prefix
// in either byte order, bare text, truncated and oversized IDs. Also the port
// name classification on the same bytes.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "device_id.h"
#include "port_name.h"

using namespace tgx::portio;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = DeviceIdText(std::span(data, size));
  // The text is never longer than the device could send, and holds no NUL or line break.
  if (text.size() > kMaxDeviceIdBytes || text.find('\0') != std::string::npos ||
      text.find('\n') != std::string::npos) {
    std::abort();
  }
  // It is stable: normalising the text again changes nothing... unless its
  // first two characters read as a length prefix, which bare text never does.
  if (text.size() < 2 || (static_cast<unsigned char>(text[0]) >= 0x20 &&
                          static_cast<unsigned char>(text[1]) >= 0x20)) {
    if (DeviceIdText(std::span(reinterpret_cast<const tgx::BYTE*>(text.data()), text.size())) !=
        text) {
      std::abort();
    }
  }
  // Copies stay within the output and end with the terminator when it fits.
  for (const std::size_t room : {std::size_t{0}, std::size_t{1}, size % 300, text.size() + 1}) {
    std::vector<tgx::BYTE> out(room + 8, 0xEE);
    const tgx::DWORD copied = CopyDeviceId(text, std::span(out).first(room));
    if (copied > room || out[room] != 0xEE) std::abort();
    if (room > text.size() && (copied != text.size() + 1 || out[text.size()] != 0)) std::abort();
  }

  const std::string_view name(reinterpret_cast<const char*>(data), size);
  const PortKind kind = ClassifyPortName(name, PlatformClass::kNt5Plus);
  if (kind == PortKind::kParallel && !ParallelPortDigit(name)) std::abort();
  if (kind == PortKind::kUsb && name.size() != 6) std::abort();
  return 0;
}
