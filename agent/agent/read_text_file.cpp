#include "agent/agent/read_text_file.hpp"

#include "util/fs/read_file.hpp"
#include "util/text/utf8.hpp"

namespace valdori::agent {

boost::system::result<std::string, error::Error> read_text_file(const std::filesystem::path& path) {
  auto text = util::fs::read_file(path);
  if (!text) return error::Error::io(text.error());
  if (!util::text::is_valid_utf8(*text)) return error::Error(error::Kind::Io, "stream did not contain valid UTF-8");
  return std::move(*text);
}

}  // namespace valdori::agent
