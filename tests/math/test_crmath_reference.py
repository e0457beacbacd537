#!/usr/bin/python3
"""Checks the correctly rounded log10, pow and powf of qmr against mpmath.

Arguments cover what the program computes (logarithms of coordinates and
times, 10 to the power of a logarithm, graded meshes' powers, the time
factor 10^(1/n) in single precision), random bit patterns over the whole
range, exact and tie cases, and published hard-to-round cases of log10
(tests/math/log10_hard.txt). The reference is mpmath at 400 bits (2000
near a tie), rounded to nearest-even here with integer arithmetic; exact
ties are confirmed with rational arithmetic.

Usage: test_crmath_reference.py --exe crmath_check [--count N] [--seed S]
                                [--wrap wine]
"""
import argparse
import math
import os
import random
import struct
import subprocess
import sys
from fractions import Fraction

import mpmath
from mpmath import mpf

HERE = os.path.dirname(os.path.abspath(__file__))


def dbits(x: float) -> int:
    return struct.unpack("<Q", struct.pack("<d", x))[0]


def bdouble(b: int) -> float:
    return struct.unpack("<d", struct.pack("<Q", b))[0]


def fbits(x: float) -> int:
    return struct.unpack("<I", struct.pack("<f", x))[0]


def bfloat(b: int) -> float:
    return struct.unpack("<f", struct.pack("<I", b))[0]


def to_f32(x: float) -> float:
    return bfloat(fbits(x))


def round_mpf(v: mpf, p: int, emin: int, prec: int):
    """Nearest value of p bits (smallest normal exponent emin) to v, and
    whether v lies so near a tie that its precision cannot decide."""
    s, man, exp, bc = v._mpf_
    e = exp + bc - 1
    ulpexp = max(e, emin) - p + 1
    if exp >= ulpexp:
        n, near = man << (exp - ulpexp), False
    else:
        shift = ulpexp - exp
        n, rem = divmod(man, 1 << shift)
        twice = 2 * rem
        near = abs(twice - (1 << shift)) <= (1 << shift) >> (prec - 80) \
            and bc > prec - 10
        if twice > (1 << shift) or (twice == (1 << shift) and n & 1):
            n += 1
    r = Fraction(n) * Fraction(2) ** ulpexp
    return (-r if s else r), near


def as_double(r: Fraction) -> float:
    try:
        return float(r)  # exact: r has at most 53 bits
    except OverflowError:
        return float("inf") if r > 0 else float("-inf")


def ref_log10(x: float) -> float:
    for prec in (400, 2000):
        mpmath.mp.prec = prec
        v = mpmath.log10(mpf(x))
        if v == 0:
            return 0.0
        r, near = round_mpf(v, 53, -1022, prec)
        if not near:
            return as_double(r)
    raise AssertionError(f"log10({x!r}) undecided")


def exact_tie(x: float, y: float, r: Fraction, p: int, emin: int):
    """The rounding of x^y (x > 0) when x^y is exactly a tie next to r,
    else None."""
    fy = Fraction(y)
    if fy <= 0 or fy.denominator > 64 or fy.numerator > 4096:
        return None
    ulpexp = max(_exponent(abs(r)), emin) - p + 1
    half = Fraction(2) ** (ulpexp - 1)
    for c in (abs(r) - half, abs(r) + half, abs(r) - half / 2):
        if c > 0 and Fraction(x) ** fy.numerator == c ** fy.denominator:
            e = max(_exponent(c), emin) - p + 1
            h = Fraction(2) ** (e - 1)
            lo = c - h
            return lo if (lo / Fraction(2) ** e).numerator % 2 == 0 else c + h
    return None


def _exponent(r: Fraction) -> int:
    e = r.numerator.bit_length() - r.denominator.bit_length()
    if Fraction(2) ** e > r:
        e -= 1
    if Fraction(2) ** (e + 1) <= r:
        e += 1
    return e


def ref_pow(x: float, y: float, p: int, emin: int) -> float:
    neg = x < 0 and float(y).is_integer() and int(y) % 2 == 1
    ax = abs(x)
    for prec in (400, 2000):
        mpmath.mp.prec = prec
        v = mpmath.power(mpf(ax), mpf(y))
        r, near = round_mpf(v, p, emin, prec)
        if not near:
            break
        t = exact_tie(ax, y, r, p, emin)
        if t is not None:
            r = t
            break
    else:
        raise AssertionError(f"pow({x!r}, {y!r}) undecided")
    res = as_double(r)
    if p == 24:
        res = to_f32(res) if abs(res) < 2.0**128 else float("inf")
    return -res if neg else res


def log_uniform(rng: random.Random, lo: float, hi: float) -> float:
    return 10.0 ** rng.uniform(lo, hi)


def random_double(rng: random.Random, lo_exp: int = -1074,
                  hi_exp: int = 1023) -> float:
    while True:
        b = rng.getrandbits(63)
        x = bdouble(b)
        if x == x and x != float("inf") and x > 0:
            e = (b >> 52) - 1023
            if lo_exp <= e <= hi_exp:
                return x


def hard_log10_cases() -> list[float]:
    path = os.path.join(HERE, "log10_hard.txt")
    out = []
    with open(path) as f:
        for line in f:
            line = line.strip()
            if line and not line.startswith("#"):
                out.append(float.fromhex(line))
    return out


