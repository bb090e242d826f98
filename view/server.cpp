#include <velmoran/view/server.hpp>
#include <velmoran/view/viewer_assets.hpp>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include <httplib.h>
#include <velmoran/pipeline/spectrum_pipeline.hpp>
#include <velmoran/textio/numbers.hpp>
#include <velmoran/textio/quoted_value.hpp>

#include "assets.hpp"
#include "connection_pump.hpp"
#include "page_policy.hpp"
#include "request_stream.hpp"
#include "run_routes.hpp"

namespace velmoran::view {

namespace {

constexpr std::string_view kTokenHeader = "X-Velmoran-Token";

// Bodies go out through a content provider of fixed length: straight from
// the shared rendered text, without a copy, and never compressed: httplib
// would compress a set_content() body with brotli at its slowest setting
// for a browser (seconds for the scan table of a large run). Over a slow
// tunnel, `ssh -C` compresses. The provider writes only bytes of its own
// body, whatever offset and length it is asked for: past the end it ends
// the answer (false), which closes the connection.
void send_bytes(httplib::Response& res, std::string_view bytes, std::shared_ptr<const void> owner,
                std::string_view content_type) {
  res.set_content_provider(bytes.size(), std::string(content_type),
                           [bytes, owner = std::move(owner)](std::size_t offset, std::size_t length,
                                                             httplib::DataSink& sink) {
                             if (offset >= bytes.size()) return false;
                             return sink.write(bytes.data() + offset,
                                               std::min(length, bytes.size() - offset));
                           });
}

void send_text(httplib::Response& res, int status, std::shared_ptr<const std::string> text,
               const char* content_type) {
  res.status = status;
  const std::string_view bytes(*text);
  send_bytes(res, bytes, std::move(text), content_type);
}

void send(httplib::Response& res, const Reply& reply) {
  for (const auto& [name, value] : reply.headers) res.set_header(name, value);
  res.status = reply.status;
  const std::string_view bytes(*reply.body);
  send_bytes(res, bytes, reply.body, reply.content_type);
}

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

// A route of the table for the run at `k_text`; the route's argument, if
// any, is the request's match number `argument`.
Reply answer_run(const ServedRuns& runs, std::string_view k_text, const RunRoute& route,
                 const httplib::Request& req, std::size_t argument) {
  const auto api = served_run(runs, k_text);
  if (!api) return error_reply(404, api.error().detail());
  // httplib's own parameters drop repeated pairs; a repeated m/z is a target.
  const QueryParams query = parse_query(req.target);
  const std::string text = route.takes_argument ? req.matches[argument].str() : std::string();
  return route.answer(**api, RunRequest{text, query});
}

// The page, with the token in the URLs of its assets. Module imports carry
// no header, so an import map points each module at its URL with the token.
std::string page_html(std::string_view token) {
  const Asset* page = find_asset("index.html");
  const std::string query = "?token=" + std::string(token);
  std::string imports = "<script type=\"importmap\">{\"imports\": {";
  // Every module is fetched at once rather than import after import.
  std::string preloads;
  bool first = true;
  for (const Asset& asset : embedded_assets()) {
    if (!asset.name.ends_with(".js")) continue;
    const std::string url = "/assets/" + std::string(asset.name);
    if (!first) imports += ", ";
    first = false;
    imports += "\"" + url + "\": \"" + url + query + "\"";
    // The charting library is imported by its package name.
    if (asset.name == "uPlot.esm.js") imports += ", \"uplot\": \"" + url + query + "\"";
    preloads += "\n<link rel=\"modulepreload\" href=\"" + url + query + "\">";
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
  replace_all("{{token}}", token);
  return html;
}

// httplib parses each request and routes it; the connections are the
// pump's (connection_pump.hpp), which hands over requests received whole.
class Server final : public httplib::Server {
 public:
  // httplib listens with a backlog of 5: with more clients connecting at
  // once the kernel drops their handshakes, which then stall for a second
  // or are reset. listen() on a listening socket sets a new backlog (Linux).
  bool widen_backlog() { return ::listen(svr_sock_.load(), SOMAXCONN) == 0; }

  // A second descriptor of the bound socket, for the pump (httplib's own
  // loop never runs). httplib's stays open until close_socket(): while it
  // is open httplib writes bodies (it takes a closed one for a stop).
  int pump_socket() { return ::dup(svr_sock_.load()); }
  void close_socket() { ::close(svr_sock_.exchange(INVALID_SOCKET)); }

  bool answer(int socket, std::string_view request, bool close, std::string& unsent) {
    RequestStream stream(socket, request, unsent);
    bool closed = false;
    bool parsed = false;
    const bool done = process_request(stream, close, closed, [&parsed](httplib::Request& req) {
      parsed = true;
      // Ranges are not served: every answer is its whole body. (The pump
      // removes Range headers already; this keeps httplib from applying a
      // range that reached it some other way.)
      req.ranges.clear();
    });
    // After a request that httplib could not parse (400, 414), the
    // connection closes: where the next request would start is unclear.
    return stream.flush() && done && parsed && !closed;
  }
};

}  // namespace

struct ViewServer::State {
  Server server;
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
  state_->server.close_socket();
}

Result<std::unique_ptr<ViewServer>> ViewServer::start(const ServedRuns& runs, std::string token,
                                                      const std::string& bind_address, int port) {
  // A build without the page has nothing to serve a browser.
  if (!viewer_assets_built()) return Error::parse(std::string(viewer_assets_missing()));
  if (runs.empty() || runs.size() > kMaxServedRuns) {
    return Error::parse("between 1 and " + std::to_string(kMaxServedRuns) + " runs");
  }
  auto state = std::make_unique<State>();
  Server& server = state->server;
  // What the Keep-Alive header announces; the pump enforces both.
  server.set_keep_alive_timeout(kHeadDeadlineSeconds);
  server.set_keep_alive_max_count(kRequestsPerConnection);
  // Only GET is served: a request body is never read past this.
  server.set_payload_max_length(kMaxBodyBytes);

  // SO_REUSEADDR alone: httplib's default adds SO_REUSEPORT, which lets a
  // second server bind a port already taken and share its connections.
  server.set_socket_options([](socket_t socket) {
    const int yes = 1;
    ::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });

  errno = 0;
  const int bound = port == 0 ? server.bind_to_any_port(bind_address)
                              : (server.bind_to_port(bind_address, port) ? port : -1);
  if (bound <= 0 || !server.widen_backlog()) {
    const int error = errno;
    std::string reason = "cannot listen on " + url_host(bind_address) + ":" + std::to_string(port);
    if (error != 0) reason += ": " + std::string(std::strerror(error));
    return Error::parse(std::move(reason));
  }
  state->host = bind_address;
  state->port = bound;
  state->token = token;

  // Every request, whatever its path, passes the access checks first.
  auto policy = std::make_shared<const AccessPolicy>(std::move(token), bind_address, bound);
  server.set_pre_routing_handler([policy](const httplib::Request& req, httplib::Response& res) {
    const bool one_host = req.get_header_value_count("Host") == 1;
    const std::string header_token(req.get_header_value(std::string(kTokenHeader)));
    if (one_host &&
        policy->allows(req.get_header_value("Host"), header_token, req.get_param_value("token"))) {
      return httplib::Server::HandlerResponse::Unhandled;
    }
    send(res, error_reply(403,
                          "forbidden: this server answers requests that carry its token "
                          "and name it in their Host header"));
    return httplib::Server::HandlerResponse::Handled;
  });
  // Fills the body of errors that httplib makes itself (no route, bad request).
  server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
    if (res.has_header("Content-Type")) return;
    send(res, error_reply(res.status, res.status == 404 ? "not found" : "bad request"));
  });

