#include <velmoran/view/server.hpp>
#include <velmoran/view/viewer_assets.hpp>

#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include <velmoran/pipeline/spectrum_pipeline.hpp>
#include <velmoran/textio/numbers.hpp>
#include <velmoran/textio/quoted_value.hpp>

#include "assets.hpp"
#include "connection_pump.hpp"
#include "page_policy.hpp"
#include "run_routes.hpp"

namespace velmoran::view {

namespace {

// The run at position `k_text` ("0", "12": plain decimal, no sign and no
// leading zero), or a 404 that says why there is none.
Result<const RunApi*> served_run(const ServedRuns& runs, std::string_view k_text) {
  std::size_t k = 0;
  const bool plain = !k_text.empty() && k_text.size() <= 2 &&
                     k_text.find_first_not_of("0123456789") == std::string_view::npos &&
                     (k_text.size() == 1 || k_text[0] != '0');
  if (plain) k = *textio::parse_whole<std::size_t>(k_text);
  if (!plain || k >= runs.size()) {
    return Error::parse("no run " + textio::quoted_value(k_text) + ": the runs are 0 to " +
                        std::to_string(runs.size() - 1));
  }
  const ServedRun& run = runs[k];
  if (!run.api) {
    return Error::parse("run " + std::to_string(k) + " (" + run.name +
                        ") could not be opened: " + run.error);
  }
  return run.api.get();
}

// The page. Its files are loaded by the browser with the session's
// cookie, so their URLs carry no token; an import map names each module
// (the charting library by its package name) and every one is preloaded at
// once rather than import after import.
std::string page_html() {
  const Asset* page = find_asset("index.html");
  std::string imports = "<script type=\"importmap\">{\"imports\": {";
  std::string preloads;
  bool first = true;
  for (const Asset& asset : embedded_assets()) {
    if (!asset.name.ends_with(".js")) continue;
    const std::string url = "/assets/" + std::string(asset.name);
    if (!first) imports += ", ";
    first = false;
    imports += "\"" + url + "\": \"" + url + "\"";
    if (asset.name == "uPlot.esm.js") imports += ", \"uplot\": \"" + url + "\"";
    preloads += "\n<link rel=\"modulepreload\" href=\"" + url + "\">";
  }
  imports += "}}</script>" + preloads;

  std::string html(page->bytes);
  const auto replace_all = [&](std::string_view marker, std::string_view text) {
    for (auto at = html.find(marker); at != std::string::npos; at = html.find(marker, at)) {
      html.replace(at, marker.size(), text);
      at += text.size();
    }
  };
  replace_all("{{importmap}}", imports);
  return html;
}

// What a browser shows for the page without access: how to get in.
constexpr std::string_view kSignInPage =
    "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
    "<title>velmoran view: open the printed address</title></head><body>\n"
    "<h1>This viewer needs its token</h1>\n"
    "<p>Open the address that <code>velmoran view</code> printed when it started "
    "(<code>http://HOST:PORT/?token=&hellip;</code>). It lets this browser in until the "
    "browser closes; reloads and links within the page then work without it.</p>\n"
    "<p>A bookmark or a copied address holds no token, on purpose: anyone with the token "
    "can read the run.</p>\n</body></html>\n";

using Headers = std::vector<std::pair<std::string, std::string>>;

// Every route of the server, and the access checks before them.
class Site {
 public:
  Site(const ServedRuns& runs, AccessPolicy policy)
      : runs_(runs),
        policy_(std::move(policy)),
        html_(std::make_shared<const std::string>(page_html())),
        runs_text_(std::make_shared<const std::string>(runs_json(runs))),
        defaults_{
            {"Cache-Control", "no-store"},
            {"X-Content-Type-Options", "nosniff"},
            {"X-Frame-Options", "DENY"},
            {"Referrer-Policy", "no-referrer"},
            {"Content-Security-Policy", content_security_policy(*html_)},
            {"Cross-Origin-Resource-Policy", "same-origin"},
            {"Cross-Origin-Opener-Policy", "same-origin"},
            // Ranges are not served: every answer is its whole body.
            {"Accept-Ranges", "none"},
        } {}

