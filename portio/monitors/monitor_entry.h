// Building a port monitor plug-in from one set of port operations: the NT
// (UTF-16) and 9x (ANSI) tables of tgx/portmon.h over the same functions.
#pragma once

#include <string>

#include "tgx/portmon.h"
#include "tgx/win32.h"

namespace tgx::portio {

// The port name as the monitor works with it (names are ASCII in practice;
// other UTF-16 units are kept as UTF-8).
std::string NarrowPortName(const PORTMON_WCHAR* name);

// Sets the last error and returns FALSE, as every monitor function reports failure.
inline int MonitorFail(DWORD error) {
  SetLastError(error);
  return 0;
}

// The operations a monitor implements; the tables adapt the string flavours.
struct MonitorOperations {
  int (*open)(const std::string& name, PORTMON_HANDLE* port);
  int (*startDoc)(PORTMON_HANDLE port);
  int (*write)(PORTMON_HANDLE port, uint8_t* buffer, uint32_t size, uint32_t* written);
  int (*read)(PORTMON_HANDLE port, uint8_t* buffer, uint32_t size, uint32_t* read);
  int (*endDoc)(PORTMON_HANDLE port);
  int (*close)(PORTMON_HANDLE port);
  int (*getPrinterData)(PORTMON_HANDLE port, uint32_t controlId, const uint8_t* input,
                        uint32_t inputSize, uint8_t* output, uint32_t outputSize,
                        uint32_t* returned);
  int (*setTimeouts)(PORTMON_HANDLE port, const VI1284_COMMTIMEOUTS& timeouts);
};

// The tables over operations (a static of the plug-in).
template <const MonitorOperations& ops>
struct MonitorTables {
  static int OpenW(PORTMON_WCHAR* name, PORTMON_HANDLE* port) {
    return ops.open(NarrowPortName(name), port);
  }
  static int OpenA(char* name, PORTMON_HANDLE* port) { return ops.open(name, port); }
  static int StartDocW(PORTMON_HANDLE port, PORTMON_WCHAR*, uint32_t, uint32_t, uint8_t*) {
    return ops.startDoc(port);
  }
  static int StartDocA(PORTMON_HANDLE port, char*, uint32_t, uint32_t, uint8_t*) {
    return ops.startDoc(port);
  }
  static int GetDataW(PORTMON_HANDLE port, uint32_t id, PORTMON_WCHAR*, PORTMON_WCHAR* input,
                      uint32_t inputSize, PORTMON_WCHAR* output, uint32_t outputSize,
                      uint32_t* returned) {
    return ops.getPrinterData(port, id, reinterpret_cast<const uint8_t*>(input), inputSize,
                              reinterpret_cast<uint8_t*>(output), outputSize, returned);
  }
  static int GetDataA(PORTMON_HANDLE port, uint32_t id, char*, char* input, uint32_t inputSize,
                      char* output, uint32_t outputSize, uint32_t* returned) {
    return ops.getPrinterData(port, id, reinterpret_cast<const uint8_t*>(input), inputSize,
                              reinterpret_cast<uint8_t*>(output), outputSize, returned);
  }
  static int SetTimeouts(PORTMON_HANDLE port, VI1284_COMMTIMEOUTS* timeouts, uint32_t) {
    return timeouts ? ops.setTimeouts(port, *timeouts) : MonitorFail(ERROR_INVALID_PARAMETER);
  }

  static inline PORTMON_MONITOREX nt = {
      sizeof(PORTMON_MONITOR_W),
      {nullptr, OpenW, nullptr, StartDocW, ops.write, ops.read, ops.endDoc, ops.close, nullptr,
       nullptr, nullptr, nullptr, GetDataW, SetTimeouts}};
  static inline const PORTMON_MONITOR_A ansi = {
      nullptr,   OpenA,   nullptr, StartDocA, ops.write, ops.read, ops.endDoc,
      ops.close, nullptr, nullptr, nullptr,   nullptr,   GetDataA, SetTimeouts};
};

}  // namespace tgx::portio

// Defines the plug-in's two entry points over operations.
#define TGX_PORT_MONITOR_ENTRIES(operations)                                         \
  extern "C" PORTMON_MONITOREX* InitializePrintMonitor(PORTMON_WCHAR*) {             \
    return &::tgx::portio::MonitorTables<operations>::nt;                            \
  }                                                                                  \
  extern "C" int InitializeMonitorEx(char*, PORTMON_MONITOR_A* monitor) {            \
    if (!monitor) return ::tgx::portio::MonitorFail(::tgx::ERROR_INVALID_PARAMETER); \
    *monitor = ::tgx::portio::MonitorTables<operations>::ansi;                       \
    return 1;                                                                        \
  }
