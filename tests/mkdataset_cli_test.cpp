#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "expected_json.hpp"
#include "synthetic_run.hpp"

namespace velmoran::testkit {
namespace {

// Runs the tool with `args` (no shell quoting needed in them) and returns
// its exit status, -1 when it did not exit normally.
int run_tool(const std::string& args) {
  const std::string command =
      std::string("'") + VELMORAN_MKDATASET + "' " + args + " >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::vector<char> file_bytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(MkdatasetCli, BadArgumentsExitWithTwo) {
  const TempDir dir;
  const std::string out = (dir / "out.d").string();
  const char* bad[] = {
      "",
      "frobnicate OUT",
      "synth",
      "synth --ms1 5",
      "synth OUT OTHER",
      "synth OUT --ms1",
      "synth OUT --ms1 -3",
      "synth OUT --ms1 5x",
      "synth OUT --ms1 99999999999",
      "synth OUT --layout 196",
      "synth OUT --layout 100",
      "synth OUT --scans 5",
      "synth OUT --ms1 0 --ms2 0",
      "synth OUT --points 999999999",
      "synth OUT --bogus 1",
      "mrm OUT --layout 284",
      "mrm OUT --ms1 3",
      "mrm OUT --scans 0",
  };
  for (const char* args : bad) {
    std::string text = args;
    if (const auto at = text.find("OUT"); at != std::string::npos) text.replace(at, 3, out);
    EXPECT_EQ(run_tool(text), 2) << args;
  }
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_EQ(run_tool("--help"), 0);
}

struct CliCase {
  std::string args;
  RunOptions options;
};

TEST(MkdatasetCli, WritesWhatMakeRunMakesAndItsExpectedSpectra) {
  RunOptions synth;
  synth.layout = Layout::k284;
  synth.ms1_scans = 3;
  synth.ms2_scans = 7;
  synth.profile_points = 300;
  synth.centroid_peaks = 12;
  synth.seed = 42;
  RunOptions mrm;
  mrm.mrm = true;
  mrm.layout = Layout::k186;
  mrm.mrm_scans = 12;
  mrm.centroid_peaks = 20;  // the mrm default
  mrm.seed = 1;
  const CliCase cases[] = {
      {"synth OUT --ms1 3 --ms2=7 --points 300 --peaks 12 --seed 42 --layout 284", synth},
      {"mrm OUT --scans 12 --layout 186", mrm},
  };
  for (const CliCase& c : cases) {
    const TempDir dir;
    // Parents of OUT_DIR are created too.
    const std::filesystem::path out = dir / "nested/run.d";
    std::string args = c.args;
    args.replace(args.find("OUT"), 3, out.string());
    ASSERT_EQ(run_tool(args + " --expect " + (dir / "expect.json").string()), 0) << c.args;

    std::vector<ExpectedSpectrum> expected;
    make_run(c.options, &expected).write(dir / "reference.d");
    for (const char* name : {"MSScan.bin", "MSPeak.bin", "MSProfile.bin"}) {
      EXPECT_EQ(file_bytes(out / "AcqData" / name),
                file_bytes(dir / "reference.d" / "AcqData" / name))
          << c.args << ": " << name;
    }
    std::ostringstream json;
    write_expected_json(json, expected);
    const std::vector<char> written = file_bytes(dir / "expect.json");
    EXPECT_EQ(std::string(written.begin(), written.end()), json.str()) << c.args;
  }
}

}  // namespace
}  // namespace velmoran::testkit
