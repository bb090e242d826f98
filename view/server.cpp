#include <velmoran/view/server.hpp>
#include <velmoran/view/viewer_assets.hpp>

#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include <httplib.h>

#include "assets.hpp"

namespace velmoran::view {

namespace {

constexpr const char* kJson = "application/json";
constexpr std::string_view kTokenHeader = "X-Velmoran-Token";

// Bodies go out through a content provider of fixed length: straight from
// the shared rendered text, without a copy, and never compressed: httplib
// would compress a set_content() body with brotli at its slowest setting
// for a browser (seconds for the scan table of a large run). Over a slow
// tunnel, `ssh -C` compresses.
void send_text(httplib::Response& res, int status, std::shared_ptr<const std::string> text,
               const char* content_type) {
  res.status = status;
  const std::size_t size = text->size();
  res.set_content_provider(
      size, content_type,
      [text = std::move(text)](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
        return sink.write(text->data() + offset, length);
      });
}

void send(httplib::Response& res, const Reply& reply) {
  send_text(res, reply.status, reply.body, kJson);
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

// httplib listens with a backlog of 5: with more clients connecting at once
// the kernel drops their handshakes, which then stall for a second or are
// reset. listen() on a listening socket sets a new backlog (Linux).
class Server final : public httplib::Server {
 public:
  bool widen_backlog() { return ::listen(svr_sock_.load(), SOMAXCONN) == 0; }
};

}  // namespace

struct ViewServer::State {
  Server server;
  std::thread listener;
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
  if (!state_->listener.joinable()) return;
  state_->server.stop();
  state_->listener.join();
}

Result<std::unique_ptr<ViewServer>> ViewServer::start(const RunApi& api, std::string token,
                                                      const std::string& bind_address, int port) {
  // A build without the page has nothing to serve a browser.
  if (!viewer_assets_built()) return Error::parse(std::string(viewer_assets_missing()));
  auto state = std::make_unique<State>();
  Server& server = state->server;
  server.new_task_queue = [] { return new httplib::ThreadPool(kWorkerThreads); };
  server.set_read_timeout(kReadTimeoutSeconds);
  server.set_write_timeout(kReadTimeoutSeconds);
  server.set_keep_alive_timeout(kKeepAliveSeconds);
  // Only GET is served: a request body is never read past this.
  server.set_payload_max_length(4096);
  server.set_default_headers({
      {"Cache-Control", "no-store"},
      {"X-Content-Type-Options", "nosniff"},
      {"X-Frame-Options", "DENY"},
      {"Referrer-Policy", "no-referrer"},
  });

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
               const std::string_view bytes = asset->bytes;
               res.set_content_provider(
                   bytes.size(), std::string(asset->content_type),
                   [bytes](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                     return sink.write(bytes.data() + offset, length);
                   });
             });
  server.Get("/api/run",
             [&api](const httplib::Request&, httplib::Response& res) { send(res, api.run()); });
  server.Get("/api/scans",
             [&api](const httplib::Request&, httplib::Response& res) { send(res, api.scans()); });
  server.Get(R"(/api/spectrum/([^/]*))",
             [&api](const httplib::Request& req, httplib::Response& res) {
               send(res, api.spectrum(req.matches[1].str()));
             });
  server.Get("/api/xic", [&api](const httplib::Request& req, httplib::Response& res) {
    // httplib's own parameters drop repeated pairs; a repeated m/z is a target.
    send(res, api.xic(parse_query(req.target)));
  });

  state->listener = std::thread([&server] { server.listen_after_bind(); });
  return std::unique_ptr<ViewServer>(new ViewServer(std::move(state)));
}

}  // namespace velmoran::view
