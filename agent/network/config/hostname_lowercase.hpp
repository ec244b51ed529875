// Host names compare case-insensitively under the full Unicode lower-case mapping.
#pragma once

#include <string>
#include <string_view>

namespace valdori::network::config {

// The root-locale lower-case form of UTF-8 text: "ÄRGER" becomes "ärger", the Kelvin sign "k".
// Bytes that are not UTF-8 become U+FFFD.
std::string lowercase_hostname(std::string_view hostname);

}  // namespace valdori::network::config
