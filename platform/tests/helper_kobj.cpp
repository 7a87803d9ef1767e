// A process that the kernel-object tests drive line by line: each command on
// standard input is answered by one line on standard output. Handles are
// numbered in the order they are obtained.
//
//   create-mutex NAME OWNED | open-mutex NAME           -> "<handle> <last error>"
//   create-event NAME MANUAL INITIAL | open-event NAME  -> "<handle> <last error>"
//   create-mapping NAME SIZE | open-mapping NAME        -> "<handle> <last error>"
//   wait H MS                                           -> "<wait result> <last error>"
//   release H | set H | close H                         -> "<BOOL> <last error>"
//   write H OFFSET TEXT                                 -> "1 0"
//   read H OFFSET LENGTH                                -> the bytes read
//   count MUTEX MAPPING N: N times, under the mutex, increments the 64-bit
//   counter at the start of the mapping in two separate steps -> "1 0"
//   (a handle of -1 means "none": failed creates and opens give it)
#include <sched.h>

#include <cstdint>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tgx/kobj.h"

namespace {

using namespace tgx;

std::vector<Handle> g_handles;

std::string Obtained(Handle handle) {
  const DWORD error = GetLastError();
  if (!handle) return "-1 " + std::to_string(error);
  g_handles.push_back(std::move(handle));
  return std::to_string(g_handles.size() - 1) + " " + std::to_string(error);
}

std::string Outcome(BOOL ok) { return std::to_string(ok) + " " + std::to_string(GetLastError()); }

Handle& At(std::size_t index) { return g_handles.at(index); }

std::string Run(const std::string& line) {
  SetLastError(ERROR_SUCCESS);  // each answer shows the error of its own command only
  std::istringstream in(line);
  std::string command, name;
  in >> command;
  if (command == "create-mutex") {
    int owned = 0;
    in >> name >> owned;
    return Obtained(CreateMutexA(nullptr, owned, name.c_str()));
  }
  if (command == "open-mutex") {
    in >> name;
    return Obtained(OpenMutexA(MUTEX_ALL_ACCESS, FALSE, name.c_str()));
  }
  if (command == "create-event") {
    int manual = 0, initial = 0;
    in >> name >> manual >> initial;
    return Obtained(CreateEventA(nullptr, manual, initial, name.c_str()));
  }
  if (command == "open-event") {
    in >> name;
    return Obtained(OpenEventA(EVENT_ALL_ACCESS, FALSE, name.c_str()));
  }
  if (command == "create-mapping") {
    DWORD size = 0;
    in >> name >> size;
    return Obtained(CreateFileMappingA(nullptr, PAGE_READWRITE, size, name.c_str()));
  }
  if (command == "open-mapping") {
    in >> name;
    return Obtained(OpenFileMappingA(FILE_MAP_WRITE, FALSE, name.c_str()));
  }
  std::size_t handle = 0;
  in >> handle;
  if (command == "wait") {
    long long milliseconds = 0;
    in >> milliseconds;
    const DWORD result = WaitForSingleObject(At(handle), static_cast<DWORD>(milliseconds));
    return std::to_string(result) + " " + std::to_string(GetLastError());
  }
  if (command == "release") return Outcome(ReleaseMutex(At(handle)));
  if (command == "set") return Outcome(SetEvent(At(handle)));
  if (command == "close") return Outcome(CloseHandle(At(handle)));
  if (command == "write" || command == "read") {
    std::size_t offset = 0;
    in >> offset;
    MappedView view = MapViewOfFile(At(handle), FILE_MAP_WRITE);
    if (command == "write") {
      std::string text;
      in >> text;
      std::memcpy(view.as<char>() + offset, text.data(), text.size());
      return "1 0";
    }
    std::size_t length = 0;
    in >> length;
    return std::string(view.as<char>() + offset, length);
  }
  if (command == "count") {
    std::size_t mapping = 0;
    int times = 0;
    in >> mapping >> times;
    MappedView view = MapViewOfFile(At(mapping), FILE_MAP_WRITE);
    auto* counter = view.as<volatile std::uint64_t>();
    for (int i = 0; i < times; ++i) {
      if (WaitForSingleObject(At(handle), INFINITE) != WAIT_OBJECT_0) return "0 wait";
      const std::uint64_t value = *counter;
      sched_yield();  // invites the other process in, were the mutex not excluding it
      *counter = value + 1;
      if (!ReleaseMutex(At(handle))) return "0 release";
    }
    return "1 0";
  }
  return "unknown command";
}

}  // namespace

int main() {
  std::string line;
  while (std::getline(std::cin, line)) {
    if (line == "exit") break;
    std::cout << Run(line) << std::endl;
  }
  return 0;
}
