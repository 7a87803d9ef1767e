// What each entry box accepts: the character filters applied as the user types,
// the checks made when the text is validated, and the readers of the numbers that
// dialog templates and users give. Plain functions on code points, without Qt,
// so that they can be fuzzed alone.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace uictl {

enum class Family {
  Deci,     // decimal and wide decimal boxes
  Hexa,     // hexadecimal box and the NetWare fields
  IpField,  // one field of the IP address box
  DnsHost,
  DnsDomain,
  Uri,
  AppleTalk,
  Eb1Name,
  ServerName,
  Spin,        // spin box: digits
  SpinTenths,  // spin box in tenths: digits and "."
  Edit,        // plain edit boxes: everything passes (keep last)
};

enum class CharVerdict {
  Pass,    // enters as typed
  Upper,   // enters as its upper-case form
  Drop,    // refused with a beep
  Ignore,  // refused silently ("." in an IP field, handled as a move)
};

// The character the byte 197 of the Japanese code page stands for (a half-width
// katakana), refused in AppleTalk names.
inline constexpr char32_t kAppleTalkRefusedKana = U'\uFF85';

// The verdict on one typed character. Control characters (below 32) always pass.
CharVerdict FilterChar(Family family, char32_t c);

// True when the character may not stand in a validated text of the family.
bool Refused(Family family, char32_t c);

// Replaces every refused character by "-"; returns how many were replaced.
std::size_t ReplaceRefused(Family family, std::u32string& text);

// A string from the input method: the AppleTalk box turns each refused wide
// character into "--" and drops the other refused ones; the EB1 and server-name
// boxes refuse the whole string (empty result) when any character is refused.
std::u32string FilterComposed(Family family, std::u32string_view text);

// A decimal number: an optional leading "-" and at least one digit, nothing else,
// within 32 bits. Empty when the text is not such a number.
std::optional<std::int32_t> ParseDecimal(std::string_view text);

// The initial range of a numeric box from its window text, "minimum,maximum";
// without a valid pair the range is 0 - 100 and not valid.
struct Range {
  std::int32_t minimum = 0;
  std::int32_t maximum = 100;
  bool valid = false;
};
Range ParseRange(std::string_view text);

// A spin box text as a number: whole, or in tenths ("12.5" is 125, "12" is 120,
// at most one digit after the "."). Empty when it cannot be read or passes
// 16 bits.
std::optional<int> ParseSpinText(std::string_view text, bool tenths);

// True when every character is a hexadecimal digit (an empty text passes).
bool IsHexText(std::string_view text);

// The number in an IP address field: empty reads as 0, up to three digits; more
// digits or other characters read as 256 (out of range).
int IpFieldNumber(std::string_view text);

// Two hexadecimal digits at the start of text as one byte: the first must be a
// digit or "A" - "F"; a second that is neither adds nothing.
std::optional<std::uint8_t> ReadHexPair(std::string_view text);

// The 10-byte NetWare address from its two fields (8 and 12 hexadecimal digits),
// empty when a pair cannot be read.
std::optional<std::array<std::uint8_t, 10>> ParseNetWare(std::string_view network,
                                                         std::string_view node);

// The gauge's window text: minimum, maximum, value separated by commas, each
// optionally after one blank; missing numbers keep their defaults (0, 100, 0),
// empty ones read as 0. Minimum and maximum are put in order and the value is
// clamped into the range.
struct GaugeSetup {
  std::uint32_t minimum = 0;
  std::uint32_t maximum = 100;
  std::uint32_t value = 0;
};
GaugeSetup ParseGaugeText(std::string_view text);

// Alignment bits from words of a window text, compared by their first four
// letters in upper case: horizontal 0 centre, 256 left, 512 right; vertical
// 0 middle, 16 top, 32 bottom.
inline constexpr std::uint32_t kAlignLeft = 256;
inline constexpr std::uint32_t kAlignRight = 512;
inline constexpr std::uint32_t kAlignTop = 16;
inline constexpr std::uint32_t kAlignBottom = 32;
std::uint32_t ParseAlignment(std::string_view text);

// "%d" and "%ld" in pattern replaced in order by the numbers; any other "%" is
// kept as it stands, and a pattern with more conversions than numbers keeps the
// extra ones. Safe for texts read from language files.
std::string FormatNumbers(std::string_view pattern, std::initializer_list<long> numbers);

}  // namespace uictl
