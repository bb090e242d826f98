// The one pass of `velmoran qc` over a run: the spectra read and decoded in
// order by one thread, their figures taken on all the others.
#pragma once

#include <vector>

#include <velmoran/qc/figures.hpp>
#include <velmoran/reader.hpp>
#include <velmoran/result.hpp>

namespace velmoran::qc {

// The figures of every spectrum, in scan-table order, on `threads` threads
// (0: every core the process may use). An error when the run cannot be
// read to its end.
[[nodiscard]] Result<std::vector<SpectrumFigures>> read_figures_parallel(const Reader& reader,
                                                                         unsigned threads);

}  // namespace velmoran::qc
