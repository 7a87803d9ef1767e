#include "port_requests.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "chanlib/object_names.h"
#include "chanlib/result_codes.h"
#include "tgx/named_objects.h"
#include "tgx/process.h"

namespace tgx::chanlib {
namespace {

// A run of the main pool, for the data of one request; freed on every path.
class TransferBuffer {
 public:
  TransferBuffer(SharedSet& set, std::size_t size) : set_(set) {
    NamedMutexLock lock(set_.buffersMutex());
    entry_ =
        AllocateBlocks(set_.mainPool(), static_cast<std::uint32_t>(std::max<std::size_t>(size, 1)));
    if (entry_ >= 0) set_.FlushTable();
  }
  ~TransferBuffer() {
    if (entry_ < 0) return;
    NamedMutexLock lock(set_.buffersMutex());
    FreeBlocks(set_.mainPool(), entry_);
    set_.FlushTable();
  }
  TransferBuffer(const TransferBuffer&) = delete;
  TransferBuffer& operator=(const TransferBuffer&) = delete;

  explicit operator bool() const { return entry_ >= 0; }
  std::span<std::byte> bytes() const { return AllocationBytes(set_.mainPool(), entry_); }
  std::int32_t locator() const {
    return BufferLocator{0, set_.mainPool().table[static_cast<std::size_t>(entry_)].firstBlock}
        .value();
  }
  void Fill(std::span<const std::uint8_t> data) const {
    if (!data.empty()) std::memcpy(bytes().data(), data.data(), data.size());
    set_.FlushTable();
  }

