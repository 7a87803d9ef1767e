#include "holder.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "testsupport.h"

extern char** environ;

namespace tgx::portio::test {

Holder::Holder(const char* port) {
  int toChild[2], fromChild[2];
  if (pipe2(toChild, O_CLOEXEC) != 0) return;
  if (pipe2(fromChild, O_CLOEXEC) != 0) {
    close(toChild[0]);
    close(toChild[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
  posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
  const std::string program = (tgx::test::BinDir() / "portio_helper_holder").string();
  char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(port), nullptr};
  if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ) != 0) pid_ = -1;
  posix_spawn_file_actions_destroy(&actions);
  close(toChild[0]);
  close(fromChild[1]);
  stdin_ = toChild[1];
  stdout_ = fromChild[0];
}

Holder::~Holder() {
  Kill();
  if (stdin_ >= 0) close(stdin_);
  if (stdout_ >= 0) close(stdout_);
}

std::string Holder::Report() {
  std::string line;
  char c;
  while (stdout_ >= 0 && read(stdout_, &c, 1) == 1 && c != '\n') line.push_back(c);
  return line;
}

int Holder::Release() {
  close(stdin_);
  stdin_ = -1;
  return Wait();
}

void Holder::Kill() {
  if (pid_ <= 0) return;
  kill(pid_, SIGKILL);
  Wait();
}

int Holder::Wait() {
  int status = -1;
  if (pid_ > 0) waitpid(pid_, &status, 0);
  pid_ = -1;
  return status;
}

}  // namespace tgx::portio::test
