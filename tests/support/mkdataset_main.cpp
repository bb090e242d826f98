// velmoran-mkdataset: writes a synthetic acquisition dataset, and
// optionally the spectra a reader must decode from it as JSON, for test
// suites and benchmarks outside C++.
//
//   velmoran-mkdataset synth OUT_DIR [--ms1 N] [--ms2 N] [--points P] [--peaks K]
//                                    [--seed S] [--layout 284|220|216] [--profile-ms2]
//                                    [--expect FILE] [--damage] [--spray-fails]
//   velmoran-mkdataset mrm OUT_DIR [--scans N] [--peaks K] [--layout 196|186]
//                                  [--seed S] [--expect FILE] [--transitions FILE]
//   velmoran-mkdataset gauss OUT_DIR [--scans N] [--points P] [--peaks K]
//                                    [--resolution R] [--seed S] [--expect FILE]
//                                    [--truth FILE]
//
// Exit status: 0 on success, 2 on bad arguments (with the usage text on
// standard error), 1 when the files cannot be written.
#include <charconv>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "expected_json.hpp"
#include "gaussian_run.hpp"
#include "synthetic_run.hpp"

namespace {

using velmoran::testkit::Layout;
using velmoran::testkit::RunOptions;

constexpr int kBadArguments = 2;
constexpr int kFailed = 1;

constexpr std::string_view kUsage =
    "usage: velmoran-mkdataset synth OUT_DIR [--ms1 N=20] [--ms2 N=40] [--points P=2000]\n"
    "                          [--peaks K=100] [--seed S=1] [--layout 284|220|216]\n"
    "                          [--profile-ms2] [--expect FILE] [--damage] [--spray-fails]\n"
    "       velmoran-mkdataset mrm OUT_DIR [--scans N=50] [--peaks K=20] [--layout 196|186]\n"
    "                          [--seed S=1] [--expect FILE] [--transitions FILE]\n"
    "       velmoran-mkdataset gauss OUT_DIR [--scans N=100] [--points P=100000]\n"
    "                          [--peaks K=300] [--resolution R=20000] [--seed S=1]\n"
    "                          [--expect FILE] [--truth FILE]\n"
    "Writes OUT_DIR/AcqData/{MSScan,MSPeak,MSProfile}.bin; --expect writes the spectra a\n"
    "reader must decode, as JSON. Only the 284 layout carries MS1 profiles; MS1 scans of\n"
    "the 220 and 216 layouts are centroided. --profile-ms2 (284 layout) gives fragment\n"
    "scans a profile beside their centroids. --damage (284 layout, at least 4 MS1 and\n"
    "4 MS2 scans, no --expect) puts the values of a damaged scan table into some scans:\n"
    "NaN and infinite m/z ranges, times and precursors, m/z beyond 2^31, NaN peaks.\n"
    "--transitions (mrm) writes the run's transition list as CSV, distinct Q1/Q3 per channel.\n"
    "gauss writes MS1 profiles of Gaussian peaks with known centres over a noise floor;\n"
    "--truth writes those peaks as JSON. --spray-fails (synth, mrm): from the middle scan on\n"
    "every intensity is 0, as when the spray fails halfway.\n";

class BadArguments : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct Command {
  bool gauss = false;
  velmoran::testkit::GaussianRunOptions gauss_options;
  std::optional<std::filesystem::path> truth_file;
  RunOptions options;
  std::filesystem::path out_dir;
  std::optional<std::filesystem::path> expect_file;
  std::optional<std::filesystem::path> transitions_file;
  bool damage = false;
};

template <class T>
T parse_number(std::string_view name, std::string_view text) {
  T value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) {
    throw BadArguments("--" + std::string(name) + " takes an unsigned number, not \"" +
                       std::string(text) + "\"");
  }
  return value;
}

Layout parse_layout(std::string_view text, bool mrm) {
  const auto stride = parse_number<std::uint32_t>("layout", text);
  for (const Layout layout : mrm ? std::vector{Layout::k196, Layout::k186}
                                 : std::vector{Layout::k284, Layout::k220, Layout::k216}) {
    if (velmoran::testkit::stride_of(layout) == stride) return layout;
  }
  throw BadArguments(mrm ? "--layout of an mrm run is 196 or 186"
                         : "--layout of a synth run is 284, 220 or 216");
}

