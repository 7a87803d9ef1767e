#include "run_tgxchan.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "testsupport.h"

extern char** environ;

namespace tgx::test {
namespace {

using namespace std::chrono_literals;

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

Outcome RunTgxchan(const std::vector<std::string>& args, const std::string& input) {
  const auto dir = MakeTempDir("tgxchan");
  { std::ofstream(dir / "in", std::ios::binary) << input; }
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, (dir / "in").c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, 1, (dir / "out").c_str(), O_WRONLY | O_CREAT, 0600);
  posix_spawn_file_actions_addopen(&files, 2, (dir / "err").c_str(), O_WRONLY | O_CREAT, 0600);
  const std::string program = (BinDir() / "tgxchan").string();
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  Outcome outcome;
  const int spawned = posix_spawn(&pid, program.c_str(), &files, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  if (spawned != 0) return outcome;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + 20s;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
      break;
    }
    std::this_thread::sleep_for(5ms);
  }
  outcome.exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  outcome.out = ReadFile(dir / "out");
  outcome.err = ReadFile(dir / "err");
  return outcome;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace tgx::test
