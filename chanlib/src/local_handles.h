// Handle numbers for the unnamed objects that a shared record names although
// only the process that created them can use them (a connection's queue mutex
// and events). A number is valid in this process while its object is listed;
// numbers start at 1 and are not reused, so a stale number finds nothing.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>

#include "tgx/handle.h"

namespace tgx::chanlib {

class LocalHandles {
 public:
  // Lists a handle that the caller owns and keeps in place until it calls
  // Remove; returns its number.
  std::uint32_t Add(const Handle& handle) {
    std::lock_guard lock(mutex_);
    const std::uint32_t number = next_++;
    handles_[number] = &handle;
    return number;
  }
  void Remove(std::uint32_t number) {
    std::lock_guard lock(mutex_);
    handles_.erase(number);
  }
  // The handle listed under number, or null.
  const Handle* Find(std::uint32_t number) const {
    std::lock_guard lock(mutex_);
    const auto found = handles_.find(number);
    return found == handles_.end() ? nullptr : found->second;
  }

 private:
  mutable std::mutex mutex_;
  std::uint32_t next_ = 1;
  std::map<std::uint32_t, const Handle*> handles_;
};

// The table of this process (of this library load). Never destroyed: objects
// that outlive static destruction (job queues stopped at exit) still unlist
// their handles.
inline LocalHandles& ProcessLocalHandles() {
  static LocalHandles* const table = new LocalHandles;
  return *table;
}

}  // namespace tgx::chanlib
