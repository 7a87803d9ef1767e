// A 1394 transport library for the service tests, loaded as "ppdtlib.dll":
// PPDT_Initialize answers $TGX_TEST_PPDT_INIT (default 1); both calls are
// logged to $TGX_TEST_PPDT_LOG.
#include <cstdio>
#include <cstdlib>

namespace {

void Log(const char* line) {
  const char* path = std::getenv("TGX_TEST_PPDT_LOG");
  if (!path) return;
  if (FILE* f = std::fopen(path, "a")) {
    std::fprintf(f, "%s\n", line);
    std::fclose(f);
  }
}

}  // namespace

extern "C" {

int PPDT_Initialize() {
  Log("Initialize");
  const char* result = std::getenv("TGX_TEST_PPDT_INIT");
  return result ? std::atoi(result) : 1;
}

int PPDT_Terminate() {
  Log("Terminate");
  return 1;
}

}  // extern "C"
