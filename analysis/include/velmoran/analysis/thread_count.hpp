// The one answer to "how many threads" for the command, the viewer and
// the Python module: the CPUs this process may run on (its affinity, which
// taskset and batch schedulers' CPU sets narrow), held to the CPU time its
// control group may use (a quota, as containers and batch jobs set it), at
// least 1.
#pragma once

namespace velmoran::analysis {

// The threads to use when the caller names none.
[[nodiscard]] unsigned default_threads() noexcept;

// `requested`, or default_threads() when it is 0.
[[nodiscard]] unsigned thread_count(unsigned requested) noexcept;

}  // namespace velmoran::analysis
