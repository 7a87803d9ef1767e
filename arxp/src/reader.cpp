// The character readers: one decoder per encoding, each turning as many bytes of
// the input window as it can into UTF-16 units. A decoder stops before a sequence
// that the window holds only in part (unless the input ends there) and before a
// fault, so that every unit it delivers is whole and every fault is reported at
// the place where it lies.
#include <algorithm>
#include <array>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "arxp/encoding.h"
#include "arxp/exception.h"
#include "arxp/input.h"
#include "cp932.h"
#include "iso2022jp.h"

namespace arxp {
namespace {

using Fault = CharReader::Fault;

enum JisMode { kJisAscii, kJisKanji, kJisKatakana };

// What a byte below 0x80 is to a reader.
enum AsciiClass : uint8_t { kPlain, kCarriageReturn, kNotXmlChar };

constexpr std::array<uint8_t, 0x80> kAsciiClass = [] {
  std::array<uint8_t, 0x80> classes{};
  for (int b = 0; b < 0x20; ++b) classes[b] = kNotXmlChar;
  classes['\t'] = kPlain;
  classes['\n'] = kPlain;
  classes['\r'] = kCarriageReturn;
  return classes;
}();

constexpr char16_t kHighSurrogateFirst = 0xD800;
constexpr char16_t kLowSurrogateFirst = 0xDC00;
constexpr char16_t kLowSurrogateLast = 0xDFFF;

bool IsHighSurrogate(unsigned unit) {
  return unit >= kHighSurrogateFirst && unit < kLowSurrogateFirst;
}
bool IsLowSurrogate(unsigned unit) {
  return unit >= kLowSurrogateFirst && unit <= kLowSurrogateLast;
}
bool IsNonCharacter(unsigned unit) { return unit >= 0xFFFE; }

void Set(Fault& fault, int code, const char* message, unsigned value = 0) {
  fault = {code, message, value};
}

// The output side and the input window of one decoding step.
struct Step {
  const uint8_t* p;
  const uint8_t* end;
  bool eof;  // nothing follows `end`
  char16_t* out;
  char16_t* out_end;
  Fault& fault;
  int lines = 0;                   // line feeds delivered
  char16_t* line_start = nullptr;  // behind the last of them

