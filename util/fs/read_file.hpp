// Reading a whole file into memory.
#pragma once

#include <filesystem>
#include <string>
#include <system_error>

#include <boost/system/result.hpp>

namespace valdori::util::fs {

boost::system::result<std::string, std::error_code> read_file(const std::filesystem::path& path);

}  // namespace valdori::util::fs