 private:
  SharedSet& set_;
  int entry_ = -1;
};

PortCommandRecord Request(PortCommand command) {
  PortCommandRecord record{};
  record.command = static_cast<std::uint32_t>(command);
  return record;
}

// The result of an answered request: the count on success (never more than
// was asked for), else the failure code with the worker's error as the last
// error.
int Outcome(const PortCommandRecord& answer, int failure, std::size_t limit = 0) {
  if (answer.status == kStatusSuccess) {
    return static_cast<int>(std::min<std::size_t>(answer.transferred, limit));
  }
  SetLastError(answer.error);
  return failure;
}

}  // namespace

int RunPortCommand(SharedSet& set, int port, PortCommandRecord& record) {
  {
    NamedMutexLock lock(set.portCommandsMutex());
    set.table().portCommand(port) = record;
    set.FlushTable();
  }
  // Requests are one at a time: a done signal already there is the late
  // answer of a request given up on, not this one's.
  ResetEvent(set.done(port));
  SetEvent(set.wakeUp(port));
  const DWORD waited = SpinThenWait(set.done(port), ScaledTimeout(kWorkerAnswerTimeoutMs));
  if (waited != WAIT_OBJECT_0) return kWorkerTimeout;
  NamedMutexLock lock(set.portCommandsMutex());
  PortCommandRecord& shared = set.table().portCommand(port);
  record = shared;
  shared = PortCommandRecord{};
  set.FlushTable();
  return kOk;
}

int PortRead(SharedSet& set, int port, std::span<std::uint8_t> into) {
  NamedMutexLock request(set.portRequestLock(port));
  TransferBuffer buffer(set, into.size());
  if (!buffer) return kNoPoolSpace;
  PortCommandRecord record = Request(PortCommand::kRead);
  record.readLength = static_cast<std::uint32_t>(into.size());
  record.bufferA = buffer.locator();
  if (const int sent = RunPortCommand(set, port, record); sent != kOk) return sent;
  const int read = Outcome(record, kReadFailed, into.size());
  if (read > 0) std::memcpy(into.data(), buffer.bytes().data(), static_cast<std::size_t>(read));
  return read;
}

int PortWriteFrom(SharedSet& set, int port, PortCommand command, std::int32_t locator,
                  std::uint32_t offset, std::uint32_t length) {
  NamedMutexLock request(set.portRequestLock(port));
  PortCommandRecord record = Request(command);
  record.writeLength = length;
  record.bufferB = locator;
  record.offsetB = offset;
  if (const int sent = RunPortCommand(set, port, record); sent != kOk) return sent;
  return Outcome(record, kWriteFailed, length);
}

int PortWrite(SharedSet& set, int port, PortCommand command, std::span<const std::uint8_t> data) {
  NamedMutexLock request(set.portRequestLock(port));
  TransferBuffer buffer(set, data.size());
  if (!buffer) return kNoPoolSpace;
  buffer.Fill(data);
  return PortWriteFrom(set, port, command, buffer.locator(), 0,
                       static_cast<std::uint32_t>(data.size()));
}

int PortIoControl(SharedSet& set, int port, DWORD code, std::span<const std::uint8_t> input,
                  std::span<std::uint8_t> output, DWORD* returned) {
  NamedMutexLock request(set.portRequestLock(port));
  *returned = 0;
  TransferBuffer in(set, input.size());
  TransferBuffer out(set, output.size());
  if (!in || !out) return kNoPoolSpace;
  in.Fill(input);
  PortCommandRecord record = Request(PortCommand::kIoControl);
  record.controlCode = code;
  record.writeLength = static_cast<std::uint32_t>(input.size());
  record.readLength = static_cast<std::uint32_t>(output.size());
  record.bufferA = in.locator();
  record.bufferB = out.locator();
  if (const int sent = RunPortCommand(set, port, record); sent != kOk) return sent;
  if (record.status != kStatusSuccess) return Outcome(record, kIoControlFailed);
  *returned = std::min<DWORD>(record.transferred, static_cast<DWORD>(output.size()));
  if (*returned > 0) std::memcpy(output.data(), out.bytes().data(), *returned);
  return kOk;
}

namespace {

// Open and close carry the port name, zero-terminated, in buffer B.
int NamedPortCommand(SharedSet& set, int port, PortCommand command, std::string_view name,
                     PortCommandRecord& record) {
  TransferBuffer buffer(set, name.size() + 1);
  if (!buffer) return kNoPoolSpace;
  std::vector<std::uint8_t> text(name.begin(), name.end());
  text.push_back(0);
  buffer.Fill(text);
  record = Request(command);
  record.writeLength = static_cast<std::uint32_t>(name.size());
  record.bufferB = buffer.locator();
  return RunPortCommand(set, port, record);
}

}  // namespace

int PortOpen(SharedSet& set, int port, std::string_view name, bool* writeOnly) {
  NamedMutexLock request(set.portRequestLock(port));
  PortCommandRecord record;
  if (const int sent = NamedPortCommand(set, port, PortCommand::kOpen, name, record); sent != kOk) {
    return sent;
  }
  if (record.status != kStatusSuccess) return Outcome(record, kPortNotOpen);
  *writeOnly = record.extra == kExtraOpenedWriteOnly;
  return kOk;
}

int PortClose(SharedSet& set, int port, std::string_view name) {
  NamedMutexLock request(set.portRequestLock(port));
  PortCommandRecord record;
  if (const int sent = NamedPortCommand(set, port, PortCommand::kClose, name, record);
      sent != kOk) {
    return sent;
  }
  return record.status == kStatusSuccess ? kOk : Outcome(record, kCloseFailed);
}

int PortEndWorker(SharedSet& set, int port) {
  NamedMutexLock request(set.portRequestLock(port));
  PortCommandRecord record = Request(PortCommand::kExit);
  return RunPortCommand(set, port, record);
}

int StartPortWorker(SharedSet& set, int port) {
  Handle& keepAlive = set.keepAlive(port);
  if (!keepAlive) {
    EveryoneSecurity security;
    keepAlive = CreateMutexA(MakeEveryoneSecurityAttributes(security, kEveryoneProcessAccess),
                             FALSE, NameOf(names::kWorkerKeepAlive, port).c_str());
    if (!keepAlive) return kNotInitialised;
  }
  if (Handle running =
          OpenMutexA(MUTEX_ALL_ACCESS, FALSE, NameOf(names::kWorkerPresence, port).c_str())) {
    return kOk;
  }

  ResetEvent(set.done(port));
  char commandLine[64];
  std::snprintf(commandLine, sizeof commandLine, "%s -LPT_INDEX=%d",
                set.family() == Family::k9x ? "chanport95.exe" : "chanportNT.exe", port);
  EveryoneSecurity security;
  STARTUPINFOA startup;
  GetStartupInfoA(&startup);
  startup.dwX = 0;
  startup.dwY = 0;
  startup.dwXCountChars = 80;
  startup.dwYCountChars = 100;
  startup.dwFlags = STARTF_USECOUNTCHARS;
  PROCESS_INFORMATION process;
  if (!CreateProcessA(nullptr, commandLine,
                      MakeEveryoneSecurityAttributes(security, kEveryoneProcessAccess), nullptr,
                      FALSE, DETACHED_PROCESS, nullptr, nullptr, &startup, &process)) {
    return kNotInitialised;
  }
  const DWORD ready = WaitForSingleObject(set.done(port), ScaledTimeout(kWorkerStartTimeoutMs));
  return ready == WAIT_OBJECT_0 ? kOk : kNotInitialised;
}

bool PortWorkerRunning(int port) {
  return static_cast<bool>(
      OpenMutexA(MUTEX_ALL_ACCESS, FALSE, NameOf(names::kWorkerPresence, port).c_str()));
}

void ReleasePortWorker(SharedSet& set, int port) { set.keepAlive(port).reset(); }

}  // namespace tgx::chanlib
