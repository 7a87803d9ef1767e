// A port monitor plug-in for the tests: an in-memory printer per process that
// keeps what is written, answers reads from what the test fed it, and counts
// what the library asked. Built in variants that break the plug-in interface:
//   TESTMON_SHORT_TABLE  InitializePrintMonitor declares a table of 7 entries
//   TESTMON_NO_READ      neither table has ReadPort
//   TESTMON_NO_ENTRY     no entry point at all
// Port names steer failures: "NOSUCHPORT" fails OpenPort, "BADSTART" fails
// StartDocPort.
#include <algorithm>
#include <cstring>
#include <deque>
#include <string>

#include "tgx/portmon.h"
#include "tgx/win32.h"

namespace {

struct State {
  std::deque<char> toHost;
  std::string written;
  int readCalls = 0;
  int openPorts = 0;
  int endDocs = 0;
  uint32_t failWritesWith = 0;
  VI1284_COMMTIMEOUTS timeouts{};
  int timeoutCalls = 0;
} g_state;

const char kDeviceId[] = "MFG:Test;MDL:Monitor;CMD:1284.4;";
int g_port;  // the address is the port handle

int Failed(uint32_t error) {
  tgx::SetLastError(error);
  return 0;
}

std::string g_openName;  // the port most recently opened, for StartDocPort

int OpenNamed(const std::string& name, PORTMON_HANDLE* port) {
  g_openName = name;
  if (name == "NOSUCHPORT") return Failed(tgx::ERROR_FILE_NOT_FOUND);
  *port = &g_port;
  ++g_state.openPorts;
  return 1;
}

template <class Char>
std::string Narrow(const Char* text) {
  std::string out;
  while (*text) out.push_back(static_cast<char>(*text++));
  return out;
}

int OpenW(PORTMON_WCHAR* name, PORTMON_HANDLE* port) { return OpenNamed(Narrow(name), port); }
int OpenA(char* name, PORTMON_HANDLE* port) { return OpenNamed(name, port); }

int StartDoc(PORTMON_HANDLE, uint32_t level) {
  if (g_openName == "BADSTART") return Failed(tgx::ERROR_NOT_READY);
  return level == 1 || level == 2 ? 1 : Failed(tgx::ERROR_INVALID_PARAMETER);
}
int StartDocW(PORTMON_HANDLE port, PORTMON_WCHAR*, uint32_t, uint32_t level, uint8_t*) {
  return StartDoc(port, level);
}
int StartDocA(PORTMON_HANDLE port, char*, uint32_t, uint32_t level, uint8_t*) {
  return StartDoc(port, level);
}

int WritePort(PORTMON_HANDLE, uint8_t* buffer, uint32_t size, uint32_t* written) {
  *written = 0;
  if (g_state.failWritesWith) return Failed(g_state.failWritesWith);
  g_state.written.append(reinterpret_cast<char*>(buffer), size);
  *written = size;
  return 1;
}

[[maybe_unused]] int ReadPort(PORTMON_HANDLE, uint8_t* buffer, uint32_t size, uint32_t* read) {
  ++g_state.readCalls;
  const std::size_t n = std::min<std::size_t>(size, g_state.toHost.size());
  std::copy_n(g_state.toHost.begin(), n, buffer);
  g_state.toHost.erase(g_state.toHost.begin(), g_state.toHost.begin() + n);
  *read = static_cast<uint32_t>(n);
  return 1;
}

int EndDocPort(PORTMON_HANDLE) {
  ++g_state.endDocs;
  return 1;
}

int ClosePort(PORTMON_HANDLE) {
  --g_state.openPorts;
  return 1;
}

int GetData(uint32_t controlId, void* output, uint32_t outputSize, uint32_t* returned) {
  if (controlId != 0x16000C && controlId != 17) return Failed(tgx::ERROR_INVALID_FUNCTION);
  *returned = std::min<uint32_t>(sizeof kDeviceId, outputSize);
  std::memcpy(output, kDeviceId, *returned);
  return 1;
}
int GetDataW(PORTMON_HANDLE, uint32_t controlId, PORTMON_WCHAR*, PORTMON_WCHAR*, uint32_t,
             PORTMON_WCHAR* output, uint32_t outputSize, uint32_t* returned) {
  return GetData(controlId, output, outputSize, returned);
}
int GetDataA(PORTMON_HANDLE, uint32_t controlId, char*, char*, uint32_t, char* output,
             uint32_t outputSize, uint32_t* returned) {
  return GetData(controlId, output, outputSize, returned);
}

int SetTimeouts(PORTMON_HANDLE, VI1284_COMMTIMEOUTS* timeouts, uint32_t) {
  g_state.timeouts = *timeouts;
  ++g_state.timeoutCalls;
  return 1;
}

#ifdef TESTMON_NO_READ
#define TESTMON_READ nullptr
#else
#define TESTMON_READ ReadPort
#endif

PORTMON_MONITOREX g_monitor = {
#ifdef TESTMON_SHORT_TABLE
    7 * sizeof(void*),
#else
    sizeof(PORTMON_MONITOR_W),
#endif
    {nullptr, OpenW, nullptr, StartDocW, WritePort, TESTMON_READ, EndDocPort, ClosePort, nullptr,
     nullptr, nullptr, nullptr, GetDataW, SetTimeouts}};

}  // namespace

extern "C" {

// The variant without entry points exports them under other names.
#ifdef TESTMON_NO_ENTRY
#define TESTMON_NT_ENTRY InitializePrintMonitorMisnamed
#define TESTMON_9X_ENTRY InitializeMonitorExMisnamed
#else
#define TESTMON_NT_ENTRY InitializePrintMonitor
#define TESTMON_9X_ENTRY InitializeMonitorEx
#endif

PORTMON_MONITOREX* TESTMON_NT_ENTRY(PORTMON_WCHAR*) { return &g_monitor; }

int TESTMON_9X_ENTRY(char*, PORTMON_MONITOR_A* monitor) {
  *monitor = PORTMON_MONITOR_A{nullptr,      OpenA,      nullptr,   StartDocA,  WritePort,
                               TESTMON_READ, EndDocPort, ClosePort, nullptr,    nullptr,
                               nullptr,      nullptr,    GetDataA,  SetTimeouts};
  return 1;
}

// What the tests see of the printer.
void TestMonitor_Feed(const char* data, uint32_t size) {
  g_state.toHost.insert(g_state.toHost.end(), data, data + size);
}
const char* TestMonitor_Written() { return g_state.written.c_str(); }
int TestMonitor_ReadCalls() { return g_state.readCalls; }
int TestMonitor_OpenPorts() { return g_state.openPorts; }
int TestMonitor_EndDocs() { return g_state.endDocs; }
int TestMonitor_TimeoutCalls() { return g_state.timeoutCalls; }
uint32_t TestMonitor_ReadTimeoutConstant() { return g_state.timeouts.ReadTotalTimeoutConstant; }
void TestMonitor_FailWritesWith(uint32_t error) { g_state.failWritesWith = error; }
void TestMonitor_Reset() { g_state = State{}; }

}  // extern "C"
