#include "connection_pump.hpp"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "request_head.hpp"

namespace velmoran::view {

namespace {

using Clock = std::chrono::steady_clock;

struct Connection {
  Connection(int fd, std::atomic<std::size_t>& open_count) : socket(fd), open(&open_count) {
    open->fetch_add(1);
  }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;
  ~Connection() {
    ::close(socket);
    open->fetch_sub(1);
  }

  int socket;
  std::atomic<std::size_t>* open;
  // Received and not yet answered: the start of the next request.
  std::string received;
  // When the connection began to wait for its next request.
  Clock::time_point since = Clock::now();
  std::size_t answered = 0;
  // The client shut its side: what came whole is answered, then it closes.
  bool peer_done = false;
  // Leading bytes of `received` known to hold no end of a head, so that a
  // client sending a byte at a time costs a look at the new bytes only.
  std::size_t searched = 0;
  // Answer bytes the socket has not taken yet, and whether the connection
  // closes once they are sent.
  std::string unsent;
  bool close_when_sent = false;
};
using ConnectionPtr = std::unique_ptr<Connection>;

struct Job {
  ConnectionPtr connection;
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

// A last word to a client that is dropped after sending part of a request
// (a status without a body), sent only if it fits the socket's buffer now.
void refuse(int socket, std::string_view status) {
  std::string reply = "HTTP/1.1 ";
  reply.append(status).append("\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
  [[maybe_unused]] const ssize_t sent =
      ::send(socket, reply.data(), reply.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
  ::shutdown(socket, SHUT_WR);
}

}  // namespace

struct ConnectionPump::State {
  PumpLimits limits;
  AnswerRequest answer;
  int listening = -1;
  int wake = -1;
  std::atomic<bool> stopping{false};
  // Declared before everything that holds connections: they count on it.
  std::atomic<std::size_t> open{0};
  std::mutex returned_mutex;
  std::vector<ConnectionPtr> returned;
  WorkQueue light;
  WorkQueue heavy;
  std::thread gate;
  // The gate thread's own: connections waiting for a whole request.
  std::vector<ConnectionPtr> waiting;

  [[nodiscard]] std::size_t receive_limit() const {
    return limits.max_head_bytes + limits.max_body_bytes;
  }

  void run_gate();
  void receive(ConnectionPtr& connection);
  void send_unsent(ConnectionPtr& connection);
  [[nodiscard]] ConnectionPtr advance(ConnectionPtr connection);
  void accept_new(Clock::time_point& paused_until);
  bool drop_oldest();
  void expire(Clock::time_point now);
  void work(Job& job);
};

ConnectionPump::ConnectionPump(int listening_socket, const PumpLimits& limits, AnswerRequest answer)
    : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.limits = limits;
  if (s.limits.max_connections == 0) s.limits.max_connections = descriptor_budget();
  s.answer = std::move(answer);
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
      const short events = connection->unsent.empty() ? POLLIN : POLLOUT;
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
      if (waiting[i]->unsent.empty()) {
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
  while (received.size() < receive_limit()) {
    const std::size_t want = std::min(sizeof buffer, receive_limit() - received.size());
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
  while (sent_total < c.unsent.size()) {
    const ssize_t sent = ::send(c.socket, c.unsent.data() + sent_total,
                                c.unsent.size() - sent_total, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      sent_total += static_cast<std::size_t>(sent);
    } else if (sent < 0 && errno == EINTR) {
      continue;
    } else if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      break;
    } else {
      connection.reset();
      return;
    }
  }
  c.unsent.erase(0, sent_total);
  // The deadline counts from the last progress.
  if (sent_total > 0) c.since = Clock::now();
  if (!c.unsent.empty()) return;
  if (c.close_when_sent) {
    connection.reset();
    return;
  }
  c.unsent.shrink_to_fit();
  connection = advance(std::move(connection));
}

ConnectionPtr ConnectionPump::State::advance(ConnectionPtr connection) {
  Connection& c = *connection;
  // The next request waits until the previous answer has left.
  if (!c.unsent.empty()) return connection;
  // The end of a head ("\n\r\n") may straddle the bytes seen and the new.
  const std::size_t from = c.searched > 2 ? c.searched - 2 : 0;
  if (c.received.size() < limits.max_head_bytes &&
      c.received.find("\n\r\n", from) == std::string::npos) {
    c.searched = c.received.size();
    if (c.peer_done) return nullptr;
    return connection;
  }
  const RequestHead head =
      examine_request(c.received, limits.max_head_bytes, limits.max_body_bytes);
  switch (head.state) {
    case RequestHead::State::complete: {
      const bool last =
          head.close_after || c.peer_done || c.answered + 1 >= limits.max_requests_per_connection;
      (head.heavy ? heavy : light).push({std::move(connection), head.size, last});
      return nullptr;
    }
    case RequestHead::State::too_large:
      // The request line alone too long, or the headers.
      refuse(c.socket, c.received.find('\n') >= limits.max_head_bytes
                           ? "414 URI Too Long"
                           : "431 Request Header Fields Too Large");
      return nullptr;
    case RequestHead::State::incomplete:
      break;
  }
  // A client that closed with part of a request (or none) is done.
  if (c.peer_done) return nullptr;
  return connection;
}

bool ConnectionPump::State::drop_oldest() {
  if (waiting.empty()) return false;
  const auto oldest = std::min_element(
      waiting.begin(), waiting.end(),
      [](const ConnectionPtr& a, const ConnectionPtr& b) { return a->since < b->since; });
  if (!(*oldest)->received.empty() && (*oldest)->unsent.empty()) {
    refuse((*oldest)->socket, "408 Request Timeout");
  }
  waiting.erase(oldest);
  return true;
}

void ConnectionPump::State::accept_new(Clock::time_point& paused_until) {
  // A bounded batch, so that the waiting connections are read in between.
  for (int i = 0; i < 64; ++i) {
    const int socket = ::accept4(listening, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (socket < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        // Out of descriptors: the longest waiting connection makes room;
        // with none waiting, accepting pauses briefly (the pending client
        // stays in the kernel's queue).
        if (drop_oldest()) continue;
        paused_until = Clock::now() + std::chrono::milliseconds(50);
      }
      return;
    }
    if (open.load() >= limits.max_connections && !drop_oldest()) {
      // Every connection is being answered: this one cannot be kept.
      ::close(socket);
      continue;
    }
    // Answers go out as soon as they are written, not after a delayed ACK.
    const int yes = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
    waiting.push_back(std::make_unique<Connection>(socket, open));
  }
}

void ConnectionPump::State::expire(Clock::time_point now) {
  for (ConnectionPtr& connection : waiting) {
    if (now < connection->since + limits.head_deadline) continue;
    // An idle connection, or one whose client stopped reading, is closed;
    // one in the middle of a request is told.
    if (!connection->received.empty() && connection->unsent.empty()) {
      refuse(connection->socket, "408 Request Timeout");
    }
    connection.reset();
  }
  std::erase(waiting, nullptr);
}

void ConnectionPump::State::work(Job& job) {
  Connection& c = *job.connection;
  const bool again =
      answer(c.socket, std::string_view(c.received).substr(0, job.size), job.close, c.unsent);
  // Closed now unless part of the answer is still to be sent.
  if (stopping || ((!again || job.close) && c.unsent.empty())) {
    job.connection.reset();
    return;
  }
  c.close_when_sent = !again || job.close;
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
