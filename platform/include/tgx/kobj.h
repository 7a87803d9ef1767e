// Named kernel objects shared between processes: mutexes, events and file
// mappings, with Win32 semantics (see DESIGN.md, "Named kernel objects").
//
// Names: "Global\\name" lives in the global namespace, any other name in the
// caller's session namespace. A name that cannot be mapped safely onto a
// namespace ("/" or ".." parts, empty, too long) is refused with
// ERROR_INVALID_NAME. A null name creates an unnamed object, private to the
// handle that created it.
//
// Create* returns the new or existing object; the last error is then
// ERROR_ALREADY_EXISTS when it existed, else ERROR_SUCCESS. Open* fails with
// ERROR_FILE_NOT_FOUND when no object of that name exists. An object of another
// kind under the same name gives ERROR_INVALID_HANDLE. Failures return an empty
// Handle with the last error set.
#pragma once

#include <cstddef>
#include <memory>

#include "tgx/handle.h"
#include "tgx/security.h"

namespace tgx {

// Access rights accepted by Open*; the platform checks nothing beyond the name.
inline constexpr DWORD SYNCHRONIZE = 0x00100000;
inline constexpr DWORD MUTEX_ALL_ACCESS = 0x1F0001;
inline constexpr DWORD EVENT_ALL_ACCESS = 0x1F0003;
inline constexpr DWORD EVENT_MODIFY_STATE = 0x0002;
inline constexpr DWORD FILE_MAP_WRITE = 0x0002;
inline constexpr DWORD FILE_MAP_READ = 0x0004;
inline constexpr DWORD FILE_MAP_ALL_ACCESS = 0x000F001F;
inline constexpr DWORD PAGE_READWRITE = 0x04;

// Mutexes: recursive for the owning thread; a mutex whose owner thread or
// process ended while holding it is reported WAIT_ABANDONED to the next waiter,
// which then owns it.
Handle CreateMutexA(const SECURITY_ATTRIBUTES* attributes, BOOL initialOwner, const char* name);
Handle OpenMutexA(DWORD desiredAccess, BOOL inheritHandle, const char* name);
// Fails with ERROR_NOT_OWNER when the calling thread does not own the mutex.
BOOL ReleaseMutex(const Handle& mutex);

// Events: auto-reset (a wait takes the signal, one waiter wakes) or manual-reset
// (signalled until reset, every waiter wakes).
Handle CreateEventA(const SECURITY_ATTRIBUTES* attributes, BOOL manualReset, BOOL initialState,
                    const char* name);
Handle OpenEventA(DWORD desiredAccess, BOOL inheritHandle, const char* name);
BOOL SetEvent(const Handle& event);
BOOL ResetEvent(const Handle& event);

// File mappings backed by shared memory, zero-filled when created. Opening an
// existing mapping through Create keeps its size.
Handle CreateFileMappingA(const SECURITY_ATTRIBUTES* attributes, DWORD protect, DWORD size,
                          const char* name);
Handle OpenFileMappingA(DWORD desiredAccess, BOOL inheritHandle, const char* name);

// A view of a whole mapping; unmapped when destroyed. Shared byte for byte with
// every other view of the same object, in any process. As on Windows, a view
// keeps its object alive (and its name visible) after the mapping's handle is
// closed.
class MappedView {
 public:
  MappedView() = default;
  MappedView(void* data, std::size_t size, std::shared_ptr<const void> object = nullptr)
      : data_(data), size_(size), object_(std::move(object)) {}
  MappedView(MappedView&& other) noexcept;
  MappedView& operator=(MappedView&& other) noexcept;
  MappedView(const MappedView&) = delete;
  MappedView& operator=(const MappedView&) = delete;
  ~MappedView();

  explicit operator bool() const { return data_ != nullptr; }
  void* data() const { return data_; }
  std::size_t size() const { return size_; }
  template <class T>
  T* as() const {
    return static_cast<T*>(data_);
  }
  void reset();

 private:
  void* data_ = nullptr;
  std::size_t size_ = 0;
  std::shared_ptr<const void> object_;
};

MappedView MapViewOfFile(const Handle& mapping, DWORD desiredAccess);
BOOL FlushViewOfFile(const MappedView& view);

}  // namespace tgx
