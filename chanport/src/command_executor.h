// What the per-port worker does with one port command record: the raw port
// call it names, on the buffers its locators name, with the outcome written
// back into the record. Every buffer is checked to lie inside the allocation its
// locator names before the port library may touch it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <type_traits>

#include "chanlib/buffer_pool.h"
#include "chanlib/family.h"
#include "chanlib/shared_layout.h"
#include "tgx/portio.h"
#include "tgx/win32.h"

namespace tgx::chanport {

// The six entry points of the port access library, with the types its public
// header declares them with. Each returns 1 for success and 0 for failure with
// the last error set.
struct PortFunctions {
  VI1284_OPENPORT_FN open;
  VI1284_CLOSEPORT_FN close;
  VI1284_READPORT_FN read;
  VI1284_WRITEPORT_FN write;
  VI1284_IOCONTROLPORT_FN ioControl;
  VI1284_SETCOMMTIMEOUTS_FN setTimeouts;
};
// The pointer types and the declarations must agree, or a changed export
// would be called through a stale type once bound by name.
static_assert(std::is_same_v<VI1284_OPENPORT_FN, decltype(&Vi1284_OpenPort)>);
static_assert(std::is_same_v<VI1284_CLOSEPORT_FN, decltype(&Vi1284_ClosePort)>);
static_assert(std::is_same_v<VI1284_READPORT_FN, decltype(&Vi1284_ReadPort)>);
static_assert(std::is_same_v<VI1284_WRITEPORT_FN, decltype(&Vi1284_WritePort)>);
static_assert(std::is_same_v<VI1284_IOCONTROLPORT_FN, decltype(&Vi1284_IoControlPort)>);
static_assert(std::is_same_v<VI1284_SETCOMMTIMEOUTS_FN, decltype(&Vi1284_SetCommTimeouts)>);

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
  VI1284_HANDLE portHandle() const { return handle_; }

 private:
  std::optional<std::span<std::byte>> Resolve(std::int32_t locator, std::uint32_t offset,
                                              std::uint32_t length);
  void Read(chanlib::PortCommandRecord& record);
  void Write(chanlib::PortCommandRecord& record);
  void IoControl(chanlib::PortCommandRecord& record);
  void Open(chanlib::PortCommandRecord& record);
  void Close(chanlib::PortCommandRecord& record);
  VI1284_COMMTIMEOUTS TimeoutsFor(const std::string& name);

  const PortFunctions& port_;
  PoolSource& pools_;
  Family family_;
  Clock clock_;
  VI1284_HANDLE handle_ = 0;
  std::span<std::byte> lastInput_;
  std::span<std::byte> lastOutput_;
  std::optional<DWORD> lastReadEnd_;
};

}  // namespace tgx::chanport
