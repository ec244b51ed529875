// A C++ host that compiles Boost.Asio itself, as the library does, and links the archive: the
// library's Asio stays its own. Runs a timer on its own io_context while the library's runtime
// runs, then prints the library's version.
#define BOOST_ASIO_SEPARATE_COMPILATION
#include <valdori_agent.h>
#include <boost/asio/impl/src.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>
#include <chrono>
#include <cstdio>

int main() {
  RuntimePtr* runtime = nullptr;
  if (valdori_agent_runtime(&runtime) != 0) return 1;
  boost::asio::io_context io;
  boost::asio::steady_timer timer(io, std::chrono::milliseconds(1));
  bool fired = false;
  timer.async_wait([&](boost::system::error_code error) { fired = !error; });
  io.run();
  valdori_agent_runtime_free(runtime);
  if (!fired) return 1;
  std::printf("%s\n", valdori_agent_version());
  return 0;
}
