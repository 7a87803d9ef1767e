// chanportNT / chanport95: the worker of one printer port.
#include "worker.h"

int main(int argc, char** argv) {
#ifdef TGX_CHANPORT_9X
  constexpr auto kFamily = tgx::chanlib::Family::k9x;
#else
  constexpr auto kFamily = tgx::chanlib::Family::kNt;
#endif
  return tgx::chanport::RunWorker(argc, argv, kFamily);
}
