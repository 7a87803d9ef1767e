// Feeds arbitrary bytes to every filter and reader of the custom controls: the
// first byte picks the family, the rest is taken as typed text (as UTF-8 bytes,
// each also as one code point) and as a window text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "filters.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  using uictl::Family;
  const Family family = static_cast<Family>(data[0] % (static_cast<int>(Family::Edit) + 1));
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

  std::u32string typed;
  for (std::size_t i = 1; i + 3 < size; i += 4) {
    char32_t c = 0;
    for (int k = 0; k < 4; ++k) c = (c << 8) | data[i + static_cast<std::size_t>(k)];
    typed += c;
  }
  for (char c : text) typed += static_cast<unsigned char>(c);

  for (char32_t c : typed) {
    const uictl::CharVerdict verdict = uictl::FilterChar(family, c);
    if (c < 32 && verdict != uictl::CharVerdict::Pass) std::abort();
  }
  std::u32string replaced = typed;
  const std::size_t n = uictl::ReplaceRefused(family, replaced);
  if (replaced.size() != typed.size() || n > typed.size()) std::abort();
  // In the name boxes, which replace, the replacement is final.
  const bool names = family == Family::DnsHost || family == Family::DnsDomain ||
                     family == Family::Uri || family == Family::AppleTalk;
  std::u32string again = replaced;
  if (names && uictl::ReplaceRefused(family, again) != 0) std::abort();
  uictl::FilterComposed(family, typed);

  if (const auto value = uictl::ParseDecimal(text)) {
    if (std::to_string(*value).size() > text.size()) std::abort();
  }
  const uictl::Range range = uictl::ParseRange(text);
  if (!range.valid && (range.minimum != 0 || range.maximum != 100)) std::abort();
  for (bool tenths : {false, true}) {
    const auto spin = uictl::ParseSpinText(text, tenths);
    if (spin && (*spin < 0 || *spin > 32767)) std::abort();
  }
  uictl::IsHexText(text);
  if (uictl::IpFieldNumber(text) > 999) std::abort();
  uictl::ParseNetWare(text.substr(0, text.size() / 2), text.substr(text.size() / 2));
  const uictl::GaugeSetup gauge = uictl::ParseGaugeText(text);
  if (gauge.minimum > gauge.maximum || gauge.value < gauge.minimum || gauge.value > gauge.maximum)
    std::abort();
  uictl::ParseAlignment(text);
  uictl::FormatNumbers(text, {1, -2, 3, -4});
  return 0;
}
