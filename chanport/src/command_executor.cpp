#include "command_executor.h"

#include <algorithm>
#include <cstring>

#include "tgx/port_name.h"

namespace tgx::chanport {

using chanlib::BufferLocator;
using chanlib::PortCommand;
using chanlib::PortCommandRecord;

namespace {

constexpr DWORD kReadSpacingMs = 10;
constexpr DWORD kUsbDescriptorCode = 0x220008;
constexpr std::size_t kUsbDescriptorSize = 18;

constexpr VI1284_COMMTIMEOUTS kNtTimeouts{100, 10, 500, 10, 3500};
constexpr VI1284_COMMTIMEOUTS k9xUsbTimeouts{100, 0, 2000, 500, 500};
constexpr VI1284_COMMTIMEOUTS k9xTimeouts{80, 10, 80, 10, 500};

void Succeed(PortCommandRecord& record) {
  record.status = chanlib::kStatusSuccess;
  record.error = ERROR_SUCCESS;
}

void Fail(PortCommandRecord& record, DWORD error) {
  record.status = chanlib::kStatusFailure;
  record.error = error;
}

void Report(PortCommandRecord& record, BOOL ok) {
  if (ok) {
    Succeed(record);
  } else {
    Fail(record, GetLastError());
  }
}

bool StartsWithNoCase(const std::string& text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
           return std::toupper(static_cast<unsigned char>(a)) ==
                  std::toupper(static_cast<unsigned char>(b));
         });
}

}  // namespace

CommandExecutor::CommandExecutor(const PortFunctions& port, PoolSource& pools, Family family,
                                 Clock clock)
    : port_(port), pools_(pools), family_(family), clock_(clock) {}

std::optional<std::span<std::byte>> CommandExecutor::Resolve(std::int32_t locator,
                                                             std::uint32_t offset,
                                                             std::uint32_t length) {
  const auto decoded = BufferLocator::Decode(locator);
  if (!decoded) return std::nullopt;
  const chanlib::PoolView* pool = pools_.Pool(decoded->pool);
  if (pool == nullptr) return std::nullopt;
  return chanlib::ResolveBuffer(*pool, decoded->block, offset, length);
}

bool CommandExecutor::Execute(PortCommandRecord& record) {
  SetLastError(ERROR_SUCCESS);
  switch (static_cast<PortCommand>(record.command.get())) {
    case PortCommand::kNone:
      Succeed(record);
      clock_.sleep(1);
      return true;
    case PortCommand::kRead: Read(record); return true;
    case PortCommand::kWriteTransaction:
    case PortCommand::kWriteData: Write(record); return true;
    case PortCommand::kIoControl: IoControl(record); return true;
    case PortCommand::kOpen: Open(record); return true;
    case PortCommand::kClose: Close(record); return true;
    case PortCommand::kExit: return false;
  }
  return true;  // unknown: answered unchanged
}

void CommandExecutor::Read(PortCommandRecord& record) {
  const std::uint32_t length = record.readLength;
  const auto buffer = Resolve(record.bufferA, record.offsetA, length);
  record.transferred = 0;
  if (!buffer) {
    record.status = chanlib::kStatusFailure;
    record.extra = chanlib::kExtraNoReadBuffer;
    return;
  }
  if (lastReadEnd_ && clock_.tickCount() - *lastReadEnd_ < kReadSpacingMs) {
    clock_.sleep(kReadSpacingMs);
  }
  DWORD read = 0;
  Report(record, port_.read(handle_, buffer->data(), length, &read));
  record.transferred = std::min(read, length);
  lastReadEnd_ = clock_.tickCount();
}

void CommandExecutor::Write(PortCommandRecord& record) {
  const std::uint32_t length = record.writeLength;
  const auto buffer = Resolve(record.bufferB, record.offsetB, length);
  record.transferred = 0;
  if (!buffer) {
    Fail(record, ERROR_INVALID_PARAMETER);
    return;
  }
  DWORD written = 0;
  Report(record, port_.write(handle_, buffer->data(), length, &written));
  record.transferred = std::min(written, length);
}

