// Helpers of the arxp tests: decoding whole inputs and catching reports.
#pragma once

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "arxp/diagnostics.h"
#include "arxp/exception.h"
#include "arxp/input.h"

namespace arxp::test {

// Sends the diagnostic stream of one test to a string.
class CapturedDiagnostics {
 public:
  CapturedDiagnostics() { Diagnostics::setStream(&out_); }
  ~CapturedDiagnostics() {
    Diagnostics::setStream(nullptr);
    Diagnostics::setDebug(false);
  }
  std::string text() const { return out_.str(); }

 private:
  std::ostringstream out_;
};

inline std::string Ascii(const Xstring& s) { return s.ascii_str(); }

// Decodes all of `bytes` with one reader, `chunk` units per read.
inline std::u16string Decode(const std::string& bytes, int encoding, int order = kByteOrderNone,
                             std::size_t chunk = 4096) {
  ByteInput input(bytes.data(), bytes.size());
  CharReader reader(input, encoding, order);
  std::u16string units(chunk, u'\0');
  std::u16string all;
  while (const std::size_t n = reader.read(units.data(), chunk)) all.append(units.data(), n);
  return all;
}

struct Failure {
  int code = 0;
  std::string message;
  std::u16string delivered;  // units read before the failure
};

// Decodes until the reader throws; a failure with code 0 when it does not.
inline Failure DecodeFailure(const std::string& bytes, int encoding, int order = kByteOrderNone) {
  ByteInput input(bytes.data(), bytes.size());
  CharReader reader(input, encoding, order);
  Failure failure;
  try {
    for (int unit; (unit = reader.getc()) >= 0;) failure.delivered += static_cast<char16_t>(unit);
  } catch (const ARXPException& e) {
    failure.code = e.getCode();
    failure.message = Ascii(e.getMessage());
  }
  return failure;
}

}  // namespace arxp::test
