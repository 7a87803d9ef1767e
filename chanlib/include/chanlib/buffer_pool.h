// The data-buffer pools: 384 blocks of 512 bytes each in the main table and in
// up to ten overflow pools, handed out in runs by first fit, and the locators by
// which library and worker name a run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "chanlib/shared_layout.h"

namespace tgx::chanlib {

inline constexpr std::uint32_t kMaxAllocationSize = 0x1FFFE00;

// One pool's allocation table, block map and blocks.
struct PoolView {
  std::span<AllocEntry, kBlocksPerPool> table;
  std::span<std::uint8_t, kBlocksPerPool> blockMap;  // 1 = block used
  std::span<std::byte, kBlocksPerPool * kBlockSize> blocks;

  static PoolView OfMainTable(void* base);
  static PoolView OfOverflowPool(void* base);
};

// A block of a pool, as a buffer locator names it: pool in the high 16 bits,
// block in the low 16 bits.
struct BufferLocator {
  std::uint16_t pool;
  std::uint16_t block;

  std::int32_t value() const {
    return static_cast<std::int32_t>(std::uint32_t{pool} << 16 | block);
  }
  // Null for a negative value, a pool above 10 or a block of 384 or more.
  static std::optional<BufferLocator> Decode(std::int32_t value);
};

// First fit: the first free table entry and the lowest run of free blocks that
// holds size bytes. Returns the entry index, or kAllocBadSize, kAllocNoEntry,
// kAllocNoRun.
int AllocateBlocks(const PoolView& pool, std::uint32_t size);

// Frees an entry and its run. False (nothing touched) for an entry that is out
// of range, not in use or names blocks outside the pool.
bool FreeBlocks(const PoolView& pool, int entry);

// The bytes of an allocation in use; empty for a bad or unused entry.
std::span<std::byte> AllocationBytes(const PoolView& pool, int entry);

// What the worker may touch for a command buffer: the allocation in use that
// starts at the block, from offset for length bytes. Null when no allocation
// starts there or when offset + length runs past its blocks.
std::optional<std::span<std::byte>> ResolveBuffer(const PoolView& pool, std::uint16_t block,
                                                  std::uint32_t offset, std::uint32_t length);

int EntriesInUse(const PoolView& pool);
int BlocksInUse(const PoolView& pool);

// Channel rings stay in the main pool while it keeps a tenth of its blocks and
// some of its entries free for everything else.
bool RingFitsMainPool(int entriesInUse, int blocksInUse, std::uint32_t size);

// The overflow pools of this process, opened or created on first use.
class OverflowPools {
 public:
  struct Pool {
    PoolView view;
    bool createdNow;  // created (empty) by this call
  };
  virtual ~OverflowPools() = default;
  // Pool 1 to 10; null when it could neither be opened nor created.
  virtual std::optional<Pool> Acquire(int pool) = 0;
};

// A run in one of the pools.
struct RingAllocation {
  int pool;
  int entry;
};

// Allocation of a channel ring: the main pool while RingFitsMainPool allows and
// it has room, else the overflow pools in order. Errors: kAllocBadSize;
// kAllocPoolCreate when a pool could not be had; kAllocNoEntry when a pool
// created just now cannot hold it; kAllocNoRun when all pools are full.
struct RingResult {
  int error;  // 0 on success
  RingAllocation allocation;
};
RingResult AllocateRing(const PoolView& mainPool, OverflowPools& overflow, std::uint32_t size);

}  // namespace tgx::chanlib
