// The CP932 code page (Shift_JIS of Japanese Windows) and its EUC-JP and ISO-2022-JP
// relatives. The tables are generated at build time from glibc iconv (gen_cp932).
#pragma once

#include <array>
#include <cstdint>

namespace arxp::cp932 {

constexpr int kTrailFirst = 0x40;  // trail bytes 0x40-0xFF
constexpr int kTrails = 0xC0;
constexpr int kExtensionRows = 3;  // lead bytes 0xFA-0xFC

// Shift_JIS pairs to UTF-16 by lead << 8 | trail; 0: unmapped. One load per
// character (the rows in use fill some 23 KiB).
extern const char16_t kSjisPairs[0x10000];
// EUC-JP pairs to UTF-16 by first << 8 | second (half-width katakana behind 0x8E
// included); 0: unmapped. Derived from the Shift_JIS pairs through EucToSjis.
extern const char16_t kEucJpPairs[0x10000];
// UTF-16 to CP932 (0xA1-0xDF single bytes, lead << 8 | trail pairs); 0: unmapped.
// Holds only mappings that decode back to the same character.
extern const uint16_t kFromUnicode[0x10000];
// For the extension rows 0xFA-0xFC: the code of the same character in a row below
// 0xF0, or 0.
extern const uint16_t kExtensionTwins[kExtensionRows * kTrails];

constexpr uint16_t kHalfwidthFirst = 0xA1;  // single-byte katakana 0xA1-0xDF
constexpr uint16_t kHalfwidthLast = 0xDF;
constexpr char16_t kHalfwidthUnicode = 0xFF61;
constexpr uint8_t kEucSingleShift2 = 0x8E;  // EUC-JP prefix of half-width katakana

constexpr bool IsHalfwidth(unsigned byte) {
  return byte >= kHalfwidthFirst && byte <= kHalfwidthLast;
}

// The character of a double-byte code, or 0.
inline char16_t DecodePair(uint8_t lead, uint8_t trail) { return kSjisPairs[lead << 8 | trail]; }

// Shift_JIS value (lead * 256 + trail) of an EUC-JP pair e1 e2 (both 0xA1-0xFE).
constexpr uint16_t EucToSjis(unsigned e1, unsigned e2) {
  const unsigned row = e1 - 0xA1;  // 0..93
  const unsigned s1 = (row >> 1) + (row < 62 ? 0x81 : 0xC1);
  const unsigned s2 = (row & 1) ? e2 - 2 : e2 - (e2 >= 0xE0 ? 0x60 : 0x61);
  return static_cast<uint16_t>(s1 << 8 | s2);
}

// EUC-JP value of a Shift_JIS pair, by the arithmetic of the two code layouts.
constexpr uint16_t SjisToEuc(unsigned s1, unsigned s2) {
  unsigned e1, e2;
  if (s2 >= 0x9F) {
    e1 = 2 * s1 - (s1 >= 0xE0 ? 0xE0 : 0x60);
    e2 = s2 + 2;
  } else {
    e1 = 2 * s1 - (s1 >= 0xE0 ? 0xE1 : 0x61);
    e2 = s2 + (s2 >= 0x7F ? 0x60 : 0x61);
  }
  return static_cast<uint16_t>(e1 << 8 | e2);
}

// EUC-JP value of a character (0x8EA1-0x8EDF for half-width katakana), or 0.
// Rows from 0xF0 up lie outside the EUC-JP code space: the extension rows are
// reached through their twins below 0xF0; the user-defined rows are unmapped.
inline uint16_t EncodeEuc(char16_t unit) {
  uint16_t code = kFromUnicode[unit];
  if (code == 0) return 0;
  if (IsHalfwidth(code)) return static_cast<uint16_t>(kEucSingleShift2 << 8 | code);
  if (code >= 0xF000) {
    if (code < 0xFA00 + kTrailFirst) return 0;
    code = kExtensionTwins[((code >> 8) - 0xFA) * kTrails + (code & 0xFF) - kTrailFirst];
    if (code == 0) return 0;
  }
  return SjisToEuc(code >> 8, code & 0xFF);
}

// The character of an EUC-JP pair, or 0.
inline char16_t DecodeEuc(uint8_t e1, uint8_t e2) { return kEucJpPairs[e1 << 8 | e2]; }

}  // namespace arxp::cp932
