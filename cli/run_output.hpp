// What the info, scans and xic commands share: opening the run, and putting
// their output in place whole.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include <CLI/CLI.hpp>
#include <velmoran/textio/output_file.hpp>
#include <velmoran/reader.hpp>

#include "status.hpp"

namespace velmoran::cli {

// Opens the run, or reports why it cannot be opened ("velmoran: RUN: ...").
[[nodiscard]] inline std::optional<Reader> open_run(const std::filesystem::path& run) {
  auto reader = Reader::open(run);
  if (!reader) {
    report_failure(run.string(), reader.error().text());
    return std::nullopt;
  }
  return std::move(reader).value();
}

// Opens `target` ("-" for standard output), lets `write` fill it and puts
// it in place only when every write succeeded; returns the exit status.
[[nodiscard]] inline int write_output(
    const std::filesystem::path& target,
    const std::function<Result<textio::Done>(textio::OutputFile&)>& write) {
  const std::string name = target == "-" ? std::string("standard output") : target.string();
  auto out = textio::OutputFile::open(target);
  if (!out) {
    report_failure(name, out.error().text());
    return kExitFailure;
  }
  auto written = write(*out);
  if (written) written = out->commit();
  if (!written) {
    report_failure(name, written.error().text());
    return kExitFailure;
  }
  return kExitSuccess;
}

// The options of a command that writes a table: --format tsv|csv|json and
// -o FILE ("-", the default, for standard output).
inline void add_table_options(CLI::App& sub, std::string& format, std::string& output) {
  sub.add_option("--format", format, "Table format: tsv, csv or json")
      ->type_name("FORMAT")
      ->check(CLI::IsMember({"tsv", "csv", "json"}))
      ->capture_default_str();
  sub.add_option("-o,--output", output,
                 "Write to FILE (put in place only when complete); - is standard output")
      ->type_name("FILE")
      ->capture_default_str();
}

}  // namespace velmoran::cli
