// The registry store.
//
// On disk: <store>/<root>/<key>/<subkey>/... one directory per key, named by the
// key's name in lower case with every byte outside [a-z0-9_-] (and a leading
// ".") escaped as %XX, so that names compare without regard to case and none
// can leave the store. A directory is a key once it holds the file "@values"
// (a name escaping never produces), which keeps the key's name as created and
// its values:
//
//   tgx-registry-key 1
//   name :<escaped name>
//   value :<escaped name> <type> :<data in hex>
//   end
//
// The file is replaced whole (temporary file, fsync, rename, fsync of the
// directory) under an exclusive flock on <store>/.lock, so readers need no lock
// and a crash leaves the old or the new file. Creating writes a key's file
// before its subkeys' directories; deleting removes the file first.
#include "tgx/registry.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace tgx {
namespace {

namespace fs = std::filesystem;

constexpr char kValuesFile[] = "@values";
constexpr char kValuesTemp[] = "@values.tmp";
constexpr char kHeader[] = "tgx-registry-key 1";
constexpr std::size_t kMaxNameLength = 255;

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool EqualNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return LowerAscii(x) == LowerAscii(y);
         });
}

bool LessNoCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(LowerAscii(x)) < static_cast<unsigned char>(LowerAscii(y));
  });
}

constexpr char kHex[] = "0123456789ABCDEF";

void AppendEscapedByte(std::string& out, unsigned char c) {
  out += '%';
  out += kHex[c >> 4];
  out += kHex[c & 15];
}

// A key name as a directory name.
std::string DirectoryName(std::string_view name) {
  std::string out;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char c = LowerAscii(name[i]);
    const bool plain = (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
                       (c == '.' && i > 0);
    if (plain) {
      out += c;
    } else {
      AppendEscapedByte(out, static_cast<unsigned char>(c));
    }
  }
  return out;
}

