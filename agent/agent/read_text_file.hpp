// Reading the text documents the agent takes from files: its configuration and network
// documents.
#pragma once

#include <boost/system/result.hpp>
#include <filesystem>
#include <string>

#include "agent/agent/error.hpp"

namespace valdori::agent {

// The whole regular file as UTF-8 text. A file that cannot be read, is not a regular file, is
// too large or is not valid UTF-8 gives the Io kind.
boost::system::result<std::string, error::Error> read_text_file(const std::filesystem::path& path);

}  // namespace valdori::agent
