// The check every reader target runs: an input decodes to the same units and the
// same fault whether read in bulk or unit by unit; a multibyte input that decodes
// cleanly comes back unchanged through the conversion to its encoding.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

#include "arxp/diagnostics.h"
#include "arxp/encoding.h"
#include "arxp/exception.h"
#include "arxp/input.h"

namespace arxp::fuzz {

struct Outcome {
  std::u16string units;
  int code = 0;
  std::string message;
  int line = 0, column = 0;

  bool operator==(const Outcome&) const = default;
};

// Decodes all of `bytes`, `chunk` units per read (0: one getc at a time).
inline Outcome Decode(const std::uint8_t* data, std::size_t size, int encoding, int order,
                      std::size_t chunk) {
  ByteInput input(data, size);
  CharReader reader(input, encoding, order);
  Outcome outcome;
  try {
    if (chunk == 0) {
      for (int unit; (unit = reader.getc()) >= 0;) outcome.units += static_cast<char16_t>(unit);
    } else {
      std::vector<char16_t> units(chunk);
      while (const std::size_t n = reader.read(units.data(), chunk))
        outcome.units.append(units.data(), n);
    }
  } catch (const ARXPException& e) {
    outcome.code = e.getCode();
    outcome.message = e.what();
  }
  outcome.line = reader.line();
  outcome.column = reader.column();
  return outcome;
}

inline void Require(bool condition) {
  if (!condition) std::abort();
}

inline int CheckReader(const std::uint8_t* data, std::size_t size, int encoding,
                       int order = kByteOrderNone) {
  static std::ostream silent(nullptr);  // reports are expected here; keep them quiet
  Diagnostics::setStream(&silent);

  const Outcome bulk = Decode(data, size, encoding, order, 4096);
  Require(bulk == Decode(data, size, encoding, order, 0));
  Require(bulk == Decode(data, size, encoding, order, 3));

  const bool multibyte =
      encoding == kEncodingShiftJis || encoding == kEncodingEucJp || encoding == kEncodingIso2022Jp;
  if (multibyte && bulk.code == 0) {
    std::string bytes(multibyteCapacity(bulk.units.size(), encoding), '\0');
    bytes.resize(toMultibyte(bulk.units.data(), bulk.units.size(), encoding, bytes.data()));
    const Outcome again = Decode(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(),
                                 encoding, order, 4096);
    Require(again.code == 0 && again.units == bulk.units);
  }
  return 0;
}

}  // namespace arxp::fuzz
