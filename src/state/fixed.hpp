// Fixed-capacity arrays indexed from 1, the storage of every array of the
// model state. Nothing here allocates; every element starts at zero.
//
// With QMR_CHECK_BOUNDS defined (debug and sanitizer builds) every access is
// checked against the capacity and an index outside 1..N throws
// std::out_of_range, so a fault shows up at the access rather than as a
// corrupted neighbour.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

namespace qmr {

[[noreturn]] inline void boundsFault(long index, long capacity) {
  throw std::out_of_range("array index " + std::to_string(index) +
                          " outside 1.." + std::to_string(capacity));
}

// One-index array a(1..N).
template <class T, int N> struct Arr {
  static_assert(N > 0);
  T v[N]{};

  static constexpr int size() { return N; }

  T &operator()(int i) {
#ifdef QMR_CHECK_BOUNDS
    if (i < 1 || i > N) boundsFault(i, N);
#endif
    return v[i - 1];
  }
  const T &operator()(int i) const {
#ifdef QMR_CHECK_BOUNDS
    if (i < 1 || i > N) boundsFault(i, N);
#endif
    return v[i - 1];
  }
};

// Two-index array a(1..M, 1..N), capacity of the first index first.
template <class T, int M, int N> struct Arr2 {
  static_assert(M > 0 && N > 0);
  T v[N][M]{}; // column-major like the rest of the numeric world

  static constexpr int rows() { return M; }
  static constexpr int cols() { return N; }

  T &operator()(int i, int j) {
#ifdef QMR_CHECK_BOUNDS
    if (i < 1 || i > M) boundsFault(i, M);
    if (j < 1 || j > N) boundsFault(j, N);
#endif
    return v[j - 1][i - 1];
  }
  const T &operator()(int i, int j) const {
#ifdef QMR_CHECK_BOUNDS
    if (i < 1 || i > M) boundsFault(i, M);
    if (j < 1 || j > N) boundsFault(j, N);
#endif
    return v[j - 1][i - 1];
  }
};

} // namespace qmr
