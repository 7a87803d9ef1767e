// Input of an XML document: its bytes (ByteInput), the detection of its encoding
// from the first bytes, and the character readers that turn the bytes into UTF-16
// code units.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "arxp/diagnostics.h"
#include "arxp/encoding.h"
#include "arxp/export.h"
#include "arxp/memory.h"
#include "arxp/xstring.h"

namespace arxp {

// The bytes of one input, seen through a window [cursor(), limit()) that fill()
// extends: a memory block is one window; a file is read in chunks.
class ARXP_EXPORT ByteInput {
 public:
  // A view of caller-owned memory, which must outlive the input.
  ByteInput(const void* data, std::size_t size, const Xstring& name = Xstring(""));
  // Opens a file for reading; isOpen() tells whether that worked.
  explicit ByteInput(const char* path);
  ByteInput(const ByteInput&) = delete;
  ByteInput& operator=(const ByteInput&) = delete;
  ~ByteInput();

  bool isOpen() const { return open_; }
  // The file name, for diagnostics.
  const Xstring& name() const { return name_; }

  const std::uint8_t* cursor() const { return cursor_; }
  const std::uint8_t* limit() const { return limit_; }
  void advance(const std::uint8_t* to) { cursor_ = to; }
  std::size_t available() const { return static_cast<std::size_t>(limit_ - cursor_); }
  // Makes at least `count` bytes available unless the input ends first; returns
  // whether they are. Moves the window (cursor() changes).
  bool fill(std::size_t count);
  // No byte follows limit().
  bool atEnd() const { return at_end_; }
  // The size of the whole input when known (a memory block, a regular file), else 0.
  std::size_t sizeHint() const { return size_hint_; }

 private:
  static constexpr std::size_t kChunk = 64 * 1024;

  Xstring name_;
  std::FILE* file_ = nullptr;
  Block<std::uint8_t> buffer_;
  const std::uint8_t* cursor_ = nullptr;
  const std::uint8_t* limit_ = nullptr;
  bool at_end_ = true;
  bool open_ = true;
  std::size_t size_hint_ = 0;
};

struct DetectedEncoding {
  int encoding = 0;    // kEncodingUtf8 or kEncodingUtf16
  int byte_order = 0;  // kByteOrderBig, kByteOrderLittle or kByteOrderNone
  int bom_size = 0;    // bytes of the byte-order mark that were skipped
};

// Detects the encoding from the first four bytes (fewer is the error "not XML
// file"), logs it, and consumes a byte-order mark. UCS-4 and inputs that start
// like it are FORMAT_ERR errors.
ARXP_EXPORT DetectedEncoding detectEncoding(ByteInput& input);

// Turns the bytes of an input into UTF-16 code units by one of the five encodings.
// Line ends become LF (CR LF and a lone CR); a unit that is no XML character, and
// a byte sequence the encoding does not allow, are errors reported with the
// reader's location. Reads never pass the input's end, and never read ahead of the
// units they deliver, so that the encoding may change between two units.
class ARXP_EXPORT CharReader {
 public:
  CharReader(ByteInput& input, int encoding, int byte_order = kByteOrderNone);

  // Switches to the reader of encoding 1-5 (another id is the fatal INTERNAL_ERR
  // "(*select_getc_proc())() fail"); the byte order matters for UTF-16 only.
  void select(int encoding, int byte_order = kByteOrderNone);
  int encoding() const { return encoding_; }
  int byteOrder() const { return byte_order_; }

  // The next unit, or -1 at the end of the input.
  int getc();
  // Up to `capacity` units into `out`; 0 at the end of the input.
  std::size_t read(char16_t* out, std::size_t capacity);

  // Line (from 1) and column (units since the line began) of the last delivered
  // unit.
  int line() const { return line_; }
  int column() const { return column_; }
  // The place of the next unit, for reports.
  Location location() const;

  // Internal outcome of a decoding step.
  struct Fault {
    int code = 0;  // 0: none
    const char* message = nullptr;
    unsigned value = 0;  // formatted into the message when it has a %x
  };

 private:
  std::size_t decode(char16_t* out, std::size_t capacity, Fault& fault);
  [[noreturn]] void raise(const Fault& fault);

  ByteInput& input_;
  int encoding_ = 0;
  int byte_order_ = kByteOrderNone;
  int jis_mode_ = 0;         // ISO-2022-JP: ASCII, JIS X 0208 or half-width katakana
  bool after_high_ = false;  // UTF-16: a high surrogate was delivered, its low one is next
  int line_ = 1;
  int column_ = 0;
};

}  // namespace arxp
