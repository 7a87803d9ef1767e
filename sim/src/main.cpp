// printersim: plays printers for tests, demos and development.
#include <getopt.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "config.h"
#include "server.h"

namespace {

constexpr const char* kUsage =
    "Usage: printersim --config FILE [options]\n"
    "Plays one or more printers: a pty per printer that appears as a USB or parallel\n"
    "printer device, a loopback TCP port, an IEEE 1394 device socket, the simulator\n"
    "port monitor's socket and a control socket (see sim/README.md).\n"
    "\n"
    "  -c, --config FILE    printers to play (INI sections [printer NAME])\n"
    "  -r, --root DIR       device root: devices appear under DIR/dev, DIR/sys, DIR/proc\n"
    "                       (default: $TGX_DEVICE_ROOT, else /)\n"
    "      --control PATH   control socket (default: ROOT/run/printersim/control)\n"
    "      --monitor PATH   port monitor socket (default: ROOT/run/printersim/monitor)\n"
    "  -t, --trace          print every packet in both directions on standard error\n"
    "      --ready-fd FD    write \"ready\\n\" to FD once every device is present, then close it\n"
    "      --check          read the configuration, report errors and exit\n"
    "  -h, --help           this text\n";

enum LongOnly { kControl = 1000, kMonitor, kReadyFd, kCheck };

}  // namespace

int main(int argc, char** argv) {
  static const option kOptions[] = {{"config", required_argument, nullptr, 'c'},
                                    {"root", required_argument, nullptr, 'r'},
                                    {"control", required_argument, nullptr, kControl},
                                    {"monitor", required_argument, nullptr, kMonitor},
                                    {"trace", no_argument, nullptr, 't'},
                                    {"ready-fd", required_argument, nullptr, kReadyFd},
                                    {"check", no_argument, nullptr, kCheck},
                                    {"help", no_argument, nullptr, 'h'},
                                    {nullptr, 0, nullptr, 0}};
  std::string config_path;
  printersim::ServerOptions options;
  if (const char* root = std::getenv("TGX_DEVICE_ROOT"); root && *root) options.root = root;
  int ready_fd = -1;
  bool check_only = false;
  for (int opt; (opt = getopt_long(argc, argv, "c:r:th", kOptions, nullptr)) != -1;) {
    switch (opt) {
      case 'c': config_path = optarg; break;
      case 'r': options.root = optarg; break;
      case kControl: options.control_path = optarg; break;
      case kMonitor: options.monitor_path = optarg; break;
      case 't': options.trace = true; break;
      case kReadyFd: ready_fd = std::atoi(optarg); break;
      case kCheck: check_only = true; break;
      case 'h': std::fputs(kUsage, stdout); return 0;
      default: std::fputs(kUsage, stderr); return 2;
    }
  }
  if (config_path.empty() || optind != argc) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  std::ifstream in(config_path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "printersim: cannot read %s\n", config_path.c_str());
    return 2;
  }
  std::stringstream text;
  text << in.rdbuf();
  printersim::ConfigResult parsed = printersim::ParseConfig(text.str());
  if (!parsed.config) {
    std::fprintf(stderr, "printersim: %s: %s\n", config_path.c_str(), parsed.error.c_str());
    return 2;
  }
  if (check_only) return 0;

  signal(SIGPIPE, SIG_IGN);
  printersim::Server server(std::move(*parsed.config), options);
  if (std::string error = server.Start(); !error.empty()) {
    std::fprintf(stderr, "printersim: %s\n", error.c_str());
    return 1;
  }
  if (ready_fd >= 0) {
    static const char kReady[] = "ready\n";
    if (write(ready_fd, kReady, sizeof kReady - 1) < 0) {
      std::perror("printersim: --ready-fd");
    }
    close(ready_fd);
  }
  server.Run();
  return 0;
}