  auto html = std::make_shared<const std::string>(page_html(state->token));
  server.set_default_headers({
      {"Cache-Control", "no-store"},
      {"X-Content-Type-Options", "nosniff"},
      {"X-Frame-Options", "DENY"},
      {"Referrer-Policy", "no-referrer"},
      {"Content-Security-Policy", content_security_policy(*html)},
      {"Cross-Origin-Resource-Policy", "same-origin"},
      {"Cross-Origin-Opener-Policy", "same-origin"},
      // Ranges are not served (httplib would announce them on HEAD).
      {"Accept-Ranges", "none"},
  });
  server.Get("/", [html](const httplib::Request&, httplib::Response& res) {
    send_text(res, 200, html, "text/html; charset=utf-8");
  });
  server.Get(R"(/assets/([A-Za-z0-9._-]+))",
             [](const httplib::Request& req, httplib::Response& res) {
               const Asset* asset = find_asset(req.matches[1].str());
               if (asset == nullptr || asset->name == "index.html") {
                 send(res, error_reply(404, "not found"));
                 return;
               }
               // The embedded bytes live as long as the program.
               res.status = 200;
               send_bytes(res, asset->bytes, nullptr, asset->content_type);
             });
  // The runs: /api/runs, then every route of the table (run_routes.cpp)
  // for each run under /api/run/K/ and for run 0 at its single-run path.
  auto runs_text = std::make_shared<const std::string>(runs_json(runs));
  server.Get("/api/runs", [runs_text](const httplib::Request&, httplib::Response& res) {
    send_text(res, 200, runs_text, "application/json");
  });
  for (const RunRoute& route : run_routes()) {
    const std::string argument = route.takes_argument ? "/([^/]*)" : "";
    server.Get(std::string(route.single_path) + argument,
               [&runs, &route](const httplib::Request& req, httplib::Response& res) {
                 send(res, answer_run(runs, "0", route, req, 1));
               });
    server.Get("/api/run/([^/]+)/" + std::string(route.name) + argument,
               [&runs, &route](const httplib::Request& req, httplib::Response& res) {
                 send(res, answer_run(runs, req.matches[1].str(), route, req, 2));
               });
  }

  PumpLimits limits;
  limits.head_deadline = std::chrono::seconds(kHeadDeadlineSeconds);
  limits.max_head_bytes = kMaxHeadBytes;
  limits.max_body_bytes = kMaxBodyBytes;
  limits.light_workers = kWorkerThreads;
  // Extractions run on every CPU the process may use but one, which keeps
  // answering the page.
  limits.heavy_workers = std::max(2U, pipeline::thread_count(0)) - 1;
  limits.max_requests_per_connection = kRequestsPerConnection;
  const int pump_socket = server.pump_socket();
  if (pump_socket < 0) return Error::os(errno);
  // The first run's map scans are read while the browser opens the page;
  // the other runs' when their map is first asked for.
  for (const ServedRun& run : runs) {
    if (!run.api) continue;
    run.api->prepare_map();
    break;
  }
  state->pump = std::make_unique<ConnectionPump>(
      pump_socket, limits,
      [&server](int socket, std::string_view request, bool close, std::string& unsent) {
        return server.answer(socket, request, close, unsent);
      });
  return std::unique_ptr<ViewServer>(new ViewServer(std::move(state)));
}

}  // namespace velmoran::view
