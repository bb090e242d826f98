// The page's files, embedded in the program at build time (see
// embed_assets.cmake): an installed `velmoran view` needs no other file.
#pragma once

#include <span>
#include <string_view>

namespace velmoran::view {

struct Asset {
  // The name under /assets/ ("main.js"); the page itself is "index.html".
  std::string_view name;
  std::string_view content_type;
  std::string_view bytes;
};

[[nodiscard]] std::span<const Asset> embedded_assets();

// The asset called `name`, or null.
[[nodiscard]] const Asset* find_asset(std::string_view name);

}  // namespace velmoran::view
