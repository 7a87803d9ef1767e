// The library's counting allocator: every allocation of the library goes through
// it. Requests are rounded up to a multiple of 4 bytes; with statistics on (set at
// load from ARXP_MEMSTAT) it records the address range and sizes it handed out.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

#include "arxp/export.h"

namespace arxp {

struct MemoryStatistics {
  long heap_blocks = 0;      // blocks allocated and not yet freed
  long heap_bytes = 0;       // their usable size
  std::uintptr_t lower = 0;  // lowest block address handed out
  std::uintptr_t upper = 0;  // highest block address handed out
  long count = 0;            // allocations
  long max_size = 0;         // largest rounded size
  long total_size = 0;       // total of rounded sizes
};

class ARXP_EXPORT Memory {
 public:
  // A fatal ALLOC_ERR when the system has no memory (thrown, see Diagnostics::fatal;
  // std::bad_alloc when not even the report can be made).
  static void* allocate(std::size_t size);
  static void* reallocate(void* block, std::size_t size);
  // A null, negative or (with statistics) never handed-out pointer is a broken
  // invariant: fatal FREE_ERR and abort.
  static void release(void* block);

  static bool statisticsEnabled();
  // Switching on starts the counts afresh; the address range covers every block.
  static void setStatisticsEnabled(bool on);
  static MemoryStatistics statistics();
  // Prints "memory statistics :" and the figures to the diagnostic stream.
  static void printStatistics();
};

// Owner of one block of the allocator.
template <typename T>
class Block {
 public:
  Block() = default;
  explicit Block(std::size_t count) : data_(static_cast<T*>(Memory::allocate(count * sizeof(T)))) {}
  Block(const Block&) = delete;
  Block& operator=(const Block&) = delete;
  Block(Block&& other) noexcept : data_(other.data_) { other.data_ = nullptr; }
  Block& operator=(Block&& other) noexcept {
    std::swap(data_, other.data_);
    return *this;
  }
  ~Block() {
    if (data_) Memory::release(data_);
  }
  T* get() const { return data_; }
  // Grows (or shrinks) to `count` elements, keeping the contents.
  void resize(std::size_t count) {
    data_ = static_cast<T*>(Memory::reallocate(data_, count * sizeof(T)));
  }

 private:
  T* data_ = nullptr;
};

// The allocator of standard containers whose storage goes through the library's:
// large blocks (a decoded document of tens of MiB) then ask for huge pages too.
template <typename T>
struct Allocator {
  using value_type = T;
  Allocator() = default;
  template <typename U>
  Allocator(const Allocator<U>&) {}  // NOLINT(google-explicit-constructor)
  T* allocate(std::size_t count) { return static_cast<T*>(Memory::allocate(count * sizeof(T))); }
  void deallocate(T* block, std::size_t) { Memory::release(block); }
  bool operator==(const Allocator&) const { return true; }
};

// A growable UTF-16 text in the library's allocator.
using UnitText = std::basic_string<char16_t, std::char_traits<char16_t>, Allocator<char16_t>>;

}  // namespace arxp
