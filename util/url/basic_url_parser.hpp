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

// `input` without its leading and trailing C0 controls and spaces: what the parser's first step
// removes from around a URL.
std::string_view strip_c0_control_or_space(std::string_view input);

// Parses UTF-8 `input` (ill-formed bytes read as U+FFFD) against `base`, which may be null.
boost::system::result<UrlRecord, ParseFailure> basic_url_parse(std::string_view input, const UrlRecord* base);

}  // namespace valdori::util::url
