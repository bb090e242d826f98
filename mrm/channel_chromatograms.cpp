#include <velmoran/mrm/channel_chromatograms.hpp>

#include <algorithm>
#include <atomic>
#include <map>

#include <velmoran/analysis/scan_workers.hpp>
#include <velmoran/analysis/spectrum_totals.hpp>
#include <velmoran/analysis/survey_level.hpp>
#include <velmoran/representation.hpp>

namespace velmoran::mrm {

bool is_mrm_run(const raw::MSScan& table) noexcept {
  return std::any_of(table.records.begin(), table.records.end(),
                     [](const raw::ScanRecord& scan) { return scan.mrm_channel.has_value(); });
}

std::vector<std::uint32_t> run_channels(const raw::MSScan& table) {
  std::vector<std::uint32_t> channels;
  for (const raw::ScanRecord& scan : table.records) {
    if (scan.mrm_channel) channels.push_back(*scan.mrm_channel);
  }
  std::sort(channels.begin(), channels.end());
  channels.erase(std::unique(channels.begin(), channels.end()), channels.end());
  return channels;
}

bool in_channel_chromatogram(const raw::ScanRecord& scan) noexcept {
  return scan.mrm_channel.has_value() && !analysis::is_survey_level(scan.ms_level);
}

double scan_intensity(std::span<const float> intensity, bool whole_numbers) {
  return analysis::spectrum_totals(intensity, whole_numbers).total_ion_current;
}

double scan_intensity(const Reader& reader, const quorlith::SpectrumRecord& record) {
  const bool profile = representation_of(reader, record) == Representation::profile;
  // Points beyond the m/z array are not points (as everywhere else).
  const std::size_t points = std::min(record.intensity.size(), record.mz.size());
  return scan_intensity(std::span<const float>(record.intensity.data(), points), profile);
}

std::vector<ChannelChromatogram> assemble_chromatograms(const raw::MSScan& table,
                                                        std::span<const std::size_t> positions,
                                                        std::span<const double> intensity) {
  // Channel numbers are 32-bit and sparse: a map, not an array indexed by them.
  std::map<std::uint32_t, std::size_t> points;
  for (const std::size_t position : positions) ++points[*table.records[position].mrm_channel];
  std::vector<ChannelChromatogram> chromatograms;
  chromatograms.reserve(points.size());
  std::map<std::uint32_t, ChannelChromatogram*> by_channel;
  for (const auto& [channel, count] : points) {
    ChannelChromatogram& chromatogram = chromatograms.emplace_back();
    chromatogram.channel = channel;
    chromatogram.index.reserve(count);
    chromatogram.scan_id.reserve(count);
    chromatogram.rt_sec.reserve(count);
    chromatogram.intensity.reserve(count);
  }
  for (ChannelChromatogram& chromatogram : chromatograms) {
    by_channel.emplace(chromatogram.channel, &chromatogram);
  }
  const std::size_t count = std::min(positions.size(), intensity.size());
  for (std::size_t k = 0; k < count; ++k) {
    const raw::ScanRecord& scan = table.records[positions[k]];
    ChannelChromatogram& chromatogram = *by_channel.at(*scan.mrm_channel);
    chromatogram.index.push_back(positions[k]);
    chromatogram.scan_id.push_back(scan.scan_id);
    chromatogram.rt_sec.push_back(raw::retention_time_sec(scan));
    chromatogram.intensity.push_back(intensity[k]);
  }
  return chromatograms;
}

std::vector<ChannelChromatogram> channel_chromatograms(const Reader& reader, unsigned threads) {
  const std::atomic<bool> never{false};
  return channel_chromatograms(reader, threads, never);
}

std::vector<ChannelChromatogram> channel_chromatograms(const Reader& reader, unsigned threads,
                                                       const std::atomic<bool>& stop) {
  const raw::MSScan& table = reader.scans();
  std::vector<std::size_t> positions;
  for (std::size_t i = 0; i < table.records.size(); ++i) {
    if (in_channel_chromatogram(table.records[i])) positions.push_back(i);
  }
  std::vector<double> intensity(positions.size(), 0.0);
  // Each scan's intensity lands in its own cell: table order whatever the
  // order of the reads.
  analysis::for_each_item(positions.size(), threads, stop, [&](std::size_t k, std::size_t) {
    intensity[k] = scan_intensity(reader, reader.read_spectrum(positions[k]).record);
  });
  if (stop.load(std::memory_order_relaxed)) return {};
  return assemble_chromatograms(table, positions, intensity);
}

}  // namespace velmoran::mrm
