// The file behind a kernel object and the hold a handle has on it.
//
// Every object, named or not, is a file whose first page holds its state (the
// ObjectPage below); a file mapping's bytes follow from the second page on. A
// named object's file lives in its namespace directory; each handle is an open
// descriptor holding a shared open-file-description lock on it, so the object
// exists exactly while some descriptor holds that lock, and the kernel drops
// the lock of a holder that dies. An unnamed object is an anonymous memory file
// that only its handle knows.
#pragma once

#include <pthread.h>
#include <sys/types.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "namespace.h"
#include "tgx/handle.h"
#include "tgx/unique_fd.h"
#include "tgx/win32.h"

namespace tgx::kobj {

enum class ObjectKind : std::uint32_t { kMutex = 1, kEvent = 2, kMapping = 3 };

// A process-shared, robust, recursive mutex.
struct MutexState {
  pthread_mutex_t mutex;
};

// How many waiters of an auto-reset event can be released one by one; those
// beyond share the event's state word, where two SetEvents before either of
// them wakes release one.
inline constexpr int kEventWaiterEntries = 64;

// An event's state word (1 signalled, 0 not), the futex that waiters sleep on.
struct EventState {
  std::atomic<std::uint32_t> signalled;
  std::uint32_t manualReset;
  // Threads that may be asleep on `signalled`; lets SetEvent skip the wake-up
  // call when nobody waits. A waiter killed asleep leaves it too high, which
  // only costs needless wake-up calls.
  std::atomic<std::uint32_t> waiters;
  // Waiters of an auto-reset event, each asleep on its own entry: 0 free, else
  // the waiter's process id shifted left by one, with bit 0 set once a SetEvent
  // has released it. The process id lets SetEvent pass over waiters that died.
  std::atomic<std::uint32_t> waiterEntries[kEventWaiterEntries];
};

// The first page of every object file.
struct ObjectPage {
  // kObjectMagic once the creator has set up the rest; written last.
  std::atomic<std::uint32_t> magic;
  ObjectKind kind;
  std::uint64_t dataOffset;  // a file mapping's bytes: offset in the file (a page boundary)
  std::uint64_t dataSize;    // and their count
  alignas(64) MutexState mutex;
  alignas(64) EventState event;
};
inline constexpr std::uint32_t kObjectMagic = 0x4A424F02;  // "OBJ" and layout version 2
static_assert(sizeof(ObjectPage) <= 4096);
static_assert(std::atomic<std::uint32_t>::is_always_lock_free);

class ObjectFile {
 public:
  struct Request {
    ObjectKind kind;
    mode_t mode;             // file mode of a new object
    std::uint64_t dataSize;  // a mapping's size; 0 for the others
    // Sets up the kind's state in a new object, under the namespace lock.
    std::function<DWORD(ObjectPage&)> setUp;
  };

  // Creates the object named `name` (null: an unnamed one) or opens the existing
  // one, saying which through `existed`.
  static DWORD Create(const char* name, const Request& request, std::shared_ptr<ObjectFile>& out,
                      bool& existed);
  // Opens the existing object; ERROR_FILE_NOT_FOUND when there is none.
  static DWORD Open(const char* name, ObjectKind kind, std::shared_ptr<ObjectFile>& out);

  ObjectFile(const ObjectFile&) = delete;
  ObjectFile& operator=(const ObjectFile&) = delete;
  // Drops the hold; the last holder of a named object removes its file.
  ~ObjectFile();

  ObjectPage& page() const { return *page_; }
  int fd() const { return fd_.get(); }
  // Leaves the first page mapped for the rest of the process's life, past this
  // object's end; the hold on the object is still dropped.
  void KeepPageMapped();

  // The first page of an object file, mapped; unmapped when destroyed.
  struct PageUnmapper {
    void operator()(ObjectPage* page) const;
  };
  using PagePtr = std::unique_ptr<ObjectPage, PageUnmapper>;

 private:
  ObjectFile(UniqueFd fd, PagePtr page, std::optional<ObjectLocation> location, ino_t inode)
      : fd_(std::move(fd)), page_(std::move(page)), location_(std::move(location)), inode_(inode) {}

  UniqueFd fd_;
  PagePtr page_;
  std::optional<ObjectLocation> location_;  // none for an unnamed object
  ino_t inode_;
};

// Creates (or opens) the named object of a request and wraps it in a handle of
// kind Object, leaving the last error as Win32 does: ERROR_ALREADY_EXISTS when
// the object existed.
template <class Object>
Handle CreateObjectHandle(const char* name, const ObjectFile::Request& request) {
  std::shared_ptr<ObjectFile> file;
  bool existed = false;
  if (DWORD error = ObjectFile::Create(name, request, file, existed)) {
    SetLastError(error);
    return Handle();
  }
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return Handle(std::make_unique<Object>(std::move(file)));
}

// Opens the existing named object of a kind as a handle of kind Object.
template <class Object>
Handle OpenObjectHandle(const char* name, ObjectKind kind) {
  std::shared_ptr<ObjectFile> file;
  if (DWORD error = ObjectFile::Open(name, kind, file)) {
    SetLastError(error);
    return Handle();
  }
  SetLastError(ERROR_SUCCESS);
  return Handle(std::make_unique<Object>(std::move(file)));
}

}  // namespace tgx::kobj