void CommandExecutor::IoControl(PortCommandRecord& record) {
  const std::uint32_t inputSize = record.writeLength;
  const std::uint32_t outputSize = record.readLength;
  record.transferred = 0;
  // A negative locator names the buffer of the previous control request; a
  // size of 0 needs no buffer at all.
  const auto pick = [&](std::int32_t locator, std::uint32_t offset, std::uint32_t size,
                        std::span<std::byte>& last) -> std::optional<std::span<std::byte>> {
    if (size == 0) return std::span<std::byte>{};
    if (locator < 0) {
      if (last.size() < size) return std::nullopt;
      return last.first(size);
    }
    const auto buffer = Resolve(locator, offset, size);
    if (buffer) last = *buffer;
    return buffer;
  };
  const auto input = pick(record.bufferA, record.offsetA, inputSize, lastInput_);
  const auto output = pick(record.bufferB, record.offsetB, outputSize, lastOutput_);
  if (!input || !output) {
    Fail(record, ERROR_INVALID_PARAMETER);
    return;
  }
  DWORD returned = 0;
  Report(record, port_.ioControl(
                     handle_, record.controlCode, input->empty() ? nullptr : input->data(),
                     inputSize, output->empty() ? nullptr : output->data(), outputSize, &returned));
  record.transferred = std::min(returned, outputSize);
}

void CommandExecutor::Open(PortCommandRecord& record) {
  ClosePort();
  record.extra = 0;
  const auto nameBytes = Resolve(record.bufferB, record.offsetB, record.writeLength);
  if (!nameBytes) {
    Fail(record, ERROR_INVALID_PARAMETER);
    return;
  }
  const auto* chars = reinterpret_cast<const char*>(nameBytes->data());
  const std::string name(chars, strnlen(chars, nameBytes->size()));

  VI1284_HANDLE handle = 0;
  bool opened = port_.open(name.c_str(), VI1284_GENERIC_READ | VI1284_GENERIC_WRITE, &handle);
  if (!opened && ParallelPortDigit(name)) {
    opened = port_.open(name.c_str(), VI1284_GENERIC_WRITE, &handle);
    if (opened) record.extra = chanlib::kExtraOpenedWriteOnly;
  }
  if (!opened) {
    Fail(record, GetLastError());
    return;
  }
  handle_ = handle;
  const VI1284_COMMTIMEOUTS timeouts = TimeoutsFor(name);
  if (!port_.setTimeouts(handle_, &timeouts)) {
    Fail(record, GetLastError());
    ClosePort();
    return;
  }
  Succeed(record);
}

VI1284_COMMTIMEOUTS CommandExecutor::TimeoutsFor(const std::string& name) {
  if (family_ == Family::kNt) return kNtTimeouts;
  if (!StartsWithNoCase(name, "LPT_USB")) return k9xTimeouts;
  std::uint8_t descriptor[kUsbDescriptorSize] = {};
  DWORD returned = 0;
  const bool read = port_.ioControl(handle_, kUsbDescriptorCode, nullptr, 0, descriptor,
                                    sizeof descriptor, &returned);
  const auto le16 = [&](std::size_t at) { return descriptor[at] | descriptor[at + 1] << 8; };
  const bool matches = read && descriptor[7] == 8 && le16(8) == 0x0598 && le16(10) == 0x0100;
  return matches ? k9xUsbTimeouts : k9xTimeouts;
}

void CommandExecutor::Close(PortCommandRecord& record) {
  const BOOL closed = port_.close(handle_);
  Report(record, closed);
  if (closed) handle_ = 0;
}

void CommandExecutor::ClosePort() {
  if (handle_ != 0) port_.close(handle_);
  handle_ = 0;
}

}  // namespace tgx::chanport
