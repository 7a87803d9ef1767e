// What the tests look at from outside: the shared objects by name, the port
// table, and the worker processes of this test's runtime directory.
#pragma once

#include <dirent.h>
#include <signal.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "ppdt_shared.h"
#include "tgx/kobj.h"
#include "tgx/win32.h"

namespace tgx::ppdt::test {

inline const ObjectNameForm& Names() {
  static const ObjectNameForm form(true);  // Linux reports Terminal Services
  return form;
}

inline bool MutexExists(const std::string& name) {
  return static_cast<bool>(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str()));
}

inline bool WorkerPresent(int port) {
  return MutexExists(PortObjectNameFor(Names(), kWorkerPresenceMutexName, port));
}

inline bool CallingProcessMutexExists(int port) {
  return MutexExists(PortObjectNameFor(Names(), kCallingProcessMutexName, port));
}

// Polls a condition for up to limitMs.
template <class Condition>
bool Eventually(Condition condition, DWORD limitMs = 15000) {
  const DWORD start = GetTickCount();
  while (!condition()) {
    if (GetTickCount() - start > limitMs) return false;
    Sleep(10);
  }
  return true;
}

// The port table as it is now (an open count and name per port); empty when
// no process holds the table.
struct TableSnapshot {
  bool present = false;
  std::uint32_t counts[kPortCount] = {};
  std::string names[kPortCount];
};

inline TableSnapshot ReadTable() {
  TableSnapshot snapshot;
  Handle mapping =
      OpenFileMappingA(FILE_MAP_WRITE, FALSE, ObjectNameFor(Names(), kPortTableName).c_str());
  if (!mapping) return snapshot;
  MappedView view = MapViewOfFile(mapping, FILE_MAP_WRITE);
  if (!view) return snapshot;
  snapshot.present = true;
  const PortTable table(view.data());
  for (int port = 0; port < kPortCount; ++port) {
    snapshot.counts[port] = table.entry(port).openCount();
    snapshot.names[port] = table.entry(port).name();
  }
  return snapshot;
}

// The ppdtport processes that run with this test's runtime directory.
inline std::vector<pid_t> WorkerPids() {
  std::vector<pid_t> pids;
  const std::string runtime = std::string("TGX_RUNTIME_DIR=") + std::getenv("TGX_RUNTIME_DIR");
  DIR* proc = opendir("/proc");
  if (!proc) return pids;
  while (dirent* entry = readdir(proc)) {
    const pid_t pid = std::atoi(entry->d_name);
    if (pid <= 0) continue;
    const std::string base = std::string("/proc/") + entry->d_name;
    std::ifstream cmdline(base + "/cmdline");
    std::string arg0;
    std::getline(cmdline, arg0, '\0');
    const std::string program = arg0.substr(arg0.rfind('/') + 1);
    if (program != "ppdtport" && program != "ppdtport.exe") continue;
    std::ifstream environ(base + "/environ");
    std::string variable;
    bool ours = false;
    while (std::getline(environ, variable, '\0')) ours = ours || variable == runtime;
    // A zombie has no environment left: it is not running.
    if (ours) pids.push_back(pid);
  }
  closedir(proc);
  return pids;
}

}  // namespace tgx::ppdt::test
