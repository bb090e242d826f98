#include "connection_pump.hpp"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "request_head.hpp"

namespace velmoran::view {

namespace {

using Clock = std::chrono::steady_clock;

// The bodies that connections keep until their clients have read them,
// each counted once however many connections send it.
class HeldBodies {
 public:
  explicit HeldBodies(std::size_t limit) : limit_(limit) {}

  // Counts `size` bytes at `key` unless they are counted already; false
  // when they would pass the limit.
  bool hold(const void* key, std::size_t size) {
    const std::lock_guard lock(mutex_);
    auto found = bodies_.find(key);
    if (found != bodies_.end()) {
      ++found->second.second;
      return true;
    }
    if (size > limit_ - total_) return false;
    bodies_.emplace(key, std::pair{size, std::size_t{1}});
    total_ += size;
    return true;
  }
  void release(const void* key) {
    const std::lock_guard lock(mutex_);
    auto found = bodies_.find(key);
    if (found == bodies_.end() || --found->second.second > 0) return;
    total_ -= found->second.first;
    bodies_.erase(found);
  }
  [[nodiscard]] bool full() {
    const std::lock_guard lock(mutex_);
    return total_ >= limit_;
  }

 private:
  std::mutex mutex_;
  std::size_t limit_;
  std::size_t total_ = 0;
  // key -> (bytes, connections holding them)
  std::unordered_map<const void*, std::pair<std::size_t, std::size_t>> bodies_;
};

// What an answer still has to send: the rest of its head (a copy, small)
// and the rest of its body (where it lies).
struct Outgoing {
  std::string head;
  std::string_view body;
  std::shared_ptr<const void> owner;
  const void* held = nullptr;  // counted in HeldBodies under this key
  bool authenticated = false;
  [[nodiscard]] bool empty() const noexcept { return head.empty() && body.empty(); }
};

struct Connection {
  Connection(int fd, std::atomic<std::size_t>& open_count, HeldBodies& held_bodies)
      : socket(fd), open(&open_count), held(&held_bodies) {
    open->fetch_add(1);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() {
    finish_answer();
    ::close(socket);
    open->fetch_sub(1);
  }
  void finish_answer() {
    if (out.held != nullptr) held->release(out.held);
    out = Outgoing{};
  }

  int socket;
  std::atomic<std::size_t>* open;
  HeldBodies* held;
  // Received and not yet answered: the start of the next request.
  std::string received;
  // When the connection began to wait for its next request, or last made
  // progress sending an answer.
  Clock::time_point since = Clock::now();
  std::size_t answered = 0;
  // The client shut its side: what came whole is answered, then it closes.
  bool peer_done = false;
  // Leading bytes of `received` known to hold no end of a head, so that a
  // client sending a byte at a time costs a look at the new bytes only.
  std::size_t searched = 0;
  // The answer being sent, and whether the connection closes once it is.
  Outgoing out;
  bool close_when_sent = false;
  // A request on it passed the access checks.
  bool authenticated = false;
};
using ConnectionPtr = std::unique_ptr<Connection>;

struct Job {
  ConnectionPtr connection;
  Request request;
  std::size_t size = 0;
  bool close = false;
};

// Threads that take jobs in order until stopped; jobs still queued then are
// dropped (their connections closed).
class WorkQueue {
 public:
  void start(unsigned threads, std::function<void(Job&)> work) {
    work_ = std::move(work);
    for (unsigned i = 0; i < threads; ++i) threads_.emplace_back([this] { run(); });
  }
  void push(Job job) {
    {
      const std::lock_guard lock(mutex_);
      jobs_.push_back(std::move(job));
    }
    ready_.notify_one();
  }
  void stop() {
    {
      const std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    ready_.notify_all();
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
    jobs_.clear();
  }

 private:
  void run() {
    while (true) {
      Job job;
      {
        std::unique_lock lock(mutex_);
        ready_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
        if (stopping_) return;
        job = std::move(jobs_.front());
        jobs_.pop_front();
      }
      work_(job);
    }
  }

  std::function<void(Job&)> work_;
  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<Job> jobs_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

// File descriptors left for the run's files and the server's own.
constexpr std::size_t kReservedDescriptors = 32;
constexpr std::size_t kMostConnections = 4096;

std::size_t descriptor_budget() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) {
    return kMostConnections;
  }
  const auto soft = static_cast<std::size_t>(limit.rlim_cur);
  const std::size_t budget =
      soft > 2 * kReservedDescriptors ? soft - kReservedDescriptors : soft / 2;
  return std::clamp(budget, std::size_t{1}, kMostConnections);
}

std::string_view reason_phrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 408:
      return "Request Timeout";
    case 413:
      return "Content Too Large";
    case 414:
      return "URI Too Long";
    case 431:
      return "Request Header Fields Too Large";
    case 503:
      return "Service Unavailable";
    default:
      return "Internal Server Error";
  }
}

// The status line and headers of `response`, with its framing.
std::string response_head(const Response& response, bool close, const PumpLimits& limits) {
  std::string head = "HTTP/1.1 " + std::to_string(response.status) + " ";
  head.append(reason_phrase(response.status)).append("\r\n");
  for (const auto& [name, value] : response.headers) {
    head.append(name).append(": ").append(value).append("\r\n");
  }
  head.append("Content-Length: ").append(std::to_string(response.body.size())).append("\r\n");
  if (close) {
    head.append("Connection: close\r\n");
  } else {
    const auto seconds =
        std::chrono::duration_cast<std::chrono::seconds>(limits.head_deadline).count();
    head.append("Connection: keep-alive\r\nKeep-Alive: timeout=")
        .append(std::to_string(seconds))
        .append(", max=")
        .append(std::to_string(limits.max_requests_per_connection))
        .append("\r\n");
  }
  return head.append("\r\n");
}

// Sends what the socket takes now of `out` (head, then body) without
// waiting; false when the connection failed.
bool send_some(int socket, Outgoing& out, std::size_t& sent_total) {
  while (!out.empty()) {
    iovec parts[2] = {{out.head.data(), out.head.size()},
                      {const_cast<char*>(out.body.data()), out.body.size()}};
    msghdr message{};
    message.msg_iov = out.head.empty() ? parts + 1 : parts;
    message.msg_iovlen = out.head.empty() ? 1 : 2;
    const ssize_t sent = ::sendmsg(socket, &message, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK;
    }
    auto count = static_cast<std::size_t>(sent);
    sent_total += count;
    const std::size_t from_head = std::min(count, out.head.size());
    out.head.erase(0, from_head);
    out.body.remove_prefix(count - from_head);
  }
  return true;
}

}  // namespace