  std::size_t left() const { return static_cast<std::size_t>(end - p); }
};

// A single byte below 0x80 (unit is the byte, `width` bytes per unit). Returns
// false when decoding must stop here.
template <typename LoadUnit>
bool TakeAscii(Step& s, unsigned unit, std::size_t width, LoadUnit load) {
  switch (kAsciiClass[unit]) {
    case kPlain: s.p += width; break;
    case kCarriageReturn:
      // CR LF and a lone CR both become LF; telling them apart needs the next unit.
      if (s.left() < 2 * width) {
        if (!s.eof) return false;
        s.p += width;
      } else {
        s.p += load(s.p + width) == '\n' ? 2 * width : width;
      }
      unit = '\n';
      break;
    default: Set(s.fault, ARXPException::INVALID_CHAR_ERR, "not xml char (%x)", unit); return false;
  }
  *s.out++ = static_cast<char16_t>(unit);
  if (unit == '\n') {  // every line end passes here: the fast gears take none
    ++s.lines;
    s.line_start = s.out;
  }
  return true;
}

unsigned LoadByte(const uint8_t* p) { return *p; }

// Stops at a multibyte sequence that lacks bytes: a fault at the end of the input,
// otherwise a wait for more. Returns whether `needed` bytes are there.
bool Have(Step& s, std::size_t needed, const char* eof_message) {
  if (s.left() >= needed) return true;
  if (s.eof) Set(s.fault, ARXPException::UNEXPECTED_EOF_ERR, eof_message);
  return false;
}

// Runs a decoder in two gears: `fast` takes the frequent, fully available and
// valid sequences in a tight loop; `slow` takes one unit of anything else (line
// ends, sequences cut by the window, faults) and returns false to stop.
template <typename Fast, typename Slow>
void Run(Step& s, Fast fast, Slow slow) {
  for (;;) {
    fast(s.p, s.end, s.out, s.out_end);
    if (s.out == s.out_end || s.p == s.end || !slow(s)) return;
  }
}

bool IsPrintableAscii(unsigned byte) { return byte >= 0x20 && byte < 0x80; }

// Sixteen bytes at a time of printable ASCII, tabs and line feeds, which stand for
// themselves in the byte encodings: the bulk of markup and of most text. Counts
// the line feeds as TakeAscii does. Stops before the first other byte, having
// taken the run of plain bytes in front of it.
inline __attribute__((always_inline)) void AsciiBlocks(const uint8_t*& p, const uint8_t* end,
                                                       char16_t*& out, char16_t* out_end,
                                                       int& lines, char16_t*& line_start) {
#if defined(__SSE2__)
  const __m128i zero = _mm_setzero_si128(), below_printable = _mm_set1_epi8(0x1F),
                tab = _mm_set1_epi8('\t'), line_feed = _mm_set1_epi8('\n');
  while (end - p >= 16 && out_end - out >= 16) {
    const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i feeds = _mm_cmpeq_epi8(bytes, line_feed);
    // Bytes from 0x80 are negative: the signed comparison rules them out too.
    const __m128i plain = _mm_or_si128(_mm_cmpgt_epi8(bytes, below_printable),
                                       _mm_or_si128(_mm_cmpeq_epi8(bytes, tab), feeds));
    // All sixteen units are stored; only the plain run counts (the rest is
    // overwritten by what follows).
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(bytes, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(bytes, zero));
    const unsigned other = ~static_cast<unsigned>(_mm_movemask_epi8(plain)) & 0xFFFF;
    const int run = other ? __builtin_ctz(other) : 16;
    if (const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(feeds)) & ((1u << run) - 1)) {
      for (unsigned rest = mask; rest != 0; rest &= rest - 1) ++lines;
      line_start = out + (31 - __builtin_clz(mask)) + 1;
    }
    p += run;
    out += run;
    if (run < 16) return;
  }
#else
  (void)p, (void)end, (void)out, (void)out_end, (void)lines, (void)line_start;
#endif
}

bool StepUtf8(Step& s) {
  const unsigned b = *s.p;
  if (b < 0x80) return TakeAscii(s, b, 1, LoadByte);
  if (b < 0xC2 || b >= 0xF0) {  // a trail byte, an overlong lead, or a 4-byte sequence
    Set(s.fault, ARXPException::INVALID_CHAR_ERR, "not supported UTF-8 char (%x)", b);
    return false;
  }
  if (!Have(s, 2, "unexpected EOF at utf-8 second byte")) return false;
  const unsigned c1 = s.p[1];
  // The second byte also rules out overlong forms (E0) and surrogates (ED).
  const unsigned low = b == 0xE0 ? 0xA0 : 0x80, high = b == 0xED ? 0x9F : 0xBF;
  if (c1 < low || c1 > high) {
    Set(s.fault, ARXPException::INVALID_CHAR_ERR, "illegal UTF-8 second char (%x)", c1);
    return false;
  }
  if (b < 0xE0) {
    *s.out++ = static_cast<char16_t>((b & 0x1F) << 6 | (c1 & 0x3F));
    s.p += 2;
    return true;
  }
  if (!Have(s, 3, "unexpected EOF at utf-8 third byte")) return false;
  const unsigned c2 = s.p[2];
  if ((c2 & 0xC0) != 0x80) {
    Set(s.fault, ARXPException::INVALID_CHAR_ERR, "illegal UTF-8 third char (%x)", c2);
    return false;
  }
  const unsigned unit = (b & 0x0F) << 12 | (c1 & 0x3F) << 6 | (c2 & 0x3F);
  if (IsNonCharacter(unit)) {
    Set(s.fault, ARXPException::INVALID_CHAR_ERR, "not xml char (%x)", unit);
    return false;
  }
  *s.out++ = static_cast<char16_t>(unit);
  s.p += 3;
  return true;
}

// A three-byte sequence that needs no check beyond its trail bytes (leads E0 and
// ED, and EF BF, which may hide overlong forms, surrogates and non-characters,
// are left to the slow gear); its unit, or 0.
inline unsigned SimpleThreeByte(const uint8_t* p) {
  const unsigned b = p[0], c1 = p[1], c2 = p[2];
  const bool simple = b >= 0xE1 && b <= 0xEF && b != 0xED && !(b == 0xEF && c1 == 0xBF);
  if (!simple || ((c1 ^ 0x80) | (c2 ^ 0x80)) >= 0x40) return 0;
  return (b & 0x0F) << 12 | (c1 & 0x3F) << 6 | (c2 & 0x3F);
}

// Printable ASCII (in blocks with tabs and line feeds), two-byte sequences, and
// the simple three-byte ones, two at a time inside runs of them.
void FastUtf8(Step& s) {
  const uint8_t*& p = s.p;
  const uint8_t* const end = s.end;
  char16_t*& out = s.out;
  char16_t* const out_end = s.out_end;
  while (out != out_end && end - p >= 3) {
    if (*p < 0x80) {
      AsciiBlocks(p, end, out, out_end, s.lines, s.line_start);
      if (out == out_end || end - p < 3) return;
    }
    const unsigned b = p[0], c1 = p[1];
    if (IsPrintableAscii(b)) {
      *out++ = static_cast<char16_t>(b);
      p += 1;
    } else if (const unsigned unit = SimpleThreeByte(p)) {
      *out++ = static_cast<char16_t>(unit);
      p += 3;
      while (out_end - out >= 2 && end - p >= 6) {
        const unsigned first = SimpleThreeByte(p), second = SimpleThreeByte(p + 3);
        if (first == 0 || second == 0) break;
        out[0] = static_cast<char16_t>(first);
        out[1] = static_cast<char16_t>(second);
        out += 2;
        p += 6;
      }
    } else if (b >= 0xC2 && b < 0xE0 && (c1 ^ 0x80) < 0x40) {
      *out++ = static_cast<char16_t>((b & 0x1F) << 6 | (c1 & 0x3F));
      p += 2;
    } else {
      return;
    }
  }
}

void DecodeUtf8(Step& s) {
  Run(
      s, [&s](const uint8_t*&, const uint8_t*, char16_t*&, char16_t*) { FastUtf8(s); }, StepUtf8);
}

template <bool kBigEndian>
unsigned LoadUtf16(const uint8_t* p) {
  return kBigEndian ? (p[0] << 8 | p[1]) : (p[1] << 8 | p[0]);
}

// `after_high`: the last unit delivered was a high surrogate, whose low one
// follows (checked when the high one was read).
template <bool kBigEndian>
bool StepUtf16(Step& s, bool& after_high) {
  if (!Have(s, 2, "unexpected EOF at utf-16 second byte")) return false;
  const unsigned unit = LoadUtf16<kBigEndian>(s.p);
  if (unit < 0x80) return TakeAscii(s, unit, 2, LoadUtf16<kBigEndian>);
  if (IsLowSurrogate(unit) && after_high) {
    after_high = false;
  } else if (IsHighSurrogate(unit)) {
    if (s.left() < 4 && !s.eof) return false;
    if (s.left() < 4 || !IsLowSurrogate(LoadUtf16<kBigEndian>(s.p + 2))) {
      Set(s.fault, ARXPException::INVALID_CHAR_ERR, "not xml char (%x)", unit);
      return false;
    }
    after_high = true;
  } else if (IsLowSurrogate(unit) || IsNonCharacter(unit)) {
    Set(s.fault, ARXPException::INVALID_CHAR_ERR, "not xml char (%x)", unit);
    return false;
  }
  *s.out++ = static_cast<char16_t>(unit);
  s.p += 2;
  return true;
}

// Eight units at a time of those that stand for themselves (no control but tab
// and line feed, no surrogate, no non-character), counting line feeds; stops
// before the first other unit, having taken the run in front of it.
template <bool kBigEndian>
void Utf16Blocks(Step& s) {
#if defined(__SSE2__)
  // SSE2 compares signed 16-bit lanes: flipping the top bit orders units as
  // unsigned.
  const __m128i top = _mm_set1_epi16(static_cast<short>(0x8000));
  auto ordered = [](unsigned unit) {
    return _mm_set1_epi16(static_cast<short>(static_cast<std::uint16_t>(unit ^ 0x8000)));
  };
  const __m128i below_printable = ordered(0x1F), before_surrogates = ordered(0xD7FF),
                after_surrogates = ordered(0xE000), non_character = ordered(0xFFFE),
                tab = _mm_set1_epi16('\t'), line_feed = _mm_set1_epi16('\n');
  while (s.end - s.p >= 16 && s.out_end - s.out >= 8) {
    __m128i units = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.p));
    if (kBigEndian) units = _mm_or_si128(_mm_slli_epi16(units, 8), _mm_srli_epi16(units, 8));
    const __m128i key = _mm_xor_si128(units, top);
    const __m128i surrogate = _mm_and_si128(_mm_cmpgt_epi16(key, before_surrogates),
                                            _mm_cmplt_epi16(key, after_surrogates));
    const __m128i character = _mm_andnot_si128(
        surrogate,
        _mm_and_si128(_mm_cmpgt_epi16(key, below_printable), _mm_cmplt_epi16(key, non_character)));
    const __m128i feeds = _mm_cmpeq_epi16(units, line_feed);
    const __m128i plain = _mm_or_si128(character, _mm_or_si128(_mm_cmpeq_epi16(units, tab), feeds));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(s.out), units);
    const unsigned other = ~static_cast<unsigned>(_mm_movemask_epi8(plain)) & 0xFFFF;
    const int run = other ? __builtin_ctz(other) / 2 : 8;  // two mask bits per unit
    if (const unsigned mask =
            static_cast<unsigned>(_mm_movemask_epi8(feeds)) & ((1u << (2 * run)) - 1)) {
      for (unsigned rest = mask & 0x5555; rest != 0; rest &= rest - 1) ++s.lines;
      s.line_start = s.out + (31 - __builtin_clz(mask)) / 2 + 1;
    }
    s.p += 2 * run;
    s.out += run;
    if (run < 8) return;
  }
