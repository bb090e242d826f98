#include <velmoran/textio/interrupt_cleanup.hpp>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstddef>
#include <cstring>

namespace velmoran::textio {

namespace {

// The names live in fixed buffers, so that the handler never reads memory
// that is being freed. A slot is free (0), being filled (1) or entered (2).
constexpr std::size_t kSlots = 16;
struct Slot {
  std::atomic<int> state{0};
  std::array<char, PATH_MAX> path{};
};
std::array<Slot, kSlots> g_slots;

constexpr std::array kSignals = {SIGINT, SIGTERM, SIGHUP};

// Removes a temporary directory's files and then the directory, with
// calls that are safe in a signal handler (no allocation).
void remove_directory(const char* path) {
  const int fd = ::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  alignas(8) std::array<char, 4096> entries{};
  for (;;) {
    const ssize_t n = ::getdents64(fd, entries.data(), entries.size());
    if (n <= 0) break;
    for (ssize_t at = 0; at < n;) {
      unsigned short length = 0;
      std::memcpy(&length, entries.data() + at + offsetof(dirent64, d_reclen), sizeof length);
      const char* name = entries.data() + at + offsetof(dirent64, d_name);
      if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) ::unlinkat(fd, name, 0);
      if (length == 0) break;
      at += length;
    }
  }
  ::close(fd);
  ::rmdir(path);
}

extern "C" void remove_temporaries_and_die(int signal_number) {
  for (Slot& slot : g_slots) {
    if (slot.state.load() != 2) continue;
    // A temporary directory (EISDIR) goes with the files it holds.
    if (::unlink(slot.path.data()) != 0 && errno == EISDIR) remove_directory(slot.path.data());
  }
  ::signal(signal_number, SIG_DFL);
  ::raise(signal_number);
}

}  // namespace

InterruptCleanup::InterruptCleanup() {
  for (const int signal_number : kSignals) {
    struct sigaction previous {};
    ::sigaction(signal_number, nullptr, &previous);
    if (previous.sa_handler == SIG_IGN) continue;
    struct sigaction action {};
    action.sa_handler = remove_temporaries_and_die;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal_number, &action, nullptr);
  }
}

InterruptCleanup::~InterruptCleanup() {
  for (const int signal_number : kSignals) {
    struct sigaction current {};
    ::sigaction(signal_number, nullptr, &current);
    if (current.sa_handler == remove_temporaries_and_die) ::signal(signal_number, SIG_DFL);
  }
}

int enter_temporary(const char* path) noexcept {
  const std::size_t length = std::strlen(path);
  if (length >= PATH_MAX) return -1;
  for (std::size_t i = 0; i < kSlots; ++i) {
    int expected = 0;
    if (!g_slots[i].state.compare_exchange_strong(expected, 1)) continue;
    std::memcpy(g_slots[i].path.data(), path, length + 1);
    g_slots[i].state.store(2);
    return static_cast<int>(i);
  }
  return -1;
}

void leave_temporary(int slot) noexcept {
  if (slot >= 0 && static_cast<std::size_t>(slot) < kSlots) {
    g_slots[static_cast<std::size_t>(slot)].state.store(0);
  }
}

}  // namespace velmoran::textio
