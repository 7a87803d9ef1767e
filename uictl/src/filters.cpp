#include "filters.h"

#include <algorithm>
#include <charconv>
#include <limits>

namespace uictl {
namespace {

bool IsDigit(char32_t c) { return c >= U'0' && c <= U'9'; }
bool IsUpperHex(char32_t c) { return IsDigit(c) || (c >= U'A' && c <= U'F'); }
bool IsLowerHex(char32_t c) { return c >= U'a' && c <= U'f'; }
bool IsAsciiLetter(char32_t c) { return (c >= U'a' && c <= U'z') || (c >= U'A' && c <= U'Z'); }
bool OneOf(char32_t c, std::u32string_view set) { return set.find(c) != std::u32string_view::npos; }

constexpr std::u32string_view kDnsRefused = U",/:?@\\";
constexpr std::u32string_view kUriRefused = U",/:?\\";
constexpr std::u32string_view kEb1Refused = U" \"&*+,/:;<=>?[\\]|~";

}  // namespace

bool Refused(Family family, char32_t c) {
  switch (family) {
    case Family::DnsHost:
    case Family::DnsDomain: return OneOf(c, kDnsRefused);
    case Family::Uri: return OneOf(c, kUriRefused);
    case Family::AppleTalk: return OneOf(c, U"*:=@") || c == kAppleTalkRefusedKana;
    case Family::Eb1Name: return c < 33 || c > 127 || OneOf(c, kEb1Refused);
    case Family::ServerName: return !(IsAsciiLetter(c) || IsDigit(c) || OneOf(c, U" -._"));
    case Family::Deci: return !(IsDigit(c) || c == U'-');
    case Family::Hexa: return !IsUpperHex(c);
    case Family::IpField:
    case Family::Spin: return !IsDigit(c);
    case Family::SpinTenths: return !IsDigit(c) && c != U'.';
    case Family::Edit: return false;
  }
  return false;
}

CharVerdict FilterChar(Family family, char32_t c) {
  if (c < 32) return CharVerdict::Pass;
  switch (family) {
    case Family::Hexa:
      if (IsLowerHex(c)) return CharVerdict::Upper;
      return IsUpperHex(c) ? CharVerdict::Pass : CharVerdict::Drop;
    case Family::IpField:
      if (c == U'.') return CharVerdict::Ignore;
      return IsDigit(c) ? CharVerdict::Pass : CharVerdict::Drop;
    case Family::Deci:
    case Family::Spin:
    case Family::SpinTenths:
    case Family::DnsDomain:
    case Family::AppleTalk:
    case Family::Eb1Name:
    case Family::ServerName: return Refused(family, c) ? CharVerdict::Drop : CharVerdict::Pass;
    case Family::DnsHost:
    case Family::Uri:
    case Family::Edit: return CharVerdict::Pass;
  }
  return CharVerdict::Pass;
}

std::size_t ReplaceRefused(Family family, std::u32string& text) {
  std::size_t replaced = 0;
  for (char32_t& c : text) {
    if (Refused(family, c)) {
      c = U'-';
      ++replaced;
    }
  }
  return replaced;
}

std::u32string FilterComposed(Family family, std::u32string_view text) {
  std::u32string out;
  if (family == Family::Eb1Name || family == Family::ServerName) {
    if (std::any_of(text.begin(), text.end(), [&](char32_t c) { return Refused(family, c); }))
      return out;
    return std::u32string(text);
  }
  for (char32_t c : text) {
    if (c >= 32 && FilterChar(family, c) == CharVerdict::Drop) {
      // A wide character keeps its width in the name, as two dashes.
      if (family == Family::AppleTalk && c > 0x7F && c != kAppleTalkRefusedKana) out += U"--";
      continue;
    }
    out += c;
  }
  return out;
}

std::optional<std::int32_t> ParseDecimal(std::string_view text) {
  bool negative = !text.empty() && text.front() == '-';
  std::string_view digits = negative ? text.substr(1) : text;
  if (digits.empty() ||
      !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  std::int64_t value = 0;
  for (char c : digits) {
    value = value * 10 + (c - '0');
    if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<std::int32_t>::max()) return std::nullopt;
  return static_cast<std::int32_t>(value);
}

Range ParseRange(std::string_view text) {
  const std::size_t comma = text.find(',');
  if (comma == std::string_view::npos) return {};
  const auto minimum = ParseDecimal(text.substr(0, comma));
  const auto maximum = ParseDecimal(text.substr(comma + 1));
  if (!minimum || !maximum) return {};
  return {*minimum, *maximum, true};
}

std::optional<int> ParseSpinText(std::string_view text, bool tenths) {
  std::string_view whole = text, fraction;
  if (tenths) {
    const std::size_t dot = text.find('.');
    if (dot != std::string_view::npos) {
      whole = text.substr(0, dot);
      fraction = text.substr(dot + 1);
      if (fraction.size() != 1 || (whole.empty() && fraction.empty())) return std::nullopt;
    }
  }
  auto digits = [](std::string_view s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if ((whole.empty() && fraction.empty()) || !digits(whole) || !digits(fraction) ||
      whole.size() > 5)
    return std::nullopt;
  int value = 0;
  for (char c : whole) value = value * 10 + (c - '0');
  if (tenths) value = value * 10 + (fraction.empty() ? 0 : fraction[0] - '0');
  if (value > 32767) return std::nullopt;
  return value;
}

bool IsHexText(std::string_view text) {
  return std::all_of(text.begin(), text.end(),
                     [](char c) { return IsUpperHex(static_cast<unsigned char>(c)); });
}

int IpFieldNumber(std::string_view text) {
  if (text.size() > 3) return 256;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 256;
    value = value * 10 + (c - '0');
  }
  return value;
}

std::optional<std::uint8_t> ReadHexPair(std::string_view text) {
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  if (text.empty() || nibble(text[0]) < 0) return std::nullopt;
  int value = nibble(text[0]);
  if (text.size() > 1 && nibble(text[1]) >= 0) value = value * 16 + nibble(text[1]);
  return static_cast<std::uint8_t>(value);
}

std::optional<std::array<std::uint8_t, 10>> ParseNetWare(std::string_view network,
                                                         std::string_view node) {
  std::array<std::uint8_t, 10> bytes{};
  auto read = [&](std::string_view field, std::size_t first, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
      const std::size_t at = 2 * i;
      const auto pair = ReadHexPair(at < field.size() ? field.substr(at) : std::string_view{});
      if (!pair) return false;
      bytes[first + i] = *pair;
    }
    return true;
  };
  if (!read(network, 0, 4) || !read(node, 4, 6)) return std::nullopt;
  return bytes;
}

GaugeSetup ParseGaugeText(std::string_view text) {
  GaugeSetup setup;
  std::uint32_t* slots[] = {&setup.minimum, &setup.maximum, &setup.value};
  std::size_t start = 0;
  for (std::uint32_t* slot : slots) {
    if (start > text.size()) break;
    std::size_t end = text.find(',', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view item = text.substr(start, end - start);
    if (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    std::uint64_t value = 0;
    for (char c : item) {
      if (c < '0' || c > '9') break;
      value = std::min<std::uint64_t>(value * 10 + (c - '0'), 0xFFFFFFFFu);
    }
    *slot = static_cast<std::uint32_t>(value);
    start = end + 1;
  }
  if (setup.minimum > setup.maximum) std::swap(setup.minimum, setup.maximum);
  setup.value = std::clamp(setup.value, setup.minimum, setup.maximum);
  return setup;
}

std::uint32_t ParseAlignment(std::string_view text) {
  std::uint32_t bits = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of(" ,|", start);
    if (end == std::string_view::npos) end = text.size();
    std::string word;
    for (char c : text.substr(start, std::min<std::size_t>(end - start, 4)))
      word += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    if (word == "LEFT")
      bits = (bits & ~(kAlignLeft | kAlignRight)) | kAlignLeft;
    else if (word == "RIGH")
      bits = (bits & ~(kAlignLeft | kAlignRight)) | kAlignRight;
    else if (word == "CENT")
      bits &= ~(kAlignLeft | kAlignRight);
    else if (word == "TOP")
      bits = (bits & ~(kAlignTop | kAlignBottom)) | kAlignTop;
    else if (word == "BOTT")
      bits = (bits & ~(kAlignTop | kAlignBottom)) | kAlignBottom;
    else if (word == "MIDD")
      bits &= ~(kAlignTop | kAlignBottom);
    start = end + 1;
  }
  return bits;
}

std::string FormatNumbers(std::string_view pattern, std::initializer_list<long> numbers) {
  std::string out;
  auto next = numbers.begin();
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    std::size_t length = 0;
    if (pattern.substr(i, 2) == "%d")
      length = 2;
    else if (pattern.substr(i, 3) == "%ld")
      length = 3;
    if (length == 0 || next == numbers.end()) {
      out += pattern[i];
      continue;
    }
    out += std::to_string(*next++);
    i += length - 1;
  }
  return out;
}

}  // namespace uictl
