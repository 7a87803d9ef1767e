// Decoding speed of the character readers: 20 MiB of Japanese text in Shift_JIS,
// EUC-JP and UTF-8 decoded into an Xstring, beside glibc iconv converting the same
// bytes to UTF-16 in the same run. Prints <enc>_arxp, <enc>_iconv (MiB/s) and
// <enc>_ratio, each conversion writing fresh memory as a real one does; then the
// same three figures with _loop appended, both writing into one reused buffer, which
// shows the decoding loops alone. Times are this thread's processor time.
#include <iconv.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "arxp/encoding.h"
#include "arxp/input.h"
#include "arxp/xstring.h"

namespace {

constexpr std::size_t kInputSize = 20u << 20;
constexpr int kRounds = 5;

// Deterministic Japanese prose: runs of kanji, hiragana and katakana as in words,
// now and then an ASCII word or number, punctuation after phrases, lines of some
// 40 to 80 characters.
std::u16string JapaneseText(std::size_t units) {
  std::uint32_t state = 20020608;
  auto next = [&state](std::uint32_t range) {
    state = state * 1664525u + 1013904223u;
    return (state >> 8) % range;
  };
  // Kanji of the first JIS level (Shift_JIS leads 0x89-0x96 hold no gaps).
  std::vector<char16_t> kanji;
  for (unsigned lead = 0x89; lead <= 0x96; ++lead)
    for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail == 0x7F) continue;
      const char bytes[] = {static_cast<char>(lead), static_cast<char>(trail), 0};
      const arxp::Xstring one(bytes);
      if (one.length() == 1 && one.data()[0] != u'\uFFFD') kanji.push_back(one.data()[0]);
    }
  std::u16string text;
  text.reserve(units + 128);
  std::size_t line_start = 0;
  while (text.size() < units) {
    const std::uint32_t kind = next(100);
    const std::uint32_t length = 1 + next(kind < 70 ? 4 : 6);
    for (std::uint32_t i = 0; i < length; ++i) {
      if (kind < 35)
        text += kanji[next(static_cast<std::uint32_t>(kanji.size()))];
      else if (kind < 80)
        text += static_cast<char16_t>(0x3041 + next(83));  // hiragana
      else if (kind < 92)
        text += static_cast<char16_t>(0x30A1 + next(86));  // katakana
      else if (kind < 97)
        text += static_cast<char16_t>(u'a' + next(26));
      else
        text += static_cast<char16_t>(u'0' + next(10));
    }
    if (kind >= 92) text += u' ';
    if (next(8) == 0) text += next(3) ? u'、' : u'。';
    if (text.size() - line_start > 40 + next(40)) {
      text += u'\n';
      line_start = text.size();
    }
  }
  return text;
}

std::string Encode(iconv_t cd, std::u16string text) {
  std::string out(text.size() * 4, '\0');
  char* in = reinterpret_cast<char*>(text.data());
  size_t inleft = text.size() * 2;
  char* outp = out.data();
  size_t outleft = out.size();
  if (iconv(cd, &in, &inleft, &outp, &outleft) == static_cast<size_t>(-1)) {
    std::perror("iconv");
    std::exit(1);
  }
  out.resize(out.size() - outleft);
  return out;
}

// The text in one encoding, repeated to at least kInputSize bytes.
std::string Input(const std::u16string& text, const char* iconv_name) {
  iconv_t cd = iconv_open(iconv_name, "UTF-16LE");
  const std::string block = Encode(cd, text);
  iconv_close(cd);
  std::string input;
  while (input.size() < kInputSize) input += block;
  return input;
}

