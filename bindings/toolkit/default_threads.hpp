// default_threads(): the number of worker threads when the caller names
// none, as the command picks it: the CPUs this process may run on (its
// affinity, which taskset and batch schedulers' CPU sets narrow), held to
// the CPU time its control group may use (a quota, as containers and
// batch jobs set it), at least 1.
#pragma once

namespace velmoran::python {

[[nodiscard]] unsigned default_threads() noexcept;

}  // namespace velmoran::python