  [[nodiscard]] Response answer(const Request& request) const {
    const Access access = check(request);
    if (access == Access::none) {
      // A browser opening the page without a token is told how to get in.
      if (request.host_count == 1 && policy_.host_allowed(request.host) && request.path == "/") {
        return text(403, kSignInPage, nullptr, "text/html; charset=utf-8");
      }
      return reply(error_reply(403,
                               "forbidden: this server answers requests that carry its token "
                               "and name it in their Host header"));
    }
    Response response = route(request);
    response.authenticated = true;
    // A request let in by its token signs the browser in for the session.
    if (access == Access::token) response.headers.emplace_back("Set-Cookie", policy_.cookie());
    return response;
  }

  [[nodiscard]] Response refusal(int status, std::string_view reason) const {
    return reply(error_reply(status, reason));
  }

 private:
  enum class Access { none, token, cookie };

  [[nodiscard]] Access check(const Request& request) const {
    if (request.host_count != 1 || !policy_.host_allowed(request.host)) return Access::none;
    const auto query_token = std::find_if(request.query.begin(), request.query.end(),
                                          [](const auto& pair) { return pair.first == "token"; });
    if (policy_.token_matches(request.token) ||
        (query_token != request.query.end() && policy_.token_matches(query_token->second))) {
      return Access::token;
    }
    return policy_.cookie_matches(request.cookies) ? Access::cookie : Access::none;
  }

  [[nodiscard]] Response route(const Request& request) const {
    if (request.method != "GET" && request.method != "HEAD") {
      Response response = reply(error_reply(405, "only GET and HEAD are served"));
      response.headers.emplace_back("Allow", "GET, HEAD");
      return response;
    }
    std::string_view path = request.path;
    if (path == "/") return text(200, *html_, html_, "text/html; charset=utf-8");
    if (path == "/api/runs") return text(200, *runs_text_, runs_text_, "application/json");
    if (path.starts_with("/assets/")) {
      const std::string_view name = path.substr(8);
      const Asset* asset = name.find('/') == std::string_view::npos ? find_asset(name) : nullptr;
      if (asset == nullptr || asset->name == "index.html") return not_found();
      // The embedded bytes live as long as the program.
      return text(200, asset->bytes, nullptr, asset->content_type);
    }
    // /api/run/K/NAME[/ARGUMENT], or for run 0 the route's own path.
    std::string_view k_text = "0";
    bool single = true;
    constexpr std::string_view kRunPrefix = "/api/run/";
    if (path.starts_with(kRunPrefix)) {
      path.remove_prefix(kRunPrefix.size());
      const auto slash = path.find('/');
      if (slash == 0 || slash == std::string_view::npos) return not_found();
      k_text = path.substr(0, slash);
      path.remove_prefix(slash + 1);
      single = false;
    }
    for (const RunRoute& run_route : run_routes()) {
      const std::string_view name = single ? run_route.single_path : run_route.name;
      if (!path.starts_with(name)) continue;
      const std::string_view rest = path.substr(name.size());
      std::string_view argument;
      if (run_route.takes_argument) {
        if (!rest.starts_with('/') || rest.find('/', 1) != std::string_view::npos) continue;
        argument = rest.substr(1);
      } else if (!rest.empty()) {
        continue;
      }
      const auto api = served_run(runs_, k_text);
      if (!api) return reply(error_reply(404, api.error().detail()));
      return reply(run_route.answer(**api, RunRequest{argument, request.query}));
    }
    return not_found();
  }

  [[nodiscard]] Response not_found() const { return reply(error_reply(404, "not found")); }

  [[nodiscard]] Response reply(const Reply& r) const {
    Response response = text(r.status, *r.body, r.body, r.content_type);
    response.headers.insert(response.headers.end(), r.headers.begin(), r.headers.end());
    return response;
  }

  [[nodiscard]] Response text(int status, std::string_view body, std::shared_ptr<const void> owner,
                              std::string_view content_type) const {
    Response response{status, defaults_, body, std::move(owner)};
    response.headers.emplace_back("Content-Type", content_type);
    return response;
  }

