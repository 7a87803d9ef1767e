// Holds a port open for a multi-process test: opens the port named by the first
// argument, reports "opened" or "failed <error>" on stdout, then keeps the port
// until its standard input closes (or the process is killed).
#include <unistd.h>

#include <cstdio>

#include "tgx/portio.h"
#include "tgx/win32.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  VI1284_HANDLE handle = 0;
  if (!Vi1284_OpenPort(argv[1], VI1284_GENERIC_READ | VI1284_GENERIC_WRITE, &handle)) {
    std::printf("failed %u\n", tgx::GetLastError());
    return 1;
  }
  std::printf("opened\n");
  std::fflush(stdout);
  char byte;
  while (read(0, &byte, 1) > 0) {
  }
  return Vi1284_ClosePort(handle) ? 0 : 1;
}
