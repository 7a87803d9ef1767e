// Kernel object handles: one owning, move-only type for every waitable object
// (mutex, event, file mapping, process), with the Win32 wait and close calls.
#pragma once

#include <memory>

#include "tgx/win32.h"

namespace tgx {

// A kernel object as a handle sees it. Each kind (mutex, event, mapping,
// process) derives from this; waiting dispatches on the kind.
class KernelObject {
 public:
  virtual ~KernelObject() = default;
  // One of WAIT_OBJECT_0, WAIT_ABANDONED, WAIT_TIMEOUT, WAIT_FAILED (last error set).
  virtual DWORD Wait(DWORD milliseconds);
};

// An open handle. Closing (destruction, reset or CloseHandle) releases this
// process's hold on the object; a named object vanishes with its last holder.
class Handle {
 public:
  Handle() = default;
  explicit Handle(std::unique_ptr<KernelObject> object) : object_(std::move(object)) {}
  Handle(Handle&&) noexcept = default;
  Handle& operator=(Handle&&) noexcept = default;

  explicit operator bool() const { return object_ != nullptr; }
  KernelObject* get() const { return object_.get(); }
  template <class Kind>
  Kind* as() const {
    return dynamic_cast<Kind*>(object_.get());
  }
  void reset() { object_.reset(); }

 private:
  std::unique_ptr<KernelObject> object_;
};

DWORD WaitForSingleObject(const Handle& handle, DWORD milliseconds);
// WaitForSingleObject for the answer to a request just handed to another
// process (or for the next request of a steady stream): first looks for the
// signal for some tens of microseconds on a machine of several processors,
// which costs less than falling asleep and being woken when the answer is that
// quick, then waits as usual.
DWORD SpinThenWait(const Handle& handle, DWORD milliseconds);
BOOL CloseHandle(Handle& handle);

}  // namespace tgx
