#include "parse_documents.h"

#include <iconv.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace bench {
namespace {

// A small linear congruential generator: the same documents on every run.
class Random {
 public:
  std::uint32_t below(std::uint32_t range) {
    state_ = state_ * 1664525u + 1013904223u;
    return (state_ >> 8) % range;
  }
  template <typename T, std::size_t N>
  const T& pick(const T (&items)[N]) {
    return items[below(N)];
  }

 private:
  std::uint32_t state_ = 20020608;
};

[[noreturn]] void Die(const char* what) {
  std::perror(what);
  std::exit(1);
}

// Converts UTF-16 (machine order, little-endian here) to `encoding` with iconv.
std::string Encode(const std::u16string& text, const char* encoding) {
  iconv_t cd = iconv_open(encoding, "UTF-16LE");
  if (cd == reinterpret_cast<iconv_t>(-1)) Die("iconv_open");
  std::string out(text.size() * 4, '\0');
  char* in = const_cast<char*>(reinterpret_cast<const char*>(text.data()));
  std::size_t in_left = text.size() * sizeof(char16_t);
  char* to = out.data();
  std::size_t out_left = out.size();
  if (iconv(cd, &in, &in_left, &to, &out_left) == static_cast<std::size_t>(-1)) Die("iconv");
  iconv_close(cd);
  out.resize(out.size() - out_left);
  return out;
}

// The level-1 kanji of Shift_JIS (leads 0x89-0x97, which have no gaps), so that
// every generated character exists in each encoding of the benchmark.
std::vector<char16_t> Kanji() {
  std::vector<char16_t> kanji;
  for (unsigned lead = 0x89; lead <= 0x97; ++lead) {
    for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail == 0x7F) continue;
      if (const auto unit = ShiftJisPair(lead, trail)) kanji.push_back(*unit);
    }
  }
  return kanji;
}

// Japanese prose: runs of kanji, hiragana and katakana, now and then a comma or
// a full stop.
void AppendJapanese(std::u16string& out, Random& random, const std::vector<char16_t>& kanji,
                    std::size_t units) {
  const std::size_t stop = out.size() + units;
  while (out.size() < stop) {
    const std::uint32_t kind = random.below(100);
    const std::uint32_t run = 1 + random.below(4);
    for (std::uint32_t i = 0; i < run; ++i) {
      if (kind < 40)
        out += kanji[random.below(static_cast<std::uint32_t>(kanji.size()))];
      else if (kind < 85)
        out += static_cast<char16_t>(0x3041 + random.below(83));  // hiragana
      else
        out += static_cast<char16_t>(0x30A1 + random.below(86));  // katakana
    }
    if (random.below(10) == 0) out += random.below(3) ? u'、' : u'。';
  }
}

constexpr const char16_t* kWords[] = {
    u"the",   u"printer",  u"channel", u"data",   u"port",  u"of",       u"and",
    u"a",     u"service",  u"reply",   u"status", u"paper", u"roll",     u"ink",
    u"is",    u"to",       u"with",    u"from",   u"queue", u"job",      u"page",
    u"width", u"colour",   u"head",    u"nozzle", u"check", u"firmware", u"version",
    u"when",  u"which",    u"café",    u"Zürich", u"naïve", u"façade",   u"résumé",
    u"señor", u"Ångström", u"Øresund", u"straße", u"µm",    u"—",        u"°C"};

constexpr const char16_t* kNames[] = {
    u"Anna Berg",   u"Jonas Weber", u"Maria López", u"Kenji Sato",  u"Léa Martin", u"Oskar Nilsson",
    u"Sofia Rossi", u"山田 太郎",   u"Zoë Adams",   u"Pavel Novák", u"佐藤 花子",  u"Emma Müller"};
constexpr const char16_t* kCities[] = {u"München", u"Zürich", u"Lyon", u"Osaka", u"Kraków",
                                       u"Malmö",   u"Porto",  u"東京", u"Oslo",  u"Genève"};
constexpr const char16_t* kStatus[] = {u"open", u"shipped", u"held", u"closed"};
constexpr const char16_t* kCurrency[] = {u"EUR", u"CHF", u"JPY", u"SEK", u"PLN"};

void AppendNumber(std::u16string& out, std::uint32_t value) {
  char digits[16];
  const int n = std::snprintf(digits, sizeof digits, "%u", value);
  out.append(digits, digits + n);
}

void AppendWords(std::u16string& out, Random& random, int count) {
  for (int i = 0; i < count; ++i) {
    if (i > 0) out += u' ';
    out += random.pick(kWords);
  }
}

}  // namespace

std::optional<char16_t> ShiftJisPair(unsigned lead, unsigned trail) {
  static const iconv_t cd = iconv_open("UTF-16LE", "SHIFT_JIS");
  if (cd == reinterpret_cast<iconv_t>(-1)) Die("iconv_open");
  char pair[2] = {static_cast<char>(lead), static_cast<char>(trail)};
  char16_t unit = 0;
  char* in = pair;
  std::size_t in_left = sizeof pair;
  char* out = reinterpret_cast<char*>(&unit);
  std::size_t out_left = sizeof unit;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);  // no shift state carried over
  if (iconv(cd, &in, &in_left, &out, &out_left) == static_cast<std::size_t>(-1))
    return std::nullopt;
  return unit;
}

