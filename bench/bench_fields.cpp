// One field written or read, in ns per field.
//
//   BM_Write<form>   a line of one field through the layout engine into a
//                    file unit (on /dev/null): the whole per-field path of a
//                    report line (layout, digits, line, file block)
//   BM_Read<form>    one record of one field read from a memory unit
//   BM_ReadVelocityRecord  a record of a velocity file, (I5,4E15.7), as the
//                    flow run writes it; the counter field is the time per
//                    field, the record's own costs shared by its five fields
//   BM_Field<form>   the field routine alone, where the build has it
//
// The values cycle through 4096 magnitudes typical of heads, fluxes and
// concentrations (10^-8 to 10^6, both signs).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "io/layout.hpp"
#include "io/unit.hpp"

#if __has_include("io/field.hpp")
#include "io/field.hpp"
#define QMR_HAVE_FIELD 1
#endif

namespace {

const std::vector<double> &values() {
  static const std::vector<double> v = [] {
    std::mt19937_64 rng(1);
    std::uniform_real_distribution<double> u(-8.0, 6.0);
    std::vector<double> out(4096);
    for (double &x : out)
      x = ((rng() & 1) ? -1.0 : 1.0) * std::pow(10.0, u(rng));
    return out;
  }();
  return v;
}

void writeField(benchmark::State &state, const char *layout) {
  const qmr::Layout f(layout);
  qmr::Unit u;
  if (!u.openWrite("/dev/null")) {
    state.SkipWithError("cannot open /dev/null");
    return;
  }
  const auto &v = values();
  std::size_t i = 0;
  for (auto _ : state) {
    qmr::write(u, f, {v[i++ & 4095]});
  }
  u.close();
  state.SetItemsProcessed(state.iterations());
}

void BM_WriteE11_4(benchmark::State &s) { writeField(s, "(E11.4)"); }
void BM_WriteE12_5(benchmark::State &s) { writeField(s, "(E12.5)"); }
void BM_WriteE15_7(benchmark::State &s) { writeField(s, "(E15.7)"); }
void BM_WriteF10_0(benchmark::State &s) { writeField(s, "(F10.0)"); }
void BM_WriteF10_3(benchmark::State &s) { writeField(s, "(F10.3)"); }

void BM_WriteI5(benchmark::State &state) {
  const qmr::Layout f("(I5)");
  qmr::Unit u;
  if (!u.openWrite("/dev/null")) {
    state.SkipWithError("cannot open /dev/null");
    return;
  }
  int i = 0;
  for (auto _ : state) {
    qmr::write(u, f, {(i++ * 37) % 100000 - 50000});
  }
  u.close();
  state.SetItemsProcessed(state.iterations());
}

// Records read one per iteration with read(unit) (0: read); the text starts
// again when its `count` records are used up.
template <class Read>
void readRecords(benchmark::State &state, const std::string &text, long count,
                 Read read) {
  qmr::Unit u;
  u.openText("bench", text);
  long records = 0;
  for (auto _ : state) {
    if (records == count) {
      state.PauseTiming();
      u.openText("bench", text);
      records = 0;
      state.ResumeTiming();
    }
    if (read(u) != 0) {
      state.SkipWithError("read failed");
      break;
    }
    ++records;
  }
}

// Records of one field each.
void readField(benchmark::State &state, const char *layout, bool real) {
  std::string text;
  char buf[32];
  const auto &v = values();
  for (int k = 0; k < 100000; ++k) {
    if (real)
      std::snprintf(buf, sizeof buf, "%10.*f", k % 7, v[k & 4095] * 100.0);
    else
      std::snprintf(buf, sizeof buf, "%5d", (k * 37) % 100000 - 50000);
    text += buf;
    text += '\n';
  }
  const qmr::Layout f(layout);
  double x = 0;
  int n = 0;
  readRecords(state, text, 100000, [&](qmr::Unit &u) {
    const int st = real ? qmr::readChecked(u, f, {qmr::ref(x)})
                        : qmr::readChecked(u, f, {qmr::ref(n)});
    benchmark::DoNotOptimize(x);
    benchmark::DoNotOptimize(n);
    return st;
  });
  state.SetItemsProcessed(state.iterations());
}

void BM_ReadF10_0(benchmark::State &s) { readField(s, "(F10.0)", true); }

void BM_ReadVelocityRecord(benchmark::State &state) {
  const qmr::Layout f("(I5,4E15.7)");
  const auto &v = values();
  std::string text;
  for (int k = 0; k < 20000; ++k) {
    text += qmr::format(f, {k % 300 + 1, v[k & 4095], v[(k + 1) & 4095],
                            v[(k + 2) & 4095], v[(k + 3) & 4095]});
    text += '\n';
  }
  int n = 0;
  double a = 0, b = 0, c = 0, d = 0;
  readRecords(state, text, 20000, [&](qmr::Unit &u) {
    const int st = qmr::readChecked(
        u, f,
        {qmr::ref(n), qmr::ref(a), qmr::ref(b), qmr::ref(c), qmr::ref(d)});
    benchmark::DoNotOptimize(a);
    benchmark::DoNotOptimize(d);
    return st;
  });
  state.counters["field"] =
      benchmark::Counter(5, benchmark::Counter::kIsIterationInvariantRate |
                                benchmark::Counter::kInvert);
}

void BM_ReadI5(benchmark::State &s) { readField(s, "(I5)", false); }

#ifdef QMR_HAVE_FIELD
void fieldE(benchmark::State &state, int w, int d) {
  const auto &v = values();
  char out[32];
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(qmr::field::writeE(out, v[i++ & 4095], w, d));
    benchmark::ClobberMemory();
  }
}
void BM_FieldE11_4(benchmark::State &s) { fieldE(s, 11, 4); }
void BM_FieldE12_5(benchmark::State &s) { fieldE(s, 12, 5); }
void BM_FieldE15_7(benchmark::State &s) { fieldE(s, 15, 7); }
void BM_FieldF10_3(benchmark::State &state) {
  const auto &v = values();
  char out[32];
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(qmr::field::writeF(out, v[i++ & 4095], 10, 3));
    benchmark::ClobberMemory();
  }
}
void BM_FieldReadF10_0(benchmark::State &state) {
  std::vector<std::string> texts;
  char buf[32];
  const auto &v = values();
  for (int k = 0; k < 4096; ++k) {
    std::snprintf(buf, sizeof buf, "%10.*f", k % 7, v[k] * 100.0);
    texts.emplace_back(buf);
  }
  double x = 0;
  const char *why = nullptr;
  std::size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        qmr::field::readReal(texts[i++ & 4095], 0, x, why));
    benchmark::DoNotOptimize(x);
  }
}
BENCHMARK(BM_FieldE11_4);
BENCHMARK(BM_FieldE12_5);
BENCHMARK(BM_FieldE15_7);
BENCHMARK(BM_FieldF10_3);
BENCHMARK(BM_FieldReadF10_0);
#endif

} // namespace

BENCHMARK(BM_WriteE11_4);
BENCHMARK(BM_WriteE12_5);
BENCHMARK(BM_WriteE15_7);
BENCHMARK(BM_WriteF10_0);
BENCHMARK(BM_WriteF10_3);
BENCHMARK(BM_WriteI5);
BENCHMARK(BM_ReadF10_0);
BENCHMARK(BM_ReadI5);
BENCHMARK(BM_ReadVelocityRecord);
