// The open ports of this process by handle number. Numbers start at 1 and grow
// by one per successful open; 0 is never issued. One thread uses the table at a
// time (the worker), so it has no lock.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "port.h"

namespace tgx::portio {

class HandleTable {
 public:
  // Files the port under a new number.
  DWORD Add(std::unique_ptr<Port> port);
  // The port of that number, or null.
  Port* Find(DWORD handle) const;
  // Takes the port out of the table; null when the number is unknown.
  std::unique_ptr<Port> Remove(DWORD handle);

 private:
  std::vector<std::pair<DWORD, std::unique_ptr<Port>>> entries_;
  DWORD next_ = 1;
};

}  // namespace tgx::portio
