// The sub-commands of the client program. Each takes its own arguments (its
// name first, as argv[0]) and returns the program's exit code.
#pragma once

namespace tgx::tools {

struct Command {
  const char* name;
  const char* summary;
  int (*run)(int argc, char** argv);
};

int RunPrint(int argc, char** argv);
int RunPacket(int argc, char** argv);
int RunListen(int argc, char** argv);
int RunInfo(int argc, char** argv);

inline constexpr Command kCommands[] = {
    {"print", "send a file or standard input to a printer's print-job channel", RunPrint},
    {"packet", "send a management packet and show the printer's answers", RunPacket},
    {"listen", "register for printer events and show each notification", RunListen},
    {"info", "show a printer's device ID and packet sizes", RunInfo},
};

}  // namespace tgx::tools
