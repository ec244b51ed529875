// Whether one version text names a newer version than another.
#pragma once

#include <string_view>

namespace valdori::agent::version_check {

// Semantic Versioning 2.0.0 order when both texts are strict versions (build metadata decides
// last: none below any, then identifier by identifier); otherwise plain byte order of the texts.
bool is_newer_version(std::string_view first, std::string_view second);

}  // namespace valdori::agent::version_check
