#include "arxp/memory.h"

#include <malloc.h>
#include <sys/mman.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <ostream>

#include "arxp/diagnostics.h"
#include "arxp/exception.h"
#include "internal.h"

namespace arxp {
namespace {

constexpr std::size_t kWord = 4;

// Library-wide figures; relaxed atomics, since strings may live on any thread.
struct Counters {
  std::atomic<bool> enabled{false};
  std::atomic<long> heap_blocks{0};
  std::atomic<long> heap_bytes{0};
  std::atomic<std::uintptr_t> lower{UINTPTR_MAX};
  std::atomic<std::uintptr_t> upper{0};
  std::atomic<long> count{0};
  std::atomic<long> max_size{0};
  std::atomic<long> total_size{0};
};
Counters g_counters;

// Blocks this large (big documents and their strings) ask for transparent huge
// pages: one page fault per 2 MiB instead of one per 4 KiB as they fill.
constexpr std::size_t kHugePage = 2u << 20;
constexpr std::size_t kHugeBlock = 2 * kHugePage;

void AdviseHugePages(void* block, std::size_t size) {
  if (size < kHugeBlock) return;
  const auto start = reinterpret_cast<std::uintptr_t>(block);
  const std::uintptr_t first = (start + kHugePage - 1) & ~(kHugePage - 1);
  const std::uintptr_t last = (start + size) & ~(kHugePage - 1);
  if (last > first)  // advice only: a kernel without huge pages simply refuses
    madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

// No object may be larger.
constexpr std::size_t kMaxBlock = PTRDIFF_MAX & ~(kWord - 1);

std::size_t RoundUp(std::size_t size) {
  return size > kMaxBlock ? kMaxBlock + kWord : (size + kWord - 1) & ~(kWord - 1);
}

template <typename T>
void StoreMin(std::atomic<T>& target, T value) {
  T seen = target.load(std::memory_order_relaxed);
  while (value < seen && !target.compare_exchange_weak(seen, value, std::memory_order_relaxed)) {
  }
}

template <typename T>
void StoreMax(std::atomic<T>& target, T value) {
  T seen = target.load(std::memory_order_relaxed);
  while (value > seen && !target.compare_exchange_weak(seen, value, std::memory_order_relaxed)) {
  }
}

// Checks and records a block just handed out. The address range is kept at all
// times, so that the check of a freed pointer never refuses a block handed out
// before the statistics were switched on.
void Record(void* block, std::size_t rounded) {
  const auto address = reinterpret_cast<std::uintptr_t>(block);
  if (address % kWord != 0) Diagnostics::abortInvariant("malloc area is not word boundary");
  g_counters.heap_blocks.fetch_add(1, std::memory_order_relaxed);
  g_counters.heap_bytes.fetch_add(static_cast<long>(malloc_usable_size(block)),
                                  std::memory_order_relaxed);
  StoreMin(g_counters.lower, address);
  StoreMax(g_counters.upper, address);
  if (!g_counters.enabled.load(std::memory_order_relaxed)) return;
  g_counters.count.fetch_add(1, std::memory_order_relaxed);
  StoreMax(g_counters.max_size, static_cast<long>(rounded));
  g_counters.total_size.fetch_add(static_cast<long>(rounded), std::memory_order_relaxed);
}

// Checks a block about to be given back or moved; returns its usable size.
std::size_t CheckHeld(void* block) {
  const auto address = reinterpret_cast<std::uintptr_t>(block);
  const bool outside = g_counters.enabled.load(std::memory_order_relaxed) &&
                       (address < g_counters.lower.load(std::memory_order_relaxed) ||
                        address > g_counters.upper.load(std::memory_order_relaxed));
  if (block == nullptr || static_cast<std::intptr_t>(address) < 0 || outside)
    Diagnostics::abortInvariant(Diagnostics::format("free illegal pointer (%zx)", address));
  return malloc_usable_size(block);
}

// Takes a block that was given back or moved off the live figures.
void Forget(std::size_t usable_size) {
  g_counters.heap_blocks.fetch_sub(1, std::memory_order_relaxed);
  g_counters.heap_bytes.fetch_sub(static_cast<long>(usable_size), std::memory_order_relaxed);
}

// Reports an allocation failure. Building the report needs a little memory
// itself; when even that fails, the standard out-of-memory exception is left.
[[noreturn]] void OutOfMemory(const char* format, std::size_t size) {
  static thread_local bool reporting = false;
  if (reporting) throw std::bad_alloc();
  reporting = true;
  try {
    Diagnostics::fatal(ARXPException::ALLOC_ERR, Diagnostics::format(format, size));
  } catch (...) {
    reporting = false;
    throw;
  }
}

}  // namespace

void* Memory::allocate(std::size_t size) {
  const std::size_t rounded = RoundUp(size == 0 ? 1 : size);
  void* block = rounded <= kMaxBlock ? std::malloc(rounded) : nullptr;
  if (block == nullptr) OutOfMemory("malloc failed : size = %zu", rounded);
  Record(block, rounded);
  AdviseHugePages(block, rounded);
  return block;
}

void* Memory::reallocate(void* block, std::size_t size) {
  if (block == nullptr) return allocate(size);
  const std::size_t rounded = RoundUp(size == 0 ? 1 : size);
  const std::size_t old_size = CheckHeld(block);
  void* moved = rounded <= kMaxBlock ? std::realloc(block, rounded) : nullptr;
  // On failure the old block stays valid and the caller's.
  if (moved == nullptr) OutOfMemory("realloc failed : size = %zu", rounded);
  Forget(old_size);
  Record(moved, rounded);
  AdviseHugePages(moved, rounded);
  return moved;
}

void Memory::release(void* block) {
  Forget(CheckHeld(block));
  std::free(block);
}

bool Memory::statisticsEnabled() { return g_counters.enabled.load(std::memory_order_relaxed); }

void Memory::setStatisticsEnabled(bool on) {
  if (on && !statisticsEnabled()) {
    g_counters.count.store(0, std::memory_order_relaxed);
    g_counters.max_size.store(0, std::memory_order_relaxed);
    g_counters.total_size.store(0, std::memory_order_relaxed);
  }
  g_counters.enabled.store(on, std::memory_order_relaxed);
}

MemoryStatistics Memory::statistics() {
  MemoryStatistics s;
  s.heap_blocks = g_counters.heap_blocks.load(std::memory_order_relaxed);
  s.heap_bytes = g_counters.heap_bytes.load(std::memory_order_relaxed);
  s.count = g_counters.count.load(std::memory_order_relaxed);
  const std::uintptr_t lower = g_counters.lower.load(std::memory_order_relaxed);
  s.lower = lower == UINTPTR_MAX ? 0 : lower;
  s.upper = g_counters.upper.load(std::memory_order_relaxed);
  s.max_size = g_counters.max_size.load(std::memory_order_relaxed);
  s.total_size = g_counters.total_size.load(std::memory_order_relaxed);
  return s;
}

void Memory::printStatistics() {
  const MemoryStatistics s = statistics();
  Diagnostics::stream() << detail::Format(
                               "memory statistics :\n"
                               "    heap block alloc count = %ld\n"
                               "    heap total size = %ld\n"
                               "    arxp_malloc lower = %zx\n"
                               "    arxp_malloc upper = %zx\n"
                               "    arxp_malloc count = %ld\n"
                               "    arxp_malloc max size = %ld\n"
                               "    arxp_malloc total size = %ld\n",
                               s.heap_blocks, s.heap_bytes, s.lower, s.upper, s.count, s.max_size,
                               s.total_size)
                        << std::flush;
}

}  // namespace arxp