  const ServedRuns& runs_;
  AccessPolicy policy_;
  std::shared_ptr<const std::string> html_;
  std::shared_ptr<const std::string> runs_text_;
  Headers defaults_;
};

// A socket bound to `address`:`port` (0: any free port) and listening;
// -1 with errno set when there is none.
int listen_on(const std::string& address, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* found = nullptr;
  if (::getaddrinfo(address.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
    errno = EADDRNOTAVAIL;
    return -1;
  }
  int socket = -1;
  int error = EADDRNOTAVAIL;
  for (const addrinfo* at = found; at != nullptr && socket < 0; at = at->ai_next) {
    socket = ::socket(at->ai_family, at->ai_socktype | SOCK_CLOEXEC, at->ai_protocol);
    if (socket < 0) {
      error = errno;
      continue;
    }
    // SO_REUSEADDR alone: SO_REUSEPORT would let a second server bind a
    // port already taken and share its connections.
    const int yes = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    if (::bind(socket, at->ai_addr, at->ai_addrlen) != 0 || ::listen(socket, SOMAXCONN) != 0) {
      error = errno;
      ::close(socket);
      socket = -1;
    }
  }
  ::freeaddrinfo(found);
  if (socket < 0) errno = error;
  return socket;
}

int bound_port(int socket) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length) != 0) return -1;
  char service[NI_MAXSERV] = {};
  if (::getnameinfo(reinterpret_cast<sockaddr*>(&address), length, nullptr, 0, service,
                    sizeof service, NI_NUMERICSERV) != 0) {
    return -1;
  }
  return std::atoi(service);
}

}  // namespace

struct ViewServer::State {
  std::unique_ptr<Site> site;
  std::unique_ptr<ConnectionPump> pump;
  std::string host;
  int port = 0;
  std::string token;
};

ViewServer::ViewServer(std::unique_ptr<State> state) : state_(std::move(state)) {}

ViewServer::~ViewServer() { stop(); }

int ViewServer::port() const noexcept { return state_->port; }

std::string ViewServer::url() const {
  return "http://" + url_host(state_->host) + ":" + std::to_string(state_->port) +
         "/?token=" + state_->token;
}

void ViewServer::stop() {
  if (!state_->pump) return;
  state_->pump->stop();
  state_->pump.reset();
}

Result<std::unique_ptr<ViewServer>> ViewServer::start(const ServedRuns& runs, std::string token,
                                                      const std::string& bind_address, int port) {
  // A build without the page has nothing to serve a browser.
  if (!viewer_assets_built()) return Error::parse(std::string(viewer_assets_missing()));
  if (runs.empty() || runs.size() > kMaxServedRuns) {
    return Error::parse("between 1 and " + std::to_string(kMaxServedRuns) + " runs");
  }
  errno = 0;
  const int socket = listen_on(bind_address, port);
  const int bound = socket < 0 ? -1 : bound_port(socket);
  if (bound <= 0) {
    const int error = errno;
    if (socket >= 0) ::close(socket);
    std::string reason = "cannot listen on " + url_host(bind_address) + ":" + std::to_string(port);
    if (error != 0) reason += ": " + std::string(std::strerror(error));
    return Error::parse(std::move(reason));
  }
  auto state = std::make_unique<State>();
  state->host = bind_address;
  state->port = bound;
  state->token = token;
  state->site = std::make_unique<Site>(runs, AccessPolicy(std::move(token), bind_address, bound));

  PumpLimits limits;
  limits.head_deadline = std::chrono::seconds(kHeadDeadlineSeconds);
  limits.request.max_head_bytes = kMaxHeadBytes;
  limits.request.max_line_bytes = kMaxHeaderLineBytes;
  limits.request.max_body_bytes = kMaxBodyBytes;
  limits.light_workers = kWorkerThreads;
  // Extractions run on every CPU the process may use but one, which keeps
  // answering the page.
  limits.heavy_workers = std::max(2U, pipeline::thread_count(0)) - 1;
  limits.max_requests_per_connection = kRequestsPerConnection;
  limits.max_held_bytes = kMaxHeldBytes;
  // The first run's map scans are read while the browser opens the page;
  // the other runs' when their map is first asked for.
  for (const ServedRun& run : runs) {
    if (!run.api) continue;
    run.api->prepare_map();
    break;
  }
  const Site& site = *state->site;
  state->pump = std::make_unique<ConnectionPump>(
      socket, limits,
      PumpHandlers{
          [&site](const Request& request) { return site.answer(request); },
          [&site](int status, std::string_view reason) { return site.refusal(status, reason); }});
  return std::unique_ptr<ViewServer>(new ViewServer(std::move(state)));
}

}  // namespace velmoran::view
