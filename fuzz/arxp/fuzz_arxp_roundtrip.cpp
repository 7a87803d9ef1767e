// Fuzzes the writer round trip: a document that parses is written to a UTF-16
// buffer, parsed again, and written again to the same text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <vector>

#include "arxp/diagnostics.h"
#include "arxp/dom.h"

namespace {

std::vector<char16_t> Write(arxp::DOMParser& parser, arxp::Document* document) {
  int length = 0;
  parser.write(document, nullptr, &length);  // measures
  std::vector<char16_t> text(static_cast<std::size_t>(length) / 2);
  parser.write(document, text.data(), &length);
  if (text.empty() || text.back() != 0) std::abort();
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::ostream silent(nullptr);
  arxp::Diagnostics::setStream(&silent);
  arxp::DOMParser parser;
  // Inputs may name any file as an external entity: none is read.
  parser.setFeature(arxp::sax_names::kExternalGeneralEntities, false);
  parser.setFeature(arxp::sax_names::kExternalParameterEntities, false);
  std::vector<char16_t> units(size / 2 + 1, 0);
  for (std::size_t i = 0; i + 1 < size; i += 2)
    units[i / 2] = static_cast<char16_t>(data[i] | data[i + 1] << 8);
  arxp::Document* document = nullptr;
  try {
    document = parser.parse(units.data());
  } catch (const arxp::ARXPException&) {
    return 0;
  }
  const std::vector<char16_t> first = Write(parser, document);
  parser.free(document);
  arxp::Document* again = nullptr;
  try {
    again = parser.parse(first.data());
  } catch (const arxp::ARXPException&) {
    std::abort();  // what the writer wrote must parse
  }
  const std::vector<char16_t> second = Write(parser, again);
  parser.free(again);
  if (first != second) std::abort();
  return 0;
}
