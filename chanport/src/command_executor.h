// What the per-port worker does with one port command record: the raw port
// call it names, on the buffers its locators name, with the outcome written
// back into the record. Every buffer is checked to lie inside the allocation its
// locator names before the port library may touch it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "chanlib/buffer_pool.h"
#include "chanlib/family.h"
#include "chanlib/shared_layout.h"
#include "tgx/win32.h"

namespace tgx::chanport {

inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;

// The port time-outs record of the port access library, all in ms.
struct CommTimeouts {
  DWORD ReadIntervalTimeout;
  DWORD ReadTotalTimeoutMultiplier;
  DWORD ReadTotalTimeoutConstant;
  DWORD WriteTotalTimeoutMultiplier;
  DWORD WriteTotalTimeoutConstant;
};

// The six entry points of the port access library. Each returns 1 for success
// and 0 for failure with the last error set.
struct PortFunctions {
  BOOL (*open)(const char* name, DWORD access, DWORD* handle);
  BOOL (*close)(DWORD handle);
  BOOL (*read)(DWORD handle, void* buffer, DWORD length, DWORD* read);
  BOOL (*write)(DWORD handle, const void* buffer, DWORD length, DWORD* written);
  BOOL(*ioControl)
  (DWORD handle, DWORD code, void* input, DWORD inputSize, void* output, DWORD outputSize,
   DWORD* returned);
  BOOL (*setTimeouts)(DWORD handle, CommTimeouts* timeouts);
};

// The 9x build chooses other port time-outs.
using chanlib::Family;

// The pools a locator may name, opened on first use.
class PoolSource {
 public:
  virtual ~PoolSource() = default;
  // Pool 0 (main) to 10; null when it cannot be opened.
  virtual const chanlib::PoolView* Pool(int number) = 0;
};

// Time as the worker paces reads by it.
struct Clock {
  DWORD (*tickCount)();
  void (*sleep)(DWORD milliseconds);
};

class CommandExecutor {
 public:
  CommandExecutor(const PortFunctions& port, PoolSource& pools, Family family, Clock clock);
  CommandExecutor(const CommandExecutor&) = delete;
  CommandExecutor& operator=(const CommandExecutor&) = delete;

  // Executes the command of record in place. False when the command asks the
  // worker to end (the record is then left as it was).
  bool Execute(chanlib::PortCommandRecord& record);

  // Closes the port if it is open.
  void ClosePort();
  DWORD portHandle() const { return handle_; }

 private:
  std::optional<std::span<std::byte>> Resolve(std::int32_t locator, std::uint32_t offset,
                                              std::uint32_t length);
  void Read(chanlib::PortCommandRecord& record);
  void Write(chanlib::PortCommandRecord& record);
  void IoControl(chanlib::PortCommandRecord& record);
  void Open(chanlib::PortCommandRecord& record);
  void Close(chanlib::PortCommandRecord& record);
  CommTimeouts TimeoutsFor(const std::string& name);

  const PortFunctions& port_;
  PoolSource& pools_;
  Family family_;
  Clock clock_;
  DWORD handle_ = 0;
  std::span<std::byte> lastInput_;
  std::span<std::byte> lastOutput_;
  std::optional<DWORD> lastReadEnd_;
};

}  // namespace tgx::chanport
