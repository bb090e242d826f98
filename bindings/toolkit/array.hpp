// class Array:                          # made only by velmoran_arrays
//     # read-only, C-contiguous, one or two dimensions (rows × columns,
//     # row-major); shares its memory through the buffer protocol
//     # (memoryview(a)), __array_interface__ and __array__, so that
//     # numpy.asarray(a), pandas.Series(a), pandas.DataFrame(run.scans)
//     # see one element per item with the Array's own dtype
//     format: str                       # "d", "f", "q", "B" (buffer format)
//     dtype: str                        # "float64", "float32", "int64", "uint8"
//     shape: tuple[int, ...]            # (n,) or (rows, columns)
//     def __len__(self) -> int          # items (rows, in 2-D)
//     def __getitem__(self, key):
//         # int (negative from the end; numpy integers; not bool): the
//         #   item as float or int, or in 2-D the row as an Array view
//         # slice: step 1 an Array view of the same memory, else a copy
//     def __iter__(self)                # the items (rows) in order
//     def tolist(self) -> list          # Python floats/ints (lists of rows)
//     __array_interface__: dict         # version 3, read-only data
//     def __array__(self, dtype=None, copy=None)   # imports numpy here, not before
//         # a view unless another dtype or copy=True asks for a copy;
//         # copy=False with another dtype: ValueError (numpy 2's protocol)
//     def __reduce__(self)              # pickles by value (pickle.hpp)
//     @classmethod
//     def _from_state(cls, (format, shape, data)):
//         # ValueError unless format is "d", "f", "q" or "B", shape has one
//         # or two dimensions, each >= 0 and times the item size a size
//         # in bytes, and their product times the item size is len(data):
//         # (k, 0) and (0,) load, (0, 2**62) does not
//     def __repr__(self) -> str         # "Array('float64', 300 items)"
//     # memoryview(a, writable) -> BufferError: the array is read-only
#pragma once

#include <Python.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

namespace velmoran::python {

// One block of memory an Array exposes, and the owner that frees it.
struct ArrayMemory {
  std::shared_ptr<const void> owner;
  const void* data = nullptr;
  std::size_t count = 0;
};

// Adopts a container (a std::vector of any allocator): the Array owns it and
// its data never moves again.
template <class Container>
[[nodiscard]] ArrayMemory adopt(Container&& values) {
  auto owner = std::make_shared<const std::remove_cvref_t<Container>>(std::move(values));
  return {owner, owner->data(), owner->size()};
}

// The buffer format character of each item type.
template <class T>
inline constexpr char kFormatOf = 0;
template <>
inline constexpr char kFormatOf<double> = 'd';
template <>
inline constexpr char kFormatOf<float> = 'f';
template <>
inline constexpr char kFormatOf<std::int64_t> = 'q';
template <>
inline constexpr char kFormatOf<std::uint8_t> = 'B';

// The Array type, made on first use and kept for the life of the process
// (borrowed), or null with the exception set.
[[nodiscard]] PyTypeObject* array_type() noexcept;

// A new Array of `memory`: `ndim` 1 (shape[0] == memory.count) or 2
// (shape[0] rows of shape[1] items, shape[0] × shape[1] == memory.count);
// null with the exception set.
[[nodiscard]] PyObject* make_array(ArrayMemory memory, char format, std::size_t itemsize, int ndim,
                                   std::array<std::size_t, 2> shape);

// A 1-D Array of the items of `memory`, of type T.
template <class T>
[[nodiscard]] PyObject* make_array(ArrayMemory memory) {
  static_assert(kFormatOf<T> != 0, "no buffer format for this item type");
  const std::size_t count = memory.count;
  return make_array(std::move(memory), kFormatOf<T>, sizeof(T), 1, {count, 0});
}

// A 2-D Array of `rows` × `columns` items of type T in row-major order:
//   make_array<double>(adopt(std::move(values)), targets, scans)
// with values.size() == targets * scans.
template <class T>
[[nodiscard]] PyObject* make_array(ArrayMemory memory, std::size_t rows, std::size_t columns) {
  static_assert(kFormatOf<T> != 0, "no buffer format for this item type");
  return make_array(std::move(memory), kFormatOf<T>, sizeof(T), 2, {rows, columns});
}

// The format character of an Array (`array` must be one).
[[nodiscard]] char array_format(PyObject* array) noexcept;

// The dimensions of an Array (`array` must be one): 1 or 2.
[[nodiscard]] int array_ndim(PyObject* array) noexcept;

// The shape of an Array (`array` must be one): {n, 0} in one dimension.
[[nodiscard]] std::array<std::size_t, 2> array_shape(PyObject* array) noexcept;

// The memory of an Array (`array` must be one) and its number of items.
[[nodiscard]] ArrayMemory array_memory(PyObject* array) noexcept;

}  // namespace velmoran::python
