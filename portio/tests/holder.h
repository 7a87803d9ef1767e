// A second process that holds a port (portio_helper_holder), for the tests of
// exclusive use across processes.
#pragma once

#include <sys/types.h>

#include <string>

namespace tgx::portio::test {

class Holder {
 public:
  explicit Holder(const char* port);
  ~Holder();
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;

  // The first line the helper printed: "opened" or "failed <error>".
  std::string Report();
  // Ends the helper in order (it closes its port); its exit status.
  int Release();
  // Ends the helper by SIGKILL, port still open.
  void Kill();

 private:
  int Wait();
  pid_t pid_ = -1;
  int stdin_ = -1;
  int stdout_ = -1;
};

}  // namespace tgx::portio::test
