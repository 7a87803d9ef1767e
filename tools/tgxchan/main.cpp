// tgxchan: a command-line client of the agent service. It prints files, sends
// management packets, listens for printer events and shows what a printer says
// about itself, through the agent client library.
#include <cstdio>
#include <cstring>

#include "channel.h"
#include "commands.h"

namespace {

void PrintHelp() {
  std::printf(
      "Usage: %s COMMAND [OPTIONS] PORT ...\n"
      "Talks to printers through the local agent service (127.0.0.1, port 50229 or\n"
      "TGX_AGENT_PORT). PORT names the printer port, for example LPT1 or USB001.\n\n"
      "Commands:\n",
      tgx::tools::kProgram);
  for (const tgx::tools::Command& c : tgx::tools::kCommands) {
    std::printf("  %-8s %s\n", c.name, c.summary);
  }
  std::printf(
      "\n'%s COMMAND --help' describes a command.\n\n"
      "Exit status: 0 success, 1 a printer, channel or agent service failure (reported\n"
      "with its result code and meaning), 2 a usage error, 130 interrupted.\n",
      tgx::tools::kProgram);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return tgx::tools::ReportUsage("no command given");
  if (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0 ||
      std::strcmp(argv[1], "help") == 0) {
    PrintHelp();
    return tgx::tools::kExitSuccess;
  }
  for (const tgx::tools::Command& c : tgx::tools::kCommands) {
    if (std::strcmp(argv[1], c.name) == 0) return c.run(argc - 1, argv + 1);
  }
  return tgx::tools::ReportUsage(std::string("unknown command '") + argv[1] + "'");
}
