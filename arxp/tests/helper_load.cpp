// Loads the library, makes two allocations (5 and 48 bytes), and ends: the tests
// look at what the library prints at load and unload.
#include <cstdio>

#include "arxp/memory.h"

int main() {
  void* a = arxp::Memory::allocate(5);
  void* b = arxp::Memory::allocate(48);
  arxp::Memory::release(a);
  arxp::Memory::release(b);
  std::printf("helper done\n");
  std::fflush(stdout);
  return 0;
}
