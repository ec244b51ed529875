// Replacing a file's contents so that a crash, a full disk or a failed write leaves either the
// old file or the new one, never a truncated mix: the text goes to a temporary file in the same
// folder, is flushed to disk, then renamed over the old file.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string_view>
#include <system_error>

namespace valdori::util::fs {

// The replaced file keeps the old file's permission bits (and owner, where allowed); a new file
// gets `new_file_mode`. A symbolic link is followed, so its target is replaced. On failure
// nothing is left behind.
std::error_code replace_file(const std::filesystem::path& path, std::string_view contents, mode_t new_file_mode);

}  // namespace valdori::util::fs
