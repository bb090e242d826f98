#include <velmoran/mrm/transitions.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

namespace velmoran::mrm {

namespace {

std::string_view trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t");
  return text.substr(first, last - first + 1);
}

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string quoted(std::string_view text) {
  std::string out = "\"";
  // A cell is quoted back whole, but a runaway one is cut: the message is
  // one line on a terminal.
  constexpr std::size_t kShown = 60;
  for (const char c : text.substr(0, kShown)) {
    out += (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) ? '?' : c;
  }
  if (text.size() > kShown) out += "...";
  out += '"';
  return out;
}

// Splits one line into its fields: CSV as RFC 4180 within a line (quotes
// doubled inside quoted fields), TSV at every tab, a field in double quotes
// unquoted likewise. Spaces around a field go. nullopt when a quote is left
// open or text follows a closing quote.
std::optional<std::vector<std::string>> split_fields(std::string_view line, char delimiter) {
  std::vector<std::string> fields;
  std::size_t i = 0;
  while (true) {
    while (i < line.size() && line[i] == ' ' && delimiter != ' ') ++i;
    std::string field;
    if (i < line.size() && line[i] == '"') {
      ++i;
      while (true) {
        if (i >= line.size()) return std::nullopt;
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
      while (i < line.size() && (line[i] == ' ' || (line[i] == '\t' && delimiter != '\t'))) ++i;
      if (i < line.size() && line[i] != delimiter) return std::nullopt;
    } else {
      const auto at = line.find(delimiter, i);
      const auto end = at == std::string_view::npos ? line.size() : at;
      field.assign(trim(line.substr(i, end - i)));
      i = end;
    }
    fields.push_back(std::move(field));
    if (i >= line.size()) return fields;
    ++i;  // the delimiter
  }
}

enum Column : std::size_t { kChannel, kPrecursor, kProduct, kEnergy, kName, kColumns };
constexpr std::array<std::string_view, kColumns> kColumnNames = {
    "channel", "precursor_mz", "product_mz", "collision_energy", "name"};

// A finite number above 0, written as a decimal number and nothing else.
std::optional<double> positive_number(std::string_view text) {
  double value = 0.0;
  const char* const end = text.data() + text.size();
  // from_chars takes no leading '+', which lists written by hand may have.
  const char* const start = !text.empty() && text[0] == '+' ? text.data() + 1 : text.data();
  const auto [stop, ec] = std::from_chars(start, end, value);
  if (start == end || ec != std::errc{} || stop != end || !std::isfinite(value) || !(value > 0.0)) {
    return std::nullopt;
  }
  return value;
}

std::optional<std::uint32_t> channel_number(std::string_view text) {
  std::uint32_t value = 0;
  const char* const end = text.data() + text.size();
  const auto [stop, ec] = std::from_chars(text.data(), end, value);
  if (text.empty() || ec != std::errc{} || stop != end) return std::nullopt;
  return value;
}

}  // namespace

TransitionList::TransitionList(std::vector<Transition> rows) {
  for (Transition& row : rows) rows_.emplace(row.channel, std::move(row));
}

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

Result<TransitionList> parse_transitions(std::string_view text, std::string_view file_name,
                                         std::optional<ListFormat> format) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  const auto problem = [&](std::size_t line, std::string_view message) {
    return Error::parse(std::string(file_name) + ":" + std::to_string(line) + ": " +
                        std::string(message));
  };
  std::array<std::optional<std::size_t>, kColumns> at;
  bool have_header = false;
  char delimiter = ',';
  std::map<std::uint32_t, std::size_t> seen;  // channel -> line
  std::vector<Transition> rows;
  std::size_t line_number = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    ++line_number;
    if (line.ends_with('\r')) line.remove_suffix(1);
    if (trim(line).empty()) continue;
    if (!have_header) {
      const ListFormat chosen =
          format
              ? *format
              : (line.find('\t') != std::string_view::npos ? ListFormat::kTsv : ListFormat::kCsv);
      delimiter = chosen == ListFormat::kTsv ? '\t' : ',';
      const auto names = split_fields(line, delimiter);
      if (!names) return problem(line_number, "the header line is not well-formed (a quote)");
      for (std::size_t i = 0; i < names->size(); ++i) {
        const std::string name = lower((*names)[i]);
        for (std::size_t c = 0; c < kColumns; ++c) {
          if (name != kColumnNames[c]) continue;
          if (at[c]) {
            return problem(line_number, "column " + std::string(kColumnNames[c]) +
                                            ": named twice in the header");
          }
          at[c] = i;
        }
      }
      for (const Column required : {kChannel, kPrecursor, kProduct}) {
        if (!at[required]) {
          return problem(line_number, "column " + std::string(kColumnNames[required]) +
                                          ": missing from the header (it needs channel, "
                                          "precursor_mz and product_mz)");
        }
      }
      have_header = true;
      continue;
    }
    const auto fields = split_fields(line, delimiter);
    if (!fields) return problem(line_number, "a quote is left open or text follows one");
    const auto cell = [&](Column column) -> std::string_view {
      return at[column] && *at[column] < fields->size() ? std::string_view((*fields)[*at[column]])
                                                        : std::string_view();
    };
    const auto bad = [&](Column column, std::string_view why) {
      return problem(line_number, "column " + std::string(kColumnNames[column]) + ": " +
                                      quoted(cell(column)) + " " + std::string(why));
    };
    Transition row;
    row.line = line_number;
    const auto channel = channel_number(cell(kChannel));
    if (!channel) return bad(kChannel, "is not a channel number (0 to 4294967295)");
    row.channel = *channel;
    if (const auto [it, fresh] = seen.emplace(row.channel, line_number); !fresh) {
      return problem(line_number, "column channel: channel " + std::to_string(row.channel) +
                                      " is already given on line " + std::to_string(it->second));
    }
    const auto precursor = positive_number(cell(kPrecursor));
    if (!precursor) return bad(kPrecursor, "is not a finite number above 0");
    row.precursor_mz = *precursor;
    const auto product = positive_number(cell(kProduct));
    if (!product) return bad(kProduct, "is not a finite number above 0");
    row.product_mz = *product;
    if (!cell(kEnergy).empty()) {
      const auto energy = positive_number(cell(kEnergy));
      if (!energy) return bad(kEnergy, "is not a finite number above 0");
      row.collision_energy = *energy;
    }
    if (!cell(kName).empty()) row.name = std::string(cell(kName));
    rows.push_back(std::move(row));
  }
  if (!have_header) {
    return problem(std::max<std::size_t>(line_number, 1),
                   "no header line (it needs channel, precursor_mz and product_mz)");
  }
  return TransitionList(std::move(rows));
}

Result<TransitionList> read_transitions(const std::filesystem::path& file) {
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Error::parse(file.string() + ": " + std::strerror(errno), errno);
  std::string text;
  std::optional<Error> failure;
  struct stat info {};
  if (::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    failure = Error::parse(file.string() + ": is a directory", EISDIR);
  }
  // Read to the end (a pipe or a FIFO too), but never beyond the bound: a
  // list is a few kilobytes, /dev/zero is endless.
  char chunk[1 << 16];
  while (!failure) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      failure = Error::parse(file.string() + ": " + std::strerror(errno), errno);
      break;
    }
    if (got == 0) break;
    text.append(chunk, static_cast<std::size_t>(got));
    if (text.size() > kMaxListBytes) {
      failure = Error::parse(file.string() + ": larger than " +
                             std::to_string(kMaxListBytes >> 20) + " MiB; not a transition list");
    }
  }
  ::close(fd);
  if (failure) return std::move(*failure);
  return parse_transitions(text, file.string(), list_format_of(file));
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