// A name or data as one word of a key file: ":" then the text with blanks,
// controls, "%" and bytes above 0x7E escaped.
std::string FileWord(std::string_view text) {
  std::string out = ":";
  for (char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte >= 0x7F || c == '%') {
      AppendEscapedByte(out, byte);
    } else {
      out += c;
    }
  }
  return out;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<std::string> ParseFileWord(std::string_view word) {
  if (word.empty() || word.front() != ':') return std::nullopt;
  std::string out;
  for (std::size_t i = 1; i < word.size(); ++i) {
    if (word[i] != '%') {
      out += word[i];
      continue;
    }
    if (i + 2 >= word.size()) return std::nullopt;
    const int high = HexDigit(word[i + 1]);
    const int low = HexDigit(word[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

std::string HexWord(std::string_view data) {
  std::string out = ":";
  for (char c : data) {
    const auto byte = static_cast<unsigned char>(c);
    out += kHex[byte >> 4];
    out += kHex[byte & 15];
  }
  return out;
}

std::optional<std::string> ParseHexWord(std::string_view word) {
  if (word.empty() || word.front() != ':' || word.size() % 2 != 1) return std::nullopt;
  std::string out;
  for (std::size_t i = 1; i < word.size(); i += 2) {
    const int high = HexDigit(word[i]);
    const int low = HexDigit(word[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
  }
  return out;
}

struct Value {
  std::string name;
  DWORD type = REG_NONE;
  std::string data;
};

struct KeyFile {
  std::string name;
  std::vector<Value> values;

  Value* Find(std::string_view valueName) {
    for (Value& value : values) {
      if (EqualNoCase(value.name, valueName)) return &value;
    }
    return nullptr;
  }
};

std::string Serialize(const KeyFile& key) {
  std::string out = kHeader;
  out += "\nname " + FileWord(key.name) + "\n";
  for (const Value& value : key.values) {
    out += "value " + FileWord(value.name) + " " + std::to_string(value.type) + " " +
           HexWord(value.data) + "\n";
  }
  out += "end\n";
  return out;
}

std::optional<KeyFile> Parse(const std::string& text) {
  std::istringstream in(text);
  std::string line;
  if (!std::getline(in, line) || line != kHeader) return std::nullopt;
  KeyFile key;
  bool named = false;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string tag;
    words >> tag;
    if (tag == "end") return named ? std::optional<KeyFile>(std::move(key)) : std::nullopt;
    if (tag == "name") {
      std::string word;
      words >> word;
      auto name = ParseFileWord(word);
      if (!name) return std::nullopt;
      key.name = std::move(*name);
      named = true;
    } else if (tag == "value") {
      std::string nameWord, dataWord;
      unsigned long type = 0;
      if (!(words >> nameWord >> type >> dataWord) || type > 0xFFFFFFFFul) return std::nullopt;
      auto name = ParseFileWord(nameWord);
      auto data = ParseHexWord(dataWord);
      if (!name || !data) return std::nullopt;
      key.values.push_back(Value{std::move(*name), static_cast<DWORD>(type), std::move(*data)});
    } else {
      return std::nullopt;
    }
  }
  return std::nullopt;  // No "end": not a whole file.
}

fs::path StoreDirectory() {
  const char* dir = std::getenv("TGX_REGISTRY_DIR");
  return (dir && *dir) ? fs::path(dir) : fs::path("/var/lib/tgx/registry");
}

std::optional<std::string> RootDirectoryName(HKEY root) {
  switch (static_cast<std::uintptr_t>(root)) {
    case 0x80000000u: return "HKEY_CLASSES_ROOT";
    case 0x80000001u: return "HKEY_CURRENT_USER-" + std::to_string(getuid());
    case 0x80000002u: return "HKEY_LOCAL_MACHINE";
    case 0x80000003u: return "HKEY_USERS";
    default: return std::nullopt;
  }
}

// A key: its root and the names along its path (as the caller spelled them).
struct KeyPath {
  HKEY root{};
  std::vector<std::string> names;

  bool IsRoot() const { return names.empty(); }
  fs::path Directory() const {
    fs::path dir = StoreDirectory() / *RootDirectoryName(root);
    for (const std::string& name : names) dir /= DirectoryName(name);
    return dir;
  }
};

struct OpenKey {
  KeyPath path;
  REGSAM access = 0;
};

// The open keys of this process, by handle value.
class KeyTable {
 public:
  HKEY Add(OpenKey key) {
    std::lock_guard lock(mutex_);
    next_ += 4;
    keys_.emplace(next_, std::move(key));
    return HKEY{next_};
  }
  bool Remove(HKEY key) {
    std::lock_guard lock(mutex_);
    return keys_.erase(static_cast<std::uintptr_t>(key)) == 1;
  }
  // The key behind a handle: an open key, or a predefined root with all rights.
  std::optional<OpenKey> Find(HKEY key) {
    if (RootDirectoryName(key)) return OpenKey{KeyPath{key, {}}, KEY_ALL_ACCESS};
    std::lock_guard lock(mutex_);
    const auto it = keys_.find(static_cast<std::uintptr_t>(key));
    if (it == keys_.end()) return std::nullopt;
    return it->second;
  }

 private:
  std::mutex mutex_;
  std::uintptr_t next_ = 0x1000;
  std::map<std::uintptr_t, OpenKey> keys_;
};

KeyTable& Keys() {
  static KeyTable* const table = new KeyTable;
  return *table;
}

// The path of subKey below parent; ERROR_SUCCESS or the error.
LONG ResolvePath(const KeyPath& parent, const char* subKey, KeyPath& path) {
  path = parent;
  if (!subKey) return ERROR_SUCCESS;
  std::string_view rest(subKey);
  if (!rest.empty() && rest.back() == '\\') rest.remove_suffix(1);
  if (rest.empty()) return ERROR_SUCCESS;
  for (;;) {
    const std::size_t slash = rest.find('\\');
    const std::string_view name = rest.substr(0, slash);
    if (name.empty()) return ERROR_BAD_PATHNAME;
    if (name.size() > kMaxNameLength) return ERROR_INVALID_PARAMETER;
    if (DirectoryName(name).size() > kMaxNameLength) return ERROR_FILENAME_EXCED_RANGE;
    path.names.emplace_back(name);
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  return ERROR_SUCCESS;
}

// Reads a whole file; ERROR_SUCCESS, ERROR_FILE_NOT_FOUND or another error.
LONG ReadWholeFile(const fs::path& file, std::string& text) {
  const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0)
    return errno == ENOENT || errno == ENOTDIR ? ERROR_FILE_NOT_FOUND : Win32ErrorFromErrno(errno);
  text.clear();
  char buffer[8192];
  for (;;) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got > 0) {
      text.append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0 || errno != EINTR) {
      const int error = got == 0 ? 0 : errno;
      close(fd);
      return error ? Win32ErrorFromErrno(error) : ERROR_SUCCESS;
    }
  }
}

// Reads the key's file. A missing file is ERROR_FILE_NOT_FOUND, except for a
// root, which always exists (with no values until one is set).
LONG ReadKey(const KeyPath& path, KeyFile& key) {
  std::string text;
  const LONG error = ReadWholeFile(path.Directory() / kValuesFile, text);
  if (error == ERROR_FILE_NOT_FOUND && path.IsRoot()) {
    key = KeyFile{};
    return ERROR_SUCCESS;
  }
  if (error != ERROR_SUCCESS) return error;
  std::optional<KeyFile> parsed = Parse(text);
  if (!parsed) return ERROR_REGISTRY_CORRUPT;
  key = std::move(*parsed);
  return ERROR_SUCCESS;
}

bool KeyExists(const KeyPath& path) {
  return path.IsRoot() || access((path.Directory() / kValuesFile).c_str(), F_OK) == 0;
}

LONG SyncDirectory(const fs::path& dir) {
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Win32ErrorFromErrno(errno);
  const int result = fsync(fd);
  const int error = errno;
  close(fd);
  return result == 0 ? ERROR_SUCCESS : Win32ErrorFromErrno(error);
}

LONG WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0) {
      if (errno == EINTR) continue;
      return Win32ErrorFromErrno(errno);
    }
    done += static_cast<std::size_t>(wrote);
  }
  return ERROR_SUCCESS;
}

