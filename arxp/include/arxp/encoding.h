// Encoding and byte-order identifiers, and the conversion of UTF-16 units to the
// Japanese multibyte encodings (CP932 and its EUC-JP and ISO-2022-JP relatives).
#pragma once

#include <cstddef>

#include "arxp/export.h"

namespace arxp {

constexpr int kEncodingUtf8 = 1;
constexpr int kEncodingUtf16 = 2;
constexpr int kEncodingShiftJis = 3;
constexpr int kEncodingEucJp = 4;
constexpr int kEncodingIso2022Jp = 5;

constexpr int kByteOrderNone = 0;  // byte order does not matter
constexpr int kByteOrderBig = 1;
constexpr int kByteOrderLittle = 2;
// Detected UCS-4 inputs (not supported): 00 00 00 3C, 00 00 3C 00, 00 3C 00 00, 3C 00 00 00.
constexpr int kByteOrderUcs4First = 3;
constexpr int kByteOrderUcs4Last = 6;

// "UTF-8", "UTF-16", "Shift_JIS", "EUC-JP", "ISO-2022-JP"; nullptr for another id.
ARXP_EXPORT const char* encodingName(int encoding);
// "BIG_ENDIAN", "LITTLE_ENDIAN", or "DON'T CARE" for any other order.
ARXP_EXPORT const char* byteOrderName(int order);

// The OS encoding (Shift_JIS) and the machine byte order (little-endian), set at load.
ARXP_EXPORT int osEncoding();
ARXP_EXPORT int machineByteOrder();

// Bytes that toMultibyte may write for `count` units, terminating zero included.
ARXP_EXPORT std::size_t multibyteCapacity(std::size_t count, int encoding);

// Converts up to `count` units (stopping at a zero unit) to Shift_JIS, EUC-JP or
// ISO-2022-JP: units below 0x80 as single bytes with LF written as CR LF, others
// through the code page, '?' for a character the encoding cannot represent; for
// another encoding the low byte of each unit. ISO-2022-JP output switches with
// ESC $ B into JIS X 0208, ESC ( I into half-width katakana and ESC ( B back to
// ASCII, and always ends in ASCII. Writes a terminating zero into `out` (which holds
// multibyteCapacity bytes) and returns the number of bytes before it.
ARXP_EXPORT std::size_t toMultibyte(const char16_t* units, std::size_t count, int encoding,
                                    char* out);

}  // namespace arxp
