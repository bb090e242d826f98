// Owned references to Python objects.
//
//   ref = PyRef.steal(new_reference)    # takes over a reference we were given
//   ref = PyRef.incref(borrowed)        # takes a reference of its own
//   obj = ref.release()                 # hands the reference back to the caller
//   # leaving the scope drops the reference it still holds
//
// Borrowed references stay plain PyObject* everywhere else.
#pragma once

#include <Python.h>

#include <utility>

namespace velmoran::python {

class PyRef {
 public:
  PyRef() noexcept = default;

  // Owns `object`, a new reference (or null after a failed call).
  [[nodiscard]] static PyRef steal(PyObject* object) noexcept { return PyRef(object); }
  // Takes a reference of its own to the borrowed `object`.
  [[nodiscard]] static PyRef incref(PyObject* object) noexcept {
    Py_XINCREF(object);
    return PyRef(object);
  }

  PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
  PyRef& operator=(PyRef&& other) noexcept {
    PyRef(std::move(other)).swap(*this);
    return *this;
  }
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  // A thread that takes the interpreter lock back while the interpreter
  // shuts down is ended by a forced unwind (guarded.hpp) that runs this
  // without the lock, when the objects may already be torn down: the
  // reference is left to the exiting process then.
  ~PyRef() {
    if (object_ && PyGILState_Check()) Py_DECREF(object_);
  }

  [[nodiscard]] PyObject* get() const noexcept { return object_; }
  // Gives up ownership: the caller now holds the reference.
  [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }
  explicit operator bool() const noexcept { return object_ != nullptr; }

  void swap(PyRef& other) noexcept { std::swap(object_, other.object_); }

 private:
  explicit PyRef(PyObject* object) noexcept : object_(object) {}

  PyObject* object_ = nullptr;
};

}  // namespace velmoran::python
