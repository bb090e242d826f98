// Outputs that would overwrite what a command reads. A command that reads
// runs (dataset directories) never writes over one of their files, under
// whatever name the file is reached (a hard link elsewhere, a symbolic
// link, /dev/stdout), nor anywhere inside a run's directory: `velmoran
// convert v.d -o v.d/AcqData/MSScan.bin` would destroy the run it reads.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace velmoran::textio {

struct InputClash {
  // The input run the output would land in.
  std::filesystem::path run;
  // The run's file that the output is (one of its AcqData, as the reader
  // names it); empty when the output only lies inside the run's directory.
  std::filesystem::path file;

  // "the same file as RUN/AcqData/MSPeak.bin of the input run RUN: not
  // overwritten", or "inside the input run RUN: not written there".
  [[nodiscard]] std::string text() const;
};

// The absolute path that `path` names: taken from the working directory
// when relative, then its existing part resolved (links, "." and "..").
// A bare name ("x.mzQC") is resolved like "./x.mzQC".
[[nodiscard]] std::filesystem::path resolved_path(const std::filesystem::path& path);

// Whether writing `target` would touch one of the `runs`: the file it
// names (links followed) is one of a run's AcqData files, or the path lies
// inside a run's directory or its AcqData (both with their links followed).
[[nodiscard]] std::optional<InputClash> find_input_clash(
    const std::filesystem::path& target, const std::vector<std::filesystem::path>& runs);

// The same for a file open as `fd` (standard output redirected by the
// shell): only its identity counts.
[[nodiscard]] std::optional<InputClash> find_input_clash(
    int fd, const std::vector<std::filesystem::path>& runs);

}  // namespace velmoran::textio
