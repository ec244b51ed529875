// Reading a whole file into memory.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <system_error>

#include <boost/system/result.hpp>

namespace valdori::util::fs {

// Documents the library reads (configuration, network documents) are small; a larger file is
// refused rather than read into memory.
inline constexpr std::size_t kMaxDocumentBytes = std::size_t{4} * 1024 * 1024;

// Reads a regular file of at most `max_bytes`. A folder is refused with EISDIR, anything else
// that is not a regular file (a FIFO, a device) with EINVAL, without blocking; a larger file
// with EFBIG.
boost::system::result<std::string, std::error_code> read_file(const std::filesystem::path& path,
                                                              std::size_t max_bytes = kMaxDocumentBytes);

}  // namespace valdori::util::fs
