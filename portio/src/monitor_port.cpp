#include "monitor_port.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>
#include <string>
#include <type_traits>

#include "carry_over.h"
#include "device_file.h"
#include "monitor_registry.h"
#include "port_lock.h"
#include "tgx/library.h"
#include "tgx/portmon.h"

namespace tgx::portio {
namespace {

// Calls a monitor function: TRUE, or FALSE with the error the monitor
// reported (ERROR_GEN_FAILURE when it gave none).
template <class Call>
BOOL CallMonitor(Call call) {
  SetLastError(ERROR_SUCCESS);
  if (call()) return TRUE;
  return Fail(GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_GEN_FAILURE);
}

// The port name in UTF-16, the form NT monitors take (from UTF-8, the system's
// code page; a byte that is not UTF-8 stands for itself). Port names are
// shorter than 260 bytes, well within the 520 units a monitor accepts.
std::u16string WideName(std::string_view name) {
  std::u16string wide;
  for (std::size_t i = 0; i < name.size();) {
    const auto lead = static_cast<unsigned char>(name[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    char32_t code = length == 1 ? lead : lead & (0x3F >> (length - 1));
    bool valid = lead < 0x80 || (lead >= 0xC2 && lead <= 0xF4 && i + length <= name.size());
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(name[i + k]);
      valid = (next & 0xC0) == 0x80;
      code = (code << 6) | (next & 0x3F);
    }
    if (!valid || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      code = lead;
      i += 1;
    } else {
      i += length;
    }
    if (code >= 0x10000) {
      wide.push_back(static_cast<char16_t>(0xD800 + ((code - 0x10000) >> 10)));
      wide.push_back(static_cast<char16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
    } else {
      wide.push_back(static_cast<char16_t>(code));
    }
  }
  return wide;
}

// The monitor library: given by the caller, or the one the registry names.
Module LoadMonitor(std::string_view name, const char* monitorLibrary, MonitorInterface kind) {
  if (monitorLibrary) return Module::Load(monitorLibrary);
  const auto driver = FindPortMonitor(name, kind);
  if (!driver) return Module();
  return Module::Load(driver->c_str());
}

// The part both interfaces share: the loaded library, its table (either
// string flavour; the order is the same) and the monitor's port handle.
template <class Table>
class MonitorSession {
  // The string flavour of the table: UTF-16 (NT) or ANSI (9x).
  using Text = std::conditional_t<std::is_same_v<Table, PORTMON_MONITOR_W>, PORTMON_WCHAR, char>;

 public:
  MonitorSession(Module library, const Table& table)
      : library_(std::move(library)), table_(table) {}

  const Table& table() const { return table_; }
  PORTMON_HANDLE port() const { return port_; }
  bool open() const { return open_; }

  // Opens the monitor's port and starts a document on it; a start that fails
  // closes the port again.
  template <class DocInfo>
  BOOL Begin(Text* name, DWORD level, DocInfo& document) {
    PORTMON_HANDLE port = nullptr;
    if (!CallMonitor([&] { return table_.pfnOpenPort(name, &port); })) return FALSE;
    Text printer[1] = {};
    if (!CallMonitor([&] {
          return table_.pfnStartDocPort(port, printer, 0, level,
                                        reinterpret_cast<BYTE*>(&document));
        })) {
      const DWORD error = GetLastError();
      table_.pfnClosePort(port);
      return Fail(error);
    }
    port_ = port;
    open_ = true;
    return TRUE;
  }

  // Ends the document and closes the monitor's port, once.
  void EndAndClose() {
    if (!open_) return;
    open_ = false;
    table_.pfnEndDocPort(port_);
    table_.pfnClosePort(port_);
  }

  BOOL Read(std::span<BYTE> buffer, DWORD* read) {
    return CallMonitor([&] {
      return table_.pfnReadPort(port_, buffer.data(), static_cast<DWORD>(buffer.size()), read);
    });
  }

  BOOL Write(std::span<const BYTE> data, DWORD* written) {
    return CallMonitor([&] {
      return table_.pfnWritePort(port_, const_cast<BYTE*>(data.data()),
                                 static_cast<DWORD>(data.size()), written);
    });
  }

  BOOL GetPrinterData(DWORD code, std::span<const BYTE> input, std::span<BYTE> output,
                      DWORD* returned) {
    if (!table_.pfnGetPrinterDataFromPort) return Fail(ERROR_NOT_SUPPORTED);
    return CallMonitor([&] {
      return table_.pfnGetPrinterDataFromPort(
          port_, code, nullptr, reinterpret_cast<Text*>(const_cast<BYTE*>(input.data())),
          static_cast<DWORD>(input.size()), reinterpret_cast<Text*>(output.data()),
          static_cast<DWORD>(output.size()), returned);
    });
  }

  BOOL SetPortTimeOuts(const CommTimeouts& timeouts) {
    if (!table_.pfnSetPortTimeOuts) return Fail(ERROR_NOT_SUPPORTED);
    CommTimeouts copy = timeouts;
    return CallMonitor([&] { return table_.pfnSetPortTimeOuts(port_, &copy, 0); });
  }

 private:
  Module library_;
  Table table_;
  PORTMON_HANDLE port_ = nullptr;
  bool open_ = false;
};

class NtMonitorPort final : public Port {
 public:
  NtMonitorPort(PortLock lock, Module library, const PORTMON_MONITOR_W& table)
      : lock_(std::move(lock)), session_(std::move(library), table) {}
  ~NtMonitorPort() override { session_.EndAndClose(); }

  // Level 1 with an empty document record.
  BOOL Open(std::u16string name) {
    PORTMON_DOC_INFO_1W document{};
    return session_.Begin(name.data(), 1, document);
  }

  BOOL Read(std::span<BYTE> buffer, DWORD* read) override { return session_.Read(buffer, read); }
  BOOL Write(std::span<const BYTE> data, DWORD* written) override {
    return session_.Write(data, written);
  }
  BOOL IoControl(DWORD code, std::span<const BYTE> input, std::span<BYTE> output,
                 DWORD* returned) override {
    return session_.GetPrinterData(code, input, output, returned);
  }
  BOOL SetTimeouts(const CommTimeouts& timeouts) override {
    return session_.SetPortTimeOuts(timeouts);
  }
  BOOL Close() override {
    session_.EndAndClose();
    return TRUE;
  }

 private:
  PortLock lock_;  // released last, after the monitor let go of the port
  MonitorSession<PORTMON_MONITOR_W> session_;
};

class Win9xMonitorPort final : public Port {
 public:
  Win9xMonitorPort(Module library, const PORTMON_MONITOR_A& table, bool usbPrn)
      : session_(std::move(library), table), usbPrn_(usbPrn) {}
  ~Win9xMonitorPort() override { session_.EndAndClose(); }

  // Level 2 with a zeroed document record; a USB printer port is given its
  // read time-out.
  BOOL Open(std::string name) {
    PORTMON_DOC_INFO_2A document{};
    if (!session_.Begin(name.data(), 2, document)) return FALSE;
    if (usbPrn_ && session_.table().pfnSetPortTimeOuts) {
      CommTimeouts readTimeout{0, 0, PORTMON_USBPRN_READ_TIMEOUT, 0, 0};
      session_.table().pfnSetPortTimeOuts(session_.port(), &readTimeout, 0);
    }
    carry_.Clear();
    return TRUE;
  }

  BOOL Read(std::span<BYTE> buffer, DWORD* read) override {
    if (!session_.open()) return Fail(ERROR_ACCESS_DENIED);
    if (!usbPrn_) return session_.Read(buffer, read);
    // A first pass that fails or brings nothing is run once more.
    if (ReadUsbPrn(buffer, read) && *read != 0) return TRUE;
    if (!session_.open()) return FALSE;
    *read = 0;
    return ReadUsbPrn(buffer, read);
  }

  BOOL Write(std::span<const BYTE> data, DWORD* written) override {
    if (!session_.open()) return Fail(ERROR_ACCESS_DENIED);
    if (session_.Write(data, written)) return TRUE;
    const DWORD error = GetLastError();
    if (error == ERROR_CRC || error == ERROR_ACCESS_DENIED) PortLost();
    return Fail(error);
  }

  BOOL IoControl(DWORD code, std::span<const BYTE> input, std::span<BYTE> output,
                 DWORD* returned) override {
    if (!session_.open()) return Fail(ERROR_ACCESS_DENIED);
    return session_.GetPrinterData(code, input, output, returned);
  }

  BOOL SetTimeouts(const CommTimeouts& timeouts) override {
    if (!session_.open()) return Fail(ERROR_ACCESS_DENIED);
    if (usbPrn_) return TRUE;  // the port keeps the read time-out set at open
    return session_.SetPortTimeOuts(timeouts);
  }

  BOOL Close() override {
    session_.EndAndClose();
    return TRUE;
  }

 private:
  // USB printer ports deliver whole 256-byte chunks: read as many as the
  // shortfall needs, the carry-over first, the surplus kept for the next call.
  BOOL ReadUsbPrn(std::span<BYTE> buffer, DWORD* read) {
    std::size_t delivered = carry_.TakeInto(buffer);
    std::size_t planned =
        delivered < buffer.size() ? ((buffer.size() - delivered - 1) >> 8) + 1 : 0;
    for (; planned != 0 && delivered < buffer.size(); --planned) {
      std::array<BYTE, kUsbPrnChunk> chunk;
      DWORD got = 0;
      if (!session_.Read(chunk, &got)) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
          PortLost();
          *read = static_cast<DWORD>(delivered);
          return Fail(error);
        }
        got = 0;
      }
      got = std::min<DWORD>(got, kUsbPrnChunk);
      const std::size_t used = std::min<std::size_t>(got, buffer.size() - delivered);
      std::memcpy(buffer.data() + delivered, chunk.data(), used);
      delivered += used;
      carry_.Keep(std::span<const BYTE>(chunk).subspan(used, got - used));
      if (got == 0) break;
    }
    *read = static_cast<DWORD>(delivered);
    return TRUE;
  }

  void PortLost() { session_.EndAndClose(); }

  MonitorSession<PORTMON_MONITOR_A> session_;
  bool usbPrn_;
  CarryOver<kUsbPrnChunk> carry_;
};

template <class Table>
bool HasRequiredEntries(const Table& table, bool needPrinterData) {
  return table.pfnOpenPort && table.pfnStartDocPort && table.pfnWritePort && table.pfnReadPort &&
         table.pfnEndDocPort && table.pfnClosePort &&
         (!needPrinterData || table.pfnGetPrinterDataFromPort);
}

}  // namespace

std::unique_ptr<Port> OpenNtMonitorPort(std::string_view name, const char* monitorLibrary,
                                        PlatformClass platform) {
  auto lock = PortLock::Take(name, platform);
  if (!lock) return nullptr;
  Module library = LoadMonitor(name, monitorLibrary, MonitorInterface::kNt);
  if (!library) return nullptr;
  const auto initialize = library.Proc<PORTMON_INITIALIZE_PRINT_MONITOR_FN>(PORTMON_NT_ENTRY);
  if (!initialize) return nullptr;
  const PORTMON_MONITOREX* monitor = nullptr;
  if (!CallMonitor([&] { return (monitor = initialize(nullptr)) != nullptr; })) return nullptr;
  // The whole table must be there before any entry of it is read.
  if (monitor->dwMonitorSize < sizeof(PORTMON_MONITOR_W)) {
    SetLastError(ERROR_INVALID_DATA);
    return nullptr;
  }
  const PORTMON_MONITOR_W table = monitor->Monitor;
  if (!HasRequiredEntries(table, true)) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  auto port = std::make_unique<NtMonitorPort>(std::move(*lock), std::move(library), table);
  if (!port->Open(WideName(name))) return nullptr;
  return port;
}

std::unique_ptr<Port> Open9xMonitorPort(std::string_view name, const char* monitorLibrary) {
  Module library = LoadMonitor(name, monitorLibrary, MonitorInterface::k9x);
  if (!library) return nullptr;
  const auto initialize = library.Proc<PORTMON_INITIALIZE_MONITOR_EX_FN>(PORTMON_9X_ENTRY);
  if (!initialize) return nullptr;
  PORTMON_MONITOR_A table{};
  if (!CallMonitor([&] { return initialize(nullptr, &table); })) return nullptr;
  if (!HasRequiredEntries(table, false)) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  auto port = std::make_unique<Win9xMonitorPort>(std::move(library), table, IsUsbPrnPort(name));
  if (!port->Open(std::string(name))) return nullptr;
  return port;
}

}  // namespace tgx::portio
