#include "agent/http/http_client.hpp"

#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdlib>

#include <fmt/format.h>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/redirect_error.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/use_awaitable.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include "agent/http/response_reader.hpp"
#include "agent/http/web_pki_roots.hpp"
#include "util/fs/read_file.hpp"

// GCC 12 takes the results the coroutines here carry for uninitialised reads (a false positive:
// every result is constructed before it is read).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace valdori::http {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace bhttp = boost::beast::http;
namespace ssl = boost::asio::ssl;
using boost::system::error_code;
using tcp = asio::ip::tcp;
using TlsStream = beast::ssl_stream<beast::tcp_stream>;

// Adds every certificate of a PEM text to the context's trust store.
void trust_pem(ssl::context& context, std::string_view pem) {
  X509_STORE* store = SSL_CTX_get_cert_store(context.native_handle());
  BIO* bio = BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()));
  if (bio == nullptr) return;
  while (X509* cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr)) {
    X509_STORE_add_cert(store, cert);
    X509_free(cert);
  }
  BIO_free(bio);
}

ssl::context make_tls_context(const ClientOptions& options) {
  ssl::context context(ssl::context::tls_client);
  context.set_options(ssl::context::no_sslv2 | ssl::context::no_sslv3 | ssl::context::no_tlsv1 |
                      ssl::context::no_tlsv1_1);
  context.set_verify_mode(ssl::verify_peer);
  trust_pem(context, web_pki_roots_pem());
  for (const std::string& pem : options.extra_roots_pem) trust_pem(context, pem);
#ifdef VALDORI_TEST_EXTRA_ROOTS
  // Builds for the test suites only: lets a host driven from outside trust the tests' own CA.
  if (const char* file = std::getenv("VALDORI_TEST_EXTRA_ROOTS")) {
    if (auto pem = util::fs::read_file(file)) trust_pem(context, *pem);
  }
#endif
  return context;
}

// The name or address to look up: an IPv6 address without its brackets.
std::string lookup_name(const util::url::Host& host) {
  if (host.kind != util::url::Host::Kind::Ipv6) return host.serialized;
  return host.serialized.substr(1, host.serialized.size() - 2);
}

std::string request_target(const util::Url& url) {
  std::string target = url.path();
  if (const auto query = url.query()) target += "?" + std::string(*query);
  return target;
}

std::string host_header(const util::Url& url) {
  std::string host = url.host()->serialized;
  if (const auto port = url.port()) host += ":" + std::to_string(*port);
  return host;
}

HttpError request_failed(std::string_view step, const error_code& ec) {
  return {Stage::Request, fmt::format("{}: {}", step, ec.message())};
}

// One connection, plain or TLS, with its parser; its body is read on demand.
class Exchange final : public Response {
 public:
  Exchange(asio::any_io_executor executor, ssl::context& context, bool tls)
      : stream_(beast::tcp_stream(std::move(executor)), context), tls_(tls) {}

  beast::tcp_stream& tcp() { return stream_.next_layer(); }

  asio::awaitable<boost::system::result<void, HttpError>> start(const util::Url& url, Request request) {
    const std::string host = lookup_name(*url.host());
    const std::string port = std::to_string(url.port_or_default().value_or(0));

    error_code ec;
    tcp::resolver resolver(tcp().get_executor());
    auto endpoints = co_await resolver.async_resolve(host, port, asio::redirect_error(asio::use_awaitable, ec));
    if (ec) co_return request_failed(fmt::format("resolve {}", host), ec);
    co_await tcp().async_connect(endpoints, asio::redirect_error(asio::use_awaitable, ec));
    if (ec) co_return request_failed(fmt::format("connect to {}:{}", host, port), ec);

    if (tls_) {
      error_code ip_ec;
      asio::ip::make_address(host, ip_ec);
      // SNI names hosts only, never addresses.
      // (SSL_set_tlsext_host_name spelled out: the macro casts in C style.)
      if (ip_ec && SSL_ctrl(stream_.native_handle(), SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name,
                            const_cast<char*>(host.c_str())) != 1) {
        co_return HttpError{Stage::Request, "cannot set the TLS server name"};
      }
      stream_.set_verify_callback(ssl::host_name_verification(host));
      co_await stream_.async_handshake(ssl::stream_base::client, asio::redirect_error(asio::use_awaitable, ec));
      if (ec) co_return request_failed("TLS handshake", ec);
    }

    bhttp::request<bhttp::string_body> head;
    head.method_string(request.method);
    head.target(request_target(url));
    head.version(11);
    head.set(bhttp::field::host, host_header(url));
    for (auto& [name, value] : request.headers) head.insert(name, value);
    if (!request.body.empty() || request.method != "GET") {
      head.body() = std::move(request.body);
      head.prepare_payload();
    }
    if (tls_) {
      co_await bhttp::async_write(stream_, head, asio::redirect_error(asio::use_awaitable, ec));
    } else {
      co_await bhttp::async_write(tcp(), head, asio::redirect_error(asio::use_awaitable, ec));
    }
    if (ec) co_return request_failed("send", ec);

    if (tls_) co_return co_await reader_.read_head(stream_);
    co_return co_await reader_.read_head(tcp());
  }

  unsigned status() const override { return reader_.status(); }

  std::optional<std::string> header(std::string_view name) const override { return reader_.header(name); }

  asio::awaitable<boost::system::result<std::string, HttpError>> read_body() override {
    if (tls_) co_return co_await reader_.read_body(stream_);
    co_return co_await reader_.read_body(tcp());
  }

 private:
  TlsStream stream_;
  bool tls_;
  ResponseReader reader_;
};

}  // namespace

std::string status_text(unsigned code) {
  if (code == 418) return "418 I'm a teapot";  // known to clients, absent from the library's table
  const std::string_view reason = bhttp::obsolete_reason(bhttp::int_to_status(code));
  if (reason == "<unknown-status>") return std::to_string(code);
  return fmt::format("{} {}", code, reason);
}

struct HttpClient::Impl {
  asio::any_io_executor executor;
  ssl::context tls;
};

HttpClient::HttpClient(asio::any_io_executor executor, ClientOptions options)
    : impl_(std::make_unique<Impl>(Impl{std::move(executor), make_tls_context(options)})) {}

HttpClient::~HttpClient() = default;

asio::awaitable<boost::system::result<std::unique_ptr<Response>, HttpError>> HttpClient::send(
    const util::Url& url, Request request, std::optional<std::chrono::steady_clock::duration> deadline) {
  const std::string_view scheme = url.scheme();
  if (scheme != "http" && scheme != "https") {
    co_return HttpError{Stage::Request, fmt::format("unsupported URL scheme '{}'", scheme)};
  }
  auto exchange = std::make_unique<Exchange>(impl_->executor, impl_->tls, scheme == "https");
  if (deadline) exchange->tcp().expires_after(*deadline);
  auto started = co_await exchange->start(url, std::move(request));
  if (!started) co_return started.error();
  co_return std::unique_ptr<Response>(std::move(exchange));
}

}  // namespace valdori::http

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
