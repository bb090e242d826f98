// mzML 1.1 output: the text of one <spectrum> element (a pure function of
// the record, safe to call from many threads at once), and the writer that
// puts the elements between the file's header and its trailer, counts the
// bytes for the index and feeds the checksum.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <quorlith/types.hpp>

#include <velmoran/export/binary_encoding.hpp>
#include <velmoran/export/sha1.hpp>
#include <velmoran/result.hpp>
#include <velmoran/textio/buffered_writer.hpp>
#include <velmoran/textio/output_file.hpp>
#include <velmoran/textio/spectrum_id.hpp>
#include <velmoran/analysis/spectrum_summary.hpp>

namespace velmoran::exporting {

using analysis::SpectrumSummary;
using textio::Done;
using textio::OutputFile;

enum class Compression { kZlib, kNone, kNumpress };

// How spectra are named (textio/spectrum_id.hpp, shared with the scans
// table).
using textio::id_form_of;
using textio::IdForm;

// libdeflate levels. zlib arrays: the ratio of zlib's default. Numpress
// m/z of a profile (an evenly spaced axis) compresses much less well at
// libdeflate's level 6 than at zlib's, and level 8 makes up for it at little
// cost; numpress intensities stay at 6 (see docs/performance.md).
inline constexpr int kZlibLevel = 6;
inline constexpr int kNumpressMzZlibLevel = 8;

// The scratch space of one encoder, reused from spectrum to spectrum.
struct EncodeScratch {
  ZlibCompressor zlib{kZlibLevel};
  ZlibCompressor numpress_mz_zlib{kNumpressMzZlibLevel};
  Bytes packed;
  std::vector<double> widened;
  Bytes compressed;
};

// What the element needs beyond the record itself.
struct SpectrumPlace {
  // Position among the spectra written (the element's index attribute).
  std::uint64_t list_index = 0;
  // The points came from a profile block.
  bool profile = false;
  // The scan's MRM channel, whatever its MS level (the scan table of an
  // MRM run gives one for every scan).
  std::optional<std::uint32_t> mrm_channel;
};

// Appends the <spectrum> element of `record` (starting with its '<', ending
// with a newline) and returns the summary it wrote.
SpectrumSummary append_mzml_spectrum(std::string& out, const quorlith::SpectrumRecord& record,
                                     const SpectrumPlace& place, IdForm ids,
                                     Compression compression, EncodeScratch& scratch);

// The run's id: "run_" and the dataset name made an xs:ID, so that it
// cannot be any other id of the file (none of those starts with "run_").
[[nodiscard]] std::string run_id_from(std::string_view dataset_name);

struct MzmlRun {
  // The dataset's name; the run's id is made from it.
  std::string dataset_name;
  std::string software_version;
  // Spectra that will be written, and whether any has level <= 1 / >= 2.
  std::uint64_t spectrum_count = 0;
  bool has_ms1 = false;
  bool has_msn = false;
  IdForm ids = IdForm::kScan;
  Compression compression = Compression::kZlib;
  bool indexed = true;
  // Some spectra are velmoran's peak picking of a profile: a second
  // processing method says so.
  bool peak_picking = false;
  // Selected reaction monitoring chromatograms follow the TIC and BPC
  // (fileContent lists them).
  bool srm_chromatograms = false;
};

// A chromatogram element written after the TIC and BPC: its id (as it
// stands in the id attribute, escaped) and its whole text.
struct ChromatogramElement {
  std::string id;
  std::string text;
};

// The parts of an mzML element that other writers of this library share:
// <cvParam .../> (a value and unit text, when given, as they are) and the
// time and intensity arrays of a chromatogram, 64-bit, zlib or not
// compressed as `compression` says (numpress, being lossy, is zlib here).
void append_cv_param(std::string& out, std::string_view indent, std::string_view accession,
                     std::string_view name, std::string_view value = {},
                     std::string_view unit = {});
void append_chromatogram_arrays(std::string& out, std::span<const double> time,
                                std::span<const double> intensity, Compression compression,
                                EncodeScratch& scratch);

// Writes one mzML file in order: begin(); for each spectrum announced in
// `run`, place_spectrum() and then write_spectrum(), both in run order;
// finish(). The two halves of a spectrum may run on different threads (not
// at once for the same call kind), so the checksum of one spectrum overlaps
// the write of the one before. Output goes through a BufferedWriter.
class MzmlWriter {
 public:
  MzmlWriter(OutputFile& file, MzmlRun run);

  [[nodiscard]] Result<Done> begin();
  // Takes the next spectrum's place: its offset for the index, its time,
  // TIC and base peak for the chromatograms, its bytes into the checksum.
  // `element` is the text append_mzml_spectrum() made and `summary` what it
  // returned; `id_number` is the scan number or the position in the run, as
  // the id form says.
  void place_spectrum(std::string_view element, std::uint64_t id_number, std::uint32_t ms_level,
                      double time, const SpectrumSummary& summary);
  // Writes the element placed last but not yet written.
  [[nodiscard]] Result<Done> write_spectrum(std::string_view element);
  // The TIC and base-peak chromatograms (the level-1 spectra written, or
  // every spectrum written when none is level 1), the index and the
  // checksum; fails when fewer or more spectra came than were announced.
  // `more` are chromatograms to write after those two, their index
  // attributes 2, 3, ... in this order.
  [[nodiscard]] Result<Done> finish(EncodeScratch& scratch,
                                    std::span<const ChromatogramElement> more = {});

 private:
  // Counts, hashes and writes text of the file's own.
  [[nodiscard]] Result<Done> append(std::string_view text);

  textio::BufferedWriter out_;
  MzmlRun run_;
  Sha1 sha1_;
  // Everything up to the checksum element goes into the checksum.
  bool hashing_ = true;
  std::uint64_t offset_ = 0;
  std::vector<std::uint64_t> ids_;
  std::vector<std::uint64_t> offsets_;
  std::vector<double> times_;
  std::vector<double> tics_;
  std::vector<double> base_peaks_;
};

}  // namespace velmoran::exporting