#else
  (void)s;
#endif
}

// Units that are XML characters by themselves: no control, surrogate or
// non-character.
template <bool kBigEndian>
void FastUtf16(Step& s) {
  Utf16Blocks<kBigEndian>(s);
  const uint8_t*& p = s.p;
  char16_t*& out = s.out;
  while (out != s.out_end && s.end - p >= 2) {
    const unsigned unit = LoadUtf16<kBigEndian>(p);
    if (unit < 0x20 || (unit >= kHighSurrogateFirst && unit <= kLowSurrogateLast) ||
        IsNonCharacter(unit))
      return;
    *out++ = static_cast<char16_t>(unit);
    p += 2;
  }
}

template <bool kBigEndian>
void DecodeUtf16(Step& s, bool& after_high) {
  Run(
      s, [&s](const uint8_t*&, const uint8_t*, char16_t*&, char16_t*) { FastUtf16<kBigEndian>(s); },
      [&after_high](Step& step) { return StepUtf16<kBigEndian>(step, after_high); });
}

bool StepShiftJis(Step& s) {
  const unsigned b = *s.p;
  if (b < 0x80) return TakeAscii(s, b, 1, LoadByte);
  if (cp932::IsHalfwidth(b)) {
    *s.out++ = static_cast<char16_t>(cp932::kHalfwidthUnicode + b - cp932::kHalfwidthFirst);
    ++s.p;
    return true;
  }
  if (!Have(s, 2, "unexpected EOF at Shift_JIS second byte")) return false;
  const char16_t unit = cp932::DecodePair(static_cast<uint8_t>(b), s.p[1]);
  if (unit == 0) {
    Set(s.fault, ARXPException::INVALID_CHAR_ERR, "illegal Shift_JIS char (%x)", b << 8 | s.p[1]);
    return false;
  }
  *s.out++ = unit;
  s.p += 2;
  return true;
}

