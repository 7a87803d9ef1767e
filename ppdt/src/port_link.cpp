#include "port_link.h"

#include <cstdio>
#include <cstring>

#include "tgx/process.h"

namespace tgx::ppdt {
namespace {

Handle CreateOrOpenMapping(bool creator, const std::string& name, DWORD size) {
  Handle mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE, name.c_str());
  if (mapping || !creator) return mapping;
  EveryoneSecurity security;
  return CreateFileMappingA(MakeEveryoneSecurityAttributes(security, kEveryoneMappingAccess),
                            PAGE_READWRITE, size, name.c_str());
}

Handle CreateOrOpenEvent(bool creator, const std::string& name, BOOL initialState) {
  if (!creator) return OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str());
  EveryoneSecurity security;
  return CreateEventA(MakeEveryoneSecurityAttributes(security, kEveryoneEventAccess), FALSE,
                      initialState, name.c_str());
}

Handle CreateOrOpenMutex(bool creator, const std::string& name) {
  if (!creator) return OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str());
  EveryoneSecurity security;
  return CreateMutexA(MakeEveryoneSecurityAttributes(security, kEveryoneMutexAccess), FALSE,
                      name.c_str());
}

int ResultOfFailedCall(std::uint32_t error) {
  switch (error) {
    case ERROR_DEV_NOT_EXIST: return kErrDevNotExist;
    case ERROR_BUSY: return kErrBusy;
    default: return kErrDevice;
  }
}

}  // namespace

std::unique_ptr<PortLink> PortLink::Connect(const ObjectNameForm& names) {
  std::unique_ptr<PortLink> link(new PortLink);
  const std::string tableName = ObjectNameFor(names, kPortTableName);
  bool creator = false;
  link->tableMapping_ = OpenFileMappingA(FILE_MAP_WRITE, FALSE, tableName.c_str());
  if (!link->tableMapping_) {
    EveryoneSecurity security;
    link->tableMapping_ =
        CreateFileMappingA(MakeEveryoneSecurityAttributes(security, kEveryonePortTableAccess),
                           PAGE_READWRITE, kPortTableSize, tableName.c_str());
    if (!link->tableMapping_) return nullptr;
    // Another process may have created the table between the open and the
    // create: then it is the creator, and its table must not be cleared.
    creator = GetLastError() != ERROR_ALREADY_EXISTS;
  }
  link->tableView_ = MapViewOfFile(link->tableMapping_, FILE_MAP_WRITE);
  if (!link->tableView_ || link->tableView_.size() < kPortTableSize) return nullptr;

  for (int port = 0; port < kPortCount; ++port) {
    Block& block = link->blocks_[port];
    block.mapping = CreateOrOpenMapping(creator, PortObjectNameFor(names, kRequestBlockName, port),
                                        kRequestBlockSize);
    if (!block.mapping) return nullptr;
    block.view = MapViewOfFile(block.mapping, FILE_MAP_WRITE);
    if (!block.view || block.view.size() < kRequestBlockSize) return nullptr;
  }
  for (int port = 0; port < kPortCount; ++port) {
    Events& events = link->events_[port];
    events.request =
        CreateOrOpenEvent(creator, PortObjectNameFor(names, kRequestEventName, port), TRUE);
    if (!events.request) return nullptr;
    events.done = CreateOrOpenEvent(creator, PortObjectNameFor(names, kDoneEventName, port), FALSE);
    if (!events.done) return nullptr;
  }
  link->tableMutex_ = CreateOrOpenMutex(creator, ObjectNameFor(names, kPortTableMutexName));
  if (!link->tableMutex_) return nullptr;
  for (int port = 0; port < kPortCount; ++port) {
    link->accessMutexes_[port] =
        CreateOrOpenMutex(creator, PortObjectNameFor(names, kAccessMutexName, port));
    if (!link->accessMutexes_[port]) return nullptr;
  }
  if (creator) link->table().Clear();
  return link;
}

int PortLink::SendPortRequest(int port, std::uint32_t request, std::uint32_t controlCode,
                              std::uint32_t inputLength, const void* input,
                              std::uint32_t outputLength, void* output,
                              std::uint32_t* transferred) {
  if (!IsPortIndex(port)) return kErrArgument;
  NamedMutexLock access(accessMutexes_[port]);
  if (!access) return kErrDevice;

  inputLength = RequestBlock::Clamp(inputLength);
  outputLength = RequestBlock::Clamp(outputLength);
  RequestBlock block(blocks_[port].view.data());
  block.setSuccess(0);
  block.setByteCount(0);
  block.setErrorCode(0);
  block.setRequestCode(request);
  block.setProcessId(GetCurrentProcessId());
  block.setControlCode(controlCode);
  block.setInputLength(inputLength);
  block.setOutputLength(outputLength);
  if (inputLength && input) std::memcpy(block.inputArea(), input, inputLength);
  if (controlCode == kControlJobWrite && outputLength && output) {
    std::memcpy(block.outputArea(), output, outputLength);
  }

  const Events& events = events_[port];
  ResetEvent(events.done);
  SetEvent(events.request);
  if (WaitForSingleObject(events.done, ScaledTimeout(kRequestTimeoutMs)) != WAIT_OBJECT_0) {
    return kErrTimeout;
  }
  if (!block.success()) return ResultOfFailedCall(block.errorCode());

  // The worker clamps the count; a block written by anyone else is not trusted.
  const std::uint32_t count = RequestBlock::Clamp(block.byteCount());
  if (transferred) *transferred = count;
  if (IsReadBackControl(controlCode) && output) {
    std::memcpy(output, block.outputArea(), count < outputLength ? count : outputLength);
  }
  return kOk;
}

bool PortLink::StartWorker(int port, const ObjectNameForm& names, Handle* started) {
  if (OpenMutexA(MUTEX_ALL_ACCESS, FALSE,
                 PortObjectNameFor(names, kWorkerPresenceMutexName, port).c_str())) {
    return true;  // a worker runs
  }
  const Handle& done = events_[port].done;
  ResetEvent(done);

  char commandLine[32];
  std::snprintf(commandLine, sizeof commandLine, "ppdtport.exe -PORT_IDX=%d", port);
  EveryoneSecurity security;
  STARTUPINFOA startup;
  GetStartupInfoA(&startup);
  PROCESS_INFORMATION process;
  if (!CreateProcessA(nullptr, commandLine,
                      MakeEveryoneSecurityAttributes(security, kEveryoneProcessAccess), nullptr,
                      FALSE, DETACHED_PROCESS, nullptr, nullptr, &startup, &process)) {
    return false;
  }
  if (WaitForSingleObject(done, ScaledTimeout(kWorkerStartTimeoutMs)) == WAIT_OBJECT_0) {
    *started = std::move(process.hProcess);
    return true;
  }
  DWORD exitCode = 0;
  if (GetExitCodeProcess(process.hProcess, &exitCode) && exitCode == STILL_ACTIVE) {
    TerminateProcess(process.hProcess, 0);
  }
  return false;
}

}  // namespace tgx::ppdt
