// --transitions FILE, as convert, view, info and chromatograms take it: the
// list read once before any run, a bad list a usage error, and one warning
// per run for rows whose channel no scan carries.
#pragma once

#include <optional>
#include <string>

#include <CLI/CLI.hpp>
#include <velmoran/mrm/channel_chromatograms.hpp>
#include <velmoran/mrm/transitions.hpp>
#include <velmoran/reader.hpp>

#include "status.hpp"

namespace velmoran::cli {

inline void add_transitions_option(CLI::App& sub, std::string& file) {
  sub.add_option("--transitions", file,
                 "Transition list of an MRM run (CSV or TSV with the columns channel, "
                 "precursor_mz, product_mz and optionally collision_energy, name): gives the "
                 "channels their Q1/Q3 (see " VELMORAN_DOC_DIR "/convert.md)")
      ->type_name("FILE");
}

// The list named by `file` (none when empty), or nullopt after reporting
// why it cannot be used (then `status` is the usage error's).
struct LoadedTransitions {
  std::optional<mrm::TransitionList> list;
  bool ok = true;
};
[[nodiscard]] inline LoadedTransitions load_transitions(const std::string& file) {
  if (file.empty()) return {};
  auto list = mrm::read_transitions(file);
  if (!list) {
    (void)usage_error("--transitions: " + list.error().detail());
    return {std::nullopt, false};
  }
  return {std::move(list).value(), true};
}

// "warning: FILE lists channels that no scan carries: 7, 9", or empty when
// the run carries every channel of the list. At most kShownChannels are
// named, then "and N more", so a list for another run makes one short line.
inline constexpr std::size_t kShownChannels = 10;
[[nodiscard]] inline std::string unmatched_transitions_warning(const Reader& reader,
                                                               const std::string& file,
                                                               const mrm::TransitionList& list) {
  const auto unmatched = mrm::unmatched_channels(list, mrm::run_channels(reader.scans()));
  if (unmatched.empty()) return {};
  std::string line = "warning: " + file + " lists channels that no scan carries: ";
  for (std::size_t i = 0; i < unmatched.size() && i < kShownChannels; ++i) {
    if (i > 0) line += ", ";
    line += std::to_string(unmatched[i]);
  }
  if (unmatched.size() > kShownChannels) {
    line += " and " + std::to_string(unmatched.size() - kShownChannels) + " more";
  }
  return line;
}

// "velmoran: RUN: warning: FILE lists channels that no scan carries: 7, 9".
inline void warn_unmatched_transitions(const Reader& reader, const std::string& file,
                                       const mrm::TransitionList& list) {
  const std::string line = unmatched_transitions_warning(reader, file, list);
  if (!line.empty()) report_failure(reader.path().string(), line);
}

}  // namespace velmoran::cli
