#include <velmoran/mrm/transitions.hpp>

#include <algorithm>
#include <array>

#include <velmoran/textio/numbers.hpp>
#include <velmoran/textio/quoted_value.hpp>
#include <velmoran/textio/records.hpp>
#include <velmoran/textio/text_lines.hpp>

namespace velmoran::mrm {

namespace {

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

enum Column : std::size_t { kChannel, kPrecursor, kProduct, kEnergy, kName, kColumns };
constexpr std::array<std::string_view, kColumns> kColumnNames = {
    "channel", "precursor_mz", "product_mz", "collision_energy", "name"};

}  // namespace

TransitionList::TransitionList(std::map<std::uint32_t, Transition> rows) : rows_(std::move(rows)) {}

const Transition* TransitionList::find(std::uint32_t channel) const noexcept {
  const auto it = rows_.find(channel);
  return it == rows_.end() ? nullptr : &it->second;
}

std::optional<ListFormat> list_format_of(const std::filesystem::path& file) {
  const std::string extension = lower(file.extension().string());
  if (extension == ".csv") return ListFormat::kCsv;
  if (extension == ".tsv" || extension == ".tab") return ListFormat::kTsv;
  return std::nullopt;
}

namespace {

// Reads a list a line at a time: the header, then one row per record.
class ListParser {
 public:
  ListParser(std::string_view file_name, std::optional<ListFormat> format)
      : file_name_(file_name), format_(format) {}

  std::optional<Error> line(std::size_t number, std::string_view text) {
    last_line_ = number;
    // The file's name says the format, or else its header line does.
    const char delimiter =
        delimiter_.value_or(format_ ? (*format_ == ListFormat::kTsv ? '\t' : ',')
                                    : (text.find('\t') != std::string_view::npos ? '\t' : ','));
    textio::Record record = textio::split_record(text, delimiter);
    if (record.skipped) return std::nullopt;
    delimiter_ = delimiter;
    if (record.error) {
      return textio::cell_error(file_name_, number, column_name(record.error->column),
                                record.error->reason);
    }
    if (header_.empty()) return read_header(number, std::move(record.cells));
    return read_row(number, record.cells);
  }

  Result<TransitionList> finish() && {
    if (header_.empty()) {
      return problem(std::max<std::size_t>(last_line_, 1),
                     "no header line (it needs channel, precursor_mz and product_mz)");
    }
    return TransitionList(std::move(rows_));
  }

 private:
  Error problem(std::size_t number, std::string_view message) const {
    return Error::parse(std::string(file_name_) + ":" + std::to_string(number) + ": " +
                        std::string(message));
  }

  // The header's name of a cell (its number from 1 where it has none).
  std::string column_name(std::size_t cell) const {
    return cell < header_.size() ? header_[cell] : std::to_string(cell + 1);
  }

  std::optional<Error> read_header(std::size_t number, std::vector<std::string> names) {
    for (std::size_t i = 0; i < names.size(); ++i) {
      names[i] = lower(names[i]);
      for (std::size_t c = 0; c < kColumns; ++c) {
        if (names[i] != kColumnNames[c]) continue;
        if (at_[c]) {
          return textio::cell_error(file_name_, number, kColumnNames[c],
                                    "named twice in the header");
        }
        at_[c] = i;
      }
    }
    for (const Column required : {kChannel, kPrecursor, kProduct}) {
      if (!at_[required]) {
        return textio::cell_error(file_name_, number, kColumnNames[required],
                                  "missing from the header (it needs channel, precursor_mz and "
                                  "product_mz)");
      }
    }
    header_ = std::move(names);
    return std::nullopt;
  }

  std::optional<Error> read_row(std::size_t number, const std::vector<std::string>& cells) {
    const auto cell = [&](Column column) -> std::string_view {
      return at_[column] && *at_[column] < cells.size() ? std::string_view(cells[*at_[column]])
                                                        : std::string_view();
    };
    const auto bad = [&](Column column, std::string_view why) {
      return textio::cell_error(file_name_, number, kColumnNames[column],
                                textio::quoted_value(cell(column)) + " " + std::string(why));
    };
    Transition row;
    row.line = number;
    const auto channel = textio::parse_whole<std::uint32_t>(cell(kChannel));
    if (!channel) return bad(kChannel, "is not a channel number (0 to 4294967295)");
    row.channel = *channel;
    if (const auto it = rows_.find(row.channel); it != rows_.end()) {
      return textio::cell_error(file_name_, number, kColumnNames[kChannel],
                                "channel " + std::to_string(row.channel) +
                                    " is already given on line " + std::to_string(it->second.line));
    }
    if (rows_.size() == kMaxListRows) {
      return problem(number, "more than " + std::to_string(kMaxListRows) + " rows");
    }
    const auto precursor = textio::parse_positive(cell(kPrecursor));
    if (!precursor) return bad(kPrecursor, "is not a finite number above 0");
    row.precursor_mz = *precursor;
    const auto product = textio::parse_positive(cell(kProduct));
    if (!product) return bad(kProduct, "is not a finite number above 0");
    row.product_mz = *product;
    if (!cell(kEnergy).empty()) {
      const auto energy = textio::parse_positive(cell(kEnergy));
      if (!energy) return bad(kEnergy, "is not a finite number above 0");
      row.collision_energy = *energy;
    }
    if (!cell(kName).empty()) row.name = std::string(cell(kName));
    rows_.emplace(row.channel, std::move(row));
    return std::nullopt;
  }

  std::string_view file_name_;
  std::optional<ListFormat> format_;
  std::optional<char> delimiter_;  // from the first line
  std::vector<std::string> header_;
  std::array<std::optional<std::size_t>, kColumns> at_;
  std::map<std::uint32_t, Transition> rows_;
  std::size_t last_line_ = 0;
};

textio::LineVisitor visitor(ListParser& parser) {
  return [&parser](std::size_t number, std::string_view line) { return parser.line(number, line); };
}

}  // namespace

Result<TransitionList> parse_transitions(std::string_view text, std::string_view file_name,
                                         std::optional<ListFormat> format) {
  ListParser parser(file_name, format);
  if (auto error = textio::for_each_line(text, file_name, visitor(parser))) return *error;
  return std::move(parser).finish();
}

Result<TransitionList> read_transitions(const std::filesystem::path& file) {
  const std::string name = file.string();
  ListParser parser(name, list_format_of(file));
  if (auto error = textio::read_lines(file, kMaxListBytes, visitor(parser))) return *error;
  return std::move(parser).finish();
}

std::vector<std::uint32_t> unmatched_channels(const TransitionList& list,
                                              const std::vector<std::uint32_t>& channels) {
  std::vector<std::uint32_t> unmatched;
  for (const auto& [channel, row] : list.by_channel()) {
    if (!std::binary_search(channels.begin(), channels.end(), channel)) {
      unmatched.push_back(channel);
    }
  }
  return unmatched;
}

}  // namespace velmoran::mrm
