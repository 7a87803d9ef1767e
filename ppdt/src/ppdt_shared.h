// What ppdtlib and ppdtport share: the names of the named objects, the port
// table and the request block with their layouts, the request codes and the
// device control codes. Every field is little-endian and is read and written
// through the accessors below, never by raw offsets elsewhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "tgx/named_objects.h"
#include "tgx/win32.h"

namespace tgx::ppdt {

inline constexpr int kPortCount = 5;

inline constexpr bool IsPortIndex(int port) { return port >= 0 && port < kPortCount; }

// --- Object names: the local and "Global\" literal side by side; "%02d" is the port ---

struct ObjectName {
  const char* local;
  const char* global;
};

inline constexpr ObjectName kPortTableName = {"AVPPDT_PORT_MANAGE_DATA",
                                              "Global\\AVPPDT_PORT_MANAGE_DATA"};
inline constexpr ObjectName kPortTableMutexName = {"AVPPDT_PORT_MANAGE_DATA_MTX",
                                                   "Global\\AVPPDT_PORT_MANAGE_DATA_MTX"};
inline constexpr ObjectName kRequestBlockName = {"AVPPDT_PORT_ACCESS_%02d",
                                                 "Global\\AVPPDT_PORT_ACCESS_%02d"};
inline constexpr ObjectName kAccessMutexName = {"AVPPDT_PORT_ACCESS_MTX_%02d",
                                                "Global\\AVPPDT_PORT_ACCESS_MTX_%02d"};
inline constexpr ObjectName kRequestEventName = {"AVPPDT_PORT_REQUEST_%02d",
                                                 "Global\\AVPPDT_PORT_REQUEST_%02d"};
inline constexpr ObjectName kDoneEventName = {"AVPPDT_PORT_DONE_%02d",
                                              "Global\\AVPPDT_PORT_DONE_%02d"};
inline constexpr ObjectName kCallingProcessMutexName = {"AVPPDT_CALLING_PROCESS_%02d",
                                                        "Global\\AVPPDT_CALLING_PROCESS_%02d"};
inline constexpr ObjectName kWorkerPresenceMutexName = {"QRS_AVPPDT_PROCESS_%02d",
                                                        "Global\\QRS_AVPPDT_PROCESS_%02d"};

// The name in the form this process uses; per-port patterns get the port index.
std::string ObjectNameFor(const ObjectNameForm& form, const ObjectName& name);
std::string PortObjectNameFor(const ObjectNameForm& form, const ObjectName& name, int port);

// --- Little-endian fields in shared memory ---

inline std::uint32_t LoadLe32(const std::byte* at) {
  std::uint8_t b[4];
  std::memcpy(b, at, 4);
  return std::uint32_t{b[0]} | std::uint32_t{b[1]} << 8 | std::uint32_t{b[2]} << 16 |
         std::uint32_t{b[3]} << 24;
}

inline void StoreLe32(std::byte* at, std::uint32_t value) {
  const std::uint8_t b[4] = {
      static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
      static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)};
  std::memcpy(at, b, 4);
}

// --- The port table: the mapping "AVPPDT_PORT_MANAGE_DATA" ---

inline constexpr std::size_t kPortEntrySize = 28;
inline constexpr std::size_t kPortNameFieldSize = 24;
inline constexpr std::size_t kPortTableSize = kPortEntrySize * kPortCount;
static_assert(kPortTableSize == 140);

// One 28-byte entry: the open count at 0 (0: free), the NUL-terminated port
// name at 4.
class PortEntry {
 public:
  static constexpr std::size_t kOpenCountOffset = 0;
  static constexpr std::size_t kNameOffset = 4;
  static_assert(kNameOffset + kPortNameFieldSize == kPortEntrySize);

  explicit PortEntry(std::byte* at) : at_(at) {}

  std::uint32_t openCount() const { return LoadLe32(at_ + kOpenCountOffset); }
  void setOpenCount(std::uint32_t count) { StoreLe32(at_ + kOpenCountOffset, count); }
  // The stored name, read no further than its field even when the NUL is missing.
  std::string name() const;
  // Stores a name that fits (shorter than the field), NUL-padded.
  void setName(const char* name);

 private:
  std::byte* at_;
};

class PortTable {
 public:
  explicit PortTable(void* at) : at_(static_cast<std::byte*>(at)) {}
  PortEntry entry(int port) const { return PortEntry(at_ + kPortEntrySize * port); }
  void Clear() { std::memset(at_, 0, kPortTableSize); }

 private:
  std::byte* at_;
};

// --- The request block: the mapping "AVPPDT_PORT_ACCESS_%02d" ---

inline constexpr std::uint32_t kAreaSize = 0x4000;
inline constexpr std::size_t kRequestBlockSize = 32800;

