#include <velmoran/textio/records.hpp>

#include <algorithm>

namespace velmoran::textio {

namespace {

std::string_view trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

Record split_record(std::string_view line, char delimiter) {
  Record record;
  const std::string_view content = trimmed(line);
  if (content.empty() || content.starts_with('#')) {
    record.skipped = true;
    return record;
  }
  std::size_t i = 0;
  while (true) {
    const std::size_t column = record.cells.size();
    std::string cell;
    if (i < line.size() && line[i] == '"') {
      ++i;
      while (true) {
        if (i >= line.size()) {
          record.error = CellError{column, "a quote is not closed"};
          return record;
        }
        if (line[i] == '"') {
          if (i + 1 < line.size() && line[i + 1] == '"') {
            cell += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        cell += line[i++];
      }
      if (i < line.size() && line[i] != delimiter) {
        record.error = CellError{column, "text follows the closing quote"};
        return record;
      }
    } else {
      const auto at = line.find(delimiter, i);
      const auto end = at == std::string_view::npos ? line.size() : at;
      const std::string_view bare = line.substr(i, end - i);
      if (bare.find('"') != std::string_view::npos) {
        record.error = CellError{column, "a quote inside a cell that does not start with one"};
        return record;
      }
      cell.assign(trimmed(bare));
      i = end;
    }
    record.cells.push_back(std::move(cell));
    if (i >= line.size()) break;
    ++i;  // the delimiter
  }
  record.skipped = std::all_of(record.cells.begin(), record.cells.end(),
                               [](const std::string& cell) { return cell.empty(); });
  return record;
}

Error cell_error(std::string_view file_name, std::size_t line, std::string_view column,
                 std::string_view reason) {
  return Error::parse(std::string(file_name) + ":" + std::to_string(line) + ": column " +
                      std::string(column) + ": " + std::string(reason));
}

}  // namespace velmoran::textio
