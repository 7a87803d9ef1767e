// The exported functions: argument checks, the handle table, and dispatch to the
// port of the handle. No exception crosses this boundary.
#include <cstring>
#include <new>
#include <span>

#include "handle_table.h"
#include "monitor_port.h"
#include "parallel_port.h"
#include "port_name.h"
#include "tgx/portio.h"
#include "usb_port.h"

namespace tgx::portio {
namespace {

// Room for the port name in the port object, terminator included.
constexpr std::size_t kMaxPortName = 260;

HandleTable& Ports() {
  static HandleTable table;
  return table;
}

// Runs an export body; allocation failure and any other escape become errors.
template <class Body>
int Guarded(Body body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return Fail(ERROR_NOT_ENOUGH_MEMORY);
  } catch (...) {
    return Fail(ERROR_GEN_FAILURE);
  }
}

// A buffer argument is usable when it is present or empty.
bool Usable(const void* buffer, uint32_t size) { return buffer != nullptr || size == 0; }

int OpenPort(const char* name, const char* monitorLibrary, DWORD access, VI1284_HANDLE* handle) {
  if (!name || !handle) return Fail(ERROR_INVALID_PARAMETER);
  if (std::strlen(name) >= kMaxPortName) return Fail(ERROR_INVALID_NAME);
  const PlatformClass platform = CurrentPlatformClass();
  std::unique_ptr<Port> port;
  switch (ClassifyPortName(name, platform)) {
    case PortKind::kParallel: port = OpenParallelPort(name, access); break;
    case PortKind::kUsb: port = OpenUsbPort(name, platform); break;
    case PortKind::kNtMonitor: port = OpenNtMonitorPort(name, monitorLibrary, platform); break;
    case PortKind::k9xMonitor: port = Open9xMonitorPort(name, monitorLibrary); break;
  }
  if (!port) return FALSE;
  *handle = Ports().Add(std::move(port));
  return TRUE;
}

}  // namespace
}  // namespace tgx::portio

using namespace tgx;
using namespace tgx::portio;

extern "C" {

int Vi1284_OpenPort(const char* name, uint32_t access, VI1284_HANDLE* handle) {
  if (handle) *handle = 0;
  return Guarded([&] { return OpenPort(name, nullptr, access, handle); });
}

int Vi1284_OpenPort2(const char* name, const char* monitor_library, uint32_t access,
                     VI1284_HANDLE* handle) {
  if (handle) *handle = 0;
  if (!monitor_library) return Fail(ERROR_INVALID_PARAMETER);
  return Guarded([&] { return OpenPort(name, monitor_library, access, handle); });
}

int Vi1284_ClosePort(VI1284_HANDLE handle) {
  return Guarded([&] {
    std::unique_ptr<Port> port = Ports().Remove(handle);
    if (!port) return Fail(ERROR_INVALID_PARAMETER);
    return port->Close();
  });
}

int Vi1284_ReadPort(VI1284_HANDLE handle, void* buffer, uint32_t size, uint32_t* read) {
  if (read) *read = 0;
  return Guarded([&] {
    Port* port = Ports().Find(handle);
    if (!port || !read || !Usable(buffer, size)) return Fail(ERROR_INVALID_PARAMETER);
    return port->Read(std::span(static_cast<BYTE*>(buffer), size), read);
  });
}

int Vi1284_WritePort(VI1284_HANDLE handle, const void* buffer, uint32_t size, uint32_t* written) {
  if (written) *written = 0;
  return Guarded([&] {
    Port* port = Ports().Find(handle);
    if (!port || !written || !Usable(buffer, size)) return Fail(ERROR_INVALID_PARAMETER);
    return port->Write(std::span(static_cast<const BYTE*>(buffer), size), written);
  });
}

int Vi1284_IoControlPort(VI1284_HANDLE handle, uint32_t code, const void* input,
                         uint32_t input_size, void* output, uint32_t output_size,
                         uint32_t* returned) {
  if (returned) *returned = 0;
  return Guarded([&] {
    Port* port = Ports().Find(handle);
    if (!port || !returned || !Usable(input, input_size) || !Usable(output, output_size)) {
      return Fail(ERROR_INVALID_PARAMETER);
    }
    return port->IoControl(code, std::span(static_cast<const BYTE*>(input), input_size),
                           std::span(static_cast<BYTE*>(output), output_size), returned);
  });
}

int Vi1284_SetCommTimeouts(VI1284_HANDLE handle, const VI1284_COMMTIMEOUTS* timeouts) {
  return Guarded([&] {
    Port* port = Ports().Find(handle);
    if (!port || !timeouts) return Fail(ERROR_INVALID_PARAMETER);
    return port->SetTimeouts(*timeouts);
  });
}

}  // extern "C"
