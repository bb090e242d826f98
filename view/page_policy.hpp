// The Content-Security-Policy of the viewer's answers: scripts only from
// the server itself, and the page's inline import map by its hash.
#pragma once

#include <string>
#include <string_view>

namespace velmoran::view {

// The policy for a page whose inline scripts are its
// <script type="importmap"> elements: each is allowed by the SHA-256 of its
// text; nothing else inline runs, nothing loads from another origin, and no
// other page may frame it.
[[nodiscard]] std::string content_security_policy(std::string_view html);

}  // namespace velmoran::view
