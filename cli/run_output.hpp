// What the commands that read runs share: opening a run, naming its
// outputs, and putting an output in place whole.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <velmoran/textio/output_file.hpp>
#include <velmoran/reader.hpp>

#include "status.hpp"

namespace velmoran::cli {

// The runs this command reads. open_run() enters each, and every output
// opened through output_options() refuses to overwrite their files or to
// land inside them.
[[nodiscard]] inline std::vector<std::filesystem::path>& input_runs() {
  static std::vector<std::filesystem::path> runs;
  return runs;
}

// Opens the run, or reports why it cannot be opened ("velmoran: RUN: ...").
[[nodiscard]] inline std::optional<Reader> open_run(const std::filesystem::path& run) {
  input_runs().push_back(run);
  auto reader = Reader::open(run);
  if (!reader) {
    report_failure(run.string(), reader.error().text());
    return std::nullopt;
  }
  return std::move(reader).value();
}

// The most threads a command's --threads takes. More threads than CPUs
// only cost memory and hand-offs (1,024 threads on two CPUs ran 12 times
// slower); the bound keeps a typo from starting thousands.
constexpr unsigned kMaxThreads = 256;

// `text` ends in `suffix` (lower case ASCII), in any case: the file
// managers' reading of ".GZ" and ".D".
[[nodiscard]] inline bool ends_with_any_case(std::string_view text, std::string_view suffix) {
  if (text.size() < suffix.size()) return false;
  const std::string_view tail = text.substr(text.size() - suffix.size());
  return std::equal(tail.begin(), tail.end(), suffix.begin(), [](char a, char b) {
    return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
  });
}

// The stem of a run's outputs: its name without ".d" or ".D" ("run1.d"
// gives run1.mzML, run1.mzQC).
[[nodiscard]] inline std::string stem_of(const std::string& name) {
  if (name.size() > 2 && ends_with_any_case(name, ".d")) return name.substr(0, name.size() - 2);
  return name;
}

// The stem of the run's outputs (stem_of its name). A run given as "." or
// ".." (which the reader names "bundle.d") takes the real name of the
// directory it stands for: `velmoran convert .` inside run.d writes
// run.mzML, not bundle.mzML.
[[nodiscard]] inline std::string output_stem(const std::filesystem::path& run) {
  std::string name = Reader::name_of(run);
  const std::string last = run.lexically_normal().filename().string();
  if (name == "bundle.d" && last != name) {
    std::error_code ec;
    const std::filesystem::path real = std::filesystem::canonical(run, ec);
    if (!ec && !real.filename().empty()) name = real.filename().string();
  }
  return stem_of(name);
}

// The reader of standard output went away (`velmoran scans run.d | head`):
// not a failure, the output simply ends there, as with ripgrep.
[[nodiscard]] inline bool reader_left(const textio::OutputFile& out, const Error& error) {
  return out.is_standard_output() && error.is_io() && error.os_error() == EPIPE;
}

// How the commands open their outputs. VELMORAN_NAMED_TEMPORARY=1 in the
// environment names every temporary from the start, as on a file system
// without O_TMPFILE (see docs/cli.md).
[[nodiscard]] inline textio::OutputOptions output_options(bool sync) {
  const char* named = std::getenv("VELMORAN_NAMED_TEMPORARY");
  return {.sync = sync,
          .anonymous = named == nullptr || std::string_view(named) != "1",
          .inputs = input_runs()};
}

// Why `target` could not be opened, naming the directory when the
// temporary could not be made there.
[[nodiscard]] inline std::string open_failure(const std::filesystem::path& target,
                                              const textio::OpenResult& opened) {
  if (opened.input_clash()) return opened.input_clash()->text();
  if (opened.concerning() == target || opened.concerning().empty()) return opened.error().text();
  return "directory " + opened.concerning().string() + ": " + opened.error().text();
}

// Opens `target` ("-" for standard output), lets `write` fill it and puts
// it in place only when every write succeeded; returns the exit status.
[[nodiscard]] inline int write_output(
    const std::filesystem::path& target,
    const std::function<Result<textio::Done>(textio::OutputFile&)>& write, bool sync = true) {
  const std::string name = target == "-" ? std::string("standard output") : target.string();
  auto out = textio::OutputFile::open(target, output_options(sync));
  if (!out) {
    report_failure(name, open_failure(target, out));
    return kExitFailure;
  }
  auto written = write(*out);
  if (written) written = out->commit();
  if (!written) {
    if (reader_left(*out, written.error())) return kExitSuccess;
    report_failure(name, written.error().text());
    return kExitFailure;
  }
  return kExitSuccess;
}

// --fsync (the default) and --no-fsync.
inline void add_sync_option(CLI::App& sub, bool& sync) {
  sub.add_flag("--fsync,!--no-fsync", sync,
               "Flush the output file to the disk before renaming it into place (default), so "
               "that a crash leaves the old file or the whole new one; --no-fsync skips it");
}

// The options of a command that writes a table: --format tsv|csv|json,
// -o FILE ("-", the default, for standard output) and --[no-]fsync.
inline void add_table_options(CLI::App& sub, std::string& format, std::string& output, bool& sync) {
  sub.add_option("--format", format, "Table format: tsv, csv or json")
      ->type_name("FORMAT")
      ->check(CLI::IsMember({"tsv", "csv", "json"}))
      ->capture_default_str();
  sub.add_option("-o,--output", output,
                 "Write to FILE (put in place only when complete); - is standard output")
      ->type_name("FILE")
      ->capture_default_str();
  add_sync_option(sub, sync);
}

}  // namespace velmoran::cli
