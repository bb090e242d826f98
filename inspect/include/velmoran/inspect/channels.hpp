// An MRM run's channels for the info and chromatograms commands (and the
// viewer's API): each channel's count of scans of MS level 2 and up, and
// the channel chromatograms as a table, one row per channel and scan.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <velmoran/inspect/table.hpp>
#include <velmoran/mrm/channel_chromatograms.hpp>
#include <velmoran/mrm/transitions.hpp>
#include <velmoran/result.hpp>

namespace velmoran::inspect {

struct ChannelSummary {
  std::uint32_t channel = 0;
  // Scans of MS level 2 and up: the points of the channel's chromatogram.
  std::uint64_t scans = 0;
  // From the transition list, when it names the channel.
  const mrm::Transition* transition = nullptr;
};

// Every channel that a scan carries (any MS level), increasing; empty for a
// run without MRM channels.
[[nodiscard]] std::vector<ChannelSummary> channel_summaries(const raw::MSScan& table,
                                                            const mrm::TransitionList* transitions);

// The info lines ("channels  6", then one line per channel) and the JSON
// value (an array of objects channel, scans, q1, q3, name).
[[nodiscard]] std::string channels_text(std::span<const ChannelSummary> channels);
[[nodiscard]] std::string channels_json(std::span<const ChannelSummary> channels);

inline constexpr std::string_view kChromatogramColumns[] = {
    "channel", "q1", "q3", "name", "index", "scan_id", "rt_sec", "intensity"};

// Writes one row per channel and scan, channels in increasing order, scans
// in table order; q1, q3 and name are empty (JSON null) for a channel the
// list does not name. Not committed.
[[nodiscard]] Result<Done> write_channel_chromatograms(
    std::span<const mrm::ChannelChromatogram> chromatograms, const mrm::TransitionList* transitions,
    TextFormat format, textio::OutputFile& out);

}  // namespace velmoran::inspect
