// Fuzzes the parser: any input either parses or fails with a library error,
// within the entity, nesting and memory bounds, and with balanced events.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ostream>

#include "arxp/diagnostics.h"
#include "arxp/parser.h"

namespace {

class Balance : public arxp::DefaultHandler {
 public:
  long depth = 0;
  void startElement(const arxp::Xstring&, const arxp::Xstring&, const arxp::Xstring&,
                    const arxp::Attributes& attributes) override {
    ++depth;
    for (int i = 0; i < attributes.getLength(); ++i)
      if (attributes.getQName(i).isNull() || attributes.getValue(i).isNull()) std::abort();
  }
  void endElement(const arxp::Xstring&, const arxp::Xstring&, const arxp::Xstring&) override {
    if (--depth < 0) std::abort();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static std::ostream silent(nullptr);
  arxp::Diagnostics::setStream(&silent);
  arxp::SAXParser parser;
  // Inputs may name any file as an external entity: none is read.
  parser.setFeature(arxp::sax_names::kExternalGeneralEntities, false);
  parser.setFeature(arxp::sax_names::kExternalParameterEntities, false);
  Balance balance;
  parser.setContentHandler(&balance);
  try {
    parser.parseBuffer(data, size, "fuzz");
    if (balance.depth != 0) std::abort();  // a parse that succeeds closed every element
  } catch (const arxp::ARXPException&) {
  }
  return 0;
}
