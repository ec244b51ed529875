// The URL Standard's basic URL parser (without state override): a state machine over the input's
// code points, in the standard's states and steps. Validation errors are not failures and are
// not reported; only what the standard makes a failure fails.
#pragma once

#include <string>
#include <string_view>

#include <boost/system/result.hpp>

#include "util/url/url_record.hpp"

namespace valdori::util::url {

struct ParseFailure {
  std::string message;
};

// `input` without leading and trailing C0 controls and spaces and without any tab or newline: what
// the parser ignores before its first step.
std::string remove_ignored_code_points(std::string_view input);

// Parses UTF-8 `input` (ill-formed bytes read as U+FFFD) against `base`, which may be null.
boost::system::result<UrlRecord, ParseFailure> basic_url_parse(std::string_view input, const UrlRecord* base);

}  // namespace valdori::util::url
