// The one dialect of the CSV and TSV files users give (targets, transition
// lists), a line at a time. A record is one line (lines come from
// text_lines.hpp: CRLF or LF, a UTF-8 byte-order mark dropped); its cells
// are separated by the delimiter (',' for CSV, a tab for TSV):
//
// - a cell not starting with '"' is taken as it is, less the spaces and
//   tabs around it, and may not hold a '"';
// - a cell starting with '"' is quoted as RFC 4180 has it: it ends at the
//   next lone '"', a doubled '""' inside stands for one '"', the delimiter
//   may appear inside, and the closing '"' is followed by the delimiter or
//   the end of the line (not by spaces); a quoted cell is kept as written;
// - a line that is blank, whose first character other than a space or tab
//   is '#' (a comment), or whose cells are all empty (",,,," as a
//   spreadsheet exports an empty row) holds no record and is skipped.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <velmoran/error.hpp>

namespace velmoran::textio {

// Why a line is not a record, and in which cell (counted from 0).
struct CellError {
  std::size_t column = 0;
  std::string_view reason;
};

struct Record {
  std::vector<std::string> cells;
  std::optional<CellError> error;
  // Blank, a comment, or only empty cells: no record.
  bool skipped = false;
};

[[nodiscard]] Record split_record(std::string_view line, char delimiter);

// "FILE:LINE: column COLUMN: REASON", the one form of an error in a cell.
[[nodiscard]] Error cell_error(std::string_view file_name, std::size_t line,
                               std::string_view column, std::string_view reason);

}  // namespace velmoran::textio