Command parse_command(const std::vector<std::string_view>& args) {
  if (args.empty()) throw BadArguments("no mode given");
  Command command;
  RunOptions& o = command.options;
  if (args[0] == "synth") {
    o.mrm = false;
    o.layout = Layout::k284;
  } else if (args[0] == "gauss") {
    command.gauss = true;
  } else if (args[0] == "mrm") {
    o.mrm = true;
    o.layout = Layout::k196;
    o.centroid_peaks = 20;
  } else {
    throw BadArguments("unknown mode \"" + std::string(args[0]) + "\"");
  }

  bool have_dir = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    std::string_view arg = args[i];
    if (!arg.starts_with("--")) {
      if (have_dir) throw BadArguments("more than one OUT_DIR");
      command.out_dir = std::filesystem::path(arg);
      have_dir = true;
      continue;
    }
    if (arg == "--damage") {
      command.damage = true;
      continue;
    }
    // --name VALUE or --name=VALUE, and flags
    std::string_view name = arg.substr(2);
    if (name == "profile-ms2" && args[0] == "synth") {
      o.profile_ms2 = true;
      continue;
    }
    if (name == "spray-fails" && !command.gauss) {
      o.spray_fails = true;
      continue;
    }
    std::string_view value;
    if (const auto eq = name.find('='); eq != std::string_view::npos) {
      value = name.substr(eq + 1);
      name = name.substr(0, eq);
    } else if (i + 1 < args.size()) {
      value = args[++i];
    } else {
      throw BadArguments("--" + std::string(name) + " needs a value");
    }
    velmoran::testkit::GaussianRunOptions& g = command.gauss_options;
    if (command.gauss) {
      if (name == "scans") {
        g.scans = parse_number<std::uint32_t>(name, value);
      } else if (name == "points") {
        g.points = parse_number<std::uint32_t>(name, value);
      } else if (name == "peaks") {
        g.peaks = parse_number<std::uint32_t>(name, value);
      } else if (name == "resolution") {
        g.resolving_power = parse_number<std::uint32_t>(name, value);
      } else if (name == "seed") {
        g.seed = parse_number<std::uint64_t>(name, value);
      } else if (name == "expect" || name == "truth") {
        if (value.empty()) throw BadArguments("--" + std::string(name) + " needs a file name");
        (name == "expect" ? command.expect_file : command.truth_file) =
            std::filesystem::path(value);
      } else {
        throw BadArguments("unknown option --" + std::string(name) + " for gauss");
      }
      continue;
    }
    if (name == "peaks") {
      o.centroid_peaks = parse_number<std::uint32_t>(name, value);
    } else if (name == "seed") {
      o.seed = parse_number<std::uint64_t>(name, value);
    } else if (name == "layout") {
      o.layout = parse_layout(value, o.mrm);
    } else if (name == "expect") {
      if (value.empty()) throw BadArguments("--expect needs a file name");
      command.expect_file = std::filesystem::path(value);
    } else if (!o.mrm && name == "ms1") {
      o.ms1_scans = parse_number<std::uint32_t>(name, value);
    } else if (!o.mrm && name == "ms2") {
      o.ms2_scans = parse_number<std::uint32_t>(name, value);
    } else if (!o.mrm && name == "points") {
      o.profile_points = parse_number<std::uint32_t>(name, value);
    } else if (o.mrm && name == "transitions") {
      if (value.empty()) throw BadArguments("--transitions needs a file name");
      command.transitions_file = std::filesystem::path(value);
    } else if (o.mrm && name == "scans") {
      o.mrm_scans = parse_number<std::uint32_t>(name, value);
    } else {
      throw BadArguments("unknown option --" + std::string(name) + " for " + std::string(args[0]));
    }
  }
  if (!have_dir || command.out_dir.empty()) throw BadArguments("no OUT_DIR given");
  if (command.gauss) {
    const auto& g = command.gauss_options;
    if (g.scans == 0) throw BadArguments("a run needs at least one scan");
    if (g.points < 2 || g.points > (std::uint32_t{1} << 28)) {
      throw BadArguments("--points of a gauss run is 2 to 268435456");
    }
    if (g.resolving_power <= 0.0) throw BadArguments("--resolution must be positive");
    if (command.damage) throw BadArguments("--damage is for synth runs");
    return command;
  }
  if (auto problem = velmoran::testkit::run_options_problem(o)) throw BadArguments(*problem);
  if (command.damage && (o.mrm || o.layout != Layout::k284 || o.ms1_scans < 4 || o.ms2_scans < 4 ||
                         command.expect_file)) {
    throw BadArguments(
        "--damage needs a synth run of layout 284 with at least 4 MS1 and 4 MS2 "
        "scans, and no --expect");
  }
  return command;
}

