#include <velmoran/representation.hpp>

namespace velmoran {

Representation representation_of(const Reader& reader,
                                 const quorlith::SpectrumRecord& record) noexcept {
  if (record.mz.empty()) return Representation::empty;
  const auto& scans = reader.scans().records;
  if (!record.profile_decoded || record.index >= scans.size()) return Representation::centroid;
  const auto& block = scans[record.index].profile_block;
  const bool profile_points = block.has_value() && block->point_count > 0;
  return profile_points ? Representation::profile : Representation::centroid;
}

const char* representation_name(Representation representation) noexcept {
  switch (representation) {
    case Representation::profile:
      return "profile";
    case Representation::centroid:
      return "centroid";
    case Representation::empty:
      break;
  }
  return "empty";
}

}  // namespace velmoran
