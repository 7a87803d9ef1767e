// Loads and stores of integer fields at a byte offset, for layouts that are
// described by offsets rather than by records of EndianField members.
#pragma once

#include <cstdint>
#include <cstring>

#include "tgx/wire/endian_field.h"

namespace tgx::wire {

template <class Field>
inline auto LoadField(const std::uint8_t* p) {
  Field field;
  std::memcpy(&field, p, sizeof field);
  return field.get();
}
template <class Field, class T>
inline void StoreField(std::uint8_t* p, T value) {
  const Field field(value);
  std::memcpy(p, &field, sizeof field);
}

inline std::uint16_t LoadBe16(const std::uint8_t* p) { return LoadField<Be<std::uint16_t>>(p); }
inline std::uint32_t LoadBe32(const std::uint8_t* p) { return LoadField<Be<std::uint32_t>>(p); }
inline std::uint16_t LoadLe16(const std::uint8_t* p) { return LoadField<Le<std::uint16_t>>(p); }
inline std::uint32_t LoadLe32(const std::uint8_t* p) { return LoadField<Le<std::uint32_t>>(p); }
inline void StoreBe16(std::uint8_t* p, std::uint16_t v) { StoreField<Be<std::uint16_t>>(p, v); }
inline void StoreBe32(std::uint8_t* p, std::uint32_t v) { StoreField<Be<std::uint32_t>>(p, v); }
inline void StoreLe16(std::uint8_t* p, std::uint16_t v) { StoreField<Le<std::uint16_t>>(p, v); }
inline void StoreLe32(std::uint8_t* p, std::uint32_t v) { StoreField<Le<std::uint32_t>>(p, v); }

}  // namespace tgx::wire
