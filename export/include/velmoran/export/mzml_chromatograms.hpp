// The chromatograms of an MRM run in mzML, one element per channel: a
// selected reaction monitoring chromatogram with the transition's
// precursor (Q1) and product (Q3) m/z where a transition list gives the
// channel one, else an ion current chromatogram; both name their channel
// in a user parameter.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include <velmoran/export/mzml.hpp>
#include <velmoran/mrm/channel_chromatograms.hpp>
#include <velmoran/mrm/transitions.hpp>

namespace velmoran::exporting {

// The id of a channel's chromatogram, as the attribute holds it (escaped):
// "SRM SIC Q1=<q1> Q3=<q3> channel=<K>[ name=<name>]" with a transition,
// else "channel=<K>".
[[nodiscard]] std::string channel_chromatogram_id(std::uint32_t channel,
                                                  const mrm::Transition* transition);

// The <chromatogram> element of one channel (index attribute `list_index`),
// arrays as append_chromatogram_arrays writes them.
[[nodiscard]] ChromatogramElement channel_chromatogram_element(
    std::size_t list_index, const mrm::ChannelChromatogram& chromatogram,
    const mrm::Transition* transition, Compression compression, EncodeScratch& scratch);

// Every channel's element, indexes from 2 on (after the TIC and BPC).
[[nodiscard]] std::vector<ChromatogramElement> channel_chromatogram_elements(
    std::span<const mrm::ChannelChromatogram> chromatograms, const mrm::TransitionList* transitions,
    Compression compression, EncodeScratch& scratch);

}  // namespace velmoran::exporting
