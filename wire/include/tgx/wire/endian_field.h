// Integer fields stored in a fixed byte order, for records shared with other
// processes (little-endian) and for packets on the printer wire (big-endian).
// Each field is a plain byte array, so records built from them have no padding,
// alignment 1 and the exact size of their bytes.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace tgx::wire {

template <class T, std::endian Order>
class EndianField {
  static_assert(std::is_integral_v<T>);
  using Unsigned = std::make_unsigned_t<T>;

 public:
  constexpr EndianField() = default;
  constexpr EndianField(T value) { set(value); }  // NOLINT: a field reads like its value

  constexpr T get() const {
    Unsigned value = 0;
    for (std::size_t i = 0; i < sizeof(T); ++i) {
      value = static_cast<Unsigned>(value | Unsigned{bytes_[i]} << (8 * Shift(i)));
    }
    return static_cast<T>(value);
  }
  constexpr void set(T value) {
    const auto bits = static_cast<Unsigned>(value);
    for (std::size_t i = 0; i < sizeof(T); ++i) {
      bytes_[i] = static_cast<std::uint8_t>(bits >> (8 * Shift(i)));
    }
  }
  constexpr operator T() const { return get(); }  // NOLINT
  constexpr EndianField& operator=(T value) {
    set(value);
    return *this;
  }

 private:
  static constexpr std::size_t Shift(std::size_t i) {
    return Order == std::endian::little ? i : sizeof(T) - 1 - i;
  }
  std::array<std::uint8_t, sizeof(T)> bytes_{};
};

template <class T>
using Le = EndianField<T, std::endian::little>;
template <class T>
using Be = EndianField<T, std::endian::big>;

static_assert(sizeof(Le<std::uint32_t>) == 4 && alignof(Le<std::uint32_t>) == 1);
static_assert(std::is_trivially_copyable_v<Le<std::uint32_t>>);

}  // namespace tgx::wire
