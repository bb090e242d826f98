// velmoran: converts acquisition datasets to mzML and MGF and answers the
// first questions about a run.
//
//   velmoran convert RUN.d [RUN.d ...] [-o OUT] [--format mzml|mgf] ...
//   velmoran info RUN.d [--json]
//   velmoran scans RUN.d [--format tsv|csv|json] [-o FILE]
//   velmoran xic RUN.d (--mz M ... | --targets FILE) (--ppm P | --da D) ...
//   velmoran view RUN.d... [--port N] [--bind ADDR] [--no-open]
//   velmoran qc RUN.d [RUN.d ...] [-o FILE] [--format mzqc|tsv|json] [--report FILE]
//   velmoran chromatograms RUN.d [--channel K ...] [--transitions FILE] ...
//
// Exit status: 0 done, 1 a run failed, 2 usage error.
#include <algorithm>
#include <csignal>
#include <iterator>
#include <exception>
#include <new>
#include <string>

#include <CLI/CLI.hpp>
#include <velmoran/textio/interrupt_cleanup.hpp>

#include "commands.hpp"
#include "status.hpp"

int main(int argc, char** argv) {
  // A closed pipe shows as EPIPE from write(): on standard output the
  // output ends there quietly with status 0, on a file it is an error.
  std::signal(SIGPIPE, SIG_IGN);
  // Past a file-size limit (ulimit -f) a write fails with EFBIG, "File too
  // large", and the output is dropped like any failed one; the default
  // action would kill the process and leave a named temporary behind.
  std::signal(SIGXFSZ, SIG_IGN);
  // An interrupted command leaves no temporary file behind.
  const velmoran::textio::InterruptCleanup cleanup;

  CLI::App app{
      "velmoran: read LC-MS acquisition datasets (.d), convert them to mzML, MGF,\n"
      "mzPeak or Parquet, and answer the first questions about a run.",
      "velmoran"};
  // Usage errors read like every other error line of the program; set before
  // the subcommands are added, which take it over.
  app.failure_message([](const CLI::App* failed, const CLI::Error& e) {
    std::string command = "velmoran";
    for (const CLI::App* sub : failed->get_subcommands()) command += " " + sub->get_name();
    return "velmoran: " + std::string(e.what()) + "\nRun '" + command +
           " --help' for more information.\n";
  });
  app.set_version_flag("--version", "velmoran " VELMORAN_VERSION);
  app.require_subcommand(1);
  app.footer(
      "Exit status: 0 done, 1 a run failed, 2 usage error.\n"
      "Documentation: " VELMORAN_DOC_DIR "/cli.md (every command), convert.md, view.md.");

  const velmoran::cli::Subcommand subcommands[] = {
      velmoran::cli::add_convert(app),       velmoran::cli::add_info(app),
      velmoran::cli::add_scans(app),         velmoran::cli::add_xic(app),
      velmoran::cli::add_view(app),          velmoran::cli::add_qc(app),
      velmoran::cli::add_chromatograms(app),
  };

  // CLI11 reports a first word that names no command as a missing command;
  // say what was wrong instead.
  const auto names_command = [&](const char* word) {
    return std::any_of(std::begin(subcommands), std::end(subcommands),
                       [&](const auto& subcommand) { return subcommand.app->check_name(word); });
  };
  if (argc > 1 && argv[1][0] != '-' && !names_command(argv[1])) {
    return velmoran::cli::usage_error(std::string("unknown command '") + argv[1] +
                                      "'\nRun 'velmoran --help' for the commands.");
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // --help and --version end the parse too; everything else is a usage error.
    const int code = app.exit(e);
    return code == 0 ? velmoran::cli::kExitSuccess : velmoran::cli::kExitUsage;
  }

  try {
    for (const auto& subcommand : subcommands) {
      if (subcommand.app->parsed()) return subcommand.run();
    }
  } catch (const std::bad_alloc&) {
    velmoran::cli::report_failure("error", "out of memory");
    return velmoran::cli::kExitFailure;
  } catch (const std::exception& e) {
    velmoran::cli::report_failure("error", e.what());
    return velmoran::cli::kExitFailure;
  }
  return velmoran::cli::kExitUsage;
}
