#include "worker.h"

#include <array>
#include <cstring>
#include <string>

#include "chanlib/object_names.h"
#include "chanlib/shared_layout.h"
#include "command_executor.h"
#include "tgx/kobj.h"
#include "tgx/library.h"
#include "tgx/named_objects.h"

namespace tgx::chanport {
namespace {

using chanlib::NameOf;
namespace names = chanlib::names;

constexpr char kPortIndexOption[] = "-LPT_INDEX=";

// The port access library, bound by name.
class PortLibrary {
 public:
  bool Load() {
    module_ = Module::Load("portio.dll");
    if (!module_) return false;
    functions_.open = module_.Proc<decltype(functions_.open)>("Vi1284_OpenPort");
    functions_.close = module_.Proc<decltype(functions_.close)>("Vi1284_ClosePort");
    functions_.read = module_.Proc<decltype(functions_.read)>("Vi1284_ReadPort");
    functions_.write = module_.Proc<decltype(functions_.write)>("Vi1284_WritePort");
    functions_.ioControl = module_.Proc<decltype(functions_.ioControl)>("Vi1284_IoControlPort");
    functions_.setTimeouts =
        module_.Proc<decltype(functions_.setTimeouts)>("Vi1284_SetCommTimeouts");
    if (!functions_.open || !functions_.close || !functions_.read || !functions_.write ||
        !functions_.ioControl || !functions_.setTimeouts) {
      module_.reset();
      return false;
    }
    return true;
  }
  const PortFunctions& functions() const { return functions_; }

 private:
  Module module_;
  PortFunctions functions_{};
};

// The pools as the worker maps them: the main table's, and the overflow pools
// from 1 up to the one a locator needs, kept mapped once opened.
class SharedPools : public PoolSource {
 public:
  explicit SharedPools(const MappedView& mainTable)
      : main_(chanlib::PoolView::OfMainTable(mainTable.data())) {}

  const chanlib::PoolView* Pool(int number) override {
    if (number == 0) return &main_;
    if (number > chanlib::kOverflowPoolCount) return nullptr;
    for (int n = 1; n <= number; ++n) {
      Overflow& pool = overflow_[n];
      if (pool.view) continue;
      pool.mapping =
          OpenFileMappingA(FILE_MAP_WRITE, FALSE, NameOf(names::kOverflowPool, n).c_str());
      if (!pool.mapping) return nullptr;
      pool.view = MapViewOfFile(pool.mapping, FILE_MAP_WRITE);
      if (!pool.view || pool.view.size() < chanlib::overflow_pool::kSize) {
        pool.view.reset();
        pool.mapping.reset();
        return nullptr;
      }
      pool.pool = chanlib::PoolView::OfOverflowPool(pool.view.data());
    }
    return &*overflow_[number].pool;
  }

 private:
  struct Overflow {
    Handle mapping;
    MappedView view;
    std::optional<chanlib::PoolView> pool;
  };
  chanlib::PoolView main_;
  std::array<Overflow, chanlib::kOverflowPoolCount + 1> overflow_;
};

const Clock kSystemClock{[] { return GetTickCount(); }, [](DWORD ms) { Sleep(ms); }};

// The objects the worker opens; closed in reverse order on every path.
struct PortObjects {
  Handle wakeUp;
  Handle done;
  Handle commandsMutex;
  Handle mapping;
  MappedView view;

  bool Open(int port) {
    wakeUp = OpenEventA(EVENT_ALL_ACCESS, FALSE, NameOf(names::kPortWakeUp, port).c_str());
    if (!wakeUp) return false;
    done = OpenEventA(EVENT_ALL_ACCESS, FALSE, NameOf(names::kPortDone, port).c_str());
    if (!done) return false;
    commandsMutex = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, NameOf(names::kPortCommandsMutex).c_str());
    if (!commandsMutex) return false;
    mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, NameOf(names::kPortTable).c_str());
    if (!mapping) return false;
    view = MapViewOfFile(mapping, FILE_MAP_WRITE);
    return view && view.size() >= chanlib::main_table::kSize;
  }
};

bool KeptAlive(int port) {
  return static_cast<bool>(
      OpenMutexA(MUTEX_ALL_ACCESS, FALSE, NameOf(names::kWorkerKeepAlive, port).c_str()));
}

}  // namespace

std::optional<int> PortIndexFromArguments(int argc, const char* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const char* found = std::strstr(argv[i], kPortIndexOption);
    if (found == nullptr) continue;
    const std::string digits = found + std::strlen(kPortIndexOption);
    if (digits.empty() || digits.size() > 3 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
      return std::nullopt;
    }
    const int port = std::stoi(digits);
    if (port < 0 || port >= chanlib::kPortCount) return std::nullopt;
    return port;
  }
  return std::nullopt;
}

int RunWorker(int argc, const char* const* argv, chanlib::Family family) {
  const auto port = PortIndexFromArguments(argc, argv);
  if (!port) return kExitCannotStart;

  // One worker per port: a second one (even one racing the first to create
  // the presence mutex) leaves at once.
  const std::string presenceName = NameOf(names::kWorkerPresence, *port);
  if (Handle other = OpenMutexA(MUTEX_ALL_ACCESS, FALSE, presenceName.c_str())) {
    return kExitCannotStart;
  }
  EveryoneSecurity security;
  Handle presence = CreateMutexA(MakeEveryoneSecurityAttributes(security, kEveryoneProcessAccess),
                                 FALSE, presenceName.c_str());
  if (!presence || GetLastError() == ERROR_ALREADY_EXISTS) return kExitCannotStart;

  PortLibrary library;
  if (!library.Load()) return kExitCannotStart;
  PortObjects objects;
  if (!objects.Open(*port)) return kExitCannotStart;

  chanlib::MainTableView table(objects.view.data());
  SharedPools pools(objects.view);
  CommandExecutor executor(library.functions(), pools, family, kSystemClock);

  ResetEvent(objects.wakeUp);
  SetEvent(objects.done);

  for (;;) {
    const DWORD waited = SpinThenWait(objects.wakeUp, ScaledTimeout(kIdleCheckMs));
    if (waited == WAIT_TIMEOUT) {
      if (!KeptAlive(*port)) break;
      continue;
    }
    if (waited != WAIT_OBJECT_0) {
      SetEvent(objects.done);
      break;
    }
    chanlib::PortCommandRecord record;
    {
      NamedMutexLock lock(objects.commandsMutex);
      record = table.portCommand(*port);
    }
    if (!executor.Execute(record)) break;
    {
      NamedMutexLock lock(objects.commandsMutex);
      table.portCommand(*port) = record;
      FlushViewOfFile(objects.view);
    }
    SetEvent(objects.done);
  }

  executor.ClosePort();
  {
    NamedMutexLock lock(objects.commandsMutex);
    table.portCommand(*port).status = chanlib::kStatusSuccess;
    FlushViewOfFile(objects.view);
  }
  SetEvent(objects.done);
  return kExitOrderly;
}

}  // namespace tgx::chanport
