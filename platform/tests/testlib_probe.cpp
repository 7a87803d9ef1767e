// A library for the loading tests: it loads libraries and starts programs from
// inside a shared object, whose own directory is then the one searched first.
#include "tgx/library.h"
#include "tgx/process.h"

extern "C" {

int ProbeAnswer() { return 42; }

// 0 when the library loads from here, else the last error.
unsigned ProbeLoad(const char* fileName) {
  tgx::Module module = tgx::Module::Load(fileName);
  return module ? 0 : tgx::GetLastError();
}

// Starts a command line from here and waits for it: 0 with its exit code, else
// the last error.
unsigned ProbeStart(const char* commandLine, unsigned* exitCode) {
  tgx::PROCESS_INFORMATION info;
  if (!tgx::CreateProcessA(nullptr, commandLine, nullptr, nullptr, tgx::FALSE, 0, nullptr, nullptr,
                           nullptr, &info)) {
    return tgx::GetLastError();
  }
  tgx::WaitForSingleObject(info.hProcess, tgx::INFINITE);
  tgx::DWORD code = 0;
  tgx::GetExitCodeProcess(info.hProcess, &code);
  *exitCode = code;
  return 0;
}

}  // extern "C"
