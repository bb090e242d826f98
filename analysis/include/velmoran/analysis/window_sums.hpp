// Sums of a spectrum's intensities inside m/z windows: the arithmetic of
// an extracted ion chromatogram, shared by the xic command and the Python
// module's Run.xic().
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <vector>

namespace velmoran::analysis {

// The m/z window of one target, both ends included.
struct MzWindow {
  double low = 0.0;
  double high = 0.0;
};

// [target - tol, target + tol] with tol = target * ppm / 1e6, each step
// rounded in double; where target * ppm overflows, tol = target * (ppm /
// 1e6), which for ppm <= 1e6 cannot. An end may still be infinite (a
// target near the largest double): xic_windows() refuses that.
[[nodiscard]] MzWindow ppm_window(double target, double ppm);
// [target - da, target + da], each end rounded in double.
[[nodiscard]] MzWindow da_window(double target, double da);

enum class ToleranceUnit { ppm, da };

// Whether `tolerance` is one a window can be made with: in ppm a finite
// number in (0, 1e6] (beyond a million ppm a window would reach below
// zero), in m/z units a positive finite number.
[[nodiscard]] bool valid_tolerance(ToleranceUnit unit, double tolerance) noexcept;

// The window of each target, in order; nullopt beside the position of the
// first target whose window has an end that is not a finite number (an
// m/z near the largest double with a wide tolerance): such a window would
// hold every point.
struct TargetWindows {
  std::vector<MzWindow> windows;
  std::optional<std::size_t> unbounded;
};
[[nodiscard]] TargetWindows target_windows(std::span<const double> targets, ToleranceUnit unit,
                                           double tolerance);

// Sums the intensities inside each of a fixed set of windows, spectrum
// after spectrum. Windows may overlap: a point counts for every window that
// holds it. Each sum is accumulated in double in increasing m/z order
// (points of equal m/z in their order in the spectrum), which for a sorted
// spectrum is its point order. A point whose m/z is NaN is in no window.
//
// The windows are sorted by their low end once; a spectrum sorted by m/z
// (checked, O(points)) is then merged against them in O(points + windows +
// matched points); an unsorted one is first sorted into a scratch array.
// One WindowSums serves every thread: the sort's scratch array is the
// caller's, one per thread.
class WindowSums {
 public:
  struct Point {
    double mz;
    float intensity;
  };
  using Scratch = std::vector<Point>;

  explicit WindowSums(std::span<const MzWindow> windows);

  [[nodiscard]] std::size_t size() const noexcept { return windows_.size(); }

  // sums[i] receives the sum of window i (in the order given to the
  // constructor); `sums` has size() elements. `monotone` says that the
  // caller knows the m/z values to be monotone (a profile's axis is
  // first + step * i): then its two ends tell whether it is sorted.
  void compute(std::span<const double> mz, std::span<const float> intensity, std::span<double> sums,
               Scratch& scratch, bool monotone = false) const;
  // The same with a scratch array of the object's own (one thread).
  void compute(std::span<const double> mz, std::span<const float> intensity, std::span<double> sums,
               bool monotone = false) {
    compute(mz, intensity, sums, scratch_, monotone);
  }

 private:
  // Merges n points, sorted by m/z, read through mz_at(i) and
  // intensity_at(i), against the windows.
  template <class MzAt, class IntensityAt>
  void merge(std::size_t n, MzAt mz_at, IntensityAt intensity_at, std::span<double> sums) const;

  struct Ordered {
    MzWindow window;
    std::size_t target;
  };
  std::vector<Ordered> windows_;
  Scratch scratch_;
};

}  // namespace velmoran::analysis