// Replaces the key's file atomically and durably.
LONG WriteKey(const KeyPath& path, const KeyFile& key) {
  const fs::path dir = path.Directory();
  std::error_code ignored;
  if (path.IsRoot()) fs::create_directories(dir, ignored);
  const fs::path temp = dir / kValuesTemp;
  const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return Win32ErrorFromErrno(errno);
  LONG error = WriteAll(fd, Serialize(key));
  if (error == ERROR_SUCCESS && fsync(fd) != 0) error = Win32ErrorFromErrno(errno);
  if (close(fd) != 0 && error == ERROR_SUCCESS) error = Win32ErrorFromErrno(errno);
  if (error == ERROR_SUCCESS && rename(temp.c_str(), (dir / kValuesFile).c_str()) != 0) {
    error = Win32ErrorFromErrno(errno);
  }
  if (error != ERROR_SUCCESS) {
    unlink(temp.c_str());
    return error;
  }
  return SyncDirectory(dir);
}

// The store's writer lock, held for the life of the object.
class StoreLock {
 public:
  StoreLock() {
    const fs::path dir = StoreDirectory();
    std::error_code ignored;
    fs::create_directories(dir, ignored);
    fd_ = open((dir / ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
      error_ = Win32ErrorFromErrno(errno);
      return;
    }
    while (flock(fd_, LOCK_EX) != 0) {
      if (errno != EINTR) {
        error_ = Win32ErrorFromErrno(errno);
        return;
      }
    }
  }
  ~StoreLock() {
    if (fd_ >= 0) close(fd_);  // Closing drops the flock.
  }
  StoreLock(const StoreLock&) = delete;
  StoreLock& operator=(const StoreLock&) = delete;

  LONG error() const { return error_; }

 private:
  int fd_ = -1;
  LONG error_ = ERROR_SUCCESS;
};

// The open key behind a handle, with a right checked; ERROR_SUCCESS or the error.
LONG FindKey(HKEY handle, REGSAM needed, OpenKey& key) {
  std::optional<OpenKey> found = Keys().Find(handle);
  if (!found) return ERROR_INVALID_HANDLE;
  if ((found->access & needed) != needed) return ERROR_ACCESS_DENIED;
  key = std::move(*found);
  return ERROR_SUCCESS;
}

// Reads the key behind an open handle: a key deleted since it was opened is
// ERROR_KEY_DELETED.
LONG ReadOpenKey(const OpenKey& open, KeyFile& key) {
  const LONG error = ReadKey(open.path, key);
  return error == ERROR_FILE_NOT_FOUND ? ERROR_KEY_DELETED : error;
}

// Copies data into a caller's buffer with the Windows size rules.
LONG CopyOut(const std::string& data, BYTE* buffer, DWORD* size) {
  if (!size) return buffer ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;
  const DWORD needed = static_cast<DWORD>(data.size());
  if (buffer && *size < needed) {
    *size = needed;
    return ERROR_MORE_DATA;
  }
  if (buffer) std::memcpy(buffer, data.data(), needed);
  *size = needed;
  return ERROR_SUCCESS;
}

// Copies a name into a caller's buffer: *size in characters with the NUL on
// entry, without it on return.
LONG CopyName(const std::string& name, char* buffer, DWORD* size) {
  if (!buffer || !size) return ERROR_INVALID_PARAMETER;
  if (*size <= name.size()) return ERROR_MORE_DATA;
  std::memcpy(buffer, name.c_str(), name.size() + 1);
  *size = static_cast<DWORD>(name.size());
  return ERROR_SUCCESS;
}

// Updates one key's values under the store lock.
template <class Change>
LONG UpdateKey(HKEY handle, Change change) {
  OpenKey open;
  if (LONG error = FindKey(handle, KEY_SET_VALUE, open); error != ERROR_SUCCESS) return error;
  StoreLock lock;
  if (lock.error() != ERROR_SUCCESS) return lock.error();
  KeyFile key;
  if (LONG error = ReadOpenKey(open, key); error != ERROR_SUCCESS) return error;
  if (LONG error = change(key); error != ERROR_SUCCESS) return error;
  return WriteKey(open.path, key);
}

// The subkeys of a key directory, as created, in case-insensitive order.
std::vector<std::string> SubkeyNames(const KeyPath& path) {
  std::vector<std::string> names;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(path.Directory(), error)) {
    if (!entry.is_directory(error)) continue;
    std::string text;
    if (ReadWholeFile(entry.path() / kValuesFile, text) != ERROR_SUCCESS) continue;
    if (std::optional<KeyFile> parsed = Parse(text)) names.push_back(parsed->name);
  }
  std::sort(names.begin(), names.end(), LessNoCase);
  return names;
}

