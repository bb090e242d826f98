#include <velmoran/inspect/targets.hpp>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>

#include <cerrno>

#include <velmoran/analysis/window_sums.hpp>
#include <velmoran/textio/number_text.hpp>

namespace velmoran::inspect {

namespace {

std::string_view trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

std::string quoted(std::string_view text) {
  std::string out = "\"";
  out += text;
  out += '"';
  return out;
}

// Splits one CSV record (RFC 4180, within a line) into its fields; nullopt
// when a quote is left open or stray text follows a closing quote.
std::optional<std::vector<std::string>> csv_fields(std::string_view line) {
  std::vector<std::string> fields;
  std::size_t i = 0;
  while (true) {
    std::string field;
    if (i < line.size() && line[i] == '"') {
      ++i;
      while (true) {
        if (i >= line.size()) return std::nullopt;  // unterminated
        if (line[i] == '"') {
          if (i + 1 < line.size() && line[i + 1] == '"') {
            field += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        field += line[i++];
      }
      if (i < line.size() && line[i] != ',') return std::nullopt;
    } else {
      const auto comma = line.find(',', i);
      const auto end = comma == std::string_view::npos ? line.size() : comma;
      field.assign(line.substr(i, end - i));
      if (field.find('"') != std::string::npos) return std::nullopt;
      i = end;
    }
    fields.push_back(std::move(field));
    if (i >= line.size()) return fields;
    ++i;  // the comma
  }
}

// "name,mz", in any case, spaces around the fields allowed.
bool is_csv_header(std::string_view line) {
  const auto comma = line.find(',');
  if (comma == std::string_view::npos) return false;
  const auto same = [](std::string_view text, std::string_view word) {
    return text.size() == word.size() &&
           std::equal(text.begin(), text.end(), word.begin(), [](char a, char b) {
             return std::tolower(static_cast<unsigned char>(a)) == b;
           });
  };
  return same(trim(line.substr(0, comma)), "name") && same(trim(line.substr(comma + 1)), "mz");
}

}  // namespace

std::optional<double> parse_mz(std::string_view text) {
  const auto value = textio::parse_finite(text);
  if (!value || *value <= 0.0) return std::nullopt;
  return value;
}

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
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  std::vector<Target> targets;
  std::optional<bool> csv;  // decided by the first line that is not skipped
  std::size_t line_number = 0;
  const auto problem = [&](const std::string& reason) {
    return Error::parse(std::string(file_name) + ":" + std::to_string(line_number) + ": " + reason);
  };

  while (!text.empty()) {
    const auto newline = text.find('\n');
    std::string_view line = text.substr(0, newline);
    text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    ++line_number;
    if (line.ends_with('\r')) line.remove_suffix(1);
    const std::string_view content = trim(line);
    if (content.empty() || content.starts_with('#')) continue;

    if (!csv) {
      csv = is_csv_header(content);
      if (*csv) continue;
    }
    if (!*csv) {
      const auto mz = parse_mz(content);
      if (!mz) return problem("not an m/z (a positive number): " + quoted(content));
      targets.push_back({std::string(content), *mz});
      continue;
    }
    auto fields = csv_fields(line);
    if (!fields) return problem("not a CSV row (a quote is not closed, or text follows one)");
    if (fields->size() != 2) {
      return problem("expected 2 fields (name,mz), found " + std::to_string(fields->size()));
    }
    const std::string_view mz_text = trim((*fields)[1]);
    const auto mz = parse_mz(mz_text);
    if (!mz) return problem("not an m/z (a positive number): " + quoted(mz_text));
    std::string name = std::move((*fields)[0]);
    if (name.empty()) name = std::string(mz_text);
    targets.push_back({std::move(name), *mz});
  }
  if (targets.empty()) return Error::parse(std::string(file_name) + ": no targets");
  return targets;
}

Result<std::vector<Target>> read_targets(const std::filesystem::path& file) {
  std::error_code ec;
  if (std::filesystem::is_directory(file, ec)) return Error::os(EISDIR);
  errno = 0;
  std::ifstream in(file, std::ios::binary);
  if (!in) return Error::os(errno != 0 ? errno : ENOENT);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return Error::os(EIO);
  return parse_targets(text, file.string());
}

}  // namespace velmoran::inspect
