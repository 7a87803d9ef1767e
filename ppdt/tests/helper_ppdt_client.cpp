// A client process that the tests drive line by line: it binds ppdtlib by
// name, as the agent service does, and answers each command on standard input
// with one line on standard output. Port and exclusive handles are numbered
// in the order they are obtained; data travels as hexadecimal.
//
//   open NAME                         -> "<result> <slot>"
//   close|jobopen|jobclose|jobflush|jobcancel|adminopen|adminclose|resopen|resclose SLOT
//                                     -> "<result>"
//   jobwrite|adminwrite|reswrite SLOT HEX       -> "<result> <transferred>"
//   adminread|resread|deviceid SLOT SIZE        -> "<result> <transferred> <hex>"
//   value SLOT                        -> the handle's value in hexadecimal
//   foreign VALUE                     -> "<result>" of PPDT_JobOpen on that value
//   xcreate NAME NUMBER               -> "<slot>" (-1: none)
//   xacquire|xrelease|xconfirm|xclose SLOT      -> "<result>"
//   init | term                       -> "<result>"
//   unload                            -> "1": the library is freed
// The library is ppdtlib from the client's directory, or the file named by the
// first argument.
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "tgx/library.h"
#include "tgx/ppdt.h"

namespace {

using Simple = int32_t (*)(PPDT_HANDLE);
using Write = int32_t (*)(PPDT_HANDLE, const void*, uint32_t, uint32_t*);
using Read = int32_t (*)(PPDT_HANDLE, void*, uint32_t, uint32_t*);
using Exclusive = int32_t (*)(PPDT_EXCLUSIVE_HANDLE);

tgx::Module g_library;
std::vector<PPDT_HANDLE> g_ports;
std::vector<PPDT_EXCLUSIVE_HANDLE> g_exclusive;

template <class T>
T Bind(const std::string& name) {
  T proc = g_library.Proc<T>(name.c_str());
  if (!proc) {
    std::fprintf(stderr, "missing export %s\n", name.c_str());
    std::exit(3);
  }
  return proc;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string text;
  char digits[3];
  for (uint8_t b : bytes) {
    std::snprintf(digits, sizeof digits, "%02x", b);
    text += digits;
  }
  return text.empty() ? "-" : text;
}

std::vector<uint8_t> Unhex(const std::string& text) {
  std::vector<uint8_t> bytes;
  for (std::size_t i = 0; i + 1 < text.size(); i += 2) {
    bytes.push_back(static_cast<uint8_t>(std::stoul(text.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::string Run(const std::string& line) {
  std::istringstream in(line);
  std::string command;
  in >> command;
  std::size_t slot = 0;
  if (command == "open") {
    std::string name;
    in >> name;
    PPDT_HANDLE handle = nullptr;
    const int32_t result =
        Bind<int32_t (*)(const char*, PPDT_HANDLE*)>("PPDT_OpenPort")(name.c_str(), &handle);
    if (result != 0) return std::to_string(result) + " -1";
    g_ports.push_back(handle);
    return "0 " + std::to_string(g_ports.size() - 1);
  }
  static const char* const kSimple[][2] = {
      {"close", "PPDT_ClosePort"},       {"jobopen", "PPDT_JobOpen"},
      {"jobclose", "PPDT_JobClose"},     {"jobflush", "PPDT_JobFlush"},
      {"jobcancel", "PPDT_JobCancel"},   {"adminopen", "PPDT_AdminOpen"},
      {"adminclose", "PPDT_AdminClose"}, {"resopen", "PPDT_ResOpen"},
      {"resclose", "PPDT_ResClose"}};
  for (const auto& [word, proc] : kSimple) {
    if (command == word) {
      in >> slot;
      return std::to_string(Bind<Simple>(proc)(g_ports.at(slot)));
    }
  }
  static const char* const kWrites[][2] = {{"jobwrite", "PPDT_JobWrite"},
                                           {"adminwrite", "PPDT_AdminWrite"},
                                           {"reswrite", "PPDT_ResWrite"}};
  for (const auto& [word, proc] : kWrites) {
    if (command == word) {
      std::string hex;
      in >> slot >> hex;
      const std::vector<uint8_t> data = Unhex(hex);
      uint32_t transferred = 0;
      const int32_t result = Bind<Write>(proc)(g_ports.at(slot), data.data(),
                                               static_cast<uint32_t>(data.size()), &transferred);
      return std::to_string(result) + " " + std::to_string(transferred);
    }
  }
  static const char* const kReads[][2] = {{"adminread", "PPDT_AdminRead"},
                                          {"resread", "PPDT_ResRead"},
                                          {"deviceid", "PPDT_GetDeviceID"}};
  for (const auto& [word, proc] : kReads) {
    if (command == word) {
      uint32_t size = 0;
      in >> slot >> size;
      std::vector<uint8_t> buffer(size);
      uint32_t transferred = 0;
      const int32_t result = Bind<Read>(proc)(g_ports.at(slot), buffer.data(), size, &transferred);
      buffer.resize(result == 0 ? transferred : 0);
      return std::to_string(result) + " " + std::to_string(transferred) + " " + Hex(buffer);
    }
  }
  if (command == "value") {
    in >> slot;
    char text[32];
    std::snprintf(text, sizeof text, "%jx", reinterpret_cast<uintmax_t>(g_ports.at(slot)));
    return text;
  }
  if (command == "foreign") {
    std::string value;
    in >> value;
    auto* handle = reinterpret_cast<PPDT_HANDLE>(std::stoull(value, nullptr, 16));
    return std::to_string(Bind<Simple>("PPDT_JobOpen")(handle));
  }
  if (command == "xcreate") {
    std::string name;
    uint32_t number = 0;
    in >> name >> number;
    PPDT_EXCLUSIVE_HANDLE handle = Bind<PPDT_EXCLUSIVE_HANDLE (*)(const char*, uint32_t)>(
        "PPDT_CreateExclusiveHandle")(name.c_str(), number);
    if (!handle) return "-1";
    g_exclusive.push_back(handle);
    return std::to_string(g_exclusive.size() - 1);
  }
  static const char* const kExclusive[][2] = {{"xacquire", "PPDT_AcquireExclusiveControlRight"},
                                              {"xrelease", "PPDT_ReleaseExclusiveControlRight"},
                                              {"xconfirm", "PPDT_ConfirmContinuation"},
                                              {"xclose", "PPDT_CloseExclusiveHandle"}};
  for (const auto& [word, proc] : kExclusive) {
    if (command == word) {
      in >> slot;
      return std::to_string(Bind<Exclusive>(proc)(g_exclusive.at(slot)));
    }
  }
  if (command == "init") return std::to_string(Bind<int32_t (*)()>("PPDT_Initialize")());
  if (command == "term") return std::to_string(Bind<int32_t (*)()>("PPDT_Terminate")());
  if (command == "unload") {
    g_library.reset();
    return "1";
  }
  return "unknown command";
}

}  // namespace

int main(int argc, char** argv) {
  g_library = tgx::Module::Load(argc > 1 ? argv[1] : "ppdtlib.dll");
  if (!g_library) {
    std::fprintf(stderr, "ppdtlib not loaded: %lu\n",
                 static_cast<unsigned long>(tgx::GetLastError()));
    return 3;
  }
  std::string line;
  while (std::getline(std::cin, line)) {
    if (line == "exit") break;
    std::cout << Run(line) << std::endl;
  }
  return 0;
}
