// The HTTP server of `velmoran view`: the page, its assets and the JSON API
// of one run, to requests that pass the AccessPolicy. Requests are served
// by a pool of threads; no request names a file, and nothing but the
// embedded page and the run's API can be read.
#pragma once

#include <memory>
#include <string>

#include <velmoran/result.hpp>
#include <velmoran/view/access.hpp>
#include <velmoran/view/run_api.hpp>

namespace velmoran::view {

class ViewServer {
 public:
  // Threads that serve requests. A connection holds one while it is open
  // (a slow or idle client until the timeouts below), so there are more
  // than a browser's six connections and a script's few.
  static constexpr int kWorkerThreads = 32;
  // Seconds a client may take to send a request, or leave a kept-alive
  // connection idle, before it is closed.
  static constexpr int kReadTimeoutSeconds = 5;
  static constexpr int kKeepAliveSeconds = 5;

  // Binds `bind_address`:`port` (0: any free port) and serves `api` on a
  // thread of its own until stop(). `api` must outlive the server.
  [[nodiscard]] static Result<std::unique_ptr<ViewServer>> start(const RunApi& api,
                                                                 std::string token,
                                                                 const std::string& bind_address,
                                                                 int port);

  ViewServer(const ViewServer&) = delete;
  ViewServer& operator=(const ViewServer&) = delete;
  // Stops the server if it still runs.
  ~ViewServer();

  [[nodiscard]] int port() const noexcept;
  // http://HOST:PORT/?token=TOKEN
  [[nodiscard]] std::string url() const;

  // Stops accepting, finishes the requests in progress and joins the threads.
  void stop();

 private:
  struct State;
  explicit ViewServer(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace velmoran::view
