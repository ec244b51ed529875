#include "util/text/uuid.hpp"

#include <stdexcept>

#include <boost/uuid/string_generator.hpp>
#include <boost/uuid/uuid_io.hpp>

namespace valdori::util::text {

std::optional<boost::uuids::uuid> parse_uuid(std::string_view text) {
  try {
    return boost::uuids::string_generator{}(text.begin(), text.end());
  } catch (const std::runtime_error&) {
    return std::nullopt;
  }
}

std::string uuid_text(const boost::uuids::uuid& id) { return boost::uuids::to_string(id); }

}  // namespace valdori::util::text
