#include "port_server.h"

#include <string>

namespace tgx::ppdt {
namespace {

// The device path is built in a buffer of 260 characters, as the driver's
// callers do: the longest name that fits.
constexpr std::size_t kMaxDevicePath = 259;
// At most this many characters of the name are taken from the input area.
constexpr std::size_t kMaxNameCopy = 259;

void StoreResult(RequestBlock block, BOOL ok) {
  block.setSuccess(ok ? 1 : 0);
  block.setErrorCode(GetLastError());
}

}  // namespace

bool PortServer::Serve(RequestBlock block) {
  // Snapshot what decides the request: another process may write the block
  // while it is served; the areas themselves are only touched within bounds.
  const std::uint32_t requestCode = block.requestCode();
  const std::uint32_t processId = block.processId();
  const std::uint32_t controlCode = block.controlCode();
  bool running = true;
  SetLastError(ERROR_SUCCESS);
  switch (requestCode) {
    case kRequestOpen: Open(block); break;
    case kRequestClose: Close(block); break;
    case kRequestControl: Control(block); break;
    case kRequestQuit:
      block.setSuccess(1);
      block.setErrorCode(ERROR_SUCCESS);
      running = false;
      break;
    default: break;  // left as the library prepared it: it reads a failure
  }
  previousProcessId_ = processId;
  previousControlCode_ = controlCode;
  return running;
}

void PortServer::Open(RequestBlock block) {
  const char* area = reinterpret_cast<const char*>(block.inputArea());
  const std::string name(area, strnlen(area, kMaxNameCopy));
  device_.reset();
  std::string path(kDevicePathPrefix);
  path += name;
  if (path.size() > kMaxDevicePath) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    StoreResult(block, FALSE);
    return;
  }
  device_ = backend_.Open(path);
  StoreResult(block, device_ != nullptr);
}

void PortServer::Close(RequestBlock block) {
  BOOL ok = TRUE;
  if (device_) {
    device_.reset();
  } else {
    SetLastError(ERROR_INVALID_HANDLE);
    ok = FALSE;
  }
  StoreResult(block, ok);
}

bool PortServer::IsReadOfAnotherProcessAfterWrite(std::uint32_t processId,
                                                  std::uint32_t controlCode) const {
  const bool afterWrite =
      previousControlCode_ == kControlAdminWrite || previousControlCode_ == kControlResWrite;
  const bool read = controlCode == kControlAdminRead || controlCode == kControlResRead;
  return afterWrite && read && processId != previousProcessId_;
}

void PortServer::Control(RequestBlock block) {
  const std::uint32_t controlCode = block.controlCode();
  if (IsReadOfAnotherProcessAfterWrite(block.processId(), controlCode)) {
    block.setSuccess(1);
    block.setErrorCode(ERROR_SUCCESS);
    block.setByteCount(0);
    return;
  }
  const DWORD inputLength = block.inputLength();
  const DWORD outputLength = block.outputLength();
  DWORD returned = 0;
  BOOL ok = FALSE;
  if (!device_) {
    SetLastError(ERROR_INVALID_HANDLE);
  } else {
    ok = device_->Control(controlCode, inputLength ? block.inputArea() : nullptr, inputLength,
                          outputLength ? block.outputArea() : nullptr, outputLength, &returned);
  }
  // A write's count is what the device took from the input, so it is not
  // bounded by the output length; no count exceeds an area.
  block.setByteCount(RequestBlock::Clamp(returned));
  StoreResult(block, ok);
}

}  // namespace tgx::ppdt
