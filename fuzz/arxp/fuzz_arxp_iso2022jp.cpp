// Fuzzes the iso2022jp character reader.
#include "reader_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return arxp::fuzz::CheckReader(data, size, arxp::kEncodingIso2022Jp);
}