// Processor time of this thread (user and system, page faults included), so that
// other work on a shared machine does not count.
double ThreadSeconds() {
  timespec now;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

template <typename Run>
double BestSeconds(Run run) {
  double best = 1e9;
  for (int round = 0; round < kRounds; ++round) {
    const double start = ThreadSeconds();
    run();
    best = std::min(best, ThreadSeconds() - start);
  }
  return best;
}

arxp::Xstring DecodeArxp(const std::string& bytes, int encoding) {
  arxp::ByteInput input(bytes.data(), bytes.size());
  arxp::CharReader reader(input, encoding);
  std::vector<char16_t> units(64 * 1024);
  arxp::Xstring text("");
  text.reserve(static_cast<int>(bytes.size()));  // never more units than bytes
  while (const std::size_t n = reader.read(units.data(), units.size()))
    text += arxp::Xstring(units.data(), static_cast<int>(n));
  return text;
}

struct Utf16Text {
  std::unique_ptr<char16_t[]> units;  // left uninitialised, as the Xstring's buffer is
  std::size_t size = 0;
};

Utf16Text DecodeIconv(const std::string& bytes, const char* name) {
  iconv_t cd = iconv_open("UTF-16LE", name);
  Utf16Text text{std::unique_ptr<char16_t[]>(new char16_t[bytes.size()]), 0};
  char* in = const_cast<char*>(bytes.data());
  size_t inleft = bytes.size();
  char* outp = reinterpret_cast<char*>(text.units.get());
  size_t outleft = bytes.size() * 2;
  if (iconv(cd, &in, &inleft, &outp, &outleft) == static_cast<size_t>(-1)) std::perror("iconv");
  iconv_close(cd);
  text.size = bytes.size() - outleft / 2;
  return text;
}

// Both decoders into one reused buffer (no allocation, no page faults).
std::size_t LoopArxp(const std::string& bytes, int encoding, char16_t* out) {
  arxp::ByteInput input(bytes.data(), bytes.size());
  arxp::CharReader reader(input, encoding);
  std::size_t total = 0;
  while (const std::size_t n = reader.read(out + total, 64 * 1024)) total += n;
  return total;
}

std::size_t LoopIconv(const std::string& bytes, const char* name, char16_t* out) {
  iconv_t cd = iconv_open("UTF-16LE", name);
  char* in = const_cast<char*>(bytes.data());
  size_t inleft = bytes.size();
  char* outp = reinterpret_cast<char*>(out);
  size_t outleft = bytes.size() * 2;
  if (iconv(cd, &in, &inleft, &outp, &outleft) == static_cast<size_t>(-1)) std::perror("iconv");
  iconv_close(cd);
  return bytes.size() - outleft / 2;
}

void Print(const char* label, const char* suffix, double mib, double arxp_seconds,
           double iconv_seconds) {
  std::printf("%s_arxp%s=%.1f MiB/s\n", label, suffix, mib / arxp_seconds);
  std::printf("%s_iconv%s=%.1f MiB/s\n", label, suffix, mib / iconv_seconds);
  std::printf("%s_ratio%s=%.2f x\n", label, suffix, iconv_seconds / arxp_seconds);
}

}  // namespace

int main() {
  const std::u16string text = JapaneseText(512 * 1024);
  struct Case {
    const char* label;
    int encoding;
    const char* iconv_name;
  };
  const Case cases[] = {{"sjis", arxp::kEncodingShiftJis, "CP932"},
                        {"eucjp", arxp::kEncodingEucJp, "EUC-JP"},
                        {"utf8", arxp::kEncodingUtf8, "UTF-8"}};
  for (const Case& c : cases) {
    const std::string bytes = Input(text, c.iconv_name);
    arxp::Xstring ours;
    Utf16Text theirs;
    const double arxp_seconds = BestSeconds([&] { ours = DecodeArxp(bytes, c.encoding); });
    const double iconv_seconds = BestSeconds([&] { theirs = DecodeIconv(bytes, c.iconv_name); });
    if (theirs.size != static_cast<std::size_t>(ours.length()) ||
        std::memcmp(theirs.units.get(), ours.data(), theirs.size * 2) != 0) {
      std::fprintf(stderr, "%s: arxp and iconv decode differently\n", c.label);
      return 1;
    }
    const double mib = static_cast<double>(bytes.size()) / (1 << 20);
    Print(c.label, "", mib, arxp_seconds, iconv_seconds);

    std::unique_ptr<char16_t[]> reused(new char16_t[bytes.size()]);
    const double arxp_loop = BestSeconds([&] { LoopArxp(bytes, c.encoding, reused.get()); });
    const double iconv_loop = BestSeconds([&] { LoopIconv(bytes, c.iconv_name, reused.get()); });
    Print(c.label, "_loop", mib, arxp_loop, iconv_loop);
  }
  return 0;
}