std::string summary(const Command& command, const velmoran::testkit::DatasetWriter& writer) {
  std::uint64_t survey = 0;
  for (const auto& record : writer.table().records) survey += record.ms_level == 1 ? 1 : 0;
  const std::uint64_t total = writer.table().records.size();
  const std::filesystem::path acq = command.out_dir / "AcqData";
  std::string line = "wrote " + command.out_dir.string() + ": " + std::to_string(total) +
                     " scans (" + std::to_string(survey) + " MS1, " +
                     std::to_string(total - survey) + " MS2), layout " +
                     std::to_string(velmoran::testkit::stride_of(command.options.layout));
  for (const char* name : {"MSScan.bin", "MSPeak.bin", "MSProfile.bin"}) {
    line += ", ";
    line += name;
    line += ' ';
    line += std::to_string(std::filesystem::file_size(acq / name));
    line += " bytes";
  }
  return line;
}

// What a damaged scan table holds, in the first four survey and the first
// four fragment scans: the fields a reader takes as they are stored.
void damage(velmoran::testkit::DatasetWriter& writer) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  constexpr double kInf = std::numeric_limits<double>::infinity();
  std::vector<velmoran::testkit::RecordSpec*> survey;
  std::vector<velmoran::testkit::RecordSpec*> fragment;
  for (auto& record : writer.table().records) {
    (record.ms_level == 1 ? survey : fragment).push_back(&record);
  }
  // A NaN m/z range: every m/z of the profile is NaN.
  survey[0]->mz_range_low = kNaN;
  survey[0]->mz_range_high = kNaN;
  // m/z beyond 2^31: too large for numpress linear.
  survey[1]->mz_range_low = 3e9;
  survey[1]->mz_range_high = 3.1e9;
  survey[2]->mz_range_high = kInf;
  survey[3]->retention_time_min = kNaN;
  fragment[0]->precursor_mz = kNaN;
  fragment[1]->precursor_mz = kInf;
  fragment[2]->retention_time_min = -kInf;
  // Peaks that are all NaN: intensities, and one m/z.
  const std::vector<double> mz = {150.0, kNaN, 250.0};
  const std::vector<float> intensity(3, std::numeric_limits<float>::quiet_NaN());
  fragment[3]->first = writer.add_peak_block(3, mz, intensity);
}

// The transition list of an MRM run's channels (1 to mrm_channels), as
// CSV: a distinct Q1 and Q3 for each, a collision energy for all but
// channel 3 (an empty cell), and names that need quoting.
void write_transitions(std::ostream& out, const RunOptions& options) {
  out << "channel,precursor_mz,product_mz,collision_energy,name\n";
  for (std::uint32_t channel = 1; channel <= options.mrm_channels; ++channel) {
    const double q1 = 300.25 + 37.5 * channel;
    const double q3 = 120.125 + 21.0 * channel;
    out << channel << ',' << q1 << ',' << q3 << ',';
    if (channel != 3) out << 10 + 2 * channel;
    out << ",\"compound " << (channel + 1) / 2 << ", "
        << (channel % 2 == 1 ? "quantifier" : "\"\"qualifier\"\"") << "\"\n";
  }
}

int run(const Command& command) {
  std::vector<velmoran::testkit::ExpectedSpectrum> expected;
  const bool want = command.expect_file || command.truth_file;
  velmoran::testkit::DatasetWriter writer =
      command.gauss
          ? velmoran::testkit::make_gaussian_run(command.gauss_options, want ? &expected : nullptr)
          : velmoran::testkit::make_run(command.options, want ? &expected : nullptr);
  if (command.damage) damage(writer);
  writer.write(command.out_dir);
  if (command.truth_file) {
    std::ofstream out(*command.truth_file, std::ios::binary | std::ios::trunc);
    velmoran::testkit::write_truth_json(out, expected, velmoran::testkit::kGaussianNoiseSd);
    out.flush();
    if (!out) throw std::runtime_error("cannot write " + command.truth_file->string());
  }
  if (command.transitions_file) {
    std::ofstream out(*command.transitions_file, std::ios::binary | std::ios::trunc);
    out.precision(17);
    write_transitions(out, command.options);
    out.flush();
    if (!out) throw std::runtime_error("cannot write " + command.transitions_file->string());
  }
  if (command.expect_file) {
    std::ofstream out(*command.expect_file, std::ios::binary | std::ios::trunc);
    velmoran::testkit::write_expected_json(out, expected);
    out.flush();
    if (!out) throw std::runtime_error("cannot write " + command.expect_file->string());
  }
  std::cout << summary(command, writer) << '\n';
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << kUsage;
    return 0;
  }
  Command command;
  try {
    command = parse_command(args);
  } catch (const BadArguments& e) {
    std::cerr << "velmoran-mkdataset: " << e.what() << '\n' << kUsage;
    return kBadArguments;
  }
  try {
    return run(command);
  } catch (const std::exception& e) {
    std::cerr << "velmoran-mkdataset: " << e.what() << '\n';
    return kFailed;
  }
}