struct ConnectionPump::State {
  explicit State(const PumpLimits& pump_limits)
      : limits(pump_limits), held(pump_limits.max_held_bytes) {}

  PumpLimits limits;
  PumpHandlers handlers;
  int listening = -1;
  int wake = -1;
  std::atomic<bool> stopping{false};
  // Declared before everything that holds connections: they count on them.
  std::atomic<std::size_t> open{0};
  HeldBodies held;
  std::mutex returned_mutex;
  std::vector<ConnectionPtr> returned;
  WorkQueue light;
  WorkQueue heavy;
  std::thread gate;
  // The gate thread's own: connections waiting for a whole request, or
  // sending the rest of an answer.
  std::vector<ConnectionPtr> waiting;

  void run_gate();
  void receive(ConnectionPtr& connection);
  void send_unsent(ConnectionPtr& connection);
  [[nodiscard]] ConnectionPtr advance(ConnectionPtr connection);
  void refuse(Connection& connection, int status, std::string_view reason);
  void accept_new(Clock::time_point& paused_until);
  bool drop_one();
  void expire(Clock::time_point now);
  void work(Job& job);
};

ConnectionPump::ConnectionPump(int listening_socket, const PumpLimits& limits,
                               PumpHandlers handlers)
    : state_(std::make_unique<State>(limits)) {
  State& s = *state_;
  if (s.limits.max_connections == 0) s.limits.max_connections = descriptor_budget();
  s.handlers = std::move(handlers);
  s.listening = listening_socket;
  // Accepted in batches until the kernel's queue is empty, never waited on.
  ::fcntl(listening_socket, F_SETFL, ::fcntl(listening_socket, F_GETFL) | O_NONBLOCK);
  s.wake = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  s.light.start(std::max(1U, limits.light_workers), [&s](Job& job) { s.work(job); });
  s.heavy.start(std::max(1U, limits.heavy_workers), [&s](Job& job) { s.work(job); });
  s.gate = std::thread([&s] { s.run_gate(); });
}

ConnectionPump::~ConnectionPump() { stop(); }

void ConnectionPump::stop() {
  State& s = *state_;
  if (!s.gate.joinable()) return;
  s.stopping = true;
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(s.wake, &one, sizeof one);
  s.gate.join();
  s.light.stop();
  s.heavy.stop();
  s.returned.clear();
  ::close(s.listening);
  ::close(s.wake);
}