// Printable ASCII (in blocks with tabs and line feeds), half-width katakana and
// mapped pairs.
void FastShiftJis(Step& s) {
  const uint8_t*& p = s.p;
  const uint8_t* const end = s.end;
  char16_t*& out = s.out;
  char16_t* const out_end = s.out_end;
  while (out != out_end && end - p >= 2) {
    if (*p < 0x80) {
      AsciiBlocks(p, end, out, out_end, s.lines, s.line_start);
      if (out == out_end || end - p < 2) return;
    }
    const unsigned b = p[0];
    if (IsPrintableAscii(b)) {
      *out++ = static_cast<char16_t>(b);
      p += 1;
    } else if (cp932::IsHalfwidth(b)) {
      *out++ = static_cast<char16_t>(cp932::kHalfwidthUnicode + b - cp932::kHalfwidthFirst);
      p += 1;
    } else {
      const char16_t unit = cp932::DecodePair(static_cast<uint8_t>(b), p[1]);
      if (unit == 0) return;
      *out++ = unit;
      p += 2;
    }
  }
}

void DecodeShiftJis(Step& s) {
  Run(
      s, [&s](const uint8_t*&, const uint8_t*, char16_t*&, char16_t*) { FastShiftJis(s); },
      StepShiftJis);
}

bool StepEucJp(Step& s) {
  const unsigned b = *s.p;
  if (b < 0x80) return TakeAscii(s, b, 1, LoadByte);
  if (!Have(s, 2, "unexpected EOF at EUC-JP second byte")) return false;
  const char16_t unit = cp932::DecodeEuc(static_cast<uint8_t>(b), s.p[1]);
  if (unit == 0) {
    Set(s.fault, ARXPException::INVALID_CHAR_ERR, "illegal EUC-JP char (%x)", b << 8 | s.p[1]);
    return false;
  }
  *s.out++ = unit;
  s.p += 2;
  return true;
}

