#include <velmoran/view/viewer_assets.hpp>

#ifndef VELMORAN_VIEWER_ASSETS
#error "VELMORAN_VIEWER_ASSETS is set by view/CMakeLists.txt"
#endif

namespace velmoran::view {

bool viewer_assets_built() noexcept { return VELMORAN_VIEWER_ASSETS != 0; }

std::string_view viewer_assets_missing() noexcept {
  return "this velmoran was built without the viewer's page; rebuild it with "
         "-DVELMORAN_BUILD_VIEWER_ASSETS=ON (needs npm: scripts/install-deps.sh view) or install "
         "the velmoran package";
}

}  // namespace velmoran::view