def make_cases(count: int, seed: int):
    rng = random.Random(seed)
    logs, pows, powfs = [], [], []
    n = count
    # Logarithms of coordinates and times, and of anything.
    logs += [log_uniform(rng, -10, 10) for _ in range(n)]
    logs += [random_double(rng) for _ in range(n // 4)]
    logs += [1.0 + k * 2.0**-52 for k in range(1, 50)]
    logs += [1.0 - k * 2.0**-53 for k in range(1, 50)]
    logs += [10.0**k for k in range(-30, 23)]
    logs += [float(10**k) for k in range(0, 23)]
    logs += [rng.uniform(0.5, 2.0) for _ in range(n // 4)]
    logs += hard_log10_cases()
    # 10 to a logarithm (logarithmic meshes), graded meshes' powers.
    for _ in range(n):
        pows.append((10.0, rng.uniform(-10.0, 10.0)))
    for _ in range(n // 2):
        d1, d2 = rng.uniform(-6, 6), rng.uniform(-6, 6)
        ne = rng.randint(1, 300)
        step = (d2 - d1) / ne
        acc = d1
        for _ in range(min(ne, 4)):
            acc = acc + step
            pows.append((10.0, acc))
    for _ in range(n):
        s = rng.uniform(0.1, 10.0)
        pows.append((log_uniform(rng, -3, 6), 1.0 / s))
        pows.append((log_uniform(rng, -3, 6), s))
    # Anything in range.
    for _ in range(n // 2):
        x = log_uniform(rng, -10, 10)
        pows.append((x, rng.uniform(-20.0, 20.0)))
        x = random_double(rng)
        lx = math.log(x)
        pows.append((x, rng.uniform(-700.0, 700.0) / lx))
    pows += [(-x, float(k)) for x in (1.5, 2.5, 0.3, 7.0)
             for k in range(-20, 21)]
    # Exact results and ties: squares of 27-bit odd numbers, cubes of
    # 18-bit numbers through y = 3/2, small integer powers.
    for _ in range(n // 20):
        t = rng.randrange(94906267, 2**27, 2)
        pows.append((float(t), 2.0))
        t = rng.randrange(2**17 + 2**16, 2**18, 2)
        pows.append((float(t * t), 1.5))
        pows.append((float(t), 3.0))
        pows.append((float(rng.randint(2, 1000)), float(rng.randint(1, 30))))
        pows.append((float(t * t) * 2.0**rng.randint(-40, 40), 0.5))
    # Single precision: the time factor 10^(1/n), and anything.
    for k in range(1, min(n, 20000) + 1):
        powfs.append((10.0, to_f32(1.0 / to_f32(float(k)))))
    for _ in range(n // 2):
        x = to_f32(log_uniform(rng, -5, 5))
        powfs.append((x, to_f32(rng.uniform(-8.0, 8.0))))
    for _ in range(n // 20):
        t = rng.randrange(5793, 8192, 2)
        powfs.append((float(t), 2.0))
    return logs, pows, powfs


def run(exe: list[str], lines: list[str]) -> list[int]:
    out = subprocess.run(exe, input="\n".join(lines) + "\n",
                         capture_output=True,
                         text=True, check=True).stdout.split()
    assert len(out) == len(lines)
    return [int(v, 16) for v in out]


def main() -> int:
    ap = argparse.ArgumentParser()
    ap.add_argument("--exe", required=True)
    ap.add_argument("--wrap", default="",
                    help="a command to run the program with, e.g. wine")
    ap.add_argument("--count", type=int, default=3000)
    ap.add_argument("--seed", type=int, default=19)
    ap.add_argument("--precise-share", type=int, default=10,
                    help="one case in this many also runs the precise "
                    "path alone")
    a = ap.parse_args()
    logs, pows, powfs = make_cases(a.count, a.seed)
    lines, want = [], []
    for i, x in enumerate(logs):
        r = dbits(ref_log10(x))
        lines.append(f"l {dbits(x):x}")
        want.append((r, f"log10({x.hex()})"))
        if i % a.precise_share == 0:
            lines.append(f"L {dbits(x):x}")
            want.append((r, f"precise log10({x.hex()})"))
    for i, (x, y) in enumerate(pows):
        r = dbits(ref_pow(x, y, 53, -1022))
        lines.append(f"p {dbits(x):x} {dbits(y):x}")
        want.append((r, f"pow({x.hex()}, {y.hex()})"))
        if i % a.precise_share == 0 and x > 0:
            lines.append(f"P {dbits(x):x} {dbits(y):x}")
            want.append((r, f"precise pow({x.hex()}, {y.hex()})"))
    for i, (x, y) in enumerate(powfs):
        r = fbits(ref_pow(x, y, 24, -126))
        lines.append(f"f {fbits(x):x} {fbits(y):x}")
        want.append((r, f"powf({x.hex()}, {y.hex()})"))
        if i % a.precise_share == 0 and x > 0:
            lines.append(f"F {fbits(x):x} {fbits(y):x}")
            want.append((r, f"precise powf({x.hex()}, {y.hex()})"))
    got = run(([a.wrap] if a.wrap else []) + [a.exe], lines)
    bad = [(w, g) for w, g in zip(want, got) if w[0] != g]
    for (r, what), g in bad[:20]:
        print(f"{what}: want {r:x} got {g:x}")
    print(f"{len(lines)} results checked ({len(logs)} log10, {len(pows)} pow, "
          f"{len(powfs)} powf), {len(bad)} wrong")
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
