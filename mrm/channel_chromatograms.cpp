#include <velmoran/mrm/channel_chromatograms.hpp>

#include <algorithm>
#include <atomic>
#include <exception>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include <velmoran/representation.hpp>
#include <velmoran/textio/spectrum_totals.hpp>

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
  return scan.mrm_channel.has_value() && scan.ms_level >= 2;
}

double scan_intensity(std::span<const float> intensity, bool whole_numbers) {
  return textio::spectrum_totals(intensity, whole_numbers).total_ion_current;
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
    chromatogram.rt_sec.push_back(scan.retention_time_min * 60.0);
    chromatogram.intensity.push_back(intensity[k]);
  }
  return chromatograms;
}

namespace {

// Scans a worker takes at a time: few enough to share the tail of the run
// evenly, enough that the shared counter is not a hot spot.
constexpr std::size_t kScansPerTake = 16;

}  // namespace

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

  // Each worker takes the next few scans, reads them and sums them into
  // their own cells: no two workers write the same cell, and the
  // intensities land in table order whatever the order of the reads.
  // The first exception a worker meets (memory running out) stops every
  // worker and reaches the caller once all have stopped.
  std::atomic<std::size_t> next{0};
  std::mutex failure_lock;
  std::exception_ptr failure;
  const auto work = [&]() noexcept {
    try {
      while (true) {
        const std::size_t first = next.fetch_add(kScansPerTake, std::memory_order_relaxed);
        if (first >= positions.size()) return;
        const std::size_t end = std::min(positions.size(), first + kScansPerTake);
        for (std::size_t k = first; k < end; ++k) {
          if (stop.load(std::memory_order_relaxed)) return;
          const ScanSpectrum spectrum = reader.read_spectrum(positions[k]);
          intensity[k] = scan_intensity(reader, spectrum.record);
        }
      }
    } catch (...) {
      next.store(positions.size(), std::memory_order_relaxed);
      const std::lock_guard lock(failure_lock);
      if (!failure) failure = std::current_exception();
    }
  };
  const std::size_t wanted =
      std::clamp<std::size_t>(threads, 1, std::max<std::size_t>(1, positions.size() / 4));
  std::vector<std::thread> workers;
  workers.reserve(wanted - 1);
  for (std::size_t t = 1; t < wanted; ++t) {
    try {
      workers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // no more threads to be had: the ones running do the rest
    }
  }
  work();
  for (std::thread& worker : workers) worker.join();
  if (failure) std::rethrow_exception(failure);
  if (stop.load(std::memory_order_relaxed)) return {};
  return assemble_chromatograms(table, positions, intensity);
}

}  // namespace velmoran::mrm