// Whether any directory below dir is a key.
bool HoldsKeys(const fs::path& dir) {
  std::error_code error;
  for (fs::recursive_directory_iterator it(dir, error), end; !error && it != end;
       it.increment(error)) {
    if (it->path().filename() == kValuesFile && it->path().parent_path() != dir) return true;
  }
  return false;
}

}  // namespace

LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD, REGSAM desired, HKEY* result) {
  if (!result) return ERROR_INVALID_PARAMETER;
  OpenKey parent;
  if (LONG error = FindKey(key, 0, parent); error != ERROR_SUCCESS) return error;
  KeyPath path;
  if (LONG error = ResolvePath(parent.path, subKey, path); error != ERROR_SUCCESS) return error;
  if (!KeyExists(path)) return ERROR_FILE_NOT_FOUND;
  *result = Keys().Add(OpenKey{std::move(path), desired});
  return ERROR_SUCCESS;
}

LONG RegCreateKeyExA(HKEY key, const char* subKey, DWORD, const char*, DWORD, REGSAM desired,
                     const SECURITY_ATTRIBUTES*, HKEY* result, DWORD* disposition) {
  if (!result) return ERROR_INVALID_PARAMETER;
  OpenKey parent;
  if (LONG error = FindKey(key, 0, parent); error != ERROR_SUCCESS) return error;
  KeyPath path;
  if (LONG error = ResolvePath(parent.path, subKey, path); error != ERROR_SUCCESS) return error;
  StoreLock lock;
  if (lock.error() != ERROR_SUCCESS) return lock.error();
  if (!KeyExists(parent.path)) return ERROR_KEY_DELETED;
  bool created = false;
  KeyPath level{path.root, parent.path.names};
  for (std::size_t i = level.names.size(); i < path.names.size(); ++i) {
    level.names.push_back(path.names[i]);
    if (KeyExists(level)) continue;
    const fs::path dir = level.Directory();
    std::error_code error;
    fs::create_directories(dir, error);
    if (error) return Win32ErrorFromErrno(error.value());
    if (LONG written = WriteKey(level, KeyFile{path.names[i], {}}); written != ERROR_SUCCESS) {
      return written;
    }
    if (LONG synced = SyncDirectory(dir.parent_path()); synced != ERROR_SUCCESS) return synced;
    created = true;
  }
  *result = Keys().Add(OpenKey{std::move(path), desired});
  if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
  return ERROR_SUCCESS;
}

