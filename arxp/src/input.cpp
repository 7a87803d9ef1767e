#include <sys/stat.h>

#include <algorithm>
#include <cstring>

#include "arxp/encoding.h"
#include "arxp/exception.h"
#include "arxp/input.h"

namespace arxp {

ByteInput::ByteInput(const void* data, std::size_t size, const Xstring& name)
    : name_(name),
      cursor_(static_cast<const std::uint8_t*>(data)),
      limit_(static_cast<const std::uint8_t*>(data) + (data ? size : 0)),
      size_hint_(data ? size : 0) {}

ByteInput::ByteInput(const char* path) : name_(path), file_(std::fopen(path, "rb")) {
  open_ = file_ != nullptr;
  if (!open_) return;
  struct stat status;
  if (fstat(fileno(file_), &status) == 0 && S_ISREG(status.st_mode))
    size_hint_ = static_cast<std::size_t>(status.st_size);
  buffer_ = Block<std::uint8_t>(kChunk);
  cursor_ = limit_ = buffer_.get();
  at_end_ = false;
}

ByteInput::~ByteInput() {
  if (file_) std::fclose(file_);
}

bool ByteInput::fill(std::size_t count) {
  if (available() >= count) return true;
  if (at_end_) return false;
  // Keep the unread bytes at the front and read behind them.
  const std::size_t kept = available();
  const std::size_t size = std::max(kChunk, count);
  if (size > kChunk) buffer_.resize(size);
  std::uint8_t* base = buffer_.get();
  std::memmove(base, cursor_, kept);
  std::size_t filled = kept;
  while (filled < count && !at_end_) {
    const std::size_t got = std::fread(base + filled, 1, size - filled, file_);
    filled += got;
    if (got == 0 && std::ferror(file_))
      Diagnostics::error(ARXPException::FILE_OPEN_ERR,
                         Xstring("file (") + name_ + Xstring(") cannot read"));
    at_end_ = got == 0;
  }
  cursor_ = base;
  limit_ = base + filled;
  return filled >= count;
}

namespace {

constexpr std::size_t kSignatureSize = 4;

struct Signature {
  std::uint8_t bytes[kSignatureSize];
  std::size_t length;  // leading bytes that must match
  int encoding;        // 0: unsupported UCS-4
  int byte_order;
  int bom_size;
  const char* text;
};

// Checked in order; the first match decides.
constexpr Signature kSignatures[] = {
    {{0xFF, 0xFE}, 2, kEncodingUtf16, kByteOrderLittle, 2, "UTF-16 BOM (little-endian)"},
    {{0xFE, 0xFF}, 2, kEncodingUtf16, kByteOrderBig, 2, "UTF-16 BOM (big-endian)"},
    {{0xEF, 0xBB, 0xBF}, 3, kEncodingUtf8, kByteOrderNone, 3, "UTF-8 BOM"},
    {{0x3C, 0x3F, 0x78, 0x6D}, 4, kEncodingUtf8, kByteOrderNone, 0, "UTF-8 <?xm"},
    {{0x3C, 0x3F}, 2, kEncodingUtf8, kByteOrderNone, 0, "UTF-8 <?pi"},
    {{0x3C, 0x00, 0x3F, 0x00},
     4,
     kEncodingUtf16,
     kByteOrderLittle,
     0,
     "UTF-16 <? (little-endian, without BOM?)"},
    {{0x00, 0x3C, 0x00, 0x3F},
     4,
     kEncodingUtf16,
     kByteOrderBig,
     0,
     "UTF-16 <? (big-endian, without BOM?)"},
    {{0x00, 0x00, 0x00, 0x3C}, 4, 0, 3, 0, "UCS-4 (0) not supported"},
    {{0x00, 0x00, 0x3C, 0x00}, 4, 0, 4, 0, "UCS-4 (1) not supported"},
    {{0x00, 0x3C, 0x00, 0x00}, 4, 0, 5, 0, "UCS-4 (2) not supported"},
    {{0x3C, 0x00, 0x00, 0x00}, 4, 0, 6, 0, "UCS-4 (3) not supported"},
};

}  // namespace

DetectedEncoding detectEncoding(ByteInput& input) {
  if (!input.fill(kSignatureSize)) Diagnostics::error(ARXPException::FORMAT_ERR, "not XML file");
  const std::uint8_t* head = input.cursor();
  DetectedEncoding detected{kEncodingUtf8, kByteOrderNone, 0};
  const Signature* match = nullptr;
  for (const Signature& signature : kSignatures) {
    if (std::memcmp(head, signature.bytes, signature.length) == 0) {
      match = &signature;
      break;
    }
  }
  if (match && match->encoding == 0) Diagnostics::error(ARXPException::FORMAT_ERR, match->text);
  if (match) {
    Diagnostics::info("%s", match->text);
    detected = {match->encoding, match->byte_order, match->bom_size};
  } else if (head[0] == 0x00 || (head[0] == 0x3C && head[1] == 0x00)) {
    // Starts like UCS-4 or UTF-16 without being either.
    Diagnostics::error(ARXPException::FORMAT_ERR, "illegal XML file");
  } else {
    Diagnostics::info("encoding not determined, assume to UTF-8");
  }
  Diagnostics::info("xml file primary encoding = %s", encodingName(detected.encoding));
  Diagnostics::info("xml file byte order = %s", byteOrderName(detected.byte_order));
  input.advance(head + detected.bom_size);
  return detected;
}

}  // namespace arxp