// Printable ASCII and mapped pairs; four pairs at a time inside runs of them.
void FastEucJp(const uint8_t*& p, const uint8_t* end, char16_t*& out, char16_t* out_end) {
  while (out != out_end && end - p >= 2) {
    const unsigned b = p[0];
    if (IsPrintableAscii(b)) {
      *out++ = static_cast<char16_t>(b);
      p += 1;
      continue;
    }
    const char16_t unit = cp932::DecodeEuc(static_cast<uint8_t>(b), p[1]);
    if (unit == 0) return;
    *out++ = unit;
    p += 2;
    while (out_end - out >= 4 && end - p >= 8) {
      const char16_t units[4] = {cp932::DecodeEuc(p[0], p[1]), cp932::DecodeEuc(p[2], p[3]),
                                 cp932::DecodeEuc(p[4], p[5]), cp932::DecodeEuc(p[6], p[7])};
      if ((units[0] == 0) | (units[1] == 0) | (units[2] == 0) | (units[3] == 0)) break;
      std::copy(units, units + 4, out);
      out += 4;
      p += 8;
    }
  }
}

void DecodeEucJp(Step& s) { Run(s, FastEucJp, StepEucJp); }

// An escape sequence at s.p: switches `mode`, or sets a fault.
bool TakeEscape(Step& s, int& mode) {
  constexpr const char* kCutShort = "unexpected EOF in ISO-2022-JP escape sequence";
  if (!Have(s, 2, kCutShort)) return false;
  const unsigned second = s.p[1];
  if (second != iso2022jp::kKanjiIn && second != iso2022jp::kKanjiOut) {
    Set(s.fault, ARXPException::INVALID_CHAR_ERR,
        mode == kJisAscii ? "illegal second KIN code (%x)" : "illegal second KOUT code (%x)",
        second);
    return false;
  }
  if (!Have(s, 3, kCutShort)) return false;
  const unsigned third = s.p[2];
  if (second == iso2022jp::kKanjiIn) {
    if (third != 'B' && third != '@') {
      Set(s.fault, ARXPException::INVALID_CHAR_ERR, "illegal third KIN code (%x)", third);
      return false;
    }
    mode = kJisKanji;
  } else {
    if (third != 'B' && third != 'J' && third != 'I') {
      Set(s.fault, ARXPException::INVALID_CHAR_ERR, "illegal third KOUT code (%x)", third);
      return false;
    }
    mode = third == 'I' ? kJisKatakana : kJisAscii;
  }
  s.p += 3;
  return true;
}

