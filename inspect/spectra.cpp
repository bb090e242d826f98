#include <velmoran/inspect/spectra.hpp>

namespace velmoran::inspect {

Representation representation_of(const quorlith::SpectrumRecord& record,
                                 const raw::ScanRecord& scan) {
  if (record.mz.empty()) return Representation::empty;
  // A profile block that decoded to points is used whole. One that decoded
  // to none (its point count is 0) leaves the points to the peak block:
  // then they are centroids although the profile block decoded.
  const bool profile_points =
      record.profile_decoded && scan.profile_block && scan.profile_block->point_count > 0;
  return profile_points ? Representation::profile : Representation::centroid;
}

const char* representation_name(Representation representation) {
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

bool for_each_spectrum(const Reader& reader,
                       const std::function<bool(quorlith::SpectrumRecord&)>& visit) {
  // One thread: reading on a second one, a few spectra ahead, saved little
  // on an idle machine and cost more than it saved when the cores were busy
  // (as they are when a workflow runs many runs at once).
  auto spectra = reader.iter_spectra();
  while (auto record = spectra->next()) {
    if (!visit(*record)) return false;
  }
  return true;
}

}  // namespace velmoran::inspect
