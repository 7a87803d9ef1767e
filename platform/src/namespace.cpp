// Object names to namespace directories and files, and the namespace lock.
#include "namespace.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string_view>

namespace tgx::kobj {
namespace {

constexpr std::string_view kGlobalPrefix = "Global\\";
constexpr std::string_view kLocalPrefix = "Local\\";
constexpr const char* kDefaultRuntimeDir = "/dev/shm/tgx";
constexpr const char* kLockFileName = ".lock";
// Directories and lock files every user shares; sticky, so only owners remove.
constexpr mode_t kSharedDirMode = 01777;
constexpr mode_t kPrivateDirMode = 0700;
constexpr mode_t kSharedFileMode = 0666;
constexpr mode_t kPrivateFileMode = 0600;

std::string RuntimeDir() {
  const char* dir = std::getenv("TGX_RUNTIME_DIR");
  return (dir && *dir) ? dir : kDefaultRuntimeDir;
}

std::string SessionDirName() {
  return "session-" + std::to_string(geteuid()) + "-" + std::to_string(getsid(0));
}

bool IsControl(unsigned char c) { return c < 0x20 || c == 0x7f; }

// Backslashes separate the parts of a Windows name; none may be "..".
bool HasParentPart(std::string_view text) {
  while (true) {
    const std::size_t end = text.find('\\');
    if (text.substr(0, end) == "..") return true;
    if (end == std::string_view::npos) return false;
    text.remove_prefix(end + 1);
  }
}

// One file name per object name, distinct names giving distinct files: '%' and
// '\' are percent-escaped, and so is a leading '.', which keeps object files
// apart from the lock file and from "." itself.
std::string EscapeFileName(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '%' || c == '\\' || (c == '.' && i == 0)) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

DWORD LastErrno() { return Win32ErrorFromErrno(errno); }

// Creates directory `name` below `parent` with `mode` (umask aside), unless it
// exists, and opens it. Never follows a symbolic link.
DWORD CreateDirectory(int parent, const char* name, mode_t mode, UniqueFd& out) {
  const bool created = mkdirat(parent, name, mode) == 0;
  if (!created && errno != EEXIST) return LastErrno();
  out.reset(openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!out) return LastErrno();
  if (created && fchmod(out.get(), mode) != 0) return LastErrno();
  return ERROR_SUCCESS;
}

DWORD OpenLockFile(int directory, mode_t mode, UniqueFd& out) {
  constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC;
  while (true) {
    out.reset(openat(directory, kLockFileName, kFlags));
    if (out) return ERROR_SUCCESS;
    if (errno != ENOENT) return LastErrno();
    out.reset(openat(directory, kLockFileName, kFlags | O_CREAT | O_EXCL, mode));
    if (out) return fchmod(out.get(), mode) == 0 ? ERROR_SUCCESS : LastErrno();
    if (errno != EEXIST) return LastErrno();
  }
}

}  // namespace

DWORD LocateObject(const char* name, ObjectLocation& location) {
  if (!name) return ERROR_INVALID_NAME;
  std::string_view text = name;
  bool global = false;
  if (text.starts_with(kGlobalPrefix)) {
    global = true;
    text.remove_prefix(kGlobalPrefix.size());
  } else if (text.starts_with(kLocalPrefix)) {
    text.remove_prefix(kLocalPrefix.size());
  }
  if (text.empty() || HasParentPart(text)) return ERROR_INVALID_NAME;
  for (const char c : text) {
    if (c == '/' || IsControl(static_cast<unsigned char>(c))) return ERROR_INVALID_NAME;
  }
  std::string fileName = EscapeFileName(text);
  if (fileName.size() > NAME_MAX) return ERROR_INVALID_NAME;
  location.directory = RuntimeDir() + "/" + (global ? std::string("global") : SessionDirName());
  location.global = global;
  location.fileName = std::move(fileName);
  return ERROR_SUCCESS;
}

DWORD LockedNamespace::Enter(const ObjectLocation& location, Missing missing) {
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  directory_.reset(open(location.directory.c_str(), kFlags));
  if (!directory_) {
    if (errno != ENOENT) return LastErrno();
    if (missing == Missing::kFail) return ERROR_PATH_NOT_FOUND;
    // The runtime directory itself may be a symbolic link chosen by the administrator.
    const std::size_t slash = location.directory.rfind('/');
    const std::string root = slash == 0 ? "/" : location.directory.substr(0, slash);
    if (mkdir(root.c_str(), kSharedDirMode) == 0) chmod(root.c_str(), kSharedDirMode);
    UniqueFd rootFd(open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!rootFd) return LastErrno();
    const std::string leaf = location.directory.substr(slash + 1);
    const mode_t mode = location.global ? kSharedDirMode : kPrivateDirMode;
    if (DWORD error = CreateDirectory(rootFd.get(), leaf.c_str(), mode, directory_)) return error;
  }
  // A session namespace belongs to its user alone: never use one somebody else made.
  if (!location.global) {
    struct stat info {};
    if (fstat(directory_.get(), &info) != 0) return LastErrno();
    if (info.st_uid != geteuid()) return ERROR_ACCESS_DENIED;
  }

  const mode_t lockMode = location.global ? kSharedFileMode : kPrivateFileMode;
  if (DWORD error = OpenLockFile(directory_.get(), lockMode, lock_)) return error;
  while (flock(lock_.get(), LOCK_EX) != 0) {
    if (errno != EINTR) return LastErrno();
  }
  return ERROR_SUCCESS;
}

}  // namespace tgx::kobj
