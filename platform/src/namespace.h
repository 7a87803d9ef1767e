// Where named kernel objects live. A Win32 object name maps onto a namespace
// directory below $TGX_RUNTIME_DIR ("global" for "Global\" names, one directory
// per user and session for the others) and one file in it. Creating, opening and
// closing objects of a namespace is serialised by an exclusive lock on the
// namespace's own lock file.
#pragma once

#include <string>

#include "tgx/unique_fd.h"
#include "tgx/win32.h"

namespace tgx::kobj {

struct ObjectLocation {
  std::string directory;  // absolute path of the namespace directory
  bool global = false;    // the namespace shared by every session and user
  std::string fileName;   // the object's file: one path component, never "." or ".."
};

// Maps a Win32 object name. ERROR_INVALID_NAME when the name cannot be mapped
// safely: empty, a "/" or a control character, a ".." part, too long.
DWORD LocateObject(const char* name, ObjectLocation& location);

// The namespace directory, open and exclusively locked while this value lives.
class LockedNamespace {
 public:
  enum class Missing { kCreate, kFail };
  // Opens the directory (creating it and the runtime directory when `missing`
  // says so) and waits for its lock.
  DWORD Enter(const ObjectLocation& location, Missing missing);
  int directory() const { return directory_.get(); }

 private:
  UniqueFd directory_;
  UniqueFd lock_;
};

}  // namespace tgx::kobj
