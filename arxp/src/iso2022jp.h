// The character sets of ISO-2022-JP and the escape sequences that designate them.
#pragma once

#include <array>

namespace arxp::iso2022jp {

constexpr char kEsc = 0x1B;
constexpr int kEscapeSize = 3;

enum class Set {
  kAscii,     // ESC ( B, or JIS X 0201 Roman by ESC ( J
  kJisX0208,  // ESC $ B, or the 1978 edition by ESC $ @ (the "KIN" sequences)
  kKatakana,  // ESC ( I: JIS X 0201 half-width katakana
};

// Second bytes: '$' leads into the two-byte set ("KIN"), '(' back to a
// single-byte set ("KOUT").
constexpr char kKanjiIn = '$';
constexpr char kKanjiOut = '(';

struct Escape {
  std::array<char, kEscapeSize> bytes;
};

// The escape sequence this library writes to designate `set`.
inline const Escape& EscapeOf(Set set) {
  static constexpr Escape kAscii{{kEsc, kKanjiOut, 'B'}};
  static constexpr Escape kJisX0208{{kEsc, kKanjiIn, 'B'}};
  static constexpr Escape kKatakana{{kEsc, kKanjiOut, 'I'}};
  switch (set) {
    case Set::kJisX0208: return kJisX0208;
    case Set::kKatakana: return kKatakana;
    default: return kAscii;
  }
}

}  // namespace arxp::iso2022jp
