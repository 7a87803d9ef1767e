#include "arxp/xstring.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <ostream>
#include <string>

#include "arxp/diagnostics.h"
#include "arxp/encoding.h"
#include "arxp/exception.h"
#include "arxp/memory.h"
#include "internal.h"

namespace arxp {
namespace {

constexpr char16_t kEmpty[1] = {0};
constexpr int kMinCapacity = 15;
constexpr int kMaxLength = INT_MAX / 2 - 1;  // units; keeps byte counts within int

// The scratch buffer of the conversions without a buffer: library-wide, one
// thread at a time.
char* g_scratch = nullptr;
std::size_t g_scratch_size = 0;

char* Scratch(std::size_t size) {
  if (size > g_scratch_size) {
    g_scratch = static_cast<char*>(Memory::reallocate(g_scratch, size));
    g_scratch_size = size;
  }
  return g_scratch;
}

std::size_t UnitLength(const char16_t* text) {
  std::size_t n = 0;
  while (text[n] != 0) ++n;
  return n;
}

}  // namespace

const Xstring Xstring::Null;

Xstring::Xstring(const char* text) { assignText(text); }

Xstring::Xstring(const unsigned char* text) { assignText(reinterpret_cast<const char*>(text)); }

Xstring::Xstring(const char16_t* text) { assignUnits(text); }

Xstring::Xstring(const Xstring& other) {
  if (other.isNull()) return;
  // Exactly the units: copies are what documents keep, and most are never
  // appended to.
  const int length = other.length();
  auto* units = static_cast<char16_t*>(
      Memory::allocate((static_cast<std::size_t>(length) + 1) * sizeof(char16_t)));
  if (length > 0)
    std::memcpy(units, other.data(), static_cast<std::size_t>(length) * sizeof(char16_t));
  units[length] = 0;
  units_ = units;
  length_ = capacity_ = length;
}

Xstring& Xstring::operator=(const Xstring& other) {
  if (this != &other) *this = Xstring(other);
  return *this;
}

Xstring& Xstring::operator=(const char* text) {
  *this = Xstring(text);
  return *this;
}

Xstring& Xstring::operator=(const char16_t* text) {
  *this = Xstring(text);
  return *this;
}

Xstring& Xstring::operator+=(const Xstring& other) {
  if (!other.isNull()) appendUnits(other.data(), other.length());
  return *this;
}

Xstring& Xstring::operator+=(const char* text) {
  if (text) *this += Xstring(text);
  return *this;
}

Xstring& Xstring::operator+=(const char16_t* text) {
  if (text) appendUnits(text, static_cast<int>(std::min<std::size_t>(UnitLength(text), INT_MAX)));
  return *this;
}

Xstring& Xstring::operator+=(char16_t unit) {
  if (length_ >= 0 && length_ < capacity_) {  // never for a view, whose capacity is negative
    buffer()[length_++] = unit;
    buffer()[length_] = 0;
  } else {
    appendUnits(&unit, 1);
  }
  return *this;
}

bool Xstring::operator==(const char* text) const {
  if (isNull() || text == nullptr) return false;
  return *this == Xstring(text);
}

bool Xstring::operator==(const Xstring& other) const {
  if (isNull() || other.isNull()) return isNull() == other.isNull();
  return length() == other.length() && std::equal(data(), data() + length(), other.data());
}

const char16_t* Xstring::data() const { return units_ ? units_ : kEmpty; }

Xstring Xstring::substr(int start, int count) const {
  if (isNull()) return Xstring();
  const int size = length();
  start = std::clamp(start, 0, size);
  if (count < 0 || count > size - start) count = size - start;
  const Xstring view(data() + start, count);
  return Xstring(view);  // an owned copy
}

int Xstring::find(const char* pattern) const {
  const Xstring wanted(pattern ? pattern : "");
  if (wanted.length() == 0) return 0;
  if (isNull()) return -1;
  const char16_t* end = data() + length();
  const char16_t* hit = std::search(data(), end, wanted.data(), wanted.data() + wanted.length());
  return hit == end ? -1 : static_cast<int>(hit - data());
}

char* Xstring::ascii_str(char* buffer) const {
  const char16_t* units = data();
  const int size = std::max(length(), 0);
  for (int i = 0; i < size; ++i) buffer[i] = static_cast<char>(units[i] & 0xFF);
  buffer[size] = '\0';
  return buffer;
}

const char* Xstring::ascii_str() const {
  return ascii_str(Scratch(static_cast<std::size_t>(std::max(length(), 0)) + 1));
}

char* Xstring::sjis_str(char* buffer) const {
  toMultibyte(data(), std::max(length(), 0), kEncodingShiftJis, buffer);
  return buffer;
}
const char* Xstring::sjis_str() const { return convertToScratch(kEncodingShiftJis); }

char* Xstring::euc_str(char* buffer) const {
  toMultibyte(data(), std::max(length(), 0), kEncodingEucJp, buffer);
  return buffer;
}
const char* Xstring::euc_str() const { return convertToScratch(kEncodingEucJp); }

char* Xstring::jis_str(char* buffer) const {
  toMultibyte(data(), std::max(length(), 0), kEncodingIso2022Jp, buffer);
  return buffer;
}
const char* Xstring::jis_str() const { return convertToScratch(kEncodingIso2022Jp); }

char* Xstring::os_str(char* buffer) const {
  toMultibyte(data(), std::max(length(), 0), osEncoding(), buffer);
  return buffer;
}
const char* Xstring::os_str() const { return convertToScratch(osEncoding()); }

char16_t* Xstring::unicode_str(char16_t* buffer) const {
  const int size = std::max(length(), 0);
  std::copy(data(), data() + size, buffer);
  buffer[size] = 0;
  return buffer;
}

const char16_t* Xstring::unicode_str() const { return data(); }

std::size_t Xstring::mbcsCapacity(int encoding) const {
  return multibyteCapacity(static_cast<std::size_t>(std::max(length(), 0)), encoding);
}

void Xstring::releaseScratch() {
  if (g_scratch) Memory::release(g_scratch);
  g_scratch = nullptr;
  g_scratch_size = 0;
}

const char* Xstring::convertToScratch(int encoding) const {
  char* out = Scratch(mbcsCapacity(encoding));
  toMultibyte(data(), std::max(length(), 0), encoding, out);
  return out;
}

void Xstring::assignText(const char* text) {
  reset();
  if (text == nullptr) return;
  const std::size_t bytes = std::strlen(text);
  if (bytes > static_cast<std::size_t>(kMaxLength))
    Diagnostics::fatal(ARXPException::ALLOC_ERR,
                       Diagnostics::format("malloc failed : size = %zu", bytes * 2));
  length_ = 0;
  grow(static_cast<int>(bytes));  // never more units than bytes
  length_ = detail::DecodeOsText(reinterpret_cast<const unsigned char*>(text), buffer());
  buffer()[length_] = 0;
}

void Xstring::assignUnits(const char16_t* text) {
  reset();
  if (text == nullptr) return;
  const std::size_t size = UnitLength(text);
  if (size > static_cast<std::size_t>(kMaxLength))
    Diagnostics::fatal(ARXPException::ALLOC_ERR,
                       Diagnostics::format("malloc failed : size = %zu", size * 2));
  length_ = 0;
  const char16_t* end = text + size;
  if (std::find(text, end, u'\r') == end) {
    appendUnits(text, static_cast<int>(size));
    return;
  }
  grow(static_cast<int>(size));
  char16_t* out = buffer();
  for (const char16_t* p = text; p != end; ++p) {
    if (*p != u'\r') {
      *out++ = *p;
    } else {
      *out++ = u'\n';
      if (p + 1 != end && p[1] == u'\n') ++p;
    }
  }
  length_ = static_cast<int>(out - buffer());
  buffer()[length_] = 0;
}

void Xstring::appendUnits(const char16_t* units, int count) {
  if (isBulk()) {  // become an owned copy of the view first
    const char16_t* view = units_;
    const int view_length = length_;
    units_ = nullptr;
    length_ = 0;
    capacity_ = 0;
    appendUnits(view, view_length);
  }
  if (length_ < 0) length_ = 0;
  if (count > kMaxLength - length_)
    Diagnostics::fatal(ARXPException::ALLOC_ERR,
                       Diagnostics::format("malloc failed : size = %lld",
                                           2LL * (static_cast<long long>(length_) + count + 1)));
  // `units` may lie in this string's own buffer, which reserve() may move.
  const bool own = units_ && units >= units_ && units <= units_ + capacity_;
  const std::ptrdiff_t offset = own ? units - units_ : 0;
  grow(length_ + count);
  if (own) units = units_ + offset;
  if (count > 0)
    std::memmove(buffer() + length_, units, static_cast<std::size_t>(count) * sizeof(char16_t));
  length_ += count;
  buffer()[length_] = 0;
}

void Xstring::reserve(int length) {
  if (length > kMaxLength)
    Diagnostics::fatal(ARXPException::ALLOC_ERR,
                       Diagnostics::format("malloc failed : size = %lld", 2LL * length + 2));
  if (isBulk()) appendUnits(nullptr, 0);  // own the units
  if (units_ && length <= capacity_) return;
  units_ = static_cast<char16_t*>(Memory::reallocate(
      buffer(), (static_cast<std::size_t>(std::max(length, 0)) + 1) * sizeof(char16_t)));
  capacity_ = std::max(length, 0);
  buffer()[std::max(length_, 0)] = 0;
}

void Xstring::grow(int length) {
  if (units_ && length <= capacity_) return;
  int capacity = std::max(length, kMinCapacity);
  if (capacity_ > 0) capacity = std::max(capacity, std::min(capacity_, kMaxLength / 2) * 2);
  units_ = static_cast<char16_t*>(
      Memory::reallocate(buffer(), (static_cast<std::size_t>(capacity) + 1) * sizeof(char16_t)));
  capacity_ = capacity;
}

void Xstring::release(char16_t* buffer) { Memory::release(buffer); }

void Xstring::reset() {
  if (owns()) release(buffer());
  units_ = nullptr;
  length_ = -1;
  capacity_ = 0;
}

Xstring operator+(const Xstring& a, const Xstring& b) {
  Xstring sum(a);
  sum += b;
  return sum;
}

std::ostream& operator<<(std::ostream& out, const Xstring& s) {
  std::string bytes(s.mbcsCapacity(osEncoding()), '\0');
  const std::size_t size =
      toMultibyte(s.data(), std::max(s.length(), 0), osEncoding(), bytes.data());
  return out.write(bytes.data(), static_cast<std::streamsize>(size));
}

namespace detail {

std::string PrintableBytes(const Xstring& s) {
  std::string bytes(s.mbcsCapacity(osEncoding()), '\0');
  bytes.resize(EncodeUnits(s.data(), std::max(s.length(), 0), osEncoding(), bytes.data(), false));
  return bytes;
}

}  // namespace detail

}  // namespace arxp
