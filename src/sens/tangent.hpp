// A number that carries its derivatives with respect to N parameters
// (forward differentiation): every operation gives its value exactly as
// double arithmetic does, and the derivatives by the rules of calculus.
#pragma once

#include <array>

namespace qmr {

template <int N> struct alignas(16) Tangent {
  // The derivatives first, in pairs the vector unit takes whole; the value
  // after them.
  std::array<double, N> d{};
  double v = 0.0;

  Tangent() = default;
  Tangent(double value) : v(value) {} // a constant: no derivative
};

template <int N>
Tangent<N> operator+(const Tangent<N> &a, const Tangent<N> &b) {
  Tangent<N> r(a.v + b.v);
  for (int j = 0; j < N; ++j) r.d[j] = a.d[j] + b.d[j];
  return r;
}
template <int N>
Tangent<N> operator-(const Tangent<N> &a, const Tangent<N> &b) {
  Tangent<N> r(a.v - b.v);
  for (int j = 0; j < N; ++j) r.d[j] = a.d[j] - b.d[j];
  return r;
}
template <int N> Tangent<N> operator-(const Tangent<N> &a) {
  Tangent<N> r(-a.v);
  for (int j = 0; j < N; ++j) r.d[j] = -a.d[j];
  return r;
}
template <int N>
Tangent<N> operator*(const Tangent<N> &a, const Tangent<N> &b) {
  Tangent<N> r(a.v * b.v);
  for (int j = 0; j < N; ++j) r.d[j] = a.d[j] * b.v + a.v * b.d[j];
  return r;
}
template <int N>
Tangent<N> operator/(const Tangent<N> &a, const Tangent<N> &b) {
  Tangent<N> r(a.v / b.v);
  const double bb = b.v * b.v;
  for (int j = 0; j < N; ++j) r.d[j] = (a.d[j] * b.v - a.v * b.d[j]) / bb;
  return r;
}
template <int N> Tangent<N> operator+(const Tangent<N> &a, double b) {
  Tangent<N> r = a;
  r.v = a.v + b;
  return r;
}
template <int N> Tangent<N> operator+(double a, const Tangent<N> &b) {
  Tangent<N> r = b;
  r.v = a + b.v;
  return r;
}
template <int N> Tangent<N> operator-(const Tangent<N> &a, double b) {
  Tangent<N> r = a;
  r.v = a.v - b;
  return r;
}
template <int N> Tangent<N> operator-(double a, const Tangent<N> &b) {
  Tangent<N> r(a - b.v);
  for (int j = 0; j < N; ++j) r.d[j] = -b.d[j];
  return r;
}
template <int N> Tangent<N> operator*(const Tangent<N> &a, double b) {
  Tangent<N> r(a.v * b);
  for (int j = 0; j < N; ++j) r.d[j] = a.d[j] * b;
  return r;
}
template <int N> Tangent<N> operator*(double a, const Tangent<N> &b) {
  Tangent<N> r(a * b.v);
  for (int j = 0; j < N; ++j) r.d[j] = a * b.d[j];
  return r;
}
template <int N> Tangent<N> operator/(const Tangent<N> &a, double b) {
  Tangent<N> r(a.v / b);
  for (int j = 0; j < N; ++j) r.d[j] = a.d[j] / b;
  return r;
}
template <int N> double value(const Tangent<N> &a) { return a.v; }
template <int N> Tangent<N> fabs(const Tangent<N> &a) {
  return a.v < 0.0 ? -a : a;
}

} // namespace qmr
