// UUIDs in their text forms, as network documents and the controller write them.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include <boost/uuid/uuid.hpp>

namespace valdori::util::text {

// 32 hexadecimal digits, with or without the four hyphens, optionally in braces.
std::optional<boost::uuids::uuid> parse_uuid(std::string_view text);
// Lower case with hyphens.
std::string uuid_text(const boost::uuids::uuid& id);

}  // namespace valdori::util::text
