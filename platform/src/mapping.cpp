// Named file mappings: the object's file from its second page on, zero-filled
// when created; views map those bytes shared.
#include <sys/mman.h>

#include <atomic>
#include <utility>

#include "kobj_file.h"
#include "tgx/kobj.h"

namespace tgx {
namespace {

using kobj::ObjectFile;
using kobj::ObjectKind;
using kobj::ObjectPage;

class MappingObject final : public KernelObject {
 public:
  explicit MappingObject(std::shared_ptr<ObjectFile> file) : file_(std::move(file)) {}

  MappedView Map(DWORD desiredAccess) const {
    const ObjectPage& page = file_->page();
    const bool writable = (desiredAccess & FILE_MAP_WRITE) != 0;
    const int protection = writable ? PROT_READ | PROT_WRITE : PROT_READ;
    void* data = mmap(nullptr, page.dataSize, protection, MAP_SHARED, file_->fd(),
                      static_cast<off_t>(page.dataOffset));
    if (data == MAP_FAILED) {
      SetLastErrorFromErrno();
      return MappedView();
    }
    SetLastError(ERROR_SUCCESS);
    return MappedView(data, page.dataSize, file_);
  }

 private:
  std::shared_ptr<ObjectFile> file_;
};

}  // namespace

Handle CreateFileMappingA(const SECURITY_ATTRIBUTES* attributes, DWORD protect, DWORD size,
                          const char* name) {
  // Only memory-backed, read-write sections of a given size exist here.
  if (protect != PAGE_READWRITE || size == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return Handle();
  }
  const ObjectFile::Request request{ObjectKind::kMapping, FileModeFor(attributes), size,
                                    [](ObjectPage&) { return ERROR_SUCCESS; }};
  return CreateObjectHandle<MappingObject>(name, request);
}

Handle OpenFileMappingA(DWORD, BOOL, const char* name) {
  return OpenObjectHandle<MappingObject>(name, ObjectKind::kMapping);
}

MappedView MapViewOfFile(const Handle& mapping, DWORD desiredAccess) {
  auto* object = mapping.as<MappingObject>();
  if (!object) {
    SetLastError(ERROR_INVALID_HANDLE);
    return MappedView();
  }
  return object->Map(desiredAccess);
}

BOOL FlushViewOfFile(const MappedView& view) {
  if (!view) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  // Every view of a mapping shares the same pages, so other processes already
  // see each store; there is no backing file to write back to (msync(MS_SYNC)
  // on a disk-backed runtime directory cost milliseconds per call). What a
  // flush still owes its caller is ordering: stores before it are visible
  // before any store after it.
  std::atomic_thread_fence(std::memory_order_seq_cst);
  return TRUE;
}

MappedView::MappedView(MappedView&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)),
      size_(std::exchange(other.size_, 0)),
      object_(std::move(other.object_)) {}

MappedView& MappedView::operator=(MappedView&& other) noexcept {
  if (this != &other) {
    reset();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    object_ = std::move(other.object_);
  }
  return *this;
}

MappedView::~MappedView() { reset(); }

void MappedView::reset() {
  if (data_) munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
  object_.reset();
}

}  // namespace tgx
