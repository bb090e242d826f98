// The table of embedded files in a build without the viewer's page
// (VELMORAN_BUILD_VIEWER_ASSETS off): empty, so that nothing is served and
// viewer_assets_built() says why.
#include "assets.hpp"

namespace velmoran::view {

std::span<const Asset> embedded_assets() { return {}; }

const Asset* find_asset(std::string_view) { return nullptr; }

}  // namespace velmoran::view
