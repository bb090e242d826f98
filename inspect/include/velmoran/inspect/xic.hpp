// Extracted ion chromatograms: for each target and each chosen scan, the
// sum of the intensities of the points whose m/z lies in the target's
// window.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include <velmoran/analysis/window_sums.hpp>
#include <velmoran/inspect/table.hpp>
#include <velmoran/inspect/targets.hpp>
#include <velmoran/reader.hpp>
#include <velmoran/result.hpp>
#include <velmoran/textio/output_file.hpp>

namespace velmoran::inspect {

using analysis::da_window;
using analysis::MzWindow;
using analysis::ppm_window;
using analysis::WindowSums;

using analysis::ToleranceUnit;

struct XicQuery {
  std::vector<Target> targets;
  ToleranceUnit unit = ToleranceUnit::ppm;
  double tolerance = 10.0;
  std::uint32_t ms_level = 1;
  // Inclusive retention-time range in seconds; every scan when absent.
  std::optional<std::pair<double, double>> rt_range;
};

// The window of each target, in order. A Parse error when a window has an
// end that is not a finite number (an m/z near the largest double with a
// wide tolerance): such a window would hold every point. Its detail names
// the target, for a message about the tolerance option.
[[nodiscard]] Result<std::vector<MzWindow>> xic_windows(const XicQuery& query);

inline constexpr std::string_view kXicColumns[] = {"target", "mz", "rt_sec", "scan_id",
                                                   "intensity"};

// Writes one row per chosen scan and target, scans in table order and,
// within a scan, targets in the order given; a scan without points in a
// window gives 0 (a chromatogram has a point per scan). Not committed.
// Memory: the targets' windows and cells once, and per spectrum in flight
// (two per thread) its sums and its rows' text.
[[nodiscard]] Result<Done> write_xic(const Reader& reader, const XicQuery& query, TextFormat format,
                                     textio::OutputFile& out);

}  // namespace velmoran::inspect
