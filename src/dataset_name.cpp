#include "dataset_name.hpp"

#include <string_view>

#include <velmoran/utf8.hpp>

namespace velmoran {

std::string dataset_name(const std::filesystem::path& path) {
  const std::string_view text = path.native();
  std::string_view last;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('/', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view component = text.substr(start, end - start);
    if (!component.empty() && component != ".") last = component;
    start = end + 1;
  }
  if (last.empty() || last == "..") return "bundle.d";
  return utf8_lossy(last);
}

}  // namespace velmoran
