// The response side of the agent's HTTP client: bytes from a server through the client's reader
// (interim responses read past, status line, header fields, a body by length, chunks or the end
// of the connection, within the body cap), over a local stream socket written in pieces, then
// handled as the controller client and the network document fetch handle a response (status text
// and error, redirect target, UTF-8 check).
//
// Input: one byte choosing the size of the pieces the server writes (1 + 7 * byte, up to 1786
// bytes), then the bytes of the response. Small pieces make the head and the chunks span several
// reads. A body that reads is within the cap, and when its length was announced it has that length.
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/local/stream_protocol.hpp>
#include <boost/asio/write.hpp>

#include "agent/agent/housekeeping/fetch_with_redirects.hpp"
#include "agent/controller/error.hpp"
#include "agent/http/response_reader.hpp"
#include "fuzz/fuzz_input.hpp"
#include "fuzz/local_stream.hpp"
#include "util/text/utf8.hpp"

namespace valdori::fuzz {
namespace {

namespace asio = boost::asio;
using Socket = asio::local::stream_protocol::socket;

asio::awaitable<void> serve(Socket server, std::span<const std::uint8_t> response, std::size_t piece) {
  while (!response.empty()) {
    const auto part = response.first(std::min(piece, response.size()));
    boost::system::error_code ec;
    co_await asio::async_write(server, asio::buffer(part.data(), part.size()),
                               asio::redirect_error(asio::use_awaitable, ec));
    if (ec) co_return;  // the client stopped reading
    response = response.subspan(part.size());
  }
  server.shutdown(Socket::shutdown_send);
}

// The length a response announces for its body, if it announces one the reader must keep to.
std::optional<std::size_t> announced_length(const http::ResponseReader& reader) {
  const unsigned status = reader.status();
  if (status / 100 == 1 || status == 204 || status == 304 || reader.header("Transfer-Encoding")) return std::nullopt;
  const auto value = reader.header("Content-Length");
  if (!value) return std::nullopt;
  std::size_t length = 0;
  const auto [end, ec] = std::from_chars(value->data(), value->data() + value->size(), length);
  if (ec != std::errc() || end != value->data() + value->size()) return std::nullopt;
  return length;
}

asio::awaitable<void> read(Socket client) {
  http::ResponseReader reader;
  if (const auto head = co_await reader.read_head(client); !head) co_return;
  const unsigned status = reader.status();
  check(status / 100 != 1 || status == 101);  // the final response
  (void)http::status_text(status);
  (void)controller::error::Error::from_status(status).to_string();
  if (const auto location = reader.header("Location")) {
    static const util::Url current = *util::Url::parse("https://controller.example/nodes/me/networks/config.toml");
    (void)agent::housekeeping::follow_location(current, *location);
  }
  const auto body = co_await reader.read_body(client);
  if (!body) co_return;
  check(body->size() <= http::kBodyLimit);
  if (const auto length = announced_length(reader)) check(body->size() == *length);
  (void)util::text::is_valid_utf8(*body);
}

}  // namespace
}  // namespace valdori::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace valdori::fuzz;
  FuzzInput input(data, size);
  const std::size_t piece = 1 + 7 * std::size_t{input.byte()};
  const auto response = input.bytes(size);

  const auto fds = socket_pair();
  asio::io_context io;
  Socket client(io, asio::local::stream_protocol(), fds[0]);
  Socket server(io, asio::local::stream_protocol(), fds[1]);
  asio::co_spawn(io, serve(std::move(server), response, piece), [](std::exception_ptr error) { check(!error); });
  run_to_end(io, read(std::move(client)));
  return 0;
}
