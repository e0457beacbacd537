// The correctly rounded logarithm and power beside the C library's, on the
// arguments the program gives them (coordinates, times, 10 to a logarithm,
// graded meshes' powers).
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "math/crmath.hpp"

namespace {

std::vector<double> logUniform(int n, double lo, double hi, unsigned seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(lo, hi);
  std::vector<double> v(n);
  for (auto &x : v) x = std::pow(10.0, u(rng));
  return v;
}

const std::vector<double> kArgs = logUniform(4096, -10.0, 10.0, 1);
const std::vector<double> kExps = logUniform(4096, -1.0, 1.0, 2);

template <double (*F)(double)> void unary(benchmark::State &st) {
  std::size_t i = 0;
  for (auto _ : st) {
    benchmark::DoNotOptimize(F(kArgs[i++ & 4095]));
  }
}

template <double (*F)(double, double)> void binary(benchmark::State &st) {
  std::size_t i = 0;
  for (auto _ : st) {
    const std::size_t k = i++ & 4095;
    benchmark::DoNotOptimize(F(kArgs[k], kExps[k]));
  }
}

double libLog10(double x) { return std::log10(x); }
double libPow(double x, double y) { return std::pow(x, y); }

} // namespace

BENCHMARK(unary<qmr::crlog10>)->Name("crlog10");
BENCHMARK(unary<libLog10>)->Name("log10 (C library)");
BENCHMARK(binary<qmr::crpow>)->Name("crpow");
BENCHMARK(binary<libPow>)->Name("pow (C library)");

BENCHMARK_MAIN();
