// Port command records as the worker finds them in shared memory, however
// corrupted: the input sets up allocations in the main pool and one overflow
// pool, then gives records to execute. The port library touches every byte of
// every buffer it is handed, so a buffer that reaches past its allocation (or
// its pool) shows up under the address sanitizer.
#include <cstdint>
#include <cstring>
#include <vector>

#include "chanlib/buffer_pool.h"
#include "command_executor.h"

namespace chanlib = tgx::chanlib;
using tgx::BOOL;
using tgx::DWORD;
using tgx::TRUE;
using namespace tgx::chanport;

namespace {

void Touch(void* buffer, DWORD length) {
  if (length > 0) std::memset(buffer, 0x5A, length);
}

void Inspect(const void* buffer, DWORD length) {
  volatile std::uint8_t sum = 0;
  for (DWORD i = 0; i < length; ++i) sum = sum + static_cast<const std::uint8_t*>(buffer)[i];
}

const PortFunctions kPort{
    [](const char* name, DWORD, DWORD* handle) -> BOOL {
      *handle = std::strlen(name) % 2 == 0 ? 1 : 0;
      return *handle != 0;
    },
    [](DWORD handle) -> BOOL { return handle != 0; },
    [](DWORD, void* buffer, DWORD length, DWORD* read) -> BOOL {
      Touch(buffer, length);
      *read = length;
      return TRUE;
    },
    [](DWORD, const void* buffer, DWORD length, DWORD* written) -> BOOL {
      Inspect(buffer, length);
      *written = length;
      return TRUE;
    },
    [](DWORD, DWORD, const void* input, DWORD inputSize, void* output, DWORD outputSize,
       DWORD* returned) -> BOOL {
      Inspect(input, inputSize);
      if (outputSize > 0) Touch(output, outputSize);
      *returned = outputSize;
      return TRUE;
    },
    [](DWORD, const VI1284_COMMTIMEOUTS*) -> BOOL { return TRUE; },
};

// Exactly-sized heap copies of the pools, so that the sanitizer sees their ends.
struct Pools : PoolSource {
  std::vector<std::byte> mainMemory = std::vector<std::byte>(chanlib::main_table::kSize);
  std::vector<std::byte> overflowMemory = std::vector<std::byte>(chanlib::overflow_pool::kSize);
  chanlib::PoolView main = chanlib::PoolView::OfMainTable(mainMemory.data());
  chanlib::PoolView overflow = chanlib::PoolView::OfOverflowPool(overflowMemory.data());
  const chanlib::PoolView* Pool(int number) override {
    if (number == 0) return &main;
    if (number == 1) return &overflow;
    return nullptr;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  Pools pools;
  // First: how many allocations, then two size bytes each (a third of them in
  // the overflow pool); then raw entries written over the tables; then records.
  std::size_t at = 0;
  const int allocations = data[at++] % 16;
  for (int i = 0; i < allocations && at + 2 <= size; ++i, at += 2) {
    const std::uint32_t bytes = 1u + (std::uint32_t{data[at]} << 8 | data[at + 1]) * 4;
    chanlib::AllocateBlocks(i % 3 == 2 ? pools.overflow : pools.main, bytes);
  }
  if (at < size) {
    const int forged = data[at++] % 4;
    for (int i = 0; i < forged && at + 9 <= size; ++i, at += 9) {
      chanlib::PoolView& pool = data[at] % 2 ? pools.overflow : pools.main;
      std::memcpy(&pool.table[data[at] % chanlib::kBlocksPerPool], data + at + 1, 8);
    }
  }

  const Clock clock{[]() -> DWORD { return 0; }, [](DWORD) {}};
  CommandExecutor executor(kPort, pools, Family::k9x, clock);
  while (at + sizeof(chanlib::PortCommandRecord) <= size) {
    chanlib::PortCommandRecord record;
    std::memcpy(&record, data + at, sizeof record);
    at += sizeof record;
    if (!executor.Execute(record)) break;
  }
  executor.ClosePort();
  return 0;
}
