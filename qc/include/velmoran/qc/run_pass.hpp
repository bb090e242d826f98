// The one pass of the quality metrics over a run, for `velmoran qc` and
// Run.qc() alike: every scan read and its figures taken on the scan engine
// (analysis::for_each_item), on all the threads asked for, stoppable.
#pragma once

#include <atomic>
#include <vector>

#include <velmoran/qc/figures.hpp>
#include <velmoran/reader.hpp>
#include <velmoran/result.hpp>

namespace velmoran::qc {

// The figures of every spectrum, in scan-table order, on `threads` threads
// (0: analysis::default_threads()). An error when the run cannot be read
// to its end.
[[nodiscard]] Result<std::vector<SpectrumFigures>> read_figures_parallel(const Reader& reader,
                                                                         unsigned threads);
// The same, stopping within a scan's read once `stop` is set: what it
// returns then is incomplete and only to be thrown away.
[[nodiscard]] Result<std::vector<SpectrumFigures>> read_figures_parallel(
    const Reader& reader, unsigned threads, const std::atomic<bool>& stop);

}  // namespace velmoran::qc
