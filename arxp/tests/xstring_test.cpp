#include "arxp/xstring.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "arxp/encoding.h"

namespace arxp {
namespace {

TEST(Xstring, DefaultIsNullAndEmptyTextIsNot) {
  const Xstring null;
  EXPECT_TRUE(null.isNull());
  EXPECT_EQ(-1, null.length());
  EXPECT_EQ(u'\0', null.data()[0]);
  EXPECT_TRUE(Xstring::Null.isNull());

  const Xstring empty("");
  EXPECT_FALSE(empty.isNull());
  EXPECT_EQ(0, empty.length());
  EXPECT_FALSE(Xstring(u"").isNull());
  EXPECT_TRUE(Xstring(static_cast<const char*>(nullptr)).isNull());

  EXPECT_FALSE(null == "");
  EXPECT_TRUE(empty == "");
  EXPECT_NE(null, empty);
  EXPECT_EQ(null, Xstring::Null);
}

TEST(Xstring, ConstructsFromShiftJisText) {
  // "日本" and a half-width katakana "ｱ" in Shift_JIS, with CR LF.
  const Xstring s("\x93\xFA\x96\x7B\xB1\r\nA");
  ASSERT_EQ(5, s.length());
  EXPECT_EQ(std::u16string(u"日本ｱ\nA"), std::u16string(s.data(), 5));
  const unsigned char bytes[] = {0x82, 0xA0, 0};  // "あ"
  EXPECT_EQ(std::u16string(u"あ"), std::u16string(Xstring(bytes).data()));
}

TEST(Xstring, ShiftJisTextWithBadCodesNeverReadsPastItsEnd) {
  // A lead byte before the terminating zero, and an undefined pair.
  const char truncated[] = {'a', '\x82', 0, 'X'};
  const Xstring s(truncated);
  ASSERT_EQ(2, s.length());
  EXPECT_EQ(u'a', s.data()[0]);
  EXPECT_EQ(u'\uFFFD', s.data()[1]);
  // 0x85 0x40 is unassigned; a lead before '<' keeps the '<'.
  EXPECT_EQ(std::u16string(u"\uFFFD\uFFFD<"), std::u16string(Xstring("\x85\x40\x81<").data()));
}

TEST(Xstring, Utf16ConstructionNormalisesLineEnds) {
  EXPECT_EQ(std::u16string(u"a\nb\nc\n\n\n"), std::u16string(Xstring(u"a\r\nb\rc\n\r\r\n").data()));
  EXPECT_EQ(std::u16string(u"plain"), std::u16string(Xstring(u"plain").data()));
}

TEST(Xstring, BulkViewSharesCallerDataAndCopiesOwnIt) {
  std::u16string text = u"view of\rtext";
  const Xstring view(text.data(), 4);
  EXPECT_TRUE(view.isBulk());
  EXPECT_EQ(text.data(), view.data());
  EXPECT_EQ(4, view.length());
  EXPECT_TRUE(view == "view");

  const Xstring copy(view);
  EXPECT_FALSE(copy.isBulk());
  text[0] = u'V';
  EXPECT_TRUE(copy == "view");
  EXPECT_TRUE(view == "View");

  Xstring grown(text.data(), 4);
  grown += u'!';
  EXPECT_FALSE(grown.isBulk());
  EXPECT_TRUE(grown == "View!");
  EXPECT_EQ(u'\0', grown.data()[5]);
}

TEST(Xstring, AssignsAndAppends) {
  Xstring s;
  s += u'a';
  EXPECT_FALSE(s.isNull());
  s += "b\x82\xA0";  // "b" and "あ"
  s += u"c\r";       // appended as it is
  s += Xstring("d");
  EXPECT_EQ(std::u16string(u"abあc\rd"), std::u16string(s.data()));
  s = "x";
  EXPECT_TRUE(s == "x");
  s = u"y\r\n";
  EXPECT_TRUE(s == "y\n");
  s += s;
  EXPECT_TRUE(s == "y\ny\n");
  EXPECT_TRUE(Xstring("ab") + Xstring("cd") == "abcd");
  EXPECT_TRUE(Xstring::Null + Xstring("cd") == "cd");

  Xstring many;
  for (int i = 0; i < 100000; ++i) many += static_cast<char16_t>(u'0' + i % 10);
  ASSERT_EQ(100000, many.length());
  EXPECT_EQ(u'9', many.data()[99999]);
  EXPECT_EQ(u'\0', many.data()[100000]);
}

TEST(Xstring, ReserveKeepsTheUnitsAndTheBufferInPlace) {
  Xstring null;
  null.reserve(10);
  EXPECT_TRUE(null.isNull());
  Xstring s("abc");
  s.reserve(1000);
  EXPECT_TRUE(s == "abc");
  const char16_t* before = s.data();
  for (int i = 0; i < 997; ++i) s += u'x';
  EXPECT_EQ(before, s.data());
  const std::u16string text = u"view";
  Xstring view(text.data(), 4);
  view.reserve(2);
  EXPECT_FALSE(view.isBulk());
  EXPECT_TRUE(view == "view");
}

TEST(Xstring, FindsPatterns) {
  const Xstring s("abcabc");
  EXPECT_EQ(0, s.find(""));
  EXPECT_EQ(-1, s.find("abcabcx"));
  EXPECT_EQ(1, s.find("bc"));
  EXPECT_EQ(-1, s.find("cb"));
  EXPECT_EQ(2, s.find("cab"));
  EXPECT_EQ(2, Xstring("\x82\xA0x\x82\xA2").find("\x82\xA2"));
  EXPECT_EQ(-1, Xstring::Null.find("a"));
  EXPECT_EQ(0, Xstring::Null.find(""));
}

TEST(Xstring, SubstrClampsToTheString) {
  const Xstring s("hello");
  EXPECT_TRUE(s.substr(1, 3) == "ell");
  EXPECT_TRUE(s.substr(2) == "llo");
  EXPECT_TRUE(s.substr(3, 100) == "lo");
  EXPECT_TRUE(s.substr(9, 2) == "");
  EXPECT_TRUE(s.substr(-4, 2) == "he");
  EXPECT_TRUE(Xstring::Null.substr(0, 1).isNull());
  const std::u16string text = u"bulk";
  const Xstring part = Xstring(text.data(), 4).substr(1, 2);
  EXPECT_FALSE(part.isBulk());
  EXPECT_TRUE(part == "ul");
}

TEST(Xstring, ConvertsToShiftJisWithCrLf) {
  const Xstring s(u"日本\nｱA");
  EXPECT_STREQ(
      "\x93\xFA\x96\x7B\r\n\xB1"
      "A",
      s.sjis_str());
  char buffer[32];
  EXPECT_EQ(buffer, s.sjis_str(buffer));
  EXPECT_STREQ(
      "\x93\xFA\x96\x7B\r\n\xB1"
      "A",
      buffer);
  EXPECT_STREQ(s.sjis_str(), s.os_str());
  // Back again: CR LF becomes LF.
  EXPECT_EQ(s, Xstring(s.sjis_str()));
}

TEST(Xstring, ConvertsToEucJpAndIso2022Jp) {
  const Xstring s(u"a日本ｱ\n");
  EXPECT_STREQ("a\xC6\xFC\xCB\xDC\x8E\xB1\r\n", s.euc_str());
  EXPECT_STREQ("a\x1B$BF|K\\\x1B(I1\x1B(B\r\n", s.jis_str());
  EXPECT_STREQ("\x1B$B$\"\x1B(B", Xstring(u"あ").jis_str());
  char buffer[64];
  EXPECT_STREQ("a\xC6\xFC\xCB\xDC\x8E\xB1\r\n", s.euc_str(buffer));
  EXPECT_STREQ("a\x1B$BF|K\\\x1B(I1\x1B(B\r\n", s.jis_str(buffer));
}

TEST(Xstring, UnmappableCharactersBecomeQuestionMarks) {
  // U+00E9 has no CP932 code; U+E000 is user-defined (Shift_JIS 0xF040 only);
  // U+1F600 is a surrogate pair.
  const Xstring s(u"\u00E9\uE000\U0001F600");
  EXPECT_STREQ("?\xF0\x40??", s.sjis_str());
  EXPECT_STREQ("????", s.euc_str());
  EXPECT_STREQ("????", s.jis_str());
}

TEST(Xstring, ConversionStopsAtAZeroUnit) {
  const char16_t units[] = {u'a', 0, u'b'};
  const Xstring s(units, 3);
  EXPECT_STREQ("a", s.sjis_str());
  std::vector<char> bytes(multibyteCapacity(3, kEncodingShiftJis));
  EXPECT_EQ(1u, toMultibyte(units, 3, kEncodingShiftJis, bytes.data()));
}

TEST(Xstring, ScratchConversionIsOverwrittenByTheNext) {
  const Xstring first("the first"), second("second");
  const char* a = first.sjis_str();
  EXPECT_STREQ("the first", a);
  const char* b = second.sjis_str();  // needs no more room than the first
  EXPECT_EQ(a, b);
  EXPECT_STREQ("second", a);
  const Xstring longer(std::string(5000, 'x').c_str());
  EXPECT_EQ(5000u, std::strlen(longer.euc_str()));
  EXPECT_STREQ("the first", first.ascii_str());
}

TEST(Xstring, AsciiAndUnicodeCopies) {
  const Xstring s(u"A\u0142B");
  char ascii[8];
  EXPECT_EQ(ascii, s.ascii_str(ascii));
  EXPECT_STREQ("ABB", ascii);  // 'B' is the low byte of U+0142
  char16_t units[8];
  EXPECT_EQ(std::u16string(u"A\u0142B"), std::u16string(s.unicode_str(units)));
  EXPECT_EQ(s.data(), s.unicode_str());
  EXPECT_STREQ("", Xstring::Null.sjis_str());
}

TEST(Xstring, StreamsInTheOsEncoding) {
  std::ostringstream out;
  out << Xstring(u"日本") << Xstring::Null << Xstring("!");
  EXPECT_EQ("\x93\xFA\x96\x7B!", out.str());
}

}  // namespace
}  // namespace arxp
