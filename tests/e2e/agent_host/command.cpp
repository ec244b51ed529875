#include "tests/e2e/agent_host/command.hpp"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstring>

#include <fmt/format.h>
#include <fmt/ranges.h>

extern char** environ;

namespace valdori::e2e {

bool run_command(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);

  pid_t pid = 0;
  const int spawned = ::posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ);
  if (spawned != 0) {
    fmt::print(stderr, "cannot run '{}': {}\n", fmt::join(argv, " "), std::strerror(spawned));
    return false;
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      fmt::print(stderr, "cannot wait for '{}': {}\n", fmt::join(argv, " "), std::strerror(errno));
      return false;
    }
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
  fmt::print(stderr, "'{}' failed (wait status {})\n", fmt::join(argv, " "), status);
  return false;
}

}  // namespace valdori::e2e
