// Arrays indexed from 1, the storage of every array of the model state.
//
// An array starts with N elements, all zero: N is the capacity the array had
// when every capacity was fixed, so a state made for a small model (and every
// state the tests build by hand) has the storage it always had. When the
// counts of a run are read, resize() gives the arrays that a larger model
// needs their size; resizing keeps every value already stored and sets the
// new elements to zero.
//
// With QMR_CHECK_BOUNDS defined (debug and sanitizer builds) every access is
// checked against the current size and an index outside 1..size throws
// std::out_of_range, so a fault shows up at the access rather than as a
// corrupted neighbour.
#pragma once

#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

namespace qmr {

[[noreturn]] inline void boundsFault(long index, long size) {
  throw std::out_of_range("array index " + std::to_string(index) +
                          " outside 1.." + std::to_string(size));
}

// One-index array a(1..n), n = N until resized.
template <class T, int N> class Arr {
  static_assert(N > 0);

public:
  Arr() : v_(static_cast<std::size_t>(N)) {}

  int size() const { return static_cast<int>(v_.size()); }
  // n elements; the values of 1..min(n, size()) are kept, the rest are zero.
  void resize(int n) { v_.resize(static_cast<std::size_t>(n)); }

  T &operator()(int i) {
#ifdef QMR_CHECK_BOUNDS
    if (i < 1 || i > size()) boundsFault(i, size());
#endif
    return v_.data()[i - 1];
  }
  const T &operator()(int i) const {
#ifdef QMR_CHECK_BOUNDS
    if (i < 1 || i > size()) boundsFault(i, size());
#endif
    return v_.data()[i - 1];
  }

private:
  std::vector<T> v_;
};

// Two-index array a(1..m, 1..n), m = M and n = N until resized; the first
// index runs fastest in storage (column-major like the rest of the numeric
// world), so a(., j) is one contiguous column.
template <class T, int M, int N> class Arr2 {
  static_assert(M > 0 && N > 0);

public:
  Arr2() : v_(static_cast<std::size_t>(M) * N) {}

  int rows() const { return m_; }
  int cols() const { return n_; }
  // m × n elements; a(i, j) keeps its value where both indices stay inside,
  // every other element is zero.
  void resize(int m, int n) {
    if (m == m_ && n == n_) return;
    std::vector<T> w(static_cast<std::size_t>(m) * static_cast<std::size_t>(n));
    const int mk = std::min(m, m_);
    const int nk = std::min(n, n_);
    for (int j = 0; j < nk; ++j)
      std::copy_n(v_.begin() + static_cast<std::ptrdiff_t>(j) * m_, mk,
                  w.begin() + static_cast<std::ptrdiff_t>(j) * m);
    v_.swap(w);
    m_ = m;
    n_ = n;
  }

  T &operator()(int i, int j) {
#ifdef QMR_CHECK_BOUNDS
    if (i < 1 || i > m_) boundsFault(i, m_);
    if (j < 1 || j > n_) boundsFault(j, n_);
#endif
    return v_.data()[static_cast<std::size_t>(j - 1) * m_ + (i - 1)];
  }
  const T &operator()(int i, int j) const {
#ifdef QMR_CHECK_BOUNDS
    if (i < 1 || i > m_) boundsFault(i, m_);
    if (j < 1 || j > n_) boundsFault(j, n_);
#endif
    return v_.data()[static_cast<std::size_t>(j - 1) * m_ + (i - 1)];
  }

private:
  int m_ = M;
  int n_ = N;
  std::vector<T> v_;
};

} // namespace qmr
