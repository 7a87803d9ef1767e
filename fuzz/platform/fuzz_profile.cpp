// Settings files of any content: every query stays inside the caller's buffer
// and returns a NUL-terminated result of the length it reports.
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "tgx/profile.h"

namespace {

// One file rewritten for every input, removed at exit.
class Scratch {
 public:
  Scratch() {
    char pattern[] = "/tmp/tgx-fuzz-profile-XXXXXX";
    const int fd = mkstemp(pattern);
    if (fd >= 0) close(fd);
    path_ = pattern;
  }
  ~Scratch() { unlink(path_.c_str()); }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

const std::string& ScratchFile() {
  static const Scratch scratch;
  return scratch.path();
}

void Check(const char* section, const char* key, tgx::DWORD size) {
  constexpr std::size_t kGuard = 16;
  char buffer[300 + kGuard];
  std::memset(buffer, 0x5A, sizeof buffer);
  const tgx::DWORD count =
      tgx::GetPrivateProfileStringA(section, key, "default", buffer, size, ScratchFile().c_str());
  for (std::size_t i = size; i < sizeof buffer; ++i) {
    if (buffer[i] != 0x5A) __builtin_trap();  // Wrote past the buffer.
  }
  if (size > 0 && (count >= size || buffer[count] != '\0')) __builtin_trap();
  const bool list = !section || !key;
  // A list ends in two NULs: its last name's and the final one (when cut to
  // the buffer, both come after the cut).
  const bool endsTwice =
      (count > 0 && buffer[count - 1] == '\0') || (count + 1 < size && buffer[count + 1] == '\0');
  if (list && size >= 2 && !endsTwice) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const tgx::DWORD bufferSize = data[0] % 300;
  FILE* file = std::fopen(ScratchFile().c_str(), "wb");
  if (!file) return 0;
  std::fwrite(data + 1, 1, size - 1, file);
  std::fclose(file);
  Check(nullptr, nullptr, bufferSize);
  Check("S", nullptr, bufferSize);
  Check("S", "a", bufferSize);
  Check(" s ", "A ", bufferSize);
  tgx::GetPrivateProfileIntA("S", "a", -1, ScratchFile().c_str());
  return 0;
}
