// The name of a dataset, from the path it was opened by.
#pragma once

#include <filesystem>
#include <string>

namespace velmoran {

// The final component of the path, ignoring trailing separators and "."
// components, with invalid UTF-8 replaced by U+FFFD; "bundle.d" where there
// is none (an empty path, a root, ".", or a path ending in "..").
[[nodiscard]] std::string dataset_name(const std::filesystem::path& path);

}  // namespace velmoran
