#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "arxp/encoding.h"
#include "arxp/input.h"
#include "test_util.h"
#include "testsupport.h"

namespace arxp {
namespace {

using test::CapturedDiagnostics;
using test::Decode;
using test::DecodeFailure;

constexpr int kChar = ARXPException::INVALID_CHAR_ERR;
constexpr int kEof = ARXPException::UNEXPECTED_EOF_ERR;

struct DetectCase {
  std::string bytes;
  int encoding;
  int order;
  std::string log;
};

TEST(Detect, RecognisesEverySupportedStart) {
  const DetectCase cases[] = {
      {std::string("\xFF\xFE<\0", 4), kEncodingUtf16, kByteOrderLittle,
       "UTF-16 BOM (little-endian)"},
      {std::string("\xFE\xFF\0<", 4), kEncodingUtf16, kByteOrderBig, "UTF-16 BOM (big-endian)"},
      {"<?xml", kEncodingUtf8, kByteOrderNone, "UTF-8 <?xm"},
      {"<?pi?>", kEncodingUtf8, kByteOrderNone, "UTF-8 <?pi"},
      {std::string("<\0?\0", 4), kEncodingUtf16, kByteOrderLittle,
       "UTF-16 <? (little-endian, without BOM?)"},
      {std::string("\0<\0?", 4), kEncodingUtf16, kByteOrderBig,
       "UTF-16 <? (big-endian, without BOM?)"},
      {"<doc/>", kEncodingUtf8, kByteOrderNone, "encoding not determined, assume to UTF-8"},
      {"\xEF\xBB\xBF<a/>", kEncodingUtf8, kByteOrderNone, "UTF-8 BOM"},
  };
  for (const DetectCase& c : cases) {
    SCOPED_TRACE(c.log);
    CapturedDiagnostics diagnostics;
    Diagnostics::setDebug(true);
    ByteInput input(c.bytes.data(), c.bytes.size());
    const DetectedEncoding detected = detectEncoding(input);
    EXPECT_EQ(c.encoding, detected.encoding);
    EXPECT_EQ(c.order, detected.byte_order);
    EXPECT_EQ("ARXP " + c.log + "\nARXP xml file primary encoding = " + encodingName(c.encoding) +
                  "\nARXP xml file byte order = " + byteOrderName(c.order) + "\n",
              diagnostics.text());
  }
}

TEST(Detect, LogsNothingWithoutDebugging) {
  CapturedDiagnostics diagnostics;
  ByteInput input("<?xml", 5);
  detectEncoding(input);
  EXPECT_EQ("", diagnostics.text());
}

TEST(Detect, RefusesUcs4ShortAndIllegalInputs) {
  const std::pair<std::string, std::string> cases[] = {
      {std::string("\0\0\0<", 4), "UCS-4 (0) not supported"},
      {std::string("\0\0<\0", 4), "UCS-4 (1) not supported"},
      {std::string("\0<\0\0", 4), "UCS-4 (2) not supported"},
      {std::string("<\0\0\0", 4), "UCS-4 (3) not supported"},
      {std::string("\0\0\0\0", 4), "illegal XML file"},
      {std::string("\0<a\0", 4), "illegal XML file"},
      {std::string("<\0a\0", 4), "illegal XML file"},
      {"", "not XML file"},
      {"<", "not XML file"},
      {"<a", "not XML file"},
      {"\xFF\xFE<", "not XML file"},
  };
  for (const auto& [bytes, message] : cases) {
    SCOPED_TRACE(message);
    CapturedDiagnostics diagnostics;
    ByteInput input(bytes.data(), bytes.size());
    try {
      detectEncoding(input);
      ADD_FAILURE() << "no error";
    } catch (const ARXPException& e) {
      EXPECT_EQ(ARXPException::FORMAT_ERR, e.getCode());
      EXPECT_EQ(message, test::Ascii(e.getMessage()));
      EXPECT_EQ("ARXP error : " + message + "\n", diagnostics.text());
    }
  }
}

TEST(Detect, SkipsTheByteOrderMark) {
  const std::string bytes("\xFF\xFE<\0a\0", 6);
  ByteInput input(bytes.data(), bytes.size());
  const DetectedEncoding detected = detectEncoding(input);
  EXPECT_EQ(2, detected.bom_size);
  CharReader reader(input, detected.encoding, detected.byte_order);
  EXPECT_EQ('<', reader.getc());
  EXPECT_EQ('a', reader.getc());
  EXPECT_EQ(-1, reader.getc());

  const std::string plain = "<?xml?>";
  ByteInput unmarked(plain.data(), plain.size());
  detectEncoding(unmarked);
  EXPECT_EQ(plain.data(), reinterpret_cast<const char*>(unmarked.cursor()));
}

TEST(Utf8Reader, DecodesUpToThreeBytesAndNormalisesLineEnds) {
  EXPECT_EQ(u"aé日\n\nb\n\t", Decode("a\xC3\xA9\xE6\x97\xA5\r\n\rb\n\t", kEncodingUtf8));
  EXPECT_EQ(u"\uFFFD\u07FF\u0800\uD7FF\uE000", Decode("\xEF\xBF\xBD\xDF\xBF\xE0\xA0\x80"
                                                      "\xED\x9F\xBF\xEE\x80\x80",
                                                      kEncodingUtf8));
  EXPECT_EQ(u"", Decode("", kEncodingUtf8));
}

struct FaultCase {
  std::string bytes;
  int code;
  std::string message;
  std::u16string delivered;
};

void ExpectFaults(const FaultCase* cases, std::size_t count, int encoding,
                  int order = kByteOrderNone) {
  for (std::size_t i = 0; i < count; ++i) {
    const FaultCase& c = cases[i];
    SCOPED_TRACE(c.message + " #" + std::to_string(i));
    CapturedDiagnostics diagnostics;
    const test::Failure failure = DecodeFailure(c.bytes, encoding, order);
    EXPECT_EQ(c.code, failure.code);
    EXPECT_EQ(c.message, failure.message);
    EXPECT_EQ(c.delivered, failure.delivered);
    EXPECT_EQ(0u, diagnostics.text().rfind("ARXP error : " + c.message + " : ", 0))
        << diagnostics.text();
  }
}

TEST(Utf8Reader, ReportsEveryMalformedSequence) {
  const FaultCase cases[] = {
      {"ab\xF0\x9F\x98\x80", kChar, "not supported UTF-8 char (f0)", u"ab"},
      {"\x80", kChar, "not supported UTF-8 char (80)", u""},
      {"\xC0\xAF", kChar, "not supported UTF-8 char (c0)", u""},
      {"\xFF", kChar, "not supported UTF-8 char (ff)", u""},
      {"x\xC3"
       "A",
       kChar, "illegal UTF-8 second char (41)", u"x"},
      {"\xE0\x80\x80", kChar, "illegal UTF-8 second char (80)", u""},
      {"\xED\xA0\x80", kChar, "illegal UTF-8 second char (a0)", u""},
      {"\xE6\x97<", kChar, "illegal UTF-8 third char (3c)", u""},
      {"\xEF\xBF\xBE", kChar, "not xml char (fffe)", u""},
      {"a\x01", kChar, "not xml char (1)", u"a"},
      {std::string("a\0", 2), kChar, "not xml char (0)", u"a"},
      {"a\xC3", kEof, "unexpected EOF at utf-8 second byte", u"a"},
      {"\xE6", kEof, "unexpected EOF at utf-8 second byte", u""},
      {"\xE6\x97", kEof, "unexpected EOF at utf-8 third byte", u""},
  };
  ExpectFaults(cases, std::size(cases), kEncodingUtf8);
}

TEST(Utf16Reader, DecodesBothByteOrdersWithPairs) {
  EXPECT_EQ(u"a日\U0001F600\n\n", Decode(std::string("a\0\xE5\x65\x3D\xD8\x00\xDE\r\0\n\0\r\0", 14),
                                         kEncodingUtf16, kByteOrderLittle));
  EXPECT_EQ(u"a日\U0001F600\n", Decode(std::string("\0a\x65\xE5\xD8\x3D\xDE\x00\0\r", 10),
                                       kEncodingUtf16, kByteOrderBig));
  // A pair read one unit at a time.
  const std::string pair("\x3D\xD8\x00\xDE", 4);
  EXPECT_EQ(u"\U0001F600", Decode(pair, kEncodingUtf16, kByteOrderLittle, 1));
}

TEST(Utf16Reader, ReportsOddLengthsAndLoneSurrogates) {
  const FaultCase cases[] = {
      {std::string("a\0b", 3), kEof, "unexpected EOF at utf-16 second byte", u"a"},
      {std::string("\x3D\xD8", 2), kChar, "not xml char (d83d)", u""},
      {std::string("\x3D\xD8z\0", 4), kChar, "not xml char (d83d)", u""},
      {std::string("\x3D\xD8\x3D", 3), kChar, "not xml char (d83d)", u""},
      {std::string("a\0\x00\xDE", 4), kChar, "not xml char (de00)", u"a"},
      {std::string("\xFF\xFF", 2), kChar, "not xml char (ffff)", u""},
      {std::string("\x08\0", 2), kChar, "not xml char (8)", u""},
  };
  ExpectFaults(cases, std::size(cases), kEncodingUtf16, kByteOrderLittle);
}

TEST(ShiftJisReader, DecodesAndTurnsCrLfIntoLf) {
  EXPECT_EQ(u"日本ｱ\na\n\\~", Decode("\x93\xFA\x96\x7B\xB1\r\na\r\\~", kEncodingShiftJis));
  EXPECT_EQ(u"\uE000\u2170①", Decode("\xF0\x40\xFA\x40\x87\x40", kEncodingShiftJis));
}

TEST(ShiftJisReader, ReportsBadLeadAndTrailBytes) {
  const FaultCase cases[] = {
      {"a\x80\x40", kChar, "illegal Shift_JIS char (8040)", u"a"},
      {"\xA0\x40", kChar, "illegal Shift_JIS char (a040)", u""},
      {"\xFD\x40", kChar, "illegal Shift_JIS char (fd40)", u""},
      {"\x93<", kChar, "illegal Shift_JIS char (933c)", u""},
      {"\x93\x7F", kChar, "illegal Shift_JIS char (937f)", u""},
      {"\x85\x40", kChar, "illegal Shift_JIS char (8540)", u""},
      {"\x93\xFA\x93", kEof, "unexpected EOF at Shift_JIS second byte", u"日"},
      {"\x1F", kChar, "not xml char (1f)", u""},
  };
  ExpectFaults(cases, std::size(cases), kEncodingShiftJis);
}

TEST(EucJpReader, DecodesPairsAndHalfwidthKatakana) {
  EXPECT_EQ(u"日本ｱ\n", Decode("\xC6\xFC\xCB\xDC\x8E\xB1\r\n", kEncodingEucJp));
}

TEST(EucJpReader, ReportsBadAndTruncatedCodes) {
  const FaultCase cases[] = {
      {"\x8F\xB0\xA1", kChar, "illegal EUC-JP char (8fb0)", u""},
      {"\x8E\xE0", kChar, "illegal EUC-JP char (8ee0)", u""},
      {"\xC6<", kChar, "illegal EUC-JP char (c63c)", u""},
      {"\xA0\xA1", kChar, "illegal EUC-JP char (a0a1)", u""},
      {"\xA9\xA1", kChar, "illegal EUC-JP char (a9a1)", u""},  // an empty row
      {"ab\xC6", kEof, "unexpected EOF at EUC-JP second byte", u"ab"},
  };
  ExpectFaults(cases, std::size(cases), kEncodingEucJp);
}

TEST(Iso2022JpReader, FollowsTheEscapeSequences) {
  EXPECT_EQ(u"a日本 b\nｱｲ\n",
            Decode("a\x1B$BF|K\\ \x1B(Bb\r\n\x1B(I12\x1B(J\r\n", kEncodingIso2022Jp));
  EXPECT_EQ(u"日ｱ", Decode("\x1B$@F|\xB1", kEncodingIso2022Jp));
  // 8-bit pairs as in EUC-JP, beside the single-byte katakana 0xA1-0xDF.
  EXPECT_EQ(u"ﾆ\u71F9", Decode("\xC6\xE0\xA1", kEncodingIso2022Jp));
}

TEST(Iso2022JpReader, ReportsBrokenEscapesAndCodes) {
  const FaultCase cases[] = {
      {"a\x1B"
       "x",
       kChar, "illegal second KIN code (78)", u"a"},
      {"\x1B$BF|\x1B"
       "x",
       kChar, "illegal second KOUT code (78)", u"日"},
      {"\x1B$x", kChar, "illegal third KIN code (78)", u""},
      {"\x1B(x", kChar, "illegal third KOUT code (78)", u""},
      {"a\x1B", kEof, "unexpected EOF in ISO-2022-JP escape sequence", u"a"},
      {"\x1B$", kEof, "unexpected EOF in ISO-2022-JP escape sequence", u""},
      {"\x1B$BF", kEof, "unexpected EOF at ISO-2022-JP second byte", u""},
      {"\x1B$BF\n", kChar, "illegal ISO-2022-JP char (460a)", u""},
      {"\x1B$B\x29\x21", kChar, "illegal ISO-2022-JP char (2921)", u""},
      {"\x1B(I\x60", kChar, "illegal ISO-2022-JP char (60)", u""},
      {"\xE6"
       "F",
       kChar, "illegal ISO-2022-JP char (e646)", u""},
  };
  ExpectFaults(cases, std::size(cases), kEncodingIso2022Jp);
}

TEST(CharReader, ReportsWhereTheFaultLies) {
  CapturedDiagnostics diagnostics;
  const std::string bytes =
      "ab\ncd\xC3"
      "A";
  ByteInput input(bytes.data(), bytes.size(), "doc.xml");
  CharReader reader(input, kEncodingUtf8);
  char16_t units[16];
  EXPECT_EQ(5u, reader.read(units, 16));  // everything before the fault
  EXPECT_EQ(2, reader.line());
  EXPECT_EQ(2, reader.column());
  EXPECT_THROW(reader.read(units, 16), ARXPException);
  EXPECT_EQ("ARXP error : illegal UTF-8 second char (41) : doc.xml () at line 2, col 3\n",
            diagnostics.text());
}

TEST(CharReader, AnUnknownEncodingIsAnErrorNotAnAbort) {
  CapturedDiagnostics diagnostics;
  ByteInput input("x", 1);
  try {
    CharReader reader(input, 6);
    FAIL() << "no error";
  } catch (const ARXPException& e) {
    EXPECT_EQ(ARXPException::INTERNAL_ERR, e.getCode());
    EXPECT_EQ("(*select_getc_proc())() fail", test::Ascii(e.getMessage()));
  }
  EXPECT_EQ("ARXP fatal error : (*select_getc_proc())() fail\n", diagnostics.text());
}

TEST(CharReader, SwitchesEncodingBetweenTwoUnits) {
  // A declaration read as UTF-8, the rest as Shift_JIS: nothing is decoded ahead.
  const std::string bytes = "<?xml encoding='Shift_JIS'?>\x93\xFA\x96\x7B";
  ByteInput input(bytes.data(), bytes.size());
  CharReader reader(input, kEncodingUtf8);
  std::u16string text;
  while (text.empty() || text.back() != u'>') text += static_cast<char16_t>(reader.getc());
  reader.select(kEncodingShiftJis);
  char16_t units[8];
  ASSERT_EQ(2u, reader.read(units, 8));
  EXPECT_EQ(u"日本", std::u16string(units, 2));
  EXPECT_EQ(0u, reader.read(units, 8));
}

// Writes `bytes` to a file and decodes it through the file's 64 KiB chunks.
std::u16string DecodeFile(const std::string& bytes, int encoding, int order, std::size_t chunk) {
  const std::string path = (tgx::test::MakeTempDir("reader") / "input").string();
  std::ofstream(path, std::ios::binary) << bytes;
  ByteInput input(path.c_str());
  EXPECT_TRUE(input.isOpen());
  CharReader reader(input, encoding, order);
  std::u16string all, units(chunk, u'\0');
  while (const std::size_t n = reader.read(units.data(), chunk)) all.append(units.data(), n);
  return all;
}

TEST(CharReader, FileChunksSplitNoSequence) {
  // Every sequence kind lands on each side of the 64 KiB chunk edge once: the
  // padding before the sample moves by one byte per round.
  struct Sample {
    int encoding;
    int order;
    std::string bytes;
    std::u16string units;
  };
  const Sample samples[] = {
      {kEncodingUtf8, kByteOrderNone, "\xE6\x97\xA5\xC3\xA9\r\n\r", u"日é\n\n"},
      {kEncodingUtf16, kByteOrderLittle, std::string("\xE5\x65\x3D\xD8\x00\xDE\r\0\n\0", 10),
       u"日\U0001F600\n"},
      {kEncodingShiftJis, kByteOrderNone, "\x93\xFA\xB1\r\n", u"日ｱ\n"},
      {kEncodingEucJp, kByteOrderNone, "\xC6\xFC\x8E\xB1\r\n", u"日ｱ\n"},
      {kEncodingIso2022Jp, kByteOrderNone, "\x1B$BF|\x1B(B\r\n", u"日\n"},
  };
  for (const Sample& sample : samples) {
    SCOPED_TRACE(encodingName(sample.encoding));
    const std::size_t unit_size = sample.encoding == kEncodingUtf16 ? 2 : 1;
    for (std::size_t shift = 0; shift < 12; shift += unit_size) {
      const std::size_t pad = 64 * 1024 - 6 + shift;
      std::string padding(pad, 'x');
      if (unit_size == 2)
        for (std::size_t i = 1; i < pad; i += 2) padding[i] = '\0';
      const std::u16string expected = std::u16string(pad / unit_size, u'x') + sample.units;
      EXPECT_EQ(expected, DecodeFile(padding + sample.bytes, sample.encoding, sample.order, 4096));
      EXPECT_EQ(expected, DecodeFile(padding + sample.bytes, sample.encoding, sample.order, 1));
    }
  }
}

TEST(CharReader, AFileThatCannotOpenSaysSo) {
  ByteInput input((tgx::test::MakeTempDir("reader") / "missing.xml").c_str());
  EXPECT_FALSE(input.isOpen());
}

TEST(CharReader, AFailingReadIsAnErrorNotAnEndOfInput) {
  // A directory opens as a stream on Linux, but every read of it fails.
  CapturedDiagnostics diagnostics;
  const std::string path = tgx::test::MakeTempDir("reader").string();
  ByteInput input(path.c_str());
  ASSERT_TRUE(input.isOpen());
  try {
    detectEncoding(input);
    FAIL() << "no error";
  } catch (const ARXPException& e) {
    EXPECT_EQ(ARXPException::FILE_OPEN_ERR, e.getCode());
    EXPECT_EQ("file (" + path + ") cannot read", test::Ascii(e.getMessage()));
  }
}

}  // namespace
}  // namespace arxp
