// Conversions between UTF-16 units and the multibyte encodings.
#include <cstdint>

#include "arxp/encoding.h"
#include "cp932.h"
#include "internal.h"
#include "iso2022jp.h"

namespace arxp {
namespace detail {
namespace {

constexpr char kUnmapped = '?';
constexpr char16_t kReplacement = 0xFFFD;

// Writes ISO-2022-JP output, switching character sets with escape sequences.
class JisWriter {
 public:
  explicit JisWriter(char* out) : out_(out) {}
  void Switch(iso2022jp::Set set) {
    if (set == set_) return;
    const iso2022jp::Escape& escape = iso2022jp::EscapeOf(set);
    for (char byte : escape.bytes) *out_++ = byte;
    set_ = set;
  }
  char* out() const { return out_; }
  void Put(char byte) { *out_++ = byte; }

 private:
  char* out_;
  iso2022jp::Set set_ = iso2022jp::Set::kAscii;
};

}  // namespace

std::size_t EncodeUnits(const char16_t* units, std::size_t count, int encoding, char* out,
                        bool crlf) {
  JisWriter jis(out);
  const bool is_jis = encoding == kEncodingIso2022Jp;
  for (std::size_t i = 0; i < count && units[i] != 0; ++i) {
    const char16_t unit = units[i];
    if (unit < 0x80 || (encoding != kEncodingShiftJis && encoding != kEncodingEucJp && !is_jis)) {
      if (is_jis) jis.Switch(iso2022jp::Set::kAscii);
      if (unit == '\n' && crlf) jis.Put('\r');
      jis.Put(static_cast<char>(unit & 0xFF));
      continue;
    }
    const uint16_t code =
        encoding == kEncodingShiftJis ? cp932::kFromUnicode[unit] : cp932::EncodeEuc(unit);
    if (code == 0) {
      if (is_jis) jis.Switch(iso2022jp::Set::kAscii);
      jis.Put(kUnmapped);
    } else if (is_jis && (code >> 8) == cp932::kEucSingleShift2) {
      jis.Switch(iso2022jp::Set::kKatakana);
      jis.Put(static_cast<char>(code & 0x7F));
    } else if (is_jis) {
      jis.Switch(iso2022jp::Set::kJisX0208);
      jis.Put(static_cast<char>((code >> 8) & 0x7F));
      jis.Put(static_cast<char>(code & 0x7F));
    } else {
      if (code > 0xFF) jis.Put(static_cast<char>(code >> 8));
      jis.Put(static_cast<char>(code & 0xFF));
    }
  }
  if (is_jis) jis.Switch(iso2022jp::Set::kAscii);
  *jis.out() = '\0';
  return static_cast<std::size_t>(jis.out() - out);
}

int DecodeOsText(const unsigned char* text, char16_t* out) {
  char16_t* const start = out;
  const unsigned char* p = text;
  while (const unsigned char byte = *p) {
    if (byte < 0x80) {
      if (!(byte == '\r' && p[1] == '\n')) *out++ = byte;
      ++p;
    } else if (cp932::IsHalfwidth(byte)) {
      *out++ = static_cast<char16_t>(cp932::kHalfwidthUnicode + byte - cp932::kHalfwidthFirst);
      ++p;
    } else {
      const unsigned char trail = p[1];
      const char16_t unit = trail ? cp932::DecodePair(byte, trail) : 0;
      *out++ = unit ? unit : kReplacement;
      // A byte that cannot trail stays for the next round (a zero ends the text).
      p += unit || trail >= cp932::kTrailFirst ? 2 : 1;
    }
  }
  return static_cast<int>(out - start);
}

}  // namespace detail

std::size_t multibyteCapacity(std::size_t count, int encoding) {
  // A unit takes at most 2 bytes (LF as CR LF, a double-byte code); in ISO-2022-JP
  // it may also need a 3-byte escape, and the output ends with one.
  if (encoding == kEncodingIso2022Jp) return count * (2 + iso2022jp::kEscapeSize) + 3 + 1;
  return count * 2 + 1;
}

std::size_t toMultibyte(const char16_t* units, std::size_t count, int encoding, char* out) {
  return detail::EncodeUnits(units, count, encoding, out, true);
}

}  // namespace arxp
