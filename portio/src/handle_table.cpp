#include "handle_table.h"

#include <algorithm>

namespace tgx::portio {

DWORD HandleTable::Add(std::unique_ptr<Port> port) {
  // After a wrap of the counter, numbers still in use (and 0) are passed over.
  while (next_ == 0 || Find(next_)) ++next_;
  const DWORD handle = next_++;
  entries_.emplace_back(handle, std::move(port));
  return handle;
}

Port* HandleTable::Find(DWORD handle) const {
  const auto it = std::find_if(entries_.begin(), entries_.end(),
                               [handle](const auto& entry) { return entry.first == handle; });
  return it == entries_.end() ? nullptr : it->second.get();
}

std::unique_ptr<Port> HandleTable::Remove(DWORD handle) {
  const auto it = std::find_if(entries_.begin(), entries_.end(),
                               [handle](const auto& entry) { return entry.first == handle; });
  if (it == entries_.end()) return nullptr;
  std::unique_ptr<Port> port = std::move(it->second);
  entries_.erase(it);
  return port;
}

}  // namespace tgx::portio
