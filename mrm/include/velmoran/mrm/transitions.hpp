// Transition lists: what the instrument's method measured on each MRM
// channel, as users export it. A CSV or TSV file with a header line naming
// (in any case and order) the columns channel, precursor_mz, product_mz and
// optionally collision_energy and name; other columns are ignored.
//
//   channel,precursor_mz,product_mz,collision_energy,name
//   1,524.3,445.2,22,"caffeine, quantifier"
//   2,524.3,138.1,,caffeine qualifier
//
// Records and numbers as textio/records.hpp and textio/numbers.hpp read
// them (docs/cli.md, "Text you give"). A file named *.csv is CSV, *.tsv or
// *.tab TSV; any other is TSV when its header line holds a tab, else CSV.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <velmoran/result.hpp>

namespace velmoran::mrm {

struct Transition {
  std::uint32_t channel = 0;
  // Q1 and Q3: finite and above 0.
  double precursor_mz = 0.0;
  double product_mz = 0.0;
  // In electronvolts; absent when the column or the cell is empty.
  std::optional<double> collision_energy;
  // Absent when the column or the cell is empty; the bytes as given.
  std::optional<std::string> name;
  // The line of the file that gave it.
  std::size_t line = 0;

  friend bool operator==(const Transition&, const Transition&) = default;
};

// The rows of one list, by channel.
class TransitionList {
 public:
  TransitionList() = default;
  explicit TransitionList(std::map<std::uint32_t, Transition> rows);

  [[nodiscard]] const Transition* find(std::uint32_t channel) const noexcept;
  [[nodiscard]] const std::map<std::uint32_t, Transition>& by_channel() const noexcept {
    return rows_;
  }
  [[nodiscard]] bool empty() const noexcept { return rows_.empty(); }
  [[nodiscard]] std::size_t size() const noexcept { return rows_.size(); }

 private:
  std::map<std::uint32_t, Transition> rows_;
};

enum class ListFormat { kCsv, kTsv };

// The format a file's name says, or nullopt when it says none.
[[nodiscard]] std::optional<ListFormat> list_format_of(const std::filesystem::path& file);

// Parses the content of a list. A Parse error's detail names the file
// (`file_name`), the line and, where it concerns one, the column:
// "list.csv:3: column precursor_mz: \"abc\" is not a number". `format`
// absent: sniffed from the header line.
[[nodiscard]] Result<TransitionList> parse_transitions(std::string_view text,
                                                       std::string_view file_name,
                                                       std::optional<ListFormat> format);

// Reads and parses a list of at most kMaxListBytes and kMaxListRows rows (an
// instrument method has a few thousand transitions); its memory is its
// rows, never the whole text. An I/O error is the system's, with the file
// named in a Parse error's text.
inline constexpr std::uint64_t kMaxListBytes = std::uint64_t{64} << 20;
inline constexpr std::size_t kMaxListRows = 100'000;
[[nodiscard]] Result<TransitionList> read_transitions(const std::filesystem::path& file);

// The channels of `list` that no scan of `channels` (increasing) carries.
[[nodiscard]] std::vector<std::uint32_t> unmatched_channels(
    const TransitionList& list, const std::vector<std::uint32_t>& channels);

}  // namespace velmoran::mrm
