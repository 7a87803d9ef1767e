// Build-time generator of the CP932 tables: asks glibc iconv once per code and
// writes them as constant arrays, so that the library converts from tables alone.
//   gen_cp932 <output.cpp>
#include <iconv.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "cp932.h"

namespace {

using arxp::cp932::kEucFirst;
using arxp::cp932::kEucRows;
using arxp::cp932::kExtensionRows;
using arxp::cp932::kRows;
using arxp::cp932::kTrailFirst;
using arxp::cp932::kTrails;

int LeadOfRow(int row) { return row < 31 ? 0x81 + row : 0xE0 + (row - 31); }

class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
      std::fprintf(stderr, "gen_cp932: iconv cannot convert %s to %s\n", from, to);
      std::exit(1);
    }
  }
  ~Converter() { iconv_close(cd_); }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // Converts `in` whole; returns the output, or an empty string when iconv refuses.
  std::string Convert(const std::string& in) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    std::string input = in;
    char out[16];
    char* inp = input.data();
    size_t inleft = input.size();
    char* outp = out;
    size_t outleft = sizeof out;
    if (iconv(cd_, &inp, &inleft, &outp, &outleft) == static_cast<size_t>(-1) || inleft != 0)
      return {};
    return std::string(out, outp);
  }

 private:
  iconv_t cd_;
};

// The single UTF-16 unit that CP932 `bytes` decode to, or 0.
char16_t DecodeOne(Converter& decoder, const std::string& bytes) {
  const std::string units = decoder.Convert(bytes);
  if (units.size() != 2) return 0;
  return static_cast<char16_t>(static_cast<uint8_t>(units[0]) | static_cast<uint8_t>(units[1])
                                                                    << 8);
}

void WriteArray(FILE* out, const char* declaration, const uint16_t* values, size_t count) {
  std::fprintf(out, "%s = {\n", declaration);
  for (size_t i = 0; i < count; ++i)
    std::fprintf(out, "0x%04X,%s", values[i], (i % 12 == 11 || i + 1 == count) ? "\n" : "");
  std::fprintf(out, "};\n\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: gen_cp932 <output.cpp>\n");
    return 2;
  }
  Converter decoder("UTF-16LE", "CP932");
  Converter encoder("CP932", "UTF-16LE");

  static std::array<uint16_t, kRows * kTrails> pairs{};
  for (int row = 0; row < kRows; ++row) {
    for (int t = 0; t < kTrails; ++t) {
      const std::string bytes{static_cast<char>(LeadOfRow(row)),
                              static_cast<char>(kTrailFirst + t)};
      pairs[row * kTrails + t] = DecodeOne(decoder, bytes);
    }
  }
  auto decode = [&](unsigned code) -> char16_t {
    if (code >= 0xA1 && code <= 0xDF) return static_cast<char16_t>(0xFF61 + code - 0xA1);
    const int lead = code >> 8, trail = code & 0xFF;
    const int row = lead >= 0x81 && lead <= 0x9F   ? lead - 0x81
                    : lead >= 0xE0 && lead <= 0xFC ? lead - 0xE0 + 31
                                                   : -1;
    if (row < 0 || trail < kTrailFirst) return 0;
    return pairs[row * kTrails + trail - kTrailFirst];
  };

  // Unicode to CP932: only mappings that decode back to the same character, so that
  // no conversion silently changes a character into a look-alike.
  static std::array<uint16_t, 0x10000> from_unicode{};
  for (unsigned u = 0x80; u < 0x10000; ++u) {
    if (u >= 0xD800 && u <= 0xDFFF) continue;
    const std::string unit{static_cast<char>(u & 0xFF), static_cast<char>(u >> 8)};
    const std::string bytes = encoder.Convert(unit);
    unsigned code = 0;
    if (bytes.size() == 1) code = static_cast<uint8_t>(bytes[0]);
    if (bytes.size() == 2)
      code = static_cast<uint8_t>(bytes[0]) << 8 | static_cast<uint8_t>(bytes[1]);
    if (code >= 0x80 && decode(code) == u) from_unicode[u] = static_cast<uint16_t>(code);
  }

  // Characters of the extension rows 0xFA-0xFC also sit in a row below 0xF0 (the
  // NEC-selected rows, row 13 or the JIS rows); EUC-JP reaches only those.
  constexpr int kFirstExtensionRow = 31 + (0xFA - 0xE0);
  static std::array<uint16_t, kExtensionRows * kTrails> twins{};
  for (int t = 0; t < kExtensionRows * kTrails; ++t) {
    const char16_t u = pairs[kFirstExtensionRow * kTrails + t];
    if (u == 0) continue;
    for (unsigned code = 0x8140; code < 0xF000 && twins[t] == 0; ++code)
      if (decode(code) == u) twins[t] = static_cast<uint16_t>(code);
  }

  // EUC-JP pairs by the arithmetic from their Shift_JIS twins, as one table for speed.
  static std::array<uint16_t, kEucRows * kEucRows> euc{};
  for (int r = 0; r < kEucRows; ++r)
    for (int c = 0; c < kEucRows; ++c)
      euc[r * kEucRows + c] = decode(arxp::cp932::EucToSjis(kEucFirst + r, kEucFirst + c));

  FILE* out = std::fopen(argv[1], "w");
  if (!out) {
    std::perror(argv[1]);
    return 1;
  }
  std::fprintf(out,
               "// Generated by gen_cp932 from glibc iconv \"CP932\"; do not edit.\n"
               "#include \"cp932.h\"\n\nnamespace arxp::cp932 {\n\n");
  WriteArray(out, "const char16_t kPairs[kRows * kTrails]",
             reinterpret_cast<const uint16_t*>(pairs.data()), pairs.size());
  WriteArray(out, "const uint16_t kFromUnicode[0x10000]", from_unicode.data(), from_unicode.size());
  WriteArray(out, "const uint16_t kExtensionTwins[kExtensionRows * kTrails]", twins.data(),
             twins.size());
  WriteArray(out, "const char16_t kEucPairs[kEucRows * kEucRows]", euc.data(), euc.size());
  std::fprintf(out, "}  // namespace arxp::cp932\n");
  if (std::fclose(out) != 0) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
