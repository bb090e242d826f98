// Removing the named temporaries of unfinished outputs (files, and
// directories with the files in them) when the program is interrupted. An
// OutputFile or OutputDirectory enters its temporary's name here for as
// long as the name exists; the program, which owns the process's signals,
// installs the handler with one InterruptCleanup for its whole run.
#pragma once

namespace velmoran::textio {

// While it lives, SIGINT, SIGTERM and SIGHUP remove every temporary
// entered below and then end the process as the signal would have. A
// signal that the process ignores (nohup) stays ignored.
class InterruptCleanup {
 public:
  InterruptCleanup();
  ~InterruptCleanup();
  InterruptCleanup(const InterruptCleanup&) = delete;
  InterruptCleanup& operator=(const InterruptCleanup&) = delete;
};

// Enters `path` (a copy is kept) and returns its slot, or -1 when every
// slot is taken or the path is too long, and then nothing removes it.
[[nodiscard]] int enter_temporary(const char* path) noexcept;
// Takes the slot's name out (nothing for -1).
void leave_temporary(int slot) noexcept;

}  // namespace velmoran::textio
