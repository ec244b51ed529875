// valdori-super-peer: a super peer for tests and demonstrations (see usage()).
#include <fmt/format.h>

#include <sys/resource.h>

#include <boost/asio/signal_set.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

#include "p2p_core/identity/identity.hpp"
#include "tools/super_peer/command_line.hpp"
#include "tools/super_peer/server/super_peer.hpp"
#include "util/runtime/runtime.hpp"

namespace {

using namespace valdori;

boost::system::result<p2p::Identity, std::string> identity_of(const super_peer::CommandLine& line) {
  if (line.secret_key) return p2p::Identity(*line.secret_key, line.pow);
  auto generated = p2p::Identity::generate(line.difficulty);
  if (!generated) return p2p::display(generated.error());
  return *generated;
}

// Every TCP link takes a descriptor: allow as many as the system lets this process have.
void raise_descriptor_limit() {
  rlimit files{};
  if (::getrlimit(RLIMIT_NOFILE, &files) != 0 || files.rlim_cur == files.rlim_max) return;
  files.rlim_cur = files.rlim_max;
  if (::setrlimit(RLIMIT_NOFILE, &files) != 0)
    fmt::print(stderr, "cannot raise the descriptor limit: {}\n", std::strerror(errno));
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  auto line = super_peer::parse_command_line(args);
  if (!line) {
    fmt::print(stderr, "{}\n{}", line.error(), super_peer::usage(argv[0]));
    return 2;
  }
  if (line->help) {
    fmt::print("{}", super_peer::usage(argv[0]));
    return 0;
  }
  log::set_level(line->log_level);
  raise_descriptor_limit();
  auto identity = identity_of(*line);
  if (!identity) {
    fmt::print(stderr, "cannot create an identity: {}\n", identity.error());
    return 1;
  }

  util::Runtime runtime;
  // Installed before the URL is printed: whoever reads it may signal at once.
  boost::asio::signal_set stop_signals(runtime.executor(), SIGINT, SIGTERM);
  auto peer = super_peer::SuperPeer::start(runtime.executor(), *identity, line->options);
  if (!peer) {
    fmt::print(stderr, "cannot start: {}\n", peer.error());
    return 1;
  }
  fmt::print("{}\n", (*peer)->url().to_string());
  std::fflush(stdout);

  runtime.block_on(
      [&]() -> boost::asio::awaitable<void> { co_await stop_signals.async_wait(boost::asio::use_awaitable); }());
  (*peer)->stop();
  return 0;
}