// Request codes.
inline constexpr std::uint32_t kRequestOpen = 0x1001;
inline constexpr std::uint32_t kRequestClose = 0x1002;
inline constexpr std::uint32_t kRequestControl = 0x2001;
inline constexpr std::uint32_t kRequestQuit = 0x9001;

// Device control codes.
inline constexpr std::uint32_t kControlJobOpen = 0x00222F08;
inline constexpr std::uint32_t kControlJobClose = 0x00222F0C;
inline constexpr std::uint32_t kControlJobWrite = 0x00222F12;
inline constexpr std::uint32_t kControlJobFlush = 0x00222F18;
inline constexpr std::uint32_t kControlJobCancel = 0x00222F1C;
inline constexpr std::uint32_t kControlAdminOpen = 0x00222F30;
inline constexpr std::uint32_t kControlAdminClose = 0x00222F34;
inline constexpr std::uint32_t kControlAdminWrite = 0x00222F38;
inline constexpr std::uint32_t kControlAdminRead = 0x00222F3C;
inline constexpr std::uint32_t kControlResOpen = 0x00222F80;
inline constexpr std::uint32_t kControlResClose = 0x00222F84;
inline constexpr std::uint32_t kControlResWrite = 0x00222F88;
inline constexpr std::uint32_t kControlResRead = 0x00222F8C;
inline constexpr std::uint32_t kControlGetDeviceId = 0x0016000C;  // IOCTL_PAR_QUERY_DEVICE_ID

// The controls whose output is copied back to the caller.
inline constexpr bool IsReadBackControl(std::uint32_t code) {
  return code == kControlGetDeviceId || code == kControlResRead || code == kControlAdminRead ||
         code == kControlJobFlush;
}

// A view of one request block. The lengths are stored as written; whoever uses
// them to touch the areas clamps them first (inputLength() and outputLength()
// do), since any process may have written anything there.
class RequestBlock {
 public:
  static constexpr std::size_t kRequestCodeOffset = 0x0000;
  static constexpr std::size_t kProcessIdOffset = 0x0004;
  static constexpr std::size_t kControlCodeOffset = 0x0008;
  static constexpr std::size_t kInputLengthOffset = 0x000C;
  static constexpr std::size_t kOutputLengthOffset = 0x0010;
  static constexpr std::size_t kInputAreaOffset = 0x0014;
  static constexpr std::size_t kOutputAreaOffset = 0x4014;
  static constexpr std::size_t kSuccessOffset = 0x8014;
  static constexpr std::size_t kByteCountOffset = 0x8018;
  static constexpr std::size_t kErrorCodeOffset = 0x801C;
  static_assert(kOutputAreaOffset == kInputAreaOffset + kAreaSize);
  static_assert(kSuccessOffset == kOutputAreaOffset + kAreaSize);
  static_assert(kErrorCodeOffset + 4 == kRequestBlockSize);

  explicit RequestBlock(void* at) : at_(static_cast<std::byte*>(at)) {}

  std::uint32_t requestCode() const { return Load(kRequestCodeOffset); }
  std::uint32_t processId() const { return Load(kProcessIdOffset); }
  std::uint32_t controlCode() const { return Load(kControlCodeOffset); }
  // The lengths cut to the area size.
  std::uint32_t inputLength() const { return Clamp(Load(kInputLengthOffset)); }
  std::uint32_t outputLength() const { return Clamp(Load(kOutputLengthOffset)); }
  std::uint32_t success() const { return Load(kSuccessOffset); }
  std::uint32_t byteCount() const { return Load(kByteCountOffset); }
  std::uint32_t errorCode() const { return Load(kErrorCodeOffset); }

  void setRequestCode(std::uint32_t v) { Store(kRequestCodeOffset, v); }
  void setProcessId(std::uint32_t v) { Store(kProcessIdOffset, v); }
  void setControlCode(std::uint32_t v) { Store(kControlCodeOffset, v); }
  void setInputLength(std::uint32_t v) { Store(kInputLengthOffset, v); }
  void setOutputLength(std::uint32_t v) { Store(kOutputLengthOffset, v); }
  void setSuccess(std::uint32_t v) { Store(kSuccessOffset, v); }
  void setByteCount(std::uint32_t v) { Store(kByteCountOffset, v); }
  void setErrorCode(std::uint32_t v) { Store(kErrorCodeOffset, v); }

  // The two areas, each kAreaSize bytes.
  std::byte* inputArea() const { return at_ + kInputAreaOffset; }
  std::byte* outputArea() const { return at_ + kOutputAreaOffset; }

  static std::uint32_t Clamp(std::uint32_t length) {
    return length < kAreaSize ? length : kAreaSize;
  }

 private:
  std::uint32_t Load(std::size_t offset) const { return LoadLe32(at_ + offset); }
  void Store(std::size_t offset, std::uint32_t v) { StoreLe32(at_ + offset, v); }

  std::byte* at_;
};

}  // namespace tgx::ppdt
