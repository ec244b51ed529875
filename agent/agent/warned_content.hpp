// Which content of each file has had its warnings logged. A host may load the same file again and
// again (listing its networks every second); the warnings come again only with new content.
#pragma once

#include <filesystem>
#include <string_view>

namespace valdori::agent {

// Whether `content` differs from the content of the file at `path` whose warnings were logged
// last; it becomes that content. One hash of content is kept for each of the last few files,
// whatever the path that named them; safe to call from any thread.
bool warnings_are_new(const std::filesystem::path& path, std::string_view content);

}  // namespace valdori::agent
