// The request handling of ppdtport: one request block in, one answer out,
// with the port's device and the memory of the previous request. Kept apart
// from the program's waiting and signalling so that it can be driven directly.
#pragma once

#include <cstdint>
#include <memory>

#include "device.h"
#include "ppdt_shared.h"

namespace tgx::ppdt {

class PortServer {
 public:
  explicit PortServer(DeviceBackend& backend) : backend_(backend) {}

  // Acts on the request in block and writes the answer fields. Every length
  // read from the block is cut to its area before any memory is touched.
  // Returns false when the request was quit.
  bool Serve(RequestBlock block);

  bool deviceOpen() const { return device_ != nullptr; }
  // Closes the device, if open.
  void CloseDevice() { device_.reset(); }

 private:
  void Open(RequestBlock block);
  void Close(RequestBlock block);
  void Control(RequestBlock block);
  // True when this read from another process follows a write of the
  // administration or resource session: it is answered empty without the
  // device, so that a read cannot take the answer meant for the writer.
  bool IsReadOfAnotherProcessAfterWrite(std::uint32_t processId, std::uint32_t controlCode) const;

  DeviceBackend& backend_;
  std::unique_ptr<Device> device_;
  std::uint32_t previousProcessId_ = 0;
  std::uint32_t previousControlCode_ = 0;
};

}  // namespace tgx::ppdt