LONG RegCloseKey(HKEY key) {
  if (RootDirectoryName(key)) return ERROR_SUCCESS;
  return Keys().Remove(key) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
}

LONG RegQueryValueExA(HKEY handle, const char* valueName, DWORD*, DWORD* type, BYTE* data,
                      DWORD* size) {
  if (data && !size) return ERROR_INVALID_PARAMETER;
  OpenKey open;
  if (LONG error = FindKey(handle, KEY_QUERY_VALUE, open); error != ERROR_SUCCESS) return error;
  KeyFile key;
  if (LONG error = ReadOpenKey(open, key); error != ERROR_SUCCESS) return error;
  const Value* value = key.Find(valueName ? valueName : "");
  if (!value) return ERROR_FILE_NOT_FOUND;
  if (type) *type = value->type;
  return CopyOut(value->data, data, size);
}

LONG RegSetValueExA(HKEY handle, const char* valueName, DWORD, DWORD type, const BYTE* data,
                    DWORD size) {
  if ((!data && size) || size > kMaxRegistryValueSize) return ERROR_INVALID_PARAMETER;
  const std::string name = valueName ? valueName : "";
  if (name.size() > 16383) return ERROR_INVALID_PARAMETER;
  std::string bytes(reinterpret_cast<const char*>(data), data ? size : 0);
  return UpdateKey(handle, [&](KeyFile& key) -> LONG {
    if (Value* value = key.Find(name)) {
      value->type = type;
      value->data = std::move(bytes);
    } else {
      key.values.push_back(Value{name, type, std::move(bytes)});
    }
    return ERROR_SUCCESS;
  });
}

LONG RegDeleteValueA(HKEY handle, const char* valueName) {
  const std::string name = valueName ? valueName : "";
  return UpdateKey(handle, [&](KeyFile& key) -> LONG {
    const auto it = std::find_if(key.values.begin(), key.values.end(),
                                 [&](const Value& value) { return EqualNoCase(value.name, name); });
    if (it == key.values.end()) return ERROR_FILE_NOT_FOUND;
    key.values.erase(it);
    return ERROR_SUCCESS;
  });
}

LONG RegDeleteKeyA(HKEY handle, const char* subKey) {
  if (!subKey || !*subKey) return ERROR_INVALID_PARAMETER;
  OpenKey parent;
  if (LONG error = FindKey(handle, 0, parent); error != ERROR_SUCCESS) return error;
  KeyPath path;
  if (LONG error = ResolvePath(parent.path, subKey, path); error != ERROR_SUCCESS) return error;
  if (path.IsRoot()) return ERROR_ACCESS_DENIED;
  StoreLock lock;
  if (lock.error() != ERROR_SUCCESS) return lock.error();
  if (!KeyExists(path)) return ERROR_FILE_NOT_FOUND;
  const fs::path dir = path.Directory();
  if (HoldsKeys(dir)) return ERROR_ACCESS_DENIED;
  // Removing the file deletes the key; what is left is only clean-up.
  if (unlink((dir / kValuesFile).c_str()) != 0) return Win32ErrorFromErrno(errno);
  SyncDirectory(dir);
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  SyncDirectory(dir.parent_path());
  return ERROR_SUCCESS;
}

