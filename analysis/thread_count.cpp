#include <velmoran/analysis/thread_count.hpp>

#include <sched.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <thread>

namespace velmoran::analysis {

namespace {

// The CPUs the calling thread may run on.
unsigned affinity_cpus() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof(set), &set) == 0) {
    const int count = CPU_COUNT(&set);
    if (count > 0) return static_cast<unsigned>(count);
  }
  return std::max(std::thread::hardware_concurrency(), 1U);
}

// ceil(quota / period) from cgroup v2's "cpu.max" ("max 100000" or
// "200000 100000") or v1's cpu.cfs_quota_us and cpu.cfs_period_us in
// `directory`; 0 for no limit.
unsigned quota_cpus(const std::string& directory) {
  long long quota = -1;
  long long period = 0;
  if (std::ifstream v2(directory + "/cpu.max"); v2) {
    std::string first;
    if (!(v2 >> first >> period) || first == "max") return 0;
    try {
      quota = std::stoll(first);
    } catch (...) {
      return 0;
    }
  } else {
    std::ifstream q(directory + "/cpu.cfs_quota_us");
    std::ifstream p(directory + "/cpu.cfs_period_us");
    if (!(q >> quota) || !(p >> period)) return 0;
  }
  if (quota <= 0 || period <= 0) return 0;
  return static_cast<unsigned>(std::min<long long>((quota + period - 1) / period, 1 << 20));
}

// The tightest quota of this process's control group and its ancestors.
unsigned cgroup_cpus() {
  std::ifstream groups("/proc/self/cgroup");
  unsigned most = 0;
  std::string line;
  while (std::getline(groups, line)) {
    // "0::/path" (v2) or "N:cpu,cpuacct:/path" (v1).
    const auto first = line.find(':');
    const auto second = line.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) continue;
    const std::string controllers = line.substr(first + 1, second - first - 1);
    std::string base;
    if (controllers.empty()) {
      base = "/sys/fs/cgroup";
    } else if (("," + controllers + ",").find(",cpu,") != std::string::npos) {
      base = "/sys/fs/cgroup/" + controllers;
      if (!std::ifstream(base + "/cpu.cfs_period_us")) base = "/sys/fs/cgroup/cpu";
    } else {
      continue;
    }
    std::string path = line.substr(second + 1);
    while (true) {
      if (const unsigned cpus = quota_cpus(base + path); cpus > 0) {
        most = most == 0 ? cpus : std::min(most, cpus);
      }
      if (path.empty() || path == "/") break;
      path.erase(path.find_last_of('/'));
    }
  }
  return most;
}

}  // namespace

unsigned default_threads() noexcept {
  try {
    const unsigned cpus = affinity_cpus();
    const unsigned quota = cgroup_cpus();
    return std::max(quota == 0 ? cpus : std::min(cpus, quota), 1U);
  } catch (...) {
    return std::max(std::thread::hardware_concurrency(), 1U);
  }
}

unsigned thread_count(unsigned requested) noexcept {
  return requested != 0 ? requested : default_threads();
}

}  // namespace velmoran::analysis
