// How a second copy of the program reaches the running instance: the running
// instance publishes its process identifier in a named mapping beside its
// single-instance mutex (the stand-in for finding its main window), and a close
// request is SIGTERM to that process (the stand-in for posting WM_CLOSE).
#pragma once

#include "tgx/kobj.h"

namespace tgx::agent::service {

class InstanceRecord {
 public:
  // Publishes this process as the running instance, for as long as the record
  // lives. An empty record when the name or the mapping cannot be had.
  static InstanceRecord Publish();

 private:
  Handle mapping_;
  MappedView view_;
};

// Asks the running instance, if there is one, to close. True when one was found.
bool CloseRunningInstance();

}  // namespace tgx::agent::service
