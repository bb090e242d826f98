#include <velmoran/qc/run_pass.hpp>

#include <string>
#include <utility>

#include <velmoran/pipeline/spectrum_pipeline.hpp>

namespace velmoran::qc {

Result<std::vector<SpectrumFigures>> read_figures_parallel(const Reader& reader, unsigned threads) {
  const unsigned count = pipeline::thread_count(threads);
  const std::size_t slots = pipeline::slot_count(count);
  std::vector<quorlith::SpectrumRecord> records(slots);
  std::vector<SpectrumFigures> figures(slots);
  std::vector<SpectrumFigures> out;
  const std::size_t expected = reader.scans().records.size();
  out.reserve(expected);

  pipeline::SpectrumStages stages;
  stages.take = [&](quorlith::SpectrumRecord& record, std::size_t slot) {
    records[slot] = std::move(record);
    return true;
  };
  stages.work = [&](std::size_t slot, std::size_t) {
    figures[slot] = figures_of(reader, records[slot]);
    // The points are not needed past here: the slot's memory goes back now.
    records[slot] = {};
  };
  stages.emit = [&](std::size_t slot) {
    out.push_back(std::move(figures[slot]));
    return true;
  };
  pipeline::run_spectrum_pipeline(reader, count, stages);
  if (out.size() != expected) {
    return Error::parse("the run yielded " + std::to_string(out.size()) +
                        " spectra where its scan table announced " + std::to_string(expected));
  }
  return out;
}

}  // namespace velmoran::qc
