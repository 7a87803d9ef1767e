// tgxchan print: a file or standard input to the print-job channel (0x10).
#include <fcntl.h>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "channel.h"
#include "command_support.h"
#include "commands.h"
#include "options.h"
#include "tgx/wire/agent_wire.h"

namespace tgx::tools {
namespace {

constexpr char kHelp[] =
    "Usage: tgxchan print [OPTIONS] PORT [FILE]\n"
    "Sends FILE (standard input when FILE is missing or '-') to the print-job channel\n"
    "(0x10) of the printer on PORT, shows the progress on a terminal and the number of\n"
    "bytes sent at the end. A failed or interrupted job is cancelled.\n\n"
    "Options:\n"
    "  -q, --quiet             no progress display\n"
    "  -b, --busy-wait=SECONDS how long to keep trying while the printer is busy\n"
    "                          (default 60)\n"
    "  -h, --help              show this help\n";

// The largest piece that one AuCbtSend carries.
constexpr std::size_t kPiece = agent::send::kMaxCount;
constexpr std::uint64_t kProgressIntervalMs = 100;

// A one-line progress display on standard error when it is a terminal.
class Progress {
 public:
  Progress(bool shown, std::uint64_t total) : shown_(shown), total_(total) {}

  void Add(std::size_t bytes) {
    done_ += bytes;
    const std::uint64_t now = NowMs();
    if (now - last_ >= kProgressIntervalMs) Show(now);
  }

  void Finish() {
    if (!shown_) return;
    Show(NowMs());
    std::fputc('\n', stderr);
  }

 private:
  void Show(std::uint64_t now) {
    last_ = now;
    if (!shown_) return;
    if (total_ > 0) {
      std::fprintf(stderr, "\r%llu of %llu bytes sent (%llu%%)",
                   static_cast<unsigned long long>(done_), static_cast<unsigned long long>(total_),
                   static_cast<unsigned long long>(done_ * 100 / total_));
    } else {
      std::fprintf(stderr, "\r%llu bytes sent", static_cast<unsigned long long>(done_));
    }
    std::fflush(stderr);
  }

  bool shown_;
  std::uint64_t total_;
  std::uint64_t done_ = 0;
  std::uint64_t last_ = 0;
};

// The input: a file opened for reading, or standard input.
class Input {
 public:
  explicit Input(const std::string& path)
      : fd_(path == "-" ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~Input() {
    if (fd_ > STDIN_FILENO) ::close(fd_);
  }
  Input(const Input&) = delete;
  Input& operator=(const Input&) = delete;
  int fd() const { return fd_; }

  // What one read brings, at most `buffer.size()` bytes: the count, 0 at the
  // end of the input, -1 when reading failed or a signal interrupted it.
  long Read(std::vector<std::uint8_t>& buffer) const {
    const ssize_t n = ::read(fd_, buffer.data(), buffer.size());
    return n < 0 ? -1 : static_cast<long>(n);
  }

 private:
  int fd_;
};

}  // namespace

int RunPrint(int argc, char** argv) {
  static const option kOptions[] = {{"quiet", no_argument, nullptr, 'q'},
                                    {"busy-wait", required_argument, nullptr, 'b'},
                                    {"help", no_argument, nullptr, 'h'},
                                    {nullptr, 0, nullptr, 0}};
  bool quiet = false;
  std::uint64_t busyWaitMs = 60000;
  for (int c; (c = getopt_long(argc, argv, "qb:h", kOptions, nullptr)) != -1;) {
    switch (c) {
      case 'q': quiet = true; break;
      case 'b': {
        const auto seconds = ParseNumber(optarg, 86400);
        if (!seconds) return ReportUsage(std::string("bad --busy-wait value '") + optarg + "'");
        busyWaitMs = *seconds * 1000;
        break;
      }
      case 'h': std::fputs(kHelp, stdout); return kExitSuccess;
      default: return ReportUsage("bad option for print");
    }
  }
  const int positional = argc - optind;
  if (positional < 1 || positional > 2) return ReportUsage("print takes PORT [FILE]");
  const std::string port = argv[optind];
  if (!ValidPortName(port)) return ReportUsage("bad port name '" + port + "'");
  const std::string path = positional == 2 ? argv[optind + 1] : "-";

  const Input input(path);
  if (input.fd() < 0) return ReportUsage("cannot open " + path + ": " + std::strerror(errno));
  struct stat info = {};
  const bool regular = ::fstat(input.fd(), &info) == 0 && S_ISREG(info.st_mode);
  if (!regular && path != "-" && !S_ISFIFO(info.st_mode) && !S_ISCHR(info.st_mode)) {
    return ReportUsage(path + " is not a file");
  }

  InstallInterruptHandler();
  AgentLibrary library;
  Channel channel(port, agent::kPrintJobChannel);
  if (const int rc = channel.Open(library); rc != kExitSuccess) return rc;

  Progress progress(!quiet && ::isatty(STDERR_FILENO),
                    regular ? static_cast<std::uint64_t>(info.st_size) : 0);
  std::uint64_t total = 0;
  std::vector<std::uint8_t> piece(kPiece);
  for (;;) {
    const long got = input.Read(piece);
    if (got < 0 && errno == EINTR && !Interrupted()) continue;
    if (got < 0 && !Interrupted()) {
      channel.CancelJobOnClose();
      progress.Finish();
      return ReportUsage("cannot read " + path + ": " + std::strerror(errno));
    }
    if (got <= 0) break;
    const std::int32_t status =
        SendAll(channel.socket(), std::span(piece).first(static_cast<std::size_t>(got)), busyWaitMs,
                [&](std::size_t n) {
                  total += n;
                  progress.Add(n);
                });
    if (status != 0) {
      channel.CancelJobOnClose();
      progress.Finish();
      return ReportFailure("printing to " + port + " failed after " + std::to_string(total) +
                               " bytes; the job is cancelled",
                           status);
    }
    if (Interrupted()) break;
  }
  progress.Finish();
  if (Interrupted()) {
    channel.CancelJobOnClose();
    std::fprintf(stderr, "%s: interrupted after %llu bytes; the job is cancelled\n", kProgram,
                 static_cast<unsigned long long>(total));
    return kExitInterrupted;
  }
  std::printf("%llu bytes sent to %s\n", static_cast<unsigned long long>(total), port.c_str());
  return kExitSuccess;
}

}  // namespace tgx::tools
