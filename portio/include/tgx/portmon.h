/* Port monitor plug-in interface.
 *
 * A port that is neither "LPT<d>" nor "USB<ddd>" is reached through a port
 * monitor: a shared library with a C function table in the shape and order of
 * the Windows print-monitor table. libportio finds the library through the
 * registry (below) or is given it by Vi1284_OpenPort2, loads it with dlopen and
 * binds one of two entry points by name:
 *
 *   NT interface  "InitializePrintMonitor": returns a PORTMON_MONITOREX whose
 *                 dwMonitorSize covers the whole 14-entry table, with OpenPort,
 *                 StartDocPort, WritePort, ReadPort, EndDocPort, ClosePort and
 *                 GetPrinterDataFromPort present. Names are UTF-16.
 *   9x interface  "InitializeMonitorEx": fills the caller's PORTMON_MONITOR_A
 *                 (ANSI names) and returns nonzero; OpenPort, ClosePort,
 *                 StartDocPort, EndDocPort, ReadPort and WritePort must be set.
 *
 * A monitor exports either entry point or both; the running platform decides
 * which one is used (NT family: InitializePrintMonitor). Absent entries are null.
 * Every function returns nonzero on success and zero on failure with the Win32
 * error code set by tgx::SetLastError (ERROR_IO_PENDING from ReadPort means
 * "nothing yet").
 *
 * How libportio drives a port:
 *   open   OpenPort(name) then StartDocPort (NT: level 1, zeroed DOC_INFO_1;
 *          9x: level 2, empty printer name, zeroed DOC_INFO_2);
 *   I/O    ReadPort / WritePort;
 *   control GetPrinterDataFromPort(port, control code, no value name, input,
 *          output); codes 0x16000C and 17 ask for the printer's IEEE 1284
 *          device ID (text without length prefix);
 *   time-outs SetPortTimeOuts with a VI1284_COMMTIMEOUTS record;
 *   close  EndDocPort then ClosePort.
 * EnumPorts, OpenPortEx, AddPort, AddPortEx, ConfigurePort and DeletePort are
 * carried in the table for completeness; libportio never calls them.
 *
 * Registry: a port belongs to the monitor under whose key it is listed,
 *   HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Print\Monitors\<monitor>\Ports\<port>
 * (the port's own settings are values of that key), and the monitor's library
 * file is the string value "Driver" of
 *   HKEY_LOCAL_MACHINE\System\CurrentControlSet\Control\Print\Monitors\<monitor>
 * A bare file name is looked for beside libportio first, then by dlopen's search. */
#ifndef TGX_PORTMON_H
#define TGX_PORTMON_H

#include <stdint.h>

#include "tgx/portio.h"

#ifndef __cplusplus
#include <uchar.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef char16_t PORTMON_WCHAR;
typedef void* PORTMON_HANDLE;
typedef void* PORTMON_HWND;

#define PORTMON_MONITORS_KEY "System\\CurrentControlSet\\Control\\Print\\Monitors"
#define PORTMON_DRIVER_VALUE "Driver"
#define PORTMON_PORTS_SUBKEY "Ports"

#define PORTMON_NT_ENTRY "InitializePrintMonitor"
#define PORTMON_9X_ENTRY "InitializeMonitorEx"

typedef struct PORTMON_DOC_INFO_1W {
  PORTMON_WCHAR* pDocName;
  PORTMON_WCHAR* pOutputFile;
  PORTMON_WCHAR* pDatatype;
} PORTMON_DOC_INFO_1W;

typedef struct PORTMON_DOC_INFO_2A {
  char* pDocName;
  char* pOutputFile;
  char* pDatatype;
  uint32_t dwMode;
  uint32_t JobId;
} PORTMON_DOC_INFO_2A;

