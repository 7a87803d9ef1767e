#include "chanlib/buffer_pool.h"

#include <algorithm>

#include "chanlib/result_codes.h"

namespace tgx::chanlib {
namespace {

PoolView ViewAt(std::byte* base, std::size_t table, std::size_t map, std::size_t blocks) {
  return PoolView{std::span<AllocEntry, kBlocksPerPool>(reinterpret_cast<AllocEntry*>(base + table),
                                                        kBlocksPerPool),
                  std::span<std::uint8_t, kBlocksPerPool>(
                      reinterpret_cast<std::uint8_t*>(base + map), kBlocksPerPool),
                  std::span<std::byte, kBlocksPerPool * kBlockSize>(base + blocks,
                                                                    kBlocksPerPool * kBlockSize)};
}

// The run of an entry in use, or null when the entry is unused or corrupt.
struct Run {
  std::size_t first;
  std::size_t count;
};
std::optional<Run> RunOf(const PoolView& pool, int entry) {
  if (entry < 0 || entry >= kBlocksPerPool) return std::nullopt;
  const AllocEntry e = pool.table[static_cast<std::size_t>(entry)];
  const std::size_t first = e.firstBlock;
  const std::size_t count = e.blockCount;
  if (e.inUse != 1 || count == 0 || first + count > kBlocksPerPool) return std::nullopt;
  return Run{first, count};
}

}  // namespace

PoolView PoolView::OfMainTable(void* base) {
  return ViewAt(static_cast<std::byte*>(base), main_table::kAllocTable, main_table::kBlockMap,
                main_table::kBlocks);
}

PoolView PoolView::OfOverflowPool(void* base) {
  return ViewAt(static_cast<std::byte*>(base), overflow_pool::kAllocTable, overflow_pool::kBlockMap,
                overflow_pool::kBlocks);
}

std::optional<BufferLocator> BufferLocator::Decode(std::int32_t value) {
  if (value < 0 || value >= 0xB0000) return std::nullopt;
  const BufferLocator locator{static_cast<std::uint16_t>(value >> 16),
                              static_cast<std::uint16_t>(value & 0xFFFF)};
  if (locator.block >= kBlocksPerPool) return std::nullopt;
  return locator;
}

int AllocateBlocks(const PoolView& pool, std::uint32_t size) {
  if (size < 1 || size > kMaxAllocationSize) return kAllocBadSize;
  const std::size_t needed = ((size - 1) >> 9) + 1;

  const auto entry = std::find_if(pool.table.begin(), pool.table.end(),
                                  [](const AllocEntry& e) { return e.inUse != 1; });
  if (entry == pool.table.end()) return kAllocNoEntry;

  std::size_t runStart = 0;
  std::size_t runLength = 0;
  for (std::size_t block = 0; block < pool.blockMap.size() && runLength < needed; ++block) {
    if (pool.blockMap[block] != 0) {
      runStart = block + 1;
      runLength = 0;
    } else {
      ++runLength;
    }
  }
  if (runLength < needed) return kAllocNoRun;

  std::fill_n(pool.blockMap.begin() + static_cast<std::ptrdiff_t>(runStart), needed, 1);
  AllocEntry filled{};
  filled.inUse = 1;
  filled.firstBlock = static_cast<std::uint16_t>(runStart);
  filled.blockCount = static_cast<std::uint16_t>(needed);
  *entry = filled;
  return static_cast<int>(entry - pool.table.begin());
}

bool FreeBlocks(const PoolView& pool, int entry) {
  const auto run = RunOf(pool, entry);
  if (!run) return false;
  std::fill_n(pool.blockMap.begin() + static_cast<std::ptrdiff_t>(run->first), run->count, 0);
  pool.table[static_cast<std::size_t>(entry)] = AllocEntry{};
  return true;
}

std::span<std::byte> AllocationBytes(const PoolView& pool, int entry) {
  const auto run = RunOf(pool, entry);
  if (!run) return {};
  return pool.blocks.subspan(run->first * kBlockSize, run->count * kBlockSize);
}

std::optional<std::span<std::byte>> ResolveBuffer(const PoolView& pool, std::uint16_t block,
                                                  std::uint32_t offset, std::uint32_t length) {
  for (int entry = 0; entry < kBlocksPerPool; ++entry) {
    const auto run = RunOf(pool, entry);
    if (!run || run->first != block) continue;
    const std::uint64_t capacity = run->count * kBlockSize;
    if (std::uint64_t{offset} + length > capacity) return std::nullopt;
    return pool.blocks.subspan(run->first * kBlockSize + offset, length);
  }
  return std::nullopt;
}

int EntriesInUse(const PoolView& pool) {
  return static_cast<int>(std::count_if(pool.table.begin(), pool.table.end(),
                                        [](const AllocEntry& e) { return e.inUse == 1; }));
}

int BlocksInUse(const PoolView& pool) {
  return static_cast<int>(std::count(pool.blockMap.begin(), pool.blockMap.end(), 1));
}

bool RingFitsMainPool(int entriesInUse, int blocksInUse, std::uint32_t size) {
  if (entriesInUse > 344) return false;
  const std::int64_t extraBlocks = size == 0 ? 0 : (size - 1) / kBlockSize;
  return (extraBlocks + blocksInUse) * 100 <= 34499;
}

RingResult AllocateRing(const PoolView& mainPool, OverflowPools& overflow, std::uint32_t size) {
  if (size < 1 || size > kMaxAllocationSize) return {kAllocBadSize, {}};
  if (RingFitsMainPool(EntriesInUse(mainPool), BlocksInUse(mainPool), size)) {
    const int entry = AllocateBlocks(mainPool, size);
    if (entry >= 0) return {0, {0, entry}};
  }
  for (int number = 1; number <= kOverflowPoolCount; ++number) {
    const auto pool = overflow.Acquire(number);
    if (!pool) return {kAllocPoolCreate, {}};
    const int entry = AllocateBlocks(pool->view, size);
    if (entry >= 0) return {0, {number, entry}};
    if (pool->createdNow) return {kAllocNoEntry, {}};
  }
  return {kAllocNoRun, {}};
}

}  // namespace tgx::chanlib