LONG RegEnumValueA(HKEY handle, DWORD index, char* name, DWORD* nameSize, DWORD*, DWORD* type,
                   BYTE* data, DWORD* dataSize) {
  if (data && !dataSize) return ERROR_INVALID_PARAMETER;
  OpenKey open;
  if (LONG error = FindKey(handle, KEY_QUERY_VALUE, open); error != ERROR_SUCCESS) return error;
  KeyFile key;
  if (LONG error = ReadOpenKey(open, key); error != ERROR_SUCCESS) return error;
  if (index >= key.values.size()) return ERROR_NO_MORE_ITEMS;
  const Value& value = key.values[index];
  if (LONG error = CopyName(value.name, name, nameSize); error != ERROR_SUCCESS) return error;
  if (type) *type = value.type;
  return CopyOut(value.data, data, dataSize);
}

LONG RegEnumKeyExA(HKEY handle, DWORD index, char* name, DWORD* nameSize, DWORD*, char* className,
                   DWORD* classSize, FILETIME* lastWrite) {
  OpenKey open;
  if (LONG error = FindKey(handle, KEY_ENUMERATE_SUB_KEYS, open); error != ERROR_SUCCESS) {
    return error;
  }
  if (!KeyExists(open.path)) return ERROR_KEY_DELETED;
  const std::vector<std::string> names = SubkeyNames(open.path);
  if (index >= names.size()) return ERROR_NO_MORE_ITEMS;
  if (LONG error = CopyName(names[index], name, nameSize); error != ERROR_SUCCESS) return error;
  if (className && classSize && *classSize > 0) *className = '\0';
  if (classSize) *classSize = 0;
  if (lastWrite) {
    KeyPath child = open.path;
    child.names.push_back(names[index]);
    struct stat status {};
    std::uint64_t ticks = 0;  // 100 ns units since 1601-01-01.
    if (stat((child.Directory() / kValuesFile).c_str(), &status) == 0) {
      constexpr std::uint64_t kEpochOffset = 116444736000000000ull;
      ticks = kEpochOffset + static_cast<std::uint64_t>(status.st_mtim.tv_sec) * 10000000ull +
              static_cast<std::uint64_t>(status.st_mtim.tv_nsec) / 100;
    }
    *lastWrite = FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  }
  return ERROR_SUCCESS;
}

LONG RegFlushKey(HKEY handle) {
  OpenKey open;
  if (LONG error = FindKey(handle, 0, open); error != ERROR_SUCCESS) return error;
  return KeyExists(open.path) ? ERROR_SUCCESS : ERROR_KEY_DELETED;
}

RegKey& RegKey::operator=(RegKey&& other) noexcept {
  if (this != &other) {
    reset();
    key_ = other.key_;
    open_ = std::exchange(other.open_, false);
  }
  return *this;
}

LONG RegKey::Open(HKEY parent, const char* subKey, REGSAM desired) {
  reset();
  HKEY key{};
  const LONG error = RegOpenKeyExA(parent, subKey, 0, desired, &key);
  if (error == ERROR_SUCCESS) *this = RegKey(key);
  return error;
}

LONG RegKey::Create(HKEY parent, const char* subKey, REGSAM desired, DWORD* disposition) {
  reset();
  HKEY key{};
  const LONG error = RegCreateKeyExA(parent, subKey, 0, nullptr, REG_OPTION_NON_VOLATILE, desired,
                                     nullptr, &key, disposition);
  if (error == ERROR_SUCCESS) *this = RegKey(key);
  return error;
}

void RegKey::reset() {
  if (std::exchange(open_, false)) RegCloseKey(key_);
}

}  // namespace tgx
