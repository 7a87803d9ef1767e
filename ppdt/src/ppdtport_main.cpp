// ppdtport: the worker of one 1394 port. Holds the port's device open and
// serves the requests that any process posts in the port's request block, one
// at a time, until it is told to quit or no process uses the port any more.
//
// Exit codes: 1 bad port index, 2 another worker serves the port, 0 otherwise.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "port_server.h"
#include "ppdt_shared.h"
#include "tgx/kobj.h"
#include "tgx/named_objects.h"

namespace tgx::ppdt {
namespace {

constexpr int kExitBadPortIndex = 1;
constexpr int kExitAlreadyRunning = 2;
constexpr std::string_view kPortIndexOption = "-PORT_IDX=";
// How long the worker waits for a request before it looks whether the port
// still has users.
constexpr DWORD kIdleCheckMs = 5000;

// The first argument, the program name included, that begins with
// "-PORT_IDX=", read as a decimal number the way atoi reads; -1 when there is
// none or the number does not fit.
int ParsePortIndex(int argc, char** argv) {
  for (int i = 0; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (!arg.starts_with(kPortIndexOption)) continue;
    errno = 0;
    const long value = std::strtol(argv[i] + kPortIndexOption.size(), nullptr, 10);
    if (errno == ERANGE || value < INT_MIN || value > INT_MAX) return -1;
    return static_cast<int>(value);
  }
  return -1;
}

// True while some process holds the port's calling-process mutex.
bool PortHasUsers(const ObjectNameForm& names, int port) {
  Handle probe = OpenMutexA(MUTEX_ALL_ACCESS, FALSE,
                            PortObjectNameFor(names, kCallingProcessMutexName, port).c_str());
  return static_cast<bool>(probe);
}

int Run(int argc, char** argv) {
  const ObjectNameForm& names = ProcessObjectNames();
  const int port = ParsePortIndex(argc, argv);
  if (!IsPortIndex(port)) return kExitBadPortIndex;

  EveryoneSecurity security;
  Handle presence =
      CreateMutexA(MakeEveryoneSecurityAttributes(security, kEveryoneProcessAccess), FALSE,
                   PortObjectNameFor(names, kWorkerPresenceMutexName, port).c_str());
  if (!presence || GetLastError() == ERROR_ALREADY_EXISTS) return kExitAlreadyRunning;

  Handle requestEvent = OpenEventA(EVENT_ALL_ACCESS, FALSE,
                                   PortObjectNameFor(names, kRequestEventName, port).c_str());
  Handle doneEvent =
      OpenEventA(EVENT_ALL_ACCESS, FALSE, PortObjectNameFor(names, kDoneEventName, port).c_str());
  Handle mapping = OpenFileMappingA(FILE_MAP_WRITE, FALSE,
                                    PortObjectNameFor(names, kRequestBlockName, port).c_str());
  MappedView view;
  if (mapping) view = MapViewOfFile(mapping, FILE_MAP_WRITE);

  PortServer server(SimulatorDeviceBackend());
  if (requestEvent && doneEvent && view && view.size() >= kRequestBlockSize) {
    // The request event is created signalled; the done event tells the
    // starting library that this worker is ready.
    ResetEvent(requestEvent);
    SetEvent(doneEvent);
    const RequestBlock block(view.data());
    for (bool running = true; running;) {
      const DWORD wait = WaitForSingleObject(requestEvent, ScaledTimeout(kIdleCheckMs));
      if (wait == WAIT_TIMEOUT) {
        if (!PortHasUsers(names, port)) break;
        continue;
      }
      if (wait != WAIT_OBJECT_0) break;
      running = server.Serve(block);
      SetEvent(doneEvent);
    }
  }

  // The end, also of a failed start: the final done signal releases a library
  // call that may still be waiting.
  view.reset();
  mapping.reset();
  requestEvent.reset();
  if (doneEvent) SetEvent(doneEvent);
  doneEvent.reset();
  server.CloseDevice();
  presence.reset();
  return 0;
}

}  // namespace
}  // namespace tgx::ppdt

int main(int argc, char** argv) { return tgx::ppdt::Run(argc, argv); }
