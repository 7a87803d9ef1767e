// The code page against glibc iconv "CP932", and round trips of every character it
// maps through the three multibyte encodings.
#include <gtest/gtest.h>
#include <iconv.h>

#include <string>

#include "arxp/encoding.h"
#include "arxp/xstring.h"
#include "test_util.h"

namespace arxp {
namespace {

class Iconv {
 public:
  Iconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Iconv() {
    if (ok()) iconv_close(cd_);
  }
  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  // The whole conversion of `in`, or false.
  bool Convert(std::string in, std::string& out) {
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    char buffer[64];
    char* inp = in.data();
    size_t inleft = in.size();
    char* outp = buffer;
    size_t outleft = sizeof buffer;
    if (iconv(cd_, &inp, &inleft, &outp, &outleft) == static_cast<size_t>(-1)) return false;
    out.assign(buffer, outp);
    return true;
  }

 private:
  iconv_t cd_;
};

std::string Utf16Le(char16_t unit) {
  return {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
}

bool IsSurrogate(unsigned u) { return u >= 0xD800 && u <= 0xDFFF; }
bool IsUserDefined(unsigned u) { return u >= 0xE000 && u <= 0xE757; }

std::string Convert(const Xstring& s, int encoding) {
  std::string bytes(s.mbcsCapacity(encoding), '\0');
  bytes.resize(toMultibyte(s.data(), s.length(), encoding, bytes.data()));
  return bytes;
}

TEST(CodePage, EncodesEveryCharacterAsIconvDoes) {
  Iconv encoder("CP932", "UTF-16LE"), decoder("UTF-16LE", "CP932");
  ASSERT_TRUE(encoder.ok() && decoder.ok());
  int mapped = 0;
  for (unsigned u = 0x80; u <= 0xFFFF; ++u) {
    if (IsSurrogate(u)) continue;
    const char16_t unit = static_cast<char16_t>(u);
    std::string expected, back;
    // Only mappings that come back unchanged; the others are written as '?'.
    if (!encoder.Convert(Utf16Le(unit), expected) || !decoder.Convert(expected, back) ||
        back != Utf16Le(unit))
      expected = "?";
    const std::string ours = Convert(Xstring(&unit, 1), kEncodingShiftJis);
    ASSERT_EQ(expected, ours) << std::hex << "U+" << u;
    mapped += ours != "?";
  }
  // JIS X 0208, the NEC and IBM extensions, half-width katakana, user-defined area.
  EXPECT_GT(mapped, 9000);
}

TEST(CodePage, DecodesEveryDoubleByteCodeAsIconvDoes) {
  Iconv decoder("UTF-16LE", "CP932");
  ASSERT_TRUE(decoder.ok());
  for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
    if (lead >= 0xA0 && lead < 0xE0) continue;
    for (unsigned trail = 0x40; trail <= 0xFF; ++trail) {
      const std::string bytes{static_cast<char>(lead), static_cast<char>(trail)};
      std::string expected;
      const bool valid = decoder.Convert(bytes, expected) && expected.size() == 2;
      test::CapturedDiagnostics diagnostics;
      const test::Failure failure = test::DecodeFailure(bytes, kEncodingShiftJis);
      if (valid) {
        ASSERT_EQ(0, failure.code) << std::hex << lead << ' ' << trail;
        ASSERT_EQ(expected, Utf16Le(failure.delivered[0]));
      } else {
        ASSERT_EQ(ARXPException::INVALID_CHAR_ERR, failure.code) << std::hex << lead << trail;
      }
    }
  }
}

// Every character the code page maps, each once, with line ends between.
std::u16string MappedCharacters(int encoding) {
  std::u16string all;
  for (unsigned u = 0x80; u <= 0xFFFF; ++u) {
    const char16_t unit = static_cast<char16_t>(u);
    if (IsSurrogate(u) || Convert(Xstring(&unit, 1), encoding) == "?") continue;
    all += unit;
    if (all.size() % 64 == 0) all += u'\n';
  }
  return all;
}

TEST(CodePage, EucJpAndIso2022JpReachAllButTheUserDefinedArea) {
  const std::u16string sjis = MappedCharacters(kEncodingShiftJis);
  for (int encoding : {kEncodingEucJp, kEncodingIso2022Jp}) {
    SCOPED_TRACE(encodingName(encoding));
    std::u16string expected;
    for (char16_t unit : sjis)
      if (!IsUserDefined(unit)) expected += unit;
    std::u16string reached;
    for (char16_t unit : MappedCharacters(encoding)) reached += unit;
    std::erase(expected, u'\n');
    std::erase(reached, u'\n');
    EXPECT_EQ(expected, reached);
  }
}

TEST(CodePage, EveryMappedCharacterRoundTrips) {
  for (int encoding : {kEncodingShiftJis, kEncodingEucJp, kEncodingIso2022Jp}) {
    SCOPED_TRACE(encodingName(encoding));
    const std::u16string all = MappedCharacters(encoding) + u"<ascii>\n";
    const Xstring text(all.data(), static_cast<int>(all.size()));
    const std::string bytes = Convert(text, encoding);
    EXPECT_EQ(all, test::Decode(bytes, encoding));
    EXPECT_EQ(all, test::Decode(bytes, encoding, kByteOrderNone, 1));
  }
}

// EUC-JP-MS agrees, except that it puts the IBM extension characters into JIS X 0212
// (prefix 0x8F), where the arithmetic takes their NEC-selected rows 89-92 instead.
TEST(CodePage, EucJpMatchesIconvEucJpMs) {
  Iconv encoder("EUC-JP-MS", "UTF-16LE");
  ASSERT_TRUE(encoder.ok());
  int compared = 0, extension = 0;
  for (char16_t unit : MappedCharacters(kEncodingEucJp)) {
    if (unit == u'\n') continue;
    std::string expected;
    if (!encoder.Convert(Utf16Le(unit), expected)) continue;
    ++compared;
    const std::string ours = Convert(Xstring(&unit, 1), kEncodingEucJp);
    if (ours == expected) continue;
    ++extension;
    EXPECT_EQ('\x8F', expected[0]) << std::hex << "U+" << unsigned{unit};
    const auto row = static_cast<unsigned char>(ours[0]);
    EXPECT_TRUE(row >= 0xF9 && row <= 0xFC) << std::hex << "U+" << unsigned{unit};
  }
  EXPECT_GT(compared, 7000);
  EXPECT_LT(extension, 400);
}

}  // namespace
}  // namespace arxp
