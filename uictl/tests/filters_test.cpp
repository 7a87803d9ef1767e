#include "filters.h"

#include <gtest/gtest.h>

namespace uictl {
namespace {

TEST(Filters, ControlCharactersAlwaysPass) {
  for (Family f : {Family::Deci, Family::Hexa, Family::IpField, Family::Eb1Name, Family::ServerName,
                   Family::AppleTalk, Family::DnsDomain})
    EXPECT_EQ(FilterChar(f, U'\b'), CharVerdict::Pass);
}

TEST(Filters, EachFamilyRefusesItsOwnCharacters) {
  EXPECT_EQ(FilterChar(Family::Deci, U'-'), CharVerdict::Pass);
  EXPECT_EQ(FilterChar(Family::Deci, U'+'), CharVerdict::Drop);
  EXPECT_EQ(FilterChar(Family::Hexa, U'c'), CharVerdict::Upper);
  EXPECT_EQ(FilterChar(Family::Hexa, U'G'), CharVerdict::Drop);
  EXPECT_EQ(FilterChar(Family::IpField, U'.'), CharVerdict::Ignore);
  EXPECT_EQ(FilterChar(Family::DnsHost, U'/'), CharVerdict::Pass);  // replaced on validation
  EXPECT_EQ(FilterChar(Family::DnsDomain, U'/'), CharVerdict::Drop);
  EXPECT_EQ(FilterChar(Family::AppleTalk, kAppleTalkRefusedKana), CharVerdict::Drop);
  EXPECT_EQ(FilterChar(Family::AppleTalk, U'名'), CharVerdict::Pass);
  EXPECT_EQ(FilterChar(Family::Eb1Name, U'名'), CharVerdict::Drop);
  EXPECT_EQ(FilterChar(Family::Eb1Name, U'\x7F'), CharVerdict::Pass);
  EXPECT_EQ(FilterChar(Family::Eb1Name, U'|'), CharVerdict::Drop);
  EXPECT_EQ(FilterChar(Family::ServerName, U'_'), CharVerdict::Pass);
  EXPECT_EQ(FilterChar(Family::ServerName, U'@'), CharVerdict::Drop);
  EXPECT_FALSE(Refused(Family::Uri, U'@'));
  EXPECT_TRUE(Refused(Family::DnsHost, U'@'));
}

TEST(Filters, ReplacingAndComposedStrings) {
  std::u32string text = U"a,b/c:d?e@f\\g";
  EXPECT_EQ(ReplaceRefused(Family::DnsHost, text), 6u);
  EXPECT_EQ(text, U"a-b-c-d-e-f-g");
  EXPECT_EQ(FilterComposed(Family::AppleTalk, U"ア＊b"), U"ア＊b")
      << "a full-width asterisk passes";
  EXPECT_EQ(FilterComposed(Family::AppleTalk, U"a*b"), U"ab");
  EXPECT_EQ(FilterComposed(Family::ServerName, U"ab c"), U"ab c");
  EXPECT_EQ(FilterComposed(Family::ServerName, U"ab,c"), U"");
}

TEST(Filters, DecimalNumbers) {
  EXPECT_EQ(ParseDecimal("-2147483648"), INT32_MIN);
  EXPECT_EQ(ParseDecimal("2147483647"), INT32_MAX);
  EXPECT_FALSE(ParseDecimal("2147483648"));
  EXPECT_FALSE(ParseDecimal("-2147483649"));
  EXPECT_FALSE(ParseDecimal("99999999999999999999999"));
  EXPECT_FALSE(ParseDecimal("-"));
  EXPECT_FALSE(ParseDecimal(""));
  EXPECT_FALSE(ParseDecimal("1-"));
  EXPECT_FALSE(ParseDecimal(" 1"));
  EXPECT_EQ(ParseDecimal("007"), 7);
}

TEST(Filters, RangesFromWindowText) {
  const Range r = ParseRange("5,50");
  EXPECT_TRUE(r.valid);
  EXPECT_EQ(r.minimum, 5);
  EXPECT_EQ(r.maximum, 50);
  const Range bad = ParseRange("abc");
  EXPECT_FALSE(bad.valid);
  EXPECT_EQ(bad.minimum, 0);
  EXPECT_EQ(bad.maximum, 100);
  EXPECT_TRUE(ParseRange("-10,-1").valid);
  EXPECT_FALSE(ParseRange("5,").valid);
  EXPECT_FALSE(ParseRange("5,50,7").valid);
  EXPECT_FALSE(ParseRange("").valid);
}

TEST(Filters, IpFieldsAndHexPairs) {
  EXPECT_EQ(IpFieldNumber(""), 0);
  EXPECT_EQ(IpFieldNumber("255"), 255);
  EXPECT_EQ(IpFieldNumber("256"), 256);
  EXPECT_EQ(IpFieldNumber("0001"), 256);
  EXPECT_EQ(IpFieldNumber("1a"), 256);
  EXPECT_EQ(ReadHexPair("A"), 0x0A);
  EXPECT_EQ(ReadHexPair("AZ"), 0x0A);
  EXPECT_FALSE(ReadHexPair("a0"));
  EXPECT_FALSE(ReadHexPair(""));
  EXPECT_TRUE(ParseNetWare("0000000", "000000000000")) << "a last pair of one digit reads";
  EXPECT_FALSE(ParseNetWare("000000", "000000000000"));
}

TEST(Filters, GaugeText) {
  const GaugeSetup g = ParseGaugeText("100,0,150");
  EXPECT_EQ(g.minimum, 0u);
  EXPECT_EQ(g.maximum, 100u);
  EXPECT_EQ(g.value, 100u);
  const GaugeSetup blanks = ParseGaugeText(" 10, 20");
  EXPECT_EQ(blanks.minimum, 10u);
  EXPECT_EQ(blanks.maximum, 20u);
  EXPECT_EQ(blanks.value, 10u) << "the default value 0 is clamped into the range";
  const GaugeSetup empty = ParseGaugeText(",,");
  EXPECT_EQ(empty.minimum, 0u);
  EXPECT_EQ(empty.maximum, 0u);
  EXPECT_EQ(empty.value, 0u);
  const GaugeSetup none = ParseGaugeText("");
  EXPECT_EQ(none.minimum, 0u);
  EXPECT_EQ(none.maximum, 100u) << "one empty number reads as 0; the missing keep their defaults";
  EXPECT_EQ(ParseGaugeText("0,99999999999").maximum, 0xFFFFFFFFu);
}

TEST(Filters, AlignmentWords) {
  EXPECT_EQ(ParseAlignment("left top"), kAlignLeft | kAlignTop);
  EXPECT_EQ(ParseAlignment("RIGHT,BOTTOM"), kAlignRight | kAlignBottom);
  EXPECT_EQ(ParseAlignment("Center Middle"), 0u);
  EXPECT_EQ(ParseAlignment("rightmost"), kAlignRight) << "compared by the first four letters";
  EXPECT_EQ(ParseAlignment("garbage"), 0u);
}

TEST(Filters, FormattingIsSafeForAnyPattern) {
  EXPECT_EQ(FormatNumbers("%dから%dまで", {1, 10}), "1から10まで");
  EXPECT_EQ(FormatNumbers("%ld to %ld", {-5, 7}), "-5 to 7");
  EXPECT_EQ(FormatNumbers("%s %n %d %d %d", {1}), "%s %n 1 %d %d");
  EXPECT_EQ(FormatNumbers("100%", {}), "100%");
}

}  // namespace
}  // namespace uictl
