// velmoran view RUN.d [RUN.d ...] [--port N] [--bind ADDR] [--no-open] [--map-memory MIB]:
// serves the runs (at most 32; view::load_runs) to a browser (docs/view.md).
// Standard output gets one line, the URL with its token; SIGINT or SIGTERM
// stops the server, exit status 0.
#include <fcntl.h>
#include <pthread.h>
#include <spawn.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include <velmoran/view/access.hpp>
#include <velmoran/view/served_runs.hpp>
#include <velmoran/view/server.hpp>
#include <velmoran/view/viewer_assets.hpp>

#include "commands.hpp"
#include "run_output.hpp"
#include "status.hpp"
#include "text_options.hpp"
#include "transitions_option.hpp"

extern char** environ;

namespace velmoran::cli {

namespace {

struct ViewOptions {
  std::vector<std::string> runs;
  int port = 0;
  std::string bind = "127.0.0.1";
  bool no_open = false;
  std::string transitions;
  std::size_t map_mib = view::kServerMapBytes >> 20;
};

bool is_loopback(const std::string& address) {
  return address == "127.0.0.1" || address == "::1" || address == "localhost";
}

bool has_display() {
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return true;
  }
  return false;
}

// Starts xdg-open on `url`, its output sent to /dev/null: standard output
// holds the URL line alone. Not waited for (SIGCHLD is ignored, so the
// kernel reaps it).
void open_browser(const std::string& url) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::string program = "xdg-open";
  std::string argument = url;
  char* argv[] = {program.data(), argument.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawnp(&pid, "xdg-open", &actions, nullptr, argv, environ) != 0) {
    report_failure("xdg-open", "could not start it; open the URL yourself");
  }
  posix_spawn_file_actions_destroy(&actions);
}

int run_view(const ViewOptions& options) {
  if (!view::viewer_assets_built()) {
    report_failure("view", view::viewer_assets_missing());
    return kExitFailure;
  }
  LoadedTransitions transitions = load_transitions(options.transitions);
  if (!transitions.ok) return kExitUsage;
  view::LoadOptions load;
  load.map_bytes = options.map_mib << 20;
  load.report = report_failure;
  if (transitions.list) {
    load.transitions = std::make_shared<const mrm::TransitionList>(std::move(*transitions.list));
    load.run_warning = [&list = *load.transitions, &file = options.transitions](const Reader& run) {
      return unmatched_transitions_warning(run, file, list);
    };
  }
  const view::LoadedRuns loaded = view::load_runs(options.runs, load);
  if (!loaded.usage_error.empty()) return usage_error("view: " + loaded.usage_error);
  if (!loaded.any()) return kExitFailure;
  const view::ServedRuns& runs = loaded.runs;
  auto token = view::random_token();
  if (!token) {
    report_failure("random token", token.error().text());
    return kExitFailure;
  }

  // The signals that stop the server are taken by sigwait below, on this
  // thread; every thread started from here on inherits the blocked mask.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  std::signal(SIGCHLD, SIG_IGN);

  auto server = view::ViewServer::start(runs, std::move(token).value(), options.bind, options.port);
  if (!server) {
    report_failure(options.bind, server.error().detail());
    return kExitFailure;
  }
  if (!is_loopback(options.bind)) {
    report_failure("warning", "serving on " + options.bind +
                                  ", beyond this machine: whoever can reach it and learns the URL "
                                  "can read the run (see " VELMORAN_DOC_DIR
                                  "/view.md for an SSH tunnel instead)");
  }
  const std::string url = (*server)->url();
  std::printf("%s\n", url.c_str());
  std::fflush(stdout);
  if (!options.no_open && has_display()) open_browser(url);

  int signal = 0;
  sigwait(&stop_signals, &signal);
  (*server)->stop();
  return kExitSuccess;
}

}  // namespace

Subcommand add_view(CLI::App& app) {
  auto options = std::make_shared<ViewOptions>();
  CLI::App* sub = app.add_subcommand(
      "view",
      "Look at runs in the browser: chromatograms, spectra, XICs, scan tables (" VELMORAN_DOC_DIR
      "/view.md)");
  sub->footer(
      "Prints the URL to open, with a random token that every request must carry, and\n"
      "opens it with xdg-open when there is a display. Ctrl-C stops the server.\n\n"
      "Several runs: one that cannot be opened is reported and the others are served;\n"
      "a run named twice is served once.\n\n"
      "Exit status: 0 stopped by SIGINT or SIGTERM, 1 no run could be opened or\n"
      "served, 2 usage error.");
  sub->add_option("runs", options->runs,
                  "The runs: .d directories (at most 32); the page overlays their "
                  "chromatograms and shows one run's scans at a time")
      ->required()
      ->type_name("RUN.d");
  sub->add_option("--port", options->port, "Port to listen on; 0 takes any free port")
      ->transform(kWholeNumber)
      ->check(CLI::Range(0, 65535))
      ->type_name("N")
      ->capture_default_str();
  sub->add_option("--bind", options->bind,
                  "Address to listen on; anything but loopback serves the run beyond this "
                  "machine (a warning)")
      ->type_name("ADDR")
      ->capture_default_str();
  sub->add_flag("--no-open", options->no_open, "Print the URL without starting a browser");
  sub->add_option("--map-memory", options->map_mib,
                  "MiB that the maps of all the runs keep in memory between requests")
      ->envname("VELMORAN_VIEW_MAP_MEMORY")
      ->check(CLI::Range(std::size_t{1}, std::size_t{1} << 20))
      ->type_name("MIB")
      ->capture_default_str();
  add_transitions_option(*sub, options->transitions);
  return {sub, [options] { return run_view(*options); }};
}

}  // namespace velmoran::cli
