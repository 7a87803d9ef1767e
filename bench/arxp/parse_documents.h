// The documents of the parse benchmark, generated deterministically: each is the
// bytes of one file as a parser reads it.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace bench {

// iconv's UTF-16 unit for a two-byte Shift_JIS code; none when it has none.
std::optional<char16_t> ShiftJisPair(unsigned lead, unsigned trail);

// Records with attributes and short fields, pretty-printed; mostly ASCII with a
// few accented and Japanese values. UTF-8.
std::string RecordDocument(std::size_t bytes);

// Long paragraphs of prose with inline markup, predefined entity references and
// character references. UTF-8.
std::string TextDocument(std::size_t bytes);

// Japanese records and prose with Japanese element and attribute names, declared
// as `encoding` ("UTF-16": little-endian with a byte-order mark; "Shift_JIS").
std::string JapaneseDocument(std::size_t bytes, const char* encoding);

}  // namespace bench
