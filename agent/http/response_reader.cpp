#include "agent/http/response_reader.hpp"

#include <fmt/format.h>
#include <boost/beast/http/error.hpp>

namespace valdori::http {
namespace {

namespace bhttp = boost::beast::http;

std::string body_limit_text() { return fmt::format("the body exceeds the limit of {} bytes", kBodyLimit); }

}  // namespace

ResponseReader::ResponseReader() { start_response(); }

void ResponseReader::start_response() {
  parser_.emplace();
  parser_->body_limit(kBodyLimit);
}

bool ResponseReader::is_interim() const { return status() / 100 == 1 && status() != 101; }

std::optional<std::string> ResponseReader::header(std::string_view name) const {
  const auto& fields = parser_->get();
  const auto found = fields.find(name);
  if (found == fields.end()) return std::nullopt;
  return std::string(found->value());
}

HttpError ResponseReader::head_failed(const boost::system::error_code& ec) {
  if (ec == bhttp::error::body_limit) return {Stage::Body, body_limit_text()};
  return {Stage::Request, fmt::format("response head: {}", ec.message())};
}

HttpError ResponseReader::too_many_interim() {
  return {Stage::Request, fmt::format("response head: more than {} interim (1xx) responses before the final one",
                                      kMaxInterimResponses)};
}

HttpError ResponseReader::body_failed(const boost::system::error_code& ec) {
  return {Stage::Body, ec == bhttp::error::body_limit ? body_limit_text() : ec.message()};
}

}  // namespace valdori::http
