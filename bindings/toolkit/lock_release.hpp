// Which members of velmoran_arrays may give up the interpreter lock, in
// Python terms:
//
//   velmoran_arrays._lock_releasing == ("open()", "Run.__getitem__", ...)
//
// A member gives up the lock when it runs C++ work without it
// (without_gil.hpp, background_work.hpp) or when it calls into numpy or
// pandas (import_for() below), whose Python code drops the lock between
// bytecodes. A daemon thread that takes the lock back while the interpreter
// shuts down is ended by a forced unwind that aborts the process when it
// meets a noexcept frame (guarded.hpp). So such a member, and every
// function between it and the release, is not noexcept; nor is a
// destructor (noexcept by default) the one to drop a SpectrumIterator,
// whose dealloc gives up the lock: its owner drops it with Py_DECREF.
//
// The rule is kept by construction: without_gil(), in_background(),
// wait_interruptibly() and import_for() take a LockRelease, which only a
// name listed in kLockReleasing makes (checked at compile time). The
// module publishes the list, and the exit test calls every member on it
// from daemon threads at exit: a new member cannot be left out.
#pragma once

#include <Python.h>

#include <string_view>

namespace velmoran::python {

inline constexpr std::string_view kLockReleasing[] = {
    "open()",
    "open(transitions=)",
    "Run.__getitem__",
    "Run.spectrum()",
    "Run.peaks()",
    "Run.scans_frame()",
    "Run.close()",
    "Run.__exit__()",
    "Run.qc()",
    "Run.channels()",
    "Run.transitions()",
    "Run.xic()",
    "Run.tic()",
    "Run.bpc()",
    "SpectrumIterator.__next__",
    "SpectrumIterator.__del__",
    "Peaks.frame()",
    "Array.__array__()",
};

// The member on whose behalf the lock is given up; made only from a name
// in kLockReleasing.
class LockRelease {
 public:
  // NOLINTNEXTLINE(google-explicit-constructor): written as a string literal
  consteval LockRelease(const char* member) : member_(member) {
    bool listed = false;
    for (const std::string_view name : kLockReleasing) listed = listed || name == member;
    // Not a constant expression: the compiler names the unlisted member.
    if (!listed) throw "a member that releases the lock must be listed in kLockReleasing";
  }
  [[nodiscard]] constexpr const char* member() const { return member_; }

 private:
  const char* member_;
};

// The module `name` (numpy or pandas), imported on behalf of `member`;
// null with ImportError set, raised from the original failure, when it is
// not installed.
[[nodiscard]] PyObject* import_for(LockRelease member, const char* name);

// kLockReleasing as a tuple of str, for the module to publish.
[[nodiscard]] PyObject* lock_releasing_names();

}  // namespace velmoran::python
