// Xstring: the UTF-16 string of the XML library. All text in the library is held
// as 16-bit UTF-16 code units; conversions to the Japanese multibyte encodings
// happen at the edges.
#pragma once

#include <cstddef>
#include <iosfwd>
#include <utility>

#include "arxp/export.h"

namespace arxp {

class ARXP_EXPORT Xstring {
 public:
  // A null string: isNull() is true and length() is -1.
  static const Xstring Null;

  Xstring() noexcept = default;
  // From a zero-terminated text in the OS encoding (Shift_JIS); CR LF becomes LF.
  // A null pointer gives a null string.
  Xstring(const char* text);           // NOLINT(google-explicit-constructor)
  Xstring(const unsigned char* text);  // NOLINT(google-explicit-constructor)
  // From a zero-terminated UTF-16 text; CR LF and a lone CR become LF.
  Xstring(const char16_t* text);  // NOLINT(google-explicit-constructor)
  // A bulk view of caller-owned UTF-16 data, which must outlive the string. Taken as
  // it is: no line-end changes, no terminating zero needed.
  // (Inline, as the moves and the destructor: the parser makes and drops such
  // views for every name and value it delivers.)
  Xstring(const char16_t* data, int length) noexcept
      : units_(data), length_(data ? (length > 0 ? length : 0) : -1), capacity_(data ? kView : 0) {}
  // Copies own their units, also when `other` is a bulk view; their buffer holds
  // just the units.
  Xstring(const Xstring& other);
  Xstring(Xstring&& other) noexcept
      : units_(other.units_), length_(other.length_), capacity_(other.capacity_) {
    other.units_ = nullptr;
    other.length_ = -1;
    other.capacity_ = 0;
  }
  ~Xstring() {
    if (owns()) release(buffer());
  }

  Xstring& operator=(const Xstring& other);
  Xstring& operator=(Xstring&& other) noexcept {
    std::swap(units_, other.units_);
    std::swap(length_, other.length_);
    std::swap(capacity_, other.capacity_);
    return *this;
  }
  Xstring& operator=(const char* text);
  Xstring& operator=(const char16_t* text);

  // Appending to a null string makes it non-null; a bulk view becomes an owned copy.
  Xstring& operator+=(const Xstring& other);
  Xstring& operator+=(const char* text);
  Xstring& operator+=(const char16_t* text);
  Xstring& operator+=(char16_t unit);

  // Compares the units with those of a text in the OS encoding; a null string
  // equals no text.
  bool operator==(const char* text) const;
  bool operator!=(const char* text) const { return !(*this == text); }
  // Same units (two null strings are equal; null differs from empty).
  bool operator==(const Xstring& other) const;
  bool operator!=(const Xstring& other) const { return !(*this == other); }

  int length() const { return length_; }
  bool isNull() const { return length_ < 0; }
  bool isBulk() const { return capacity_ == kView; }
  // The units; zero-terminated unless the string is a bulk view. Never null.
  const char16_t* data() const;
  const char16_t* c_str() const { return data(); }

  // Makes room for `length` units, so that appending up to there does not move the
  // units again. A bulk view becomes an owned copy; a null string stays null.
  void reserve(int length);

  // Up to `count` units from `start` (a negative count: to the end), clamped to the
  // string. A null string gives a null string.
  Xstring substr(int start, int count = -1) const;
  // Index of the first occurrence of a text in the OS encoding, -1 when absent, 0
  // for an empty pattern.
  int find(const char* pattern) const;

  // Conversions. The forms with a buffer write there and return it; the forms
  // without write into one library-wide scratch buffer that the next conversion
  // of any string overwrites (one thread at a time).
  // Buffer sizes: length() + 1 bytes for ascii_str, mbcsCapacity() for the others.
  char* ascii_str(char* buffer) const;  // low byte of each unit
  const char* ascii_str() const;
  char* sjis_str(char* buffer) const;
  const char* sjis_str() const;
  char* euc_str(char* buffer) const;
  const char* euc_str() const;
  char* jis_str(char* buffer) const;
  const char* jis_str() const;
  char* os_str(char* buffer) const;  // the OS encoding, Shift_JIS
  const char* os_str() const;
  // A zero-terminated copy of the units (length() + 1 units); without a buffer,
  // data() itself.
  char16_t* unicode_str(char16_t* buffer) const;
  const char16_t* unicode_str() const;

  // Bytes a conversion of this string to `encoding` may need, terminating zero
  // included.
  std::size_t mbcsCapacity(int encoding) const;

  // Frees the scratch buffer of the conversions without a buffer.
  static void releaseScratch();

 private:
  void assignText(const char* text);
  void assignUnits(const char16_t* text);
  void appendUnits(const char16_t* units, int count);
  void grow(int length);
  void reset();
  static void release(char16_t* buffer);
  const char* convertToScratch(int encoding) const;

  // The capacity of a bulk view, which owns nothing.
  static constexpr int kView = -1;

  // Whether units_ is a buffer of this string's own.
  bool owns() const { return capacity_ >= 0 && units_ != nullptr; }
  char16_t* buffer() const { return const_cast<char16_t*>(units_); }

  // Owned units (zero-terminated, allocated) or the viewed ones; nullptr for a null
  // string and for an empty one that has no buffer yet.
  const char16_t* units_ = nullptr;
  int length_ = -1;   // units (owned or viewed); -1 marks the null string
  int capacity_ = 0;  // units the buffer holds before its terminating zero; kView for a view
};

ARXP_EXPORT Xstring operator+(const Xstring& a, const Xstring& b);
// Writes the string in the OS encoding.
ARXP_EXPORT std::ostream& operator<<(std::ostream& out, const Xstring& s);

}  // namespace arxp
