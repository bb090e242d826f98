// The HTTP server of `velmoran view`: the page, its assets and the JSON API
// of one or more runs, to requests that pass the AccessPolicy. Each request
// is read once (request_head.hpp) and answered by a pool of threads; no
// request names a file, and nothing but the embedded page and the run's API
// can be read.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include <velmoran/result.hpp>
#include <velmoran/view/access.hpp>
#include <velmoran/view/run_api.hpp>
#include <velmoran/view/served_runs.hpp>

namespace velmoran::view {

class ViewServer {
 public:
  // Threads that answer requests other than XICs. Connections hold none
  // while they wait for a request: one thread receives every request whole
  // before a worker sees it (connection_pump.hpp).
  static constexpr unsigned kWorkerThreads = 8;
  // Seconds a connection has to send a whole request, from its opening or
  // from the previous answer on it (idle keep-alive connections included).
  static constexpr int kHeadDeadlineSeconds = 5;
  static constexpr std::size_t kMaxHeadBytes = 16 * 1024;
  static constexpr std::size_t kMaxHeaderLineBytes = 8 * 1024;
  static constexpr std::size_t kMaxBodyBytes = 4096;
  // Bytes of answers held for clients that have not read them yet, for all
  // connections together (a body several connections send counted once);
  // an answer past it is 503 (connection_pump.hpp).
  static constexpr std::size_t kMaxHeldBytes = std::size_t{256} << 20;
  static constexpr std::size_t kRequestsPerConnection = 100;

  // Binds `bind_address`:`port` (0: any free port) and serves `runs` (at
  // least one) on threads of their own until stop(). `runs` must outlive
  // the server.
  [[nodiscard]] static Result<std::unique_ptr<ViewServer>> start(const ServedRuns& runs,
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
