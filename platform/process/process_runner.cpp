#include "platform/process/process_runner.hpp"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>

#include <boost/asio/posix/stream_descriptor.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/use_awaitable.hpp>

#include "util/runtime/race.hpp"

extern char** environ;

namespace valdori::platform {
namespace {

namespace asio = boost::asio;

// Programs print a line or two; more is not a fact worth keeping.
constexpr std::size_t kOutputLimit = 64 * 1024;

asio::awaitable<std::string> read_all(asio::posix::stream_descriptor& out) {
  std::string text;
  std::array<char, 4096> chunk{};
  for (;;) {
    boost::system::error_code ec;
    const std::size_t n =
        co_await out.async_read_some(asio::buffer(chunk), asio::redirect_error(asio::use_awaitable, ec));
    text.append(chunk.data(), n);
    if (ec || text.size() > kOutputLimit) co_return text;
  }
}

class SpawningRunner final : public ProcessRunner {
 public:
  explicit SpawningRunner(asio::any_io_executor executor) : executor_(std::move(executor)) {}

  asio::awaitable<std::optional<std::string>> run(std::string program, std::vector<std::string> args,
                                                  std::chrono::milliseconds limit) override {
    std::array<int, 2> pipe_fds{};
    if (::pipe2(pipe_fds.data(), O_CLOEXEC) != 0) co_return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::vector<char*> argv{program.data()};
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = ::posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipe_fds[1]);
    if (spawned != 0) {
      ::close(pipe_fds[0]);
      co_return std::nullopt;
    }
    asio::posix::stream_descriptor out(executor_, pipe_fds[0]);
    auto text = co_await util::with_timeout(read_all(out), limit);
    // Done reading (end of output, or out of time): the child has nothing more to say.
    ::kill(pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    co_return text;
  }

 private:
  asio::any_io_executor executor_;
};

}  // namespace

std::shared_ptr<ProcessRunner> make_process_runner(asio::any_io_executor executor) {
  return std::make_shared<SpawningRunner>(std::move(executor));
}

}  // namespace valdori::platform
