// Domain to ASCII by Unicode IDNA Compatibility Processing (UTS #46) through ICU, with the
// options the URL Standard's domain parser uses when it is not strict.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace valdori::util::url {

// The ASCII form of a UTF-8 domain ("Bücher.example" -> "xn--bcher-kva.example"); nothing when
// UTS #46 processing reports an error the standard counts. An ASCII domain is only lower-cased.
std::optional<std::string> domain_to_ascii(std::string_view domain);

}  // namespace valdori::util::url
