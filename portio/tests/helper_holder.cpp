// Holds a port open for the multi-process tests, binding the library by name as
// the per-port worker does: opens the port named by the first argument, reports
// "opened" or "failed <error>" on stdout, then keeps the port until its
// standard input closes (or the process is killed).
#include <unistd.h>

#include <cstdio>

#include "tgx/library.h"
#include "tgx/portio.h"
#include "tgx/win32.h"

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  tgx::Module library = tgx::Module::Load("portio.dll");
  const auto open = library.Proc<VI1284_OPENPORT_FN>("Vi1284_OpenPort");
  const auto close = library.Proc<VI1284_CLOSEPORT_FN>("Vi1284_ClosePort");
  if (!open || !close) return 2;
  VI1284_HANDLE handle = 0;
  if (!open(argv[1], VI1284_GENERIC_READ | VI1284_GENERIC_WRITE, &handle)) {
    std::printf("failed %u\n", tgx::GetLastError());
    return 1;
  }
  std::printf("opened\n");
  std::fflush(stdout);
  char byte;
  while (read(0, &byte, 1) > 0) {
  }
  return close(handle) ? 0 : 1;
}
