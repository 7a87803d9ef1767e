// Fuzzes the UTF-16 character reader in both byte orders, and the detection of
// the input encoding.
#include "reader_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  arxp::fuzz::CheckReader(data, size, arxp::kEncodingUtf16, arxp::kByteOrderLittle);
  arxp::fuzz::CheckReader(data, size, arxp::kEncodingUtf16, arxp::kByteOrderBig);
  arxp::ByteInput input(data, size);
  try {
    const arxp::DetectedEncoding detected = arxp::detectEncoding(input);
    arxp::fuzz::Require(input.cursor() == data + detected.bom_size);
  } catch (const arxp::ARXPException&) {
    arxp::fuzz::Require(size < 4 || data[0] == 0 || data[1] == 0);
  }
  return 0;
}
