// Creating, opening and releasing the files behind kernel objects.
#include "kobj_file.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>
#include <string>

namespace tgx::kobj {
namespace {

std::size_t PageSize() {
  static const auto size = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  return size;
}

DWORD LastErrno() { return Win32ErrorFromErrno(errno); }

// Takes a shared (F_RDLCK) or exclusive (F_WRLCK) lock on the whole file for the
// open file description of `fd`, without waiting.
bool TryLock(int fd, short type) {
  struct flock lock {};
  lock.l_type = type;
  lock.l_whence = SEEK_SET;
  return fcntl(fd, F_OFD_SETLK, &lock) == 0;
}

DWORD MapPage(int fd, ObjectFile::PagePtr& page) {
  void* address = mmap(nullptr, PageSize(), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (address == MAP_FAILED) return LastErrno();
  page.reset(static_cast<ObjectPage*>(address));
  return ERROR_SUCCESS;
}

// Sizes a new object's (empty) file and sets up its first page.
DWORD SetUpNew(int fd, const ObjectFile::Request& request, ObjectFile::PagePtr& page) {
  const std::uint64_t dataOffset = PageSize();
  if (request.dataSize >
      static_cast<std::uint64_t>(std::numeric_limits<off_t>::max()) - dataOffset) {
    return ERROR_NOT_ENOUGH_MEMORY;
  }
  // Every byte is reserved now, as Windows commits a section when it is created:
  // a full memory file system fails here rather than with SIGBUS at first touch.
  // The reserved bytes read as zeros.
  const auto total = static_cast<off_t>(dataOffset + request.dataSize);
  if (const int error = posix_fallocate(fd, 0, total)) {
    return error == ENOSPC ? ERROR_NOT_ENOUGH_MEMORY : Win32ErrorFromErrno(error);
  }
  if (DWORD error = MapPage(fd, page)) return error;
  page->kind = request.kind;
  page->dataOffset = dataOffset;
  page->dataSize = request.dataSize;
  if (DWORD error = request.setUp(*page)) return error;
  page->magic.store(kObjectMagic, std::memory_order_release);
  return ERROR_SUCCESS;
}

// Maps an existing object's first page, checking that it holds a set-up object
// of `kind`; gives the file's inode.
DWORD MapExisting(int fd, ObjectKind kind, ObjectFile::PagePtr& page, ino_t& inode) {
  struct stat info {};
  if (fstat(fd, &info) != 0) return LastErrno();
  inode = info.st_ino;
  if (!S_ISREG(info.st_mode) || static_cast<std::uint64_t>(info.st_size) < PageSize()) {
    return ERROR_INVALID_HANDLE;
  }
  if (DWORD error = MapPage(fd, page)) return error;
  const bool valid = page->magic.load(std::memory_order_acquire) == kObjectMagic &&
                     page->kind == kind && page->dataOffset == PageSize() &&
                     page->dataSize <= static_cast<std::uint64_t>(info.st_size) - PageSize();
  return valid ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

// Opens the existing object file `name` and takes a hold on it. A file that
// nobody holds was left behind by holders that died: the object no longer
// exists, so the file is removed and the answer is ERROR_FILE_NOT_FOUND.
// The caller holds the namespace lock.
DWORD OpenHeld(int directory, const std::string& name, UniqueFd& fd) {
  fd.reset(openat(directory, name.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
  if (!fd) return errno == ENOENT ? ERROR_FILE_NOT_FOUND : LastErrno();
  if (TryLock(fd.get(), F_WRLCK)) {
    fd.reset();
    unlinkat(directory, name.c_str(), 0);
    return ERROR_FILE_NOT_FOUND;
  }
  if (errno != EAGAIN && errno != EACCES) return LastErrno();
  return TryLock(fd.get(), F_RDLCK) ? ERROR_SUCCESS : LastErrno();
}

ino_t InodeOf(int fd) {
  struct stat info {};
  return fstat(fd, &info) == 0 ? info.st_ino : 0;
}

}  // namespace

void ObjectFile::PageUnmapper::operator()(ObjectPage* page) const { munmap(page, PageSize()); }

DWORD ObjectFile::Create(const char* name, const Request& request, std::shared_ptr<ObjectFile>& out,
                         bool& existed) {
  existed = false;
  PagePtr page;
  if (!name) {
    UniqueFd fd(memfd_create("tgx-object", MFD_CLOEXEC));
    if (!fd) return LastErrno();
    if (DWORD error = SetUpNew(fd.get(), request, page)) return error;
    out.reset(new ObjectFile(std::move(fd), std::move(page), std::nullopt, 0));
    return ERROR_SUCCESS;
  }

  ObjectLocation location;
  if (DWORD error = LocateObject(name, location)) return error;
  LockedNamespace space;
  if (DWORD error = space.Enter(location, LockedNamespace::Missing::kCreate)) return error;
  const int directory = space.directory();
  const char* fileName = location.fileName.c_str();

  UniqueFd fd;
  ino_t inode = 0;
  if (DWORD error = OpenHeld(directory, location.fileName, fd); error == ERROR_SUCCESS) {
    if (DWORD invalid = MapExisting(fd.get(), request.kind, page, inode)) return invalid;
    existed = true;
  } else if (error != ERROR_FILE_NOT_FOUND) {
    return error;
  } else {
    fd.reset(openat(directory, fileName, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    request.mode));
    if (!fd) return LastErrno();
    DWORD failure = ERROR_SUCCESS;
    if (fchmod(fd.get(), request.mode) != 0 || !TryLock(fd.get(), F_RDLCK)) {
      failure = LastErrno();
    } else {
      failure = SetUpNew(fd.get(), request, page);
    }
    if (failure) {
      unlinkat(directory, fileName, 0);
      return failure;
    }
    inode = InodeOf(fd.get());
  }
  out.reset(new ObjectFile(std::move(fd), std::move(page), std::move(location), inode));
  return ERROR_SUCCESS;
}

DWORD ObjectFile::Open(const char* name, ObjectKind kind, std::shared_ptr<ObjectFile>& out) {
  if (!name) return ERROR_INVALID_PARAMETER;
  ObjectLocation location;
  if (DWORD error = LocateObject(name, location)) return error;
  LockedNamespace space;
  if (DWORD error = space.Enter(location, LockedNamespace::Missing::kFail)) {
    return error == ERROR_PATH_NOT_FOUND ? ERROR_FILE_NOT_FOUND : error;
  }
  UniqueFd fd;
  if (DWORD error = OpenHeld(space.directory(), location.fileName, fd)) return error;
  PagePtr page;
  ino_t inode = 0;
  if (DWORD error = MapExisting(fd.get(), kind, page, inode)) return error;
  out.reset(new ObjectFile(std::move(fd), std::move(page), std::move(location), inode));
  return ERROR_SUCCESS;
}

void ObjectFile::KeepPageMapped() {
  // A mapping keeps its open file description, and with it the description's
  // lock. The page is mapped again in place through a description of its own
  // that holds no lock.
  const std::string self = "/proc/self/fd/" + std::to_string(fd_.get());
  UniqueFd unlocked(open(self.c_str(), O_RDWR | O_CLOEXEC));
  if (unlocked) {
    mmap(page_.get(), PageSize(), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, unlocked.get(),
         0);
  }
  static_cast<void>(page_.release());
}

ObjectFile::~ObjectFile() {
  page_.reset();
  if (!location_) return;
  LockedNamespace space;
  if (space.Enter(*location_, LockedNamespace::Missing::kFail) != ERROR_SUCCESS) return;
  // Other holders, the common case, keep this hold from becoming exclusive.
  if (!TryLock(fd_.get(), F_WRLCK)) {
    fd_.reset();  // while the namespace is locked, so that no holder misses the others
    return;
  }
  // Perhaps the last hold. But the description may be shared with a forked
  // child, which then still holds the object: so the hold goes back to shared
  // and is dropped, and a descriptor of our own asks whether anybody holds on.
  TryLock(fd_.get(), F_RDLCK);
  fd_.reset();
  const char* fileName = location_->fileName.c_str();
  UniqueFd probe(openat(space.directory(), fileName, O_RDWR | O_NOFOLLOW | O_CLOEXEC));
  if (probe && InodeOf(probe.get()) == inode_ && TryLock(probe.get(), F_WRLCK)) {
    unlinkat(space.directory(), fileName, 0);
  }
}

}  // namespace tgx::kobj