std::string RecordDocument(std::size_t bytes) {
  Random random;
  std::u16string text = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<records>\n";
  // Sized in UTF-16 units: nearly all of them are one UTF-8 byte.
  for (std::uint32_t id = 1; text.size() < bytes; ++id) {
    text += u"  <record id=\"r";
    AppendNumber(text, id);
    text += u"\" status=\"";
    text += random.pick(kStatus);
    text += u"\" priority=\"";
    AppendNumber(text, random.below(5));
    text += u"\">\n    <customer>";
    text += random.pick(kNames);
    text += u"</customer>\n    <city>";
    text += random.pick(kCities);
    text += u"</city>\n    <date>2002-";
    AppendNumber(text, 10 + random.below(3));
    text += u"-";
    AppendNumber(text, 10 + random.below(19));
    text += u"</date>\n    <amount currency=\"";
    text += random.pick(kCurrency);
    text += u"\">";
    AppendNumber(text, random.below(100000));
    text += u".";
    AppendNumber(text, 10 + random.below(90));
    text += u"</amount>\n    <items>";
    const std::uint32_t items = 1 + random.below(3);
    for (std::uint32_t i = 0; i < items; ++i) {
      text += u"<item sku=\"K-";
      AppendNumber(text, random.below(10000));
      text += u"\" qty=\"";
      AppendNumber(text, 1 + random.below(9));
      text += u"\"/>";
    }
    text += u"</items>\n    <note>";
    AppendWords(text, random, 3 + static_cast<int>(random.below(6)));
    text += u"</note>\n  </record>\n";
  }
  text += u"</records>\n";
  return Encode(text, "UTF-8");
}

std::string TextDocument(std::size_t bytes) {
  Random random;
  const std::vector<char16_t> kanji = Kanji();
  constexpr const char16_t* kReferences[] = {
      u" &amp; ",    u" &lt;tag&gt; ", u" &quot;a&quot; ", u" &apos;b&apos; ",
      u" &#x2014; ", u" &#233;",       u" &#12354;",       u" &#x1F600; "};
  std::u16string text = u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<book>\n";
  std::size_t approx_bytes = text.size();
  for (std::uint32_t chapter = 1; approx_bytes < bytes; ++chapter) {
    const std::size_t before = text.size();
    text += u"<chapter number=\"";
    AppendNumber(text, chapter);
    text += u"\">\n<title>";
    AppendWords(text, random, 4);
    text += u"</title>\n";
    const std::uint32_t paragraphs = 4 + random.below(8);
    for (std::uint32_t p = 0; p < paragraphs; ++p) {
      text += u"<p>";
      const std::uint32_t sentences = 3 + random.below(8);
      for (std::uint32_t s = 0; s < sentences; ++s) {
        const std::uint32_t kind = random.below(10);
        if (kind == 0) {
          AppendJapanese(text, random, kanji, 10 + random.below(30));
        } else if (kind == 1) {
          AppendWords(text, random, 2);
          text += u" <em>";
          AppendWords(text, random, 2);
          text += u"</em> ";
          AppendWords(text, random, 5);
        } else {
          AppendWords(text, random, 6 + static_cast<int>(random.below(14)));
        }
        if (random.below(3) == 0) text += random.pick(kReferences);
        text += u". ";
      }
      text += u"</p>\n";
    }
    text += u"</chapter>\n";
    for (std::size_t i = before; i < text.size(); ++i)
      approx_bytes += text[i] < 0x80 ? 1 : text[i] < 0x800 ? 2 : 3;  // surrogates: 2 + 2
  }
  text += u"</book>\n";
  return Encode(text, "UTF-8");
}

std::string JapaneseDocument(std::size_t bytes, const char* encoding) {
  Random random;
  const std::vector<char16_t> kanji = Kanji();
  const std::u16string_view name(encoding == std::string_view("UTF-16") ? u"UTF-16" : u"Shift_JIS");
  std::u16string text = u"<?xml version=\"1.0\" encoding=\"";
  text += name;
  text += u"\"?>\n<文書>\n";
  // Both encodings take about two bytes per unit.
  for (std::uint32_t id = 1; text.size() * 2 < bytes; ++id) {
    text += u"  <記録 番号=\"";
    AppendNumber(text, id);
    text += u"\" 区分=\"";
    AppendJapanese(text, random, kanji, 2);
    text += u"\">\n    <氏名>";
    AppendJapanese(text, random, kanji, 4);
    text += u"</氏名>\n    <住所>";
    AppendJapanese(text, random, kanji, 8 + random.below(8));
    AppendNumber(text, random.below(1000));
    text += u"</住所>\n    <備考>";
    AppendJapanese(text, random, kanji, 20 + random.below(120));
    text += u"</備考>\n  </記録>\n";
  }
  text += u"</文書>\n";
  if (name == u"UTF-16") return "\xFF\xFE" + Encode(text, "UTF-16LE");
  return Encode(text, "SHIFT_JIS");
}

}  // namespace bench
