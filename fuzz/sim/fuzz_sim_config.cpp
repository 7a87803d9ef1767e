// Configuration text as anyone may write it: parsed or refused with a line
// number, never a crash.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "config.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto result =
      printersim::ParseConfig(std::string_view(reinterpret_cast<const char*>(data), size));
  if (result.config) {
    for (const auto& printer : result.config->printers) {
      (void)printer.SpeaksPacketProtocol();
      (void)printer.PortName();
    }
  }
  return 0;
}
