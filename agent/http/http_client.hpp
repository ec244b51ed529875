// The agent's HTTP/1.1 client: one client for "http" and "https" URLs. TLS verifies the server's
// chain against the compiled-in web PKI roots (plus any extra roots the client was given) and
// its host name, with SNI set. Every request opens its own connection and closes it; redirects
// are not followed. Response bodies are capped, and a whole exchange can be given a deadline.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <boost/asio/any_io_executor.hpp>
#include <boost/asio/awaitable.hpp>
#include <boost/system/result.hpp>

#include "util/fs/read_file.hpp"
#include "util/url/url.hpp"

namespace valdori::http {

// The same cap as for network documents read from files.
inline constexpr std::size_t kBodyLimit = util::fs::kMaxDocumentBytes;

// Where an exchange failed: before the response head was complete (resolve, connect, TLS, send,
// head), or while its body was read.
enum class Stage { Request, Body };

struct HttpError {
  Stage stage;
  std::string message;
};

// "404 Not Found": the code, a blank and the standard reason phrase; the code alone when the
// code has none.
std::string status_text(unsigned code);

using Headers = std::vector<std::pair<std::string, std::string>>;

struct Request {
  std::string method;  // "GET" or "PUT"
  Headers headers;     // sent in this order after Host
  std::string body;
};

// A response whose head has arrived; its body is read on demand from the open connection.
class Response {
 public:
  virtual ~Response() = default;
  virtual unsigned status() const = 0;
  // The first value of a header field, by case-insensitive name; raw bytes as received.
  virtual std::optional<std::string> header(std::string_view name) const = 0;
  // The whole body (at most kBodyLimit bytes, else a Body failure).
  virtual boost::asio::awaitable<boost::system::result<std::string, HttpError>> read_body() = 0;
};

struct ClientOptions {
  // PEM certificates trusted besides the built-in roots (tests trust their own CA this way).
  std::vector<std::string> extra_roots_pem;
};

class HttpClient {
 public:
  // Trusts the built-in roots, the extra roots of `options` and, in builds made for the test
  // suites, the PEM file named by VALDORI_TEST_EXTRA_ROOTS.
  HttpClient(boost::asio::any_io_executor executor, ClientOptions options = {});
  ~HttpClient();
  HttpClient(const HttpClient&) = delete;
  HttpClient& operator=(const HttpClient&) = delete;

  // Sends `request` to the host and port of `url` (its path and query as the target) and waits
  // for the response head. `deadline`, when given, bounds the whole exchange, body included:
  // when it passes the connection is closed and the pending step fails.
  boost::asio::awaitable<boost::system::result<std::unique_ptr<Response>, HttpError>> send(
      const util::Url& url, Request request, std::optional<std::chrono::steady_clock::duration> deadline = {});

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace valdori::http
