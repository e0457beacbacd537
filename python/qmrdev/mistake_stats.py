"""Mistakes made mechanically from the random generator's valid decks: each
record in turn dropped, doubled, or shifted one column to the left or right,
and one field's last digit moved into the next field. Each mistaken deck is
run and compared with the deck as it was; the table says, per kind of
mistake, how many changed what the run wrote, how many of those were told
on standard error, and how many of the told named the right record.

Usage: scripts/mistake-stats.py [--cases N] [--seed S] [--qmr PATH] [--single]
"""
import argparse
import collections
import os
import pathlib
import re
import shutil
import sys
import tempfile
from concurrent.futures import ThreadPoolExecutor

ROOT = pathlib.Path(__file__).resolve().parents[2]
sys.path.insert(0, os.environ.get("QMR_PYTHONPATH", str(ROOT / "python")))
from qmrdev import common, randomdeck  # noqa: E402

KINDS = ("drop", "double", "right", "left", "digit", "slip")


def run(folder: pathlib.Path, decks: list, files: dict, qmr: str):
    """Runs the decks in turn in a fresh folder; returns the last run's
    status, standard error and every output file."""
    result = common.run_decks(folder, decks, files, exe=qmr, timeout=30,
                              fresh=True, stop_at_failure=False)[-1]
    outputs = {p.name: p.read_bytes() for p in sorted(folder.iterdir())
               if p.is_file() and p.name != "VELDA.INP"}
    return result.returncode, result.stderr.decode("latin-1"), outputs


def digit_moved(rec: str):
    """The record with the last digit of one field moved into the first
    column of the next (five- or ten-column fields), or None."""
    for width in (10, 5):
        for end in range(width, len(rec) - 1, width):
            left, right = rec[end - width:end], rec[end:end + width]
            if (left[-1].isdigit() and left[-2:-1] != " " and right[:1] == " "
                    and right.strip()):
                return rec[:end - 1] + " " + rec[end - 1] + rec[end + 1:]
    return None


def full(text: str, width: int):
    """A floating value written to fill its field: zeros added after the
    last digit of its mantissa (a point first when it has none), or None."""
    m = re.fullmatch(r"([+-]?[0-9.]*[0-9][0-9.]*)([EeDd+-].*)?", text)
    if m is None or m.group(1).count(".") > 1:
        return None
    mant, exp = m.group(1), m.group(2) or ""
    if "." not in mant:
        mant += "."
    mant += "0" * (width - len(mant) - len(exp))
    return mant + exp if len(mant + exp) == width else None


def slipped(rec: str):
    """The record as meant with one floating value filling its field, and
    the record with that field and the rest typed one column to the left,
    so that the field's first character stands in the last column of the
    field before it (which ends with a digit); or None."""
    width = 10
    for end in range(width, len(rec) - 1, width):
        left, right = rec[end - width:end], rec[end:end + width]
        token = right.strip()
        if (not left[-1:].isdigit() or " " in token
                or not re.match(r"[+-]?[0.]*[1-9]", token)):
            continue
        value = full(token, width)
        if value is None:
            continue
        rest = rec[end + width:]
        return rec[:end] + value + rest, rec[:end - 1] + value + rest
    return None


def mistakes(lines: list):
    """(kind, record number, mistaken lines) for every record."""
    for i, rec in enumerate(lines):
        n = i + 1
        yield "drop", n, lines[:i] + lines[i + 1:]
        yield "double", n, lines[:i + 1] + lines[i:]
        yield "right", n, lines[:i] + [" " + rec] + lines[i + 1:]
        if rec.startswith(" "):
            yield "left", n, lines[:i] + [rec[1:]] + lines[i + 1:]
        moved = digit_moved(rec)
        if moved is not None:
            yield "digit", n, lines[:i] + [moved] + lines[i + 1:]
        slip = slipped(rec)
        if slip is not None:
            yield "slip", n, lines[:i] + [slip[1]] + lines[i + 1:]


def alike(lines: list, n: int) -> tuple:
    """The records around record n (1-based) that hold the same values
    (the same blank-separated texts), first and last: dropping or doubling
    any of them makes the same mistake."""
    first = last = n
    words = lines[n - 1].split()
    while first > 1 and lines[first - 2].split() == words:
        first -= 1
    while last < len(lines) and lines[last].split() == words:
        last += 1
    return first, last


def named(err: str, kind: str, n: int, lines: list, single: bool) -> bool:
    """Whether standard error names the record where the deck went wrong:
    the record itself; for a dropped record the position where it was (now
    the record after it) or the record after that, for a doubled record
    either copy, over every record of a run holding the same values. A
    range ("records 8 to 59") names each record in it unless `single`."""
    recs = {int(m) for m in re.findall(r"record (\d+)", err)}
    if not single:
        for a, b in re.findall(r"records (\d+) to (\d+)", err):
            recs.update(range(int(a), int(b) + 1))
    if kind in ("drop", "double"):
        first, last = alike(lines, n)
        near = set(range(first, last + 2))
    else:
        near = {n}
    return bool(recs & near)


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--cases", type=int, default=40)
    ap.add_argument("--seed", type=int, default=7000)
    ap.add_argument("--qmr", default=str(ROOT / "build" / "qmr"))
    ap.add_argument("--single", action="store_true",
                    help="a range of records does not count as naming one")
    args = ap.parse_args()
    tally = collections.defaultdict(collections.Counter)
    scratch = pathlib.Path(tempfile.mkdtemp(prefix="qmr-mistakes-"))
    jobs = []
    for k in range(args.cases):
        case = randomdeck.generate_case(args.seed + k)
        if case["label"].startswith(randomdeck.EXPECT_FAIL):
            continue
        *before, last = case["decks"]
        lines = last.split("\n")
        jobs.append((k, before, lines, case["files"]))

    def one(job):
        k, before, lines, files = job
        base = run(scratch / f"{k}-base", before + ["\n".join(lines)], files,
                   args.qmr)
        counts = collections.defaultdict(collections.Counter)
        for j, (kind, n, wrong) in enumerate(mistakes(lines)):
            got = run(scratch / f"{k}-{j}", before + ["\n".join(wrong)],
                      files, args.qmr)
            shutil.rmtree(scratch / f"{k}-{j}")
            c = counts[kind]
            c["made"] += 1
            if got[0] == base[0] and got[2] == base[2]:
                c["unchanged"] += 1
                c["false alarm"] += "qmr:" in got[1]
                continue
            c["changed"] += 1
            if "qmr:" in got[1]:
                c["told"] += 1
                c["right record"] += named(got[1], kind, n, lines,
                                           args.single)
        return counts

    with ThreadPoolExecutor(max_workers=os.cpu_count() or 2) as pool:
        for counts in pool.map(one, jobs):
            for kind, c in counts.items():
                tally[kind].update(c)
    shutil.rmtree(scratch, ignore_errors=True)
    print(f"{len(jobs)} random decks (seeds {args.seed}..."
          f"{args.seed + args.cases - 1})")
    print(f"{'mistake':8} {'made':>6} {'changed':>8} {'told':>6} "
          f"{'share':>6} {'right rec':>9} {'share':>6} {'unchanged':>9} "
          f"{'told anyway':>11}")
    for kind in KINDS:
        c = tally[kind]
        ch = c["changed"] or 1
        told = c["told"] or 1
        print(f"{kind:8} {c['made']:6} {c['changed']:8} {c['told']:6} "
              f"{100 * c['told'] / ch:5.1f}% {c['right record']:9} "
              f"{100 * c['right record'] / told:5.1f}% {c['unchanged']:9} "
              f"{c['false alarm']:11}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