/* NT table, UTF-16 names. The order is fixed: it is the binary interface. */
typedef struct PORTMON_MONITOR_W {
  int (*pfnEnumPorts)(PORTMON_WCHAR* name, uint32_t level, uint8_t* ports, uint32_t size,
                      uint32_t* needed, uint32_t* returned);
  int (*pfnOpenPort)(PORTMON_WCHAR* name, PORTMON_HANDLE* port);
  int (*pfnOpenPortEx)(PORTMON_WCHAR* portName, PORTMON_WCHAR* printerName, PORTMON_HANDLE* port,
                       struct PORTMON_MONITOR_W* monitor);
  int (*pfnStartDocPort)(PORTMON_HANDLE port, PORTMON_WCHAR* printerName, uint32_t jobId,
                         uint32_t level, uint8_t* docInfo);
  int (*pfnWritePort)(PORTMON_HANDLE port, uint8_t* buffer, uint32_t size, uint32_t* written);
  int (*pfnReadPort)(PORTMON_HANDLE port, uint8_t* buffer, uint32_t size, uint32_t* read);
  int (*pfnEndDocPort)(PORTMON_HANDLE port);
  int (*pfnClosePort)(PORTMON_HANDLE port);
  int (*pfnAddPort)(PORTMON_WCHAR* name, PORTMON_HWND window, PORTMON_WCHAR* monitorName);
  int (*pfnAddPortEx)(PORTMON_WCHAR* name, uint32_t level, uint8_t* buffer,
                      PORTMON_WCHAR* monitorName);
  int (*pfnConfigurePort)(PORTMON_WCHAR* name, PORTMON_HWND window, PORTMON_WCHAR* portName);
  int (*pfnDeletePort)(PORTMON_WCHAR* name, PORTMON_HWND window, PORTMON_WCHAR* portName);
  int (*pfnGetPrinterDataFromPort)(PORTMON_HANDLE port, uint32_t controlId,
                                   PORTMON_WCHAR* valueName, PORTMON_WCHAR* input,
                                   uint32_t inputSize, PORTMON_WCHAR* output, uint32_t outputSize,
                                   uint32_t* returned);
  int (*pfnSetPortTimeOuts)(PORTMON_HANDLE port, VI1284_COMMTIMEOUTS* timeouts, uint32_t reserved);
} PORTMON_MONITOR_W;

/* What InitializePrintMonitor returns. dwMonitorSize is the size of Monitor in
 * bytes; a table shorter than sizeof(PORTMON_MONITOR_W) is refused (on a 32-bit
 * build that is "more than 55 bytes", the size of 14 entries). */
typedef struct PORTMON_MONITOREX {
  uint32_t dwMonitorSize;
  PORTMON_MONITOR_W Monitor;
} PORTMON_MONITOREX;

/* 9x table, ANSI names, same order. */
typedef struct PORTMON_MONITOR_A {
  int (*pfnEnumPorts)(char* name, uint32_t level, uint8_t* ports, uint32_t size, uint32_t* needed,
                      uint32_t* returned);
  int (*pfnOpenPort)(char* name, PORTMON_HANDLE* port);
  int (*pfnOpenPortEx)(char* portName, char* printerName, PORTMON_HANDLE* port,
                       struct PORTMON_MONITOR_A* monitor);
  int (*pfnStartDocPort)(PORTMON_HANDLE port, char* printerName, uint32_t jobId, uint32_t level,
                         uint8_t* docInfo);
  int (*pfnWritePort)(PORTMON_HANDLE port, uint8_t* buffer, uint32_t size, uint32_t* written);
  int (*pfnReadPort)(PORTMON_HANDLE port, uint8_t* buffer, uint32_t size, uint32_t* read);
  int (*pfnEndDocPort)(PORTMON_HANDLE port);
  int (*pfnClosePort)(PORTMON_HANDLE port);
  int (*pfnAddPort)(char* name, PORTMON_HWND window, char* monitorName);
  int (*pfnAddPortEx)(char* name, uint32_t level, uint8_t* buffer, char* monitorName);
  int (*pfnConfigurePort)(char* name, PORTMON_HWND window, char* portName);
  int (*pfnDeletePort)(char* name, PORTMON_HWND window, char* portName);
  int (*pfnGetPrinterDataFromPort)(PORTMON_HANDLE port, uint32_t controlId, char* valueName,
                                   char* input, uint32_t inputSize, char* output,
                                   uint32_t outputSize, uint32_t* returned);
  int (*pfnSetPortTimeOuts)(PORTMON_HANDLE port, VI1284_COMMTIMEOUTS* timeouts, uint32_t reserved);
} PORTMON_MONITOR_A;

/* The entry points, as a monitor defines them. registryRoot is null. */
typedef PORTMON_MONITOREX* (*PORTMON_INITIALIZE_PRINT_MONITOR_FN)(PORTMON_WCHAR* registryRoot);
typedef int (*PORTMON_INITIALIZE_MONITOR_EX_FN)(char* registryRoot, PORTMON_MONITOR_A* monitor);

/* On a 9x "USBPRN" port libportio hands the monitor, right after StartDocPort,
 * the read time-out it keeps for the port: SetPortTimeOuts with
 * ReadTotalTimeoutConstant = PORTMON_USBPRN_READ_TIMEOUT and every other field 0. */
#define PORTMON_USBPRN_READ_TIMEOUT 500u

#ifdef __cplusplus
}
#endif

#endif /* TGX_PORTMON_H */
