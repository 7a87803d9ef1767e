#include "chanlib/buffer_pool.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

#include "chanlib/result_codes.h"

namespace tgx::chanlib {
namespace {

// A main table in plain memory.
struct MainPool {
  std::vector<std::byte> memory = std::vector<std::byte>(main_table::kSize);
  PoolView view = PoolView::OfMainTable(memory.data());
};

// Overflow pools in plain memory; a pool number listed in failing cannot be had.
class MemoryOverflow : public OverflowPools {
 public:
  std::optional<Pool> Acquire(int pool) override {
    if (failing.count(pool) != 0) return std::nullopt;
    auto& memory = pools[pool];
    const bool created = memory.empty();
    if (created) memory.resize(overflow_pool::kSize);
    return Pool{PoolView::OfOverflowPool(memory.data()), created};
  }
  std::map<int, std::vector<std::byte>> pools;
  std::map<int, bool> failing;
};

TEST(BufferPool, SizeRoundsUpToWholeBlocks) {
  MainPool pool;
  const int one = AllocateBlocks(pool.view, 512);
  const int two = AllocateBlocks(pool.view, 513);
  ASSERT_EQ(0, one);
  ASSERT_EQ(1, two);
  EXPECT_EQ(1, pool.view.table[0].blockCount);
  EXPECT_EQ(0, pool.view.table[0].firstBlock);
  EXPECT_EQ(2, pool.view.table[1].blockCount);
  EXPECT_EQ(1, pool.view.table[1].firstBlock);
  EXPECT_EQ(3, BlocksInUse(pool.view));
  EXPECT_EQ(512u, AllocationBytes(pool.view, one).size());
  EXPECT_EQ(1024u, AllocationBytes(pool.view, two).size());
  // The table lives at its named offsets in the main table.
  EXPECT_EQ(std::byte{1}, pool.memory[main_table::kAllocTable + 8]);
  EXPECT_EQ(std::byte{1}, pool.memory[main_table::kBlockMap + 2]);
}

TEST(BufferPool, RefusesSizesOutsideTheRange) {
  MainPool pool;
  EXPECT_EQ(kAllocBadSize, AllocateBlocks(pool.view, 0));
  EXPECT_EQ(kAllocBadSize, AllocateBlocks(pool.view, kMaxAllocationSize + 1));
  EXPECT_EQ(0, EntriesInUse(pool.view));
}

TEST(BufferPool, FirstFitReusesTheLowestHoleThatIsLongEnough) {
  MainPool pool;
  const int a = AllocateBlocks(pool.view, 512);      // block 0
  const int b = AllocateBlocks(pool.view, 3 * 512);  // blocks 1-3
  AllocateBlocks(pool.view, 512);                    // block 4
  ASSERT_TRUE(FreeBlocks(pool.view, a));
  ASSERT_TRUE(FreeBlocks(pool.view, b));
  // Blocks 0-3 are free again: two blocks fit from block 0 and take entry 0.
  const int c = AllocateBlocks(pool.view, 1024);
  EXPECT_EQ(0, c);
  EXPECT_EQ(0, pool.view.table[0].firstBlock);
  // Four blocks do not fit in the hole of two left: they go after block 4.
  const int d = AllocateBlocks(pool.view, 4 * 512);
  EXPECT_EQ(5, pool.view.table[static_cast<std::size_t>(d)].firstBlock);
}

TEST(BufferPool, ExhaustionGivesNoRunThenNoEntry) {
  MainPool pool;
  EXPECT_EQ(0, AllocateBlocks(pool.view, 383 * 512));
  EXPECT_EQ(kAllocNoRun, AllocateBlocks(pool.view, 1024));
  EXPECT_EQ(1, AllocateBlocks(pool.view, 1));
  EXPECT_EQ(kAllocNoRun, AllocateBlocks(pool.view, 1));

  MainPool entries;
  for (int i = 0; i < kBlocksPerPool; ++i) ASSERT_EQ(i, AllocateBlocks(entries.view, 1));
  ASSERT_TRUE(FreeBlocks(entries.view, 7));
  EXPECT_EQ(7, AllocateBlocks(entries.view, 1));
  EXPECT_EQ(kAllocNoEntry, AllocateBlocks(entries.view, 1));
}

TEST(BufferPool, FreeRefusesBadAndCorruptEntries) {
  MainPool pool;
  EXPECT_FALSE(FreeBlocks(pool.view, -1));
  EXPECT_FALSE(FreeBlocks(pool.view, kBlocksPerPool));
  EXPECT_FALSE(FreeBlocks(pool.view, 0));  // not in use
  const int entry = AllocateBlocks(pool.view, 512);
  pool.view.table[0].blockCount = 400;  // corrupted: runs past the pool
  EXPECT_FALSE(FreeBlocks(pool.view, entry));
  EXPECT_TRUE(AllocationBytes(pool.view, entry).empty());
}

TEST(BufferLocator, NamesBlocksZeroTo383OfPoolsZeroToTen) {
  EXPECT_EQ(0x0003017F, (BufferLocator{3, 383}).value());
  const auto last = BufferLocator::Decode(0x000A017F);
  ASSERT_TRUE(last);
  EXPECT_EQ(10, last->pool);
  EXPECT_EQ(383, last->block);
  EXPECT_FALSE(BufferLocator::Decode(0x00000180));  // block 384 is past the pool
  EXPECT_FALSE(BufferLocator::Decode(0x0000FFFF));
  EXPECT_FALSE(BufferLocator::Decode(0x000B0000));  // pool 11
  EXPECT_FALSE(BufferLocator::Decode(-1));
}

TEST(ResolveBuffer, StaysInsideTheAllocationItsBlockStarts) {
  MainPool pool;
  AllocateBlocks(pool.view, 512);                   // block 0
  const int run = AllocateBlocks(pool.view, 1000);  // blocks 1-2
  const auto whole = ResolveBuffer(pool.view, 1, 0, 1024);
  ASSERT_TRUE(whole);
  EXPECT_EQ(pool.view.blocks.data() + 512, whole->data());
  EXPECT_EQ(1024u, whole->size());
  const auto tail = ResolveBuffer(pool.view, 1, 1000, 24);
  ASSERT_TRUE(tail);
  EXPECT_EQ(pool.view.blocks.data() + 1512, tail->data());

  EXPECT_FALSE(ResolveBuffer(pool.view, 1, 1000, 25));       // one byte too far
  EXPECT_FALSE(ResolveBuffer(pool.view, 1, 0xFFFFFFFF, 2));  // offset wraps
  EXPECT_FALSE(ResolveBuffer(pool.view, 2, 0, 1));           // inside, not the start
  EXPECT_FALSE(ResolveBuffer(pool.view, 3, 0, 1));           // free block
  ASSERT_TRUE(FreeBlocks(pool.view, run));
  EXPECT_FALSE(ResolveBuffer(pool.view, 1, 0, 1));  // freed
}

TEST(ResolveBuffer, ACorruptTableCannotReachPastThePool) {
  MainPool pool;
  AllocEntry forged{};
  forged.inUse = 1;
  forged.firstBlock = 383;
  forged.blockCount = 2;
  pool.view.table[0] = forged;
  EXPECT_FALSE(ResolveBuffer(pool.view, 383, 0, 1024));
  EXPECT_FALSE(ResolveBuffer(pool.view, 383, 0, 1));
}

TEST(RingPlacement, MainPoolKeepsHeadroom) {
  EXPECT_TRUE(RingFitsMainPool(0, 0, 40960));
  EXPECT_TRUE(RingFitsMainPool(344, 265, 40960));   // (79 + 265) x 100 = 34400
  EXPECT_FALSE(RingFitsMainPool(344, 266, 40960));  // 34500
  EXPECT_FALSE(RingFitsMainPool(345, 0, 512));
}

TEST(RingPlacement, GoesToTheOverflowPoolsInOrder) {
  MainPool main;
  MemoryOverflow overflow;
  // Fill the main pool to its headroom limit.
  ASSERT_GE(AllocateBlocks(main.view, 340 * 512), 0);
  const RingResult first = AllocateRing(main.view, overflow, 5 * 512);
  ASSERT_EQ(0, first.error);
  EXPECT_EQ(0, first.allocation.pool);
  const RingResult second = AllocateRing(main.view, overflow, 10 * 512);
  ASSERT_EQ(0, second.error);
  EXPECT_EQ(1, second.allocation.pool);
  EXPECT_EQ(1u, overflow.pools.size());
}

TEST(RingPlacement, AllElevenPoolsFullGivesNoRun) {
  MainPool main;
  MemoryOverflow overflow;
  ASSERT_GE(AllocateBlocks(main.view, 384 * 512), 0);
  for (int n = 1; n <= kOverflowPoolCount; ++n) {
    const RingResult fill = AllocateRing(main.view, overflow, 384 * 512);
    ASSERT_EQ(0, fill.error);
    EXPECT_EQ(n, fill.allocation.pool);
  }
  EXPECT_EQ(kAllocNoRun, AllocateRing(main.view, overflow, 512).error);
}

TEST(RingPlacement, PoolTooSmallWhenFreshOrUnavailable) {
  MainPool main;
  MemoryOverflow overflow;
  // Larger than any pool: refused by the first pool created for it.
  EXPECT_EQ(kAllocNoEntry, AllocateRing(main.view, overflow, 385 * 512).error);
  EXPECT_EQ(kAllocBadSize, AllocateRing(main.view, overflow, 0).error);

  MainPool full;
  MemoryOverflow broken;
  broken.failing[1] = true;
  ASSERT_GE(AllocateBlocks(full.view, 384 * 512), 0);
  EXPECT_EQ(kAllocPoolCreate, AllocateRing(full.view, broken, 512).error);
}

}  // namespace
}  // namespace tgx::chanlib
