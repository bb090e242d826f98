// Run.channels() and Run.transitions() (channels.hpp shows them in Python
// terms): the channel chromatograms come from the same library function as
// the velmoran program's, read on worker threads without the lock.
#include "channels.hpp"

#include <atomic>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <velmoran/mrm/channel_chromatograms.hpp>

#include "../toolkit/background_work.hpp"
#include "../toolkit/py_ref.hpp"
#include "arguments.hpp"
#include "chromatogram.hpp"
#include "../toolkit/errors.hpp"
#include "run.hpp"
#include "../toolkit/without_gil.hpp"

namespace velmoran::python::arrays {

using python::guarded;
using python::PyRef;

std::optional<std::shared_ptr<const mrm::TransitionList>> load_transition_list(LockRelease member,
                                                                               PyObject* path) {
  const auto text = fs_path(path);
  if (!text) return std::nullopt;
  const std::filesystem::path file(*text);
  auto list = without_gil(member, [&] { return mrm::read_transitions(file); });
  if (!list) {
    (void)raise_list_error(list.error(), file);
    return std::nullopt;
  }
  return std::make_shared<const mrm::TransitionList>(std::move(list).value());
}

namespace {

constexpr const char* kChannelsNames[] = {"threads"};
constexpr const char* kTransitionsNames[] = {"path"};

}  // namespace

PyObject* run_channels(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* bound[1];
    if (!bind_arguments({"Run.channels()", kChannelsNames, 0}, args, nargs, kwnames, bound)) {
      return nullptr;
    }
    const auto threads = threads_of(bound[0], "Run.channels()");
    if (!threads) return nullptr;
    const std::shared_ptr<const Reader> reader = run_reader(self);
    if (!reader) return nullptr;
    const std::shared_ptr<const mrm::TransitionList> list = run_transition_list(self);
    auto chromatograms = in_background("Run.channels()", [&](const std::atomic<bool>& stop) {
      return mrm::channel_chromatograms(*reader, *threads, stop);
    });
    if (!chromatograms) return nullptr;  // Ctrl-C
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict) return nullptr;
    for (mrm::ChannelChromatogram& chromatogram : *chromatograms) {
      const std::uint32_t channel = chromatogram.channel;
      const PyRef key = PyRef::steal(PyLong_FromUnsignedLong(channel));
      if (!key) return nullptr;
      const PyRef value = PyRef::steal(
          make_chromatogram(std::move(chromatogram), list ? list->find(channel) : nullptr));
      if (!value || PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) return nullptr;
    }
    return dict.release();
  });
}

PyObject* run_transitions(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* bound[1];
    if (!bind_arguments({"Run.transitions()", kTransitionsNames, 1}, args, nargs, kwnames, bound)) {
      return nullptr;
    }
    if (!run_reader(self)) return nullptr;
    auto list = load_transition_list("Run.transitions()", bound[0]);
    if (!list) return nullptr;
    auto path = fs_path(bound[0]);
    if (!path) return nullptr;
    const std::size_t rows = (*list)->size();
    set_run_transition_list(self, std::move(*list), std::move(*path));
    return PyLong_FromSize_t(rows);
  });
}

}  // namespace velmoran::python::arrays
