// A helper client process (helper_ppdt_client) driven from a test: one
// command line in, one answer line out.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "testsupport.h"

extern char** environ;

namespace tgx::ppdt::test {

class ClientProcess {
 public:
  // extraEnvironment: "NAME=value" entries added to (or overriding) ours;
  // library: the file the client loads instead of ppdtlib from its directory.
  explicit ClientProcess(const std::vector<std::string>& extraEnvironment = {},
                         const std::string& library = {}) {
    int toChild[2], fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0 || pipe2(fromChild, O_CLOEXEC) != 0) std::abort();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], STDOUT_FILENO);
    const std::string program = (tgx::test::BinDir() / "helper_ppdt_client").string();
    char* argv[] = {const_cast<char*>(program.c_str()),
                    library.empty() ? nullptr : const_cast<char*>(library.c_str()), nullptr};
    std::vector<std::string> environment = extraEnvironment;
    for (char** entry = environ; *entry; ++entry) environment.push_back(*entry);
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    in_ = toChild[1];
    out_ = fromChild[0];
  }

  // Kills the process (as a crash would: nothing is released by the library).
  ~ClientProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    close(in_);
    close(out_);
  }

  ClientProcess(const ClientProcess&) = delete;
  ClientProcess& operator=(const ClientProcess&) = delete;

  pid_t pid() const { return pid_; }

  // Sends a command; with waitForAnswer, returns its answer line ("" when
  // none came within the limit).
  std::string Command(const std::string& line, int limitMs = 25000) {
    const std::string text = line + "\n";
    if (write(in_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) return "";
    return Answer(limitMs);
  }

  // Sends a command without waiting; Answer() collects its line later.
  void Post(const std::string& line) {
    const std::string text = line + "\n";
    if (write(in_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) std::abort();
  }

  std::string Answer(int limitMs = 25000) {
    std::string line;
    char c;
    for (;;) {
      pollfd ready{out_, POLLIN, 0};
      if (poll(&ready, 1, limitMs) != 1) return "";
      if (read(out_, &c, 1) != 1) return "";
      if (c == '\n') return line;
      line += c;
    }
  }

  // The first word of the answer as a number.
  int Result(const std::string& line) {
    std::istringstream answer(Command(line));
    int result = 1000;
    answer >> result;
    return result;
  }

  // Ends the process (after "exit") and returns its exit status.
  int Exit() {
    Post("exit");
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
    return status;
  }

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
};

}  // namespace tgx::ppdt::test
