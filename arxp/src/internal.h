// Helpers shared by the library's sources; not exported.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <string>

#include "arxp/xstring.h"

namespace arxp::detail {

std::string FormatV(const char* format, va_list args);
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Units to bytes of `encoding` as toMultibyte does, optionally keeping LF as LF
// (for text printed on this system's own streams). Returns the byte count.
std::size_t EncodeUnits(const char16_t* units, std::size_t count, int encoding, char* out,
                        bool crlf);
// The bytes of a string in the OS encoding, LF kept, for diagnostics.
std::string PrintableBytes(const Xstring& s);

// Decodes a zero-terminated text of the OS encoding (CR LF becomes LF; an invalid
// or truncated code becomes U+FFFD) into `out`, which holds strlen(text) units.
// Returns the number of units.
int DecodeOsText(const unsigned char* text, char16_t* out);

}  // namespace arxp::detail