void ConnectionPump::State::run_gate() {
  std::vector<pollfd> fds;
  Clock::time_point accept_paused_until{};
  while (!stopping) {
    const Clock::time_point now = Clock::now();
    const bool accepting = now >= accept_paused_until;
    fds.clear();
    fds.push_back({wake, POLLIN, 0});
    // poll skips a negative descriptor.
    fds.push_back({accepting ? listening : -1, POLLIN, 0});
    Clock::time_point next = accepting ? Clock::time_point::max() : accept_paused_until;
    for (const ConnectionPtr& connection : waiting) {
      const short events = connection->out.empty() ? POLLIN : POLLOUT;
      fds.push_back({connection->socket, events, 0});
      next = std::min(next, connection->since + limits.head_deadline);
    }
    int timeout = -1;
    if (next != Clock::time_point::max()) {
      const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
      timeout = static_cast<int>(std::clamp<std::int64_t>(wait, 0, 60'000));
    }
    if (::poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) break;
    if (stopping) break;

    for (std::size_t i = 0; i < waiting.size(); ++i) {
      if (fds[i + 2].revents == 0) continue;
      if (waiting[i]->out.empty()) {
        receive(waiting[i]);
      } else {
        send_unsent(waiting[i]);
      }
    }
    std::erase(waiting, nullptr);

    if ((fds[0].revents & POLLIN) != 0) {
      std::uint64_t count = 0;
      [[maybe_unused]] const ssize_t got = ::read(wake, &count, sizeof count);
    }
    std::vector<ConnectionPtr> back;
    {
      const std::lock_guard lock(returned_mutex);
      back.swap(returned);
    }
    // A connection comes back with what the client sent after its request
    // (pipelining): that may be a whole request already.
    for (ConnectionPtr& connection : back) {
      if (auto kept = advance(std::move(connection))) waiting.push_back(std::move(kept));
    }

    if (accepting && (fds[1].revents & POLLIN) != 0) accept_new(accept_paused_until);
    expire(Clock::now());
  }
  waiting.clear();
}

void ConnectionPump::State::receive(ConnectionPtr& connection) {
  char buffer[16 * 1024];
  std::string& received = connection->received;
  const std::size_t limit = limits.request.max_head_bytes + limits.request.max_body_bytes;
  while (received.size() < limit) {
    const std::size_t want = std::min(sizeof buffer, limit - received.size());
    const ssize_t got = ::recv(connection->socket, buffer, want, MSG_DONTWAIT);
    if (got > 0) {
      received.append(buffer, static_cast<std::size_t>(got));
    } else if (got == 0) {
      connection->peer_done = true;
      break;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      break;
    } else if (errno != EINTR) {
      connection.reset();
      return;
    }
  }
  connection = advance(std::move(connection));
}

void ConnectionPump::State::send_unsent(ConnectionPtr& connection) {
  Connection& c = *connection;
  std::size_t sent_total = 0;
  if (!send_some(c.socket, c.out, sent_total)) {
    connection.reset();
    return;
  }
  // The deadline counts from the last progress.
  if (sent_total > 0) c.since = Clock::now();
  if (!c.out.empty()) return;
  c.finish_answer();
  if (c.close_when_sent) {
    connection.reset();
    return;
  }
  connection = advance(std::move(connection));
}

void ConnectionPump::State::refuse(Connection& connection, int status, std::string_view reason) {
  // A last word, sent only as far as the socket's buffer takes it now.
  Response response = handlers.refuse(status, reason);
  Outgoing out{response_head(response, true, limits), response.body, response.owner};
  std::size_t sent = 0;
  [[maybe_unused]] const bool alive = send_some(connection.socket, out, sent);
  ::shutdown(connection.socket, SHUT_WR);
}

ConnectionPtr ConnectionPump::State::advance(ConnectionPtr connection) {
  Connection& c = *connection;
  // The next request waits until the previous answer has left.
  if (!c.out.empty()) return connection;
  // The end of a head may straddle the bytes seen and the new.
  const std::size_t from = c.searched > 2 ? c.searched - 2 : 0;
  if (c.received.size() < limits.request.max_head_bytes &&
      head_end(c.received, from) == std::string::npos) {
    c.searched = c.received.size();
    if (c.peer_done) return nullptr;
    return connection;
  }
  ParsedRequest parsed = parse_request(c.received, limits.request);
  switch (parsed.state) {
    case ParsedRequest::State::complete: {
      const bool last = parsed.request.close || c.peer_done ||
                        c.answered + 1 >= limits.max_requests_per_connection;
      const bool heavy_work = parsed.request.heavy;
      (heavy_work ? heavy : light)
          .push({std::move(connection), std::move(parsed.request), parsed.size, last});
      return nullptr;
    }
    case ParsedRequest::State::refused:
      refuse(c, parsed.status, parsed.reason);
      return nullptr;
    case ParsedRequest::State::incomplete:
      break;
  }
  // A client that closed with part of a request (or none) is done.
  if (c.peer_done) return nullptr;
  return connection;
}

bool ConnectionPump::State::drop_one() {
  // Connections without access first, then idle ones with access; the one
  // that waited longest of either kind. Never one sending an answer given
  // with access.
  const auto rank = [](const ConnectionPtr& c) {
    if (!c->authenticated) return 0;
    return c->out.empty() ? 1 : 2;
  };
  const auto chosen = std::min_element(
      waiting.begin(), waiting.end(), [&](const ConnectionPtr& a, const ConnectionPtr& b) {
        return std::pair(rank(a), a->since) < std::pair(rank(b), b->since);
      });
  if (chosen == waiting.end() || rank(*chosen) == 2) return false;
  if (!(*chosen)->received.empty() && (*chosen)->out.empty()) {
    refuse(**chosen, 408, "the server ran short of connections");
  }
  waiting.erase(chosen);
  return true;
}

void ConnectionPump::State::accept_new(Clock::time_point& paused_until) {
  // A bounded batch, so that the waiting connections are read in between.
  for (int i = 0; i < 64; ++i) {
    const int socket = ::accept4(listening, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (socket < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // Out of descriptors: a connection without access makes room; with
        // none, accepting pauses briefly (the pending client stays in the
        // kernel's queue).
        if (drop_one()) continue;
        paused_until = Clock::now() + std::chrono::milliseconds(50);
      }
      return;
    }
    if (open.load() >= limits.max_connections && !drop_one()) {
      // Every connection is being answered: this one cannot be kept.
      ::close(socket);
      continue;
    }
    // Answers go out as soon as they are written, not after a delayed ACK.
    const int yes = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    waiting.push_back(std::make_unique<Connection>(socket, open, held));
  }
}

void ConnectionPump::State::expire(Clock::time_point now) {
  for (ConnectionPtr& connection : waiting) {
    if (now < connection->since + limits.head_deadline) continue;
    // An idle connection, or one whose client stopped reading, is closed;
    // one in the middle of a request is told.
    if (!connection->received.empty() && connection->out.empty()) {
      refuse(*connection, 408, "no whole request within the deadline");
    }
    connection.reset();
  }
  std::erase(waiting, nullptr);
}

void ConnectionPump::State::work(Job& job) {
  Connection& c = *job.connection;
  constexpr std::string_view kBusy =
      "busy: answers not yet read by their clients fill the server's memory for them; "
      "try again shortly";
  // Heavy work waits for room rather than making answers no one can hold.
  // A route that throws (out of memory) answers 500; the worker goes on.
  Response response;
  try {
    response = job.request.heavy && held.full() ? handlers.refuse(503, kBusy)
                                                : handlers.answer(job.request);
  } catch (const std::exception& error) {
    response = handlers.refuse(500, std::string("the answer failed: ") + error.what());
  }
  const bool head_only = job.request.method == "HEAD";
  const void* key = response.owner && !head_only && !response.body.empty()
                        ? static_cast<const void*>(response.body.data())
                        : nullptr;
  if (key != nullptr && !held.hold(key, response.body.size())) {
    const bool authenticated = response.authenticated;
    response = handlers.refuse(503, kBusy);
    response.authenticated = authenticated;
    key = nullptr;
  }
  if (response.authenticated) c.authenticated = true;
  c.out = Outgoing{response_head(response, job.close, limits),
                   head_only ? std::string_view{} : response.body, std::move(response.owner), key,
                   response.authenticated};
  std::size_t sent = 0;
  const bool alive = send_some(c.socket, c.out, sent);
  if (c.out.empty()) c.finish_answer();
  // Closed now unless part of the answer is still to be sent.
  if (stopping || !alive || (job.close && c.out.empty())) {
    job.connection.reset();
    return;
  }
  c.close_when_sent = job.close;
  c.received.erase(0, job.size);
  c.searched = 0;
  ++c.answered;
  c.since = Clock::now();
  {
    const std::lock_guard lock(returned_mutex);
    returned.push_back(std::move(job.connection));
  }
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(wake, &one, sizeof one);
}

}  // namespace velmoran::view
