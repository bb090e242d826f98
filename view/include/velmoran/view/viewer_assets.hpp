// Whether this build holds the viewer's page and the charting library it
// draws with (npm fetches the library at build time; a build configured with
// -DVELMORAN_BUILD_VIEWER_ASSETS=OFF, as the main job's is, goes without).
// The one place to ask: `velmoran view` and every other writer of pages that
// draw with the embedded library. The same answer is the compile definition
// VELMORAN_VIEWER_ASSETS (1 or 0) that velmoran::view gives its users.
#pragma once

#include <string_view>

namespace velmoran::view {

[[nodiscard]] bool viewer_assets_built() noexcept;

// One line for a user of a build without them: what is missing and how to
// get it.
[[nodiscard]] std::string_view viewer_assets_missing() noexcept;

}  // namespace velmoran::view