void DecodeIso2022Jp(Step& s, int& mode) {
  constexpr const char* kIllegal = "illegal ISO-2022-JP char (%x)";
  while (s.out != s.out_end && s.p != s.end) {
    const unsigned b = *s.p;
    if (b == static_cast<unsigned>(iso2022jp::kEsc)) {
      if (!TakeEscape(s, mode)) return;
    } else if (b < 0x80 && (mode == kJisAscii || b <= 0x20 || b == 0x7F)) {
      // Controls and space stand for themselves in every mode.
      if (!TakeAscii(s, b, 1, LoadByte)) return;
    } else if (b < 0x80 && mode == kJisKatakana) {
      if (b > cp932::kHalfwidthLast - 0x80) {
        Set(s.fault, ARXPException::INVALID_CHAR_ERR, kIllegal, b);
        return;
      }
      *s.out++ = static_cast<char16_t>(cp932::kHalfwidthUnicode + b - 0x21);
      ++s.p;
    } else if (cp932::IsHalfwidth(b)) {
      *s.out++ = static_cast<char16_t>(cp932::kHalfwidthUnicode + b - cp932::kHalfwidthFirst);
      ++s.p;
    } else {
      // A JIS X 0208 pair: 7-bit in two-byte mode, or 8-bit as in EUC-JP.
      if (!Have(s, 2, "unexpected EOF at ISO-2022-JP second byte")) return;
      const unsigned trail = s.p[1];
      const char16_t unit =
          (b < 0x80) == (trail < 0x80)
              ? cp932::DecodeEuc(static_cast<uint8_t>(b | 0x80), static_cast<uint8_t>(trail | 0x80))
              : 0;
      if (unit == 0) {
        Set(s.fault, ARXPException::INVALID_CHAR_ERR, kIllegal, b << 8 | trail);
        return;
      }
      *s.out++ = unit;
      s.p += 2;
    }
  }
}

}  // namespace

CharReader::CharReader(ByteInput& input, int encoding, int byte_order) : input_(input) {
  select(encoding, byte_order);
}

void CharReader::select(int encoding, int byte_order) {
  if (encoding < kEncodingUtf8 || encoding > kEncodingIso2022Jp)
    Diagnostics::fatal(ARXPException::INTERNAL_ERR, "(*select_getc_proc())() fail");
  encoding_ = encoding;
  byte_order_ =
      byte_order == kByteOrderBig || byte_order == kByteOrderLittle ? byte_order : kByteOrderNone;
  jis_mode_ = kJisAscii;
}

int CharReader::getc() {
  // Printable ASCII, the bulk of markup, stands for itself in every byte encoding
  // (in ISO-2022-JP only while in ASCII mode).
  const std::uint8_t* p = input_.cursor();
  if (p != input_.limit() && IsPrintableAscii(*p) && encoding_ != kEncodingUtf16 &&
      (encoding_ != kEncodingIso2022Jp || jis_mode_ == kJisAscii)) {
    input_.advance(p + 1);
    ++column_;
    return *p;
  }
  char16_t unit;
  return read(&unit, 1) ? unit : -1;
}

std::size_t CharReader::read(char16_t* out, std::size_t capacity) {
  if (capacity == 0) return 0;
  for (;;) {
    const std::uint8_t* before = input_.cursor();
    Fault fault;
    const std::size_t count = decode(out, capacity, fault);
    if (count > 0) return count;  // a fault waits for the next read, where it lies first
    if (fault.code != 0) raise(fault);
    if (input_.cursor() != before) continue;  // escape sequences only
    if (input_.available() == 0 && input_.atEnd()) return 0;
    if (input_.atEnd()) Diagnostics::abortInvariant("character reader stalled");
    input_.fill(input_.available() + 1);
  }
}

std::size_t CharReader::decode(char16_t* out, std::size_t capacity, Fault& fault) {
  Step step{input_.cursor(), input_.limit(), input_.atEnd(), out, out + capacity, fault};
  switch (encoding_) {
    case kEncodingUtf8: DecodeUtf8(step); break;
    case kEncodingUtf16:
      if ((byte_order_ == kByteOrderNone ? machineByteOrder() : byte_order_) == kByteOrderBig)
        DecodeUtf16<true>(step, after_high_);
      else
        DecodeUtf16<false>(step, after_high_);
      break;
    case kEncodingShiftJis: DecodeShiftJis(step); break;
    case kEncodingEucJp: DecodeEucJp(step); break;
    default: DecodeIso2022Jp(step, jis_mode_); break;
  }
  input_.advance(step.p);
  if (step.lines > 0) {
    line_ += step.lines;
    column_ = static_cast<int>(step.out - step.line_start);
  } else {
    column_ += static_cast<int>(step.out - out);
  }
  return static_cast<std::size_t>(step.out - out);
}

Location CharReader::location() const {
  Location where;
  where.file = input_.name();
  where.text = "";
  where.line = line_;
  where.column = column_ + 1;
  return where;
}

void CharReader::raise(const Fault& fault) {
  const Location where = location();
  Diagnostics::error(fault.code, Diagnostics::format(fault.message, fault.value), &where);
}

}  // namespace arxp
