// Reading an HTTP/1.1 response from a connection: its head first, then, on demand, its body,
// capped at kBodyLimit. The client reads every response, plain or TLS, through this one parser.
// Interim (1xx) responses before the final one are read past, up to kMaxInterimResponses of them;
// 101 Switching Protocols, which no request here asks for, is taken as final, so its status fails.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <boost/asio/awaitable.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/system/result.hpp>

#include "agent/http/http_client.hpp"

// GCC 12 takes the coroutine frames of the templates below for mismatched new/delete pairs and the
// results they carry for uninitialised reads (false positives, as in the client).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

namespace valdori::http {

class ResponseReader {
 public:
  // A server rarely sends more than one or two before its answer.
  static constexpr unsigned kMaxInterimResponses = 16;

  ResponseReader();

  // Reads up to the end of the final response's head. A body announced above the cap fails as a
  // body would.
  template <class Stream>
  boost::asio::awaitable<boost::system::result<void, HttpError>> read_head(Stream& stream) {
    for (unsigned interim = 0;; ++interim) {
      boost::system::error_code ec;
      co_await boost::beast::http::async_read_header(stream, buffer_, *parser_,
                                                     boost::asio::redirect_error(boost::asio::use_awaitable, ec));
      if (ec) co_return head_failed(ec);
      if (!is_interim()) co_return boost::system::result<void, HttpError>{};
      if (interim == kMaxInterimResponses) co_return too_many_interim();
      start_response();
    }
  }

  // The rest of the response; the whole body.
  template <class Stream>
  boost::asio::awaitable<boost::system::result<std::string, HttpError>> read_body(Stream& stream) {
    boost::system::error_code ec;
    if (!parser_->is_done()) {
      co_await boost::beast::http::async_read(stream, buffer_, *parser_,
                                              boost::asio::redirect_error(boost::asio::use_awaitable, ec));
    }
    if (ec) co_return body_failed(ec);
    co_return std::move(parser_->get().body());
  }

  unsigned status() const { return parser_->get().result_int(); }
  // The first value of a header field, by case-insensitive name; raw bytes as received.
  std::optional<std::string> header(std::string_view name) const;

 private:
  // A fresh parser for the next response on the connection.
  void start_response();
  bool is_interim() const;
  static HttpError head_failed(const boost::system::error_code& ec);
  static HttpError body_failed(const boost::system::error_code& ec);
  static HttpError too_many_interim();

  boost::beast::flat_buffer buffer_;
  // Emplaced anew for each response: a parser reads one message only.
  std::optional<boost::beast::http::response_parser<boost::beast::http::string_body>> parser_;
};

}  // namespace valdori::http

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
