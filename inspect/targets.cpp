#include <velmoran/inspect/targets.hpp>

#include <algorithm>
#include <array>
#include <cctype>

#include <velmoran/analysis/window_sums.hpp>
#include <velmoran/textio/numbers.hpp>
#include <velmoran/textio/quoted_value.hpp>
#include <velmoran/textio/records.hpp>
#include <velmoran/textio/text_lines.hpp>

namespace velmoran::inspect {

namespace {

constexpr std::array<std::string_view, 2> kColumns = {"name", "mz"};

bool same_word(std::string_view text, std::string_view word) {
  return std::equal(text.begin(), text.end(), word.begin(), word.end(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) == b;
  });
}

// The header "name,mz" in any case.
bool is_header(const std::vector<std::string>& cells) {
  return cells.size() == kColumns.size() && same_word(cells[0], kColumns[0]) &&
         same_word(cells[1], kColumns[1]);
}

// Reads a targets file a line at a time: the first record decides between
// the CSV form (its header) and one m/z per line.
class TargetsParser {
 public:
  explicit TargetsParser(std::string_view file_name) : file_name_(file_name) {}

  std::optional<Error> line(std::size_t number, std::string_view text) {
    textio::Record record = textio::split_record(text, ',');
    if (record.skipped) return std::nullopt;
    if (!csv_) {
      csv_ = !record.error && is_header(record.cells);
      if (*csv_) return std::nullopt;
    }
    const auto problem = [&](const std::string& reason) {
      return Error::parse(std::string(file_name_) + ":" + std::to_string(number) + ": " + reason);
    };
    if (!*csv_) {
      // One m/z per line, as the line gives it.
      const auto value = std::string_view(text).substr(text.find_first_not_of(" \t"));
      const std::string_view content = value.substr(0, value.find_last_not_of(" \t") + 1);
      const auto mz = parse_mz(content);
      if (!mz) return problem("not an m/z (a positive number): " + textio::quoted_value(content));
      targets_.push_back({std::string(content), *mz});
      return std::nullopt;
    }
    if (record.error) {
      const std::size_t column = record.error->column;
      return textio::cell_error(
          file_name_, number,
          column < kColumns.size() ? kColumns[column] : std::to_string(column + 1),
          record.error->reason);
    }
    if (record.cells.size() != kColumns.size()) {
      return problem("expected 2 fields (name,mz), found " + std::to_string(record.cells.size()));
    }
    const std::string& mz_text = record.cells[1];
    const auto mz = parse_mz(mz_text);
    if (!mz) {
      return textio::cell_error(file_name_, number, kColumns[1],
                                "not an m/z (a positive number): " + textio::quoted_value(mz_text));
    }
    std::string name = std::move(record.cells[0]);
    if (name.empty()) name = mz_text;
    targets_.push_back({std::move(name), *mz});
    return std::nullopt;
  }

  Result<std::vector<Target>> finish() && {
    if (targets_.empty()) return Error::parse(std::string(file_name_) + ": no targets");
    return std::move(targets_);
  }

 private:
  std::string_view file_name_;
  std::optional<bool> csv_;  // decided by the first record
  std::vector<Target> targets_;
};

textio::LineVisitor visitor(TargetsParser& parser) {
  return [&parser](std::size_t number, std::string_view line) { return parser.line(number, line); };
}

}  // namespace

std::optional<double> parse_mz(std::string_view text) { return textio::parse_positive(text); }

std::optional<double> parse_ppm(std::string_view text) {
  const auto value = textio::parse_finite(text);
  if (!value || !analysis::valid_tolerance(analysis::ToleranceUnit::ppm, *value)) {
    return std::nullopt;
  }
  return value;
}

std::optional<double> parse_da(std::string_view text) {
  const auto value = textio::parse_finite(text);
  if (!value || !analysis::valid_tolerance(analysis::ToleranceUnit::da, *value)) {
    return std::nullopt;
  }
  return value;
}

Result<std::vector<Target>> parse_targets(std::string_view text, std::string_view file_name) {
  TargetsParser parser(file_name);
  if (auto error = textio::for_each_line(text, file_name, visitor(parser))) return *error;
  return std::move(parser).finish();
}

Result<std::vector<Target>> read_targets(const std::filesystem::path& file) {
  const std::string name = file.string();
  TargetsParser parser(name);
  if (auto error = textio::read_lines(file, kMaxTargetsBytes, visitor(parser))) return *error;
  return std::move(parser).finish();
}

}  // namespace velmoran::inspect
