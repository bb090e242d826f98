// Reader: an opened acquisition dataset. open() checks "AcqData" and parses
// the scan table; iter_spectra() yields one SpectrumRecord per scan.
#pragma once

#include <filesystem>
#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include <quorlith/source.hpp>

#include <velmoran/visibility.hpp>
#include <velmoran/raw/msscan.hpp>
#include <velmoran/result.hpp>

namespace velmoran {

// Which of a scan's blocks gives its points when it has both.
enum class BlockOrder {
  // The profile; the peak block when the profile gives no points.
  kProfileFirst,
  // The instrument's centroids (the peak block); the profile when the peak
  // block gives no points. The profile is then not read at all.
  kPeaksFirst,
};

// One scan's spectrum read on its own: the record iter_spectra yields at
// that position, and, when a block failed and left the record empty, the
// error that emptied it.
struct ScanSpectrum {
  quorlith::SpectrumRecord record;
  std::optional<Error> error;
};

class VELMORAN_EXPORT Reader final : public quorlith::SpectrumSource {
 public:
  [[nodiscard]] static Result<Reader> open(const std::filesystem::path& path);

  // The name that open() gives the dataset at `path`, worked out from the
  // path alone: what a caller needs before opening, to name outputs.
  [[nodiscard]] static std::string name_of(const std::filesystem::path& path);

  // The path given to open, as given.
  [[nodiscard]] const std::filesystem::path& path() const noexcept { return path_; }
  // The dataset's name: the path's final component, or "bundle.d".
  [[nodiscard]] const std::string& name() const noexcept { return name_; }
  [[nodiscard]] const raw::MSScan& scans() const noexcept { return scans_; }
  [[nodiscard]] const std::filesystem::path& peak_path() const noexcept { return peak_path_; }
  [[nodiscard]] const std::filesystem::path& profile_path() const noexcept { return profile_path_; }

  // A fresh sequence over every scan, in table order. Touches no file; the
  // sequence refers to this reader, which must outlive it.
  [[nodiscard]] std::unique_ptr<quorlith::SpectrumSequence> iter_spectra() const override;
  // The same, taking each scan's blocks in `order`; iter_spectra() is
  // BlockOrder::kProfileFirst. `profile_decoded` is true only where the
  // profile was read and decoded.
  [[nodiscard]] std::unique_ptr<quorlith::SpectrumSequence> iter_spectra(BlockOrder order) const;

  // The spectrum of the scan at position `index` of the table (below
  // scans().records.size()), reading and decoding only that scan's blocks.
  // Safe to call from several threads at once: it keeps no state.
  [[nodiscard]] ScanSpectrum read_spectrum(std::size_t index) const;
  // The same, taking the scan's blocks in `order`.
  [[nodiscard]] ScanSpectrum read_spectrum(std::size_t index, BlockOrder order) const;

 private:
  Reader(std::filesystem::path path, std::string name, raw::MSScan scans,
         std::filesystem::path peak_path, std::filesystem::path profile_path)
      : path_(std::move(path)),
        name_(std::move(name)),
        scans_(std::move(scans)),
        peak_path_(std::move(peak_path)),
        profile_path_(std::move(profile_path)) {}

  std::filesystem::path path_;
  std::string name_;
  raw::MSScan scans_;
  std::filesystem::path peak_path_;
  std::filesystem::path profile_path_;
};

}  // namespace velmoran
