"""Byte-for-byte comparison of two builds of qmr on every deck we have.

Called by scripts/compare-builds.sh (see there for the usage).  Side A is
the build of a given revision (or an executable given with --exe-a), side
B the build of the working tree (or --exe-b).  Every case runs on both
sides in the same scratch folder, one side after the other; after each run
of a case the exit status, the standard output and every file in the
scratch tree are compared byte for byte.  Standard error is not compared.

The module is over 500 lines because it is one program: the sides' builds,
the sets of cases and their runs, and the report, each a few functions.
"""

from __future__ import annotations

import argparse
import hashlib
import os
import pwd
import shlex
import shutil
import subprocess
import sys
import tempfile
import time
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass, field
from pathlib import Path
from typing import Optional

from . import common

ROOT = Path(__file__).resolve().parents[2]
CACHE = ROOT / "build-compare"
DEFAULT_SEED = 20261207
CATEGORIES = ("examples", "regress", "mistakes", "fuzz", "tests", "random",
              "beyond")
DEPTH = 7  # scratch folders between the case's own folder and the run's


@dataclass
class Case:
    """One job: decks run in order in one folder with files placed first."""

    category: str
    name: str
    decks: list[bytes]
    files: dict[str, bytes] = field(default_factory=dict)
    tree: Optional[Path] = None  # a folder copied in first (test decks)
    label: str = ""


@dataclass
class Side:
    exe: str
    wrap: list[str]
    args: list[str]


@dataclass
class Run:
    status: object  # int, or "timeout"
    out: bytes
    err: bytes
    files: dict[str, bytes]


@dataclass
class Outcome:
    case: Case
    verdict: str  # identical, differing, refused-by-a
    first: str = ""
    only_b: list[str] = field(default_factory=list)
    statuses: tuple = ()
    err: tuple = ()


# ---------------------------------------------------------------------------
# Building


def sh(cmd: list[str], **kw) -> None:
    print("+ " + " ".join(shlex.quote(c) for c in cmd), file=sys.stderr)
    subprocess.run(cmd, check=True, **kw)


def build_rev(rev: str, jobs: int) -> Path:
    """Builds revision ``rev`` (Release, target qmr) in build-compare/ and
    returns its executable; a build already there is reused."""
    sha = subprocess.run(["git", "-C", str(ROOT), "rev-parse", "--verify",
                          rev + "^{commit}"], check=True,
                         capture_output=True, text=True).stdout.strip()
    where = CACHE / f"rev-{sha[:12]}"
    exe = where / "build" / "qmr"
    if exe.exists():
        print(f"A: {rev} = {sha[:12]} (built before: {exe})", file=sys.stderr)
        return exe
    src = where / "src"
    if src.exists():
        shutil.rmtree(src)
    src.mkdir(parents=True)
    archive = subprocess.run(["git", "-C", str(ROOT), "archive", sha],
                             check=True, capture_output=True).stdout
    subprocess.run(["tar", "-x", "-C", str(src)], input=archive, check=True)
    sh(["cmake", "-S", str(src), "-B", str(where / "build"),
        "-DCMAKE_BUILD_TYPE=Release", "-DQMR_TESTS=OFF"],
       stdout=subprocess.DEVNULL)
    sh(["cmake", "--build", str(where / "build"), f"-j{jobs}", "--target",
        "qmr"], stdout=subprocess.DEVNULL)
    return exe


def build_tree(build: Path, jobs: int, target: Optional[str] = "qmr") -> Path:
    """Builds the working tree (Release) in ``build``."""
    sh(["cmake", "-S", str(ROOT), "-B", str(build),
        "-DCMAKE_BUILD_TYPE=Release"], stdout=subprocess.DEVNULL)
    cmd = ["cmake", "--build", str(build), f"-j{jobs}"]
    if target:
        cmd += ["--target", target]
    sh(cmd, stdout=subprocess.DEVNULL)
    return build / "qmr"


# ---------------------------------------------------------------------------
# The corpus


def _deck_order(p: Path) -> tuple:
    digits = "".join(c for c in p.stem if c.isdigit())
    return (int(digits) if digits else 0, p.name)


def examples() -> list[Case]:
    out = []
    for folder in sorted((ROOT / "examples").iterdir()):
        if not folder.is_dir():
            continue
        decks = sorted(folder.glob("deck*.inp"), key=_deck_order)
        if not decks and (folder / "VELDA.INP").exists():
            decks = [folder / "VELDA.INP"]
        if decks:
            out.append(Case("examples", folder.name,
                            [d.read_bytes() for d in decks]))
    return out


def split_aux(category: str, name: str, data: bytes) -> Case:
    """A deck as the whole-run fuzzer takes it: the text after a line
    "%%AUX" becomes the file AUX.DAT beside the deck."""
    deck, files = common.split_aux(data)
    return Case(category, name, [deck], files)


def regress() -> list[Case]:
    return [split_aux("regress", p.stem, p.read_bytes())
            for p in sorted((ROOT / "tests" / "regress").glob("*.inp"))]


def mistakes() -> list[Case]:
    """The corpus of deck mistakes: a folder per case, its decks run in
    name order in one folder."""
    out = []
    for folder in sorted((ROOT / "tests" / "mistakes").iterdir()):
        if folder.is_dir():
            decks = sorted(folder.iterdir(), key=_deck_order)
            out.append(Case("mistakes", folder.name,
                            [d.read_bytes() for d in decks]))
    return out


def fuzz_corpus() -> list[Case]:
    """The whole-run fuzzer's seeds, split as the fuzzer splits them."""
    return [split_aux("fuzz", p.name, p.read_bytes())
            for p in sorted((ROOT / "fuzz" / "corpus" / "run").iterdir())
            if p.is_file()]


def test_decks(build: Path, jobs: int) -> list[Case]:
    """The decks the C++ tests run, harvested once per state of tests/ by
    running ctest with QMR_DUMP_DECKS (see tests/support/wholerun.cpp)."""
    h = hashlib.sha256()
    for p in sorted((ROOT / "tests").rglob("*")):
        if p.is_file():
            h.update(str(p.relative_to(ROOT)).encode() + b"\0")
            h.update(p.read_bytes())
    dest = CACHE / f"test-decks-{h.hexdigest()[:12]}"
    if not (dest / ".complete").exists():
        if dest.exists():
            shutil.rmtree(dest)
        dest.mkdir(parents=True)
        build_tree(build, jobs, target=None)
        env = dict(os.environ, QMR_DUMP_DECKS=str(dest))
        print(f"harvesting the test decks into {dest}", file=sys.stderr)
        subprocess.run(["ctest", "--test-dir", str(build), f"-j{jobs}", "-L",
                        "unit|runs|verify", "-Q"], env=env)
        (dest / ".complete").write_text("")
    out = []
    for d in sorted(dest.iterdir()):
        # A test that puts a folder where the deck should be has no deck.
        if d.is_dir() and (d / "deck1.inp").is_file():
            out.append(Case("tests", d.name, [(d / "deck1.inp").read_bytes()],
                            tree=d))
    return out


def random_cases(seed: int, count: int, beyond: bool) -> list[Case]:
    sys.path.insert(0, str(ROOT / "python"))
    from qmrdev.randomdeck import generate_case  # noqa: E402
    out = []
    cat = "beyond" if beyond else "random"
    for k in range(count):
        c = generate_case(seed + k, beyond_legacy=beyond)
        out.append(Case(cat, f"seed-{seed + k}",
                        [t.encode("latin-1") for t in c["decks"]],
                        {n: t.encode("latin-1")
                         for n, t in c["files"].items()},
                        label=c["label"]))
    return out


# ---------------------------------------------------------------------------
# Running


class Runner:
    def __init__(self, scratch: Path, timeout: float, drop: bool) -> None:
        self.scratch = scratch
        self.timeout = timeout
        self.as_user: list[str] = []
        self.uid = self.gid = -1
        if drop and os.geteuid() == 0:
            self.as_user = ["setpriv", "--reuid=nobody", "--regid=nogroup",
                            "--clear-groups"]
            pw = pwd.getpwnam("nobody")
            import grp
            self.uid, self.gid = pw.pw_uid, grp.getgrnam("nogroup").gr_gid

    def _own(self, path: Path) -> None:
        if self.uid < 0:
            return
        os.lchown(path, self.uid, self.gid)
        if path.is_dir() and not path.is_symlink():
            for dirpath, dirs, files in os.walk(path):
                for n in dirs + files:
                    os.lchown(os.path.join(dirpath, n), self.uid, self.gid)

    def run_case(self, case: Case, side: Side, base: Path) -> list[Run]:
        """Runs the decks of ``case`` in base/s1/.../s7/run; returns one
        record per run (stopping after a timeout)."""
        for p in list(base.iterdir()):
            if p.is_dir() and not p.is_symlink():
                shutil.rmtree(p)
            else:
                p.unlink()
        run = base.joinpath(*[f"s{k}" for k in range(1, DEPTH + 1)], "run")
        run.mkdir(parents=True)
        if case.tree is not None:
            for p in case.tree.iterdir():
                if p.name == "deck1.inp":
                    continue
                if p.is_dir() and not p.is_symlink():
                    shutil.copytree(p, run / p.name, symlinks=True)
                else:
                    shutil.copy2(p, run / p.name, follow_symlinks=False)
        for name, data in case.files.items():
            target = run / name
            target.parent.mkdir(parents=True, exist_ok=True)
            target.write_bytes(data)
        self._own(base)
        cmd = self.as_user + side.wrap + [side.exe] + side.args
        runs = []
        for deck in case.decks:
            common.place_deck(run, deck)
            self._own(run / common.DECK_NAME)
            try:
                p = subprocess.run(cmd, cwd=run, stdin=subprocess.DEVNULL,
                                   capture_output=True, timeout=self.timeout,
                                   start_new_session=True)
                status: object = p.returncode
                out, err = p.stdout, p.stderr
            except subprocess.TimeoutExpired as e:
                status, out, err = "timeout", e.stdout or b"", e.stderr or b""
            runs.append(Run(status, out, err, snapshot(base, run)))
            if status == "timeout":
                break
        return runs


def snapshot(base: Path, run: Path) -> dict[str, bytes]:
    """Every file under ``base``, named relative to the run's folder."""
    files: dict[str, bytes] = {}
    for dirpath, dirs, names in os.walk(base):
        for n in names + [d for d in dirs
                          if os.path.islink(os.path.join(dirpath, d))]:
            p = os.path.join(dirpath, n)
            rel = os.path.relpath(p, run)
            if os.path.islink(p):
                files[rel] = b"symlink -> " + os.readlink(p).encode()
            elif os.path.isfile(p):
                try:
                    with open(p, "rb") as fh:
                        files[rel] = fh.read()
                except OSError as e:
                    files[rel] = f"<unreadable: {e}>".encode()
    return files


def first_line_difference(a: bytes, b: bytes) -> str:
    la = a.split(b"\n")
    lb = b.split(b"\n")
    for k in range(max(len(la), len(lb))):
        x = la[k] if k < len(la) else None
        y = lb[k] if k < len(lb) else None
        if x != y:
            def show(v: Optional[bytes]) -> str:
                if v is None:
                    return "(no such line)"
                t = repr(v)[2:-1]
                return t if len(t) <= 200 else t[:200] + "..."
            return f"line {k + 1}:\n      A: {show(x)}\n      B: {show(y)}"
    return "same lines"


def compare(case: Case, ra: list[Run], rb: list[Run],
            b_has_args: bool) -> Outcome:
    stat = (tuple(r.status for r in ra), tuple(r.status for r in rb))
    err = (ra[-1].err if ra else b"", rb[-1].err if rb else b"")
    if case.category == "beyond":
        # The old build refuses decks beyond its capacities: not a
        # difference, as long as the new one runs them.
        for x, y in zip(ra, rb):
            if x.status != 0 and y.status == 0:
                return Outcome(case, "refused-by-a", statuses=stat, err=err)
    only_b: list[str] = []
    for k in range(max(len(ra), len(rb))):
        where = f"run {k + 1} of {len(case.decks)}: " \
            if len(case.decks) > 1 else ""
        if k >= len(ra) or k >= len(rb):
            return Outcome(case, "differing",
                           where + "one side stopped after a timeout",
                           statuses=stat, err=err)
        x, y = ra[k], rb[k]
        if x.status != y.status:
            return Outcome(case, "differing",
                           f"{where}exit status A={x.status} B={y.status}",
                           statuses=stat, err=err)
        if x.out != y.out:
            return Outcome(case, "differing", f"{where}standard output, " +
                           first_line_difference(x.out, y.out),
                           statuses=stat, err=err)
        for name in sorted(set(x.files) | set(y.files)):
            if name not in y.files:
                return Outcome(case, "differing",
                               f"{where}{name}: only on side A",
                               statuses=stat, err=err)
            if name not in x.files:
                if b_has_args:
                    if name not in only_b:
                        only_b.append(name)
                    continue
                return Outcome(case, "differing",
                               f"{where}{name}: only on side B",
                               statuses=stat, err=err)
            if x.files[name] != y.files[name]:
                return Outcome(case, "differing", f"{where}{name}, " +
                               first_line_difference(x.files[name],
                                                     y.files[name]),
                               statuses=stat, err=err)
    return Outcome(case, "identical", only_b=only_b, statuses=stat, err=err)


def work(case: Case, a: Side, b: Side, runner: Runner,
         keep: Optional[Path], b_has_args: bool) -> Outcome:
    base = Path(tempfile.mkdtemp(prefix="case-", dir=runner.scratch))
    try:
        ra = runner.run_case(case, a, base)
        rb = runner.run_case(case, b, base)
        o = compare(case, ra, rb, b_has_args)
        if keep is not None and o.verdict == "differing":
            dest = keep / f"{case.category}-{case.name}"
            for side, runs in (("A", ra), ("B", rb)):
                for rel, data in (runs[-1].files if runs else {}).items():
                    t = dest / side / rel
                    t.parent.mkdir(parents=True, exist_ok=True)
                    t.write_bytes(data)
                for k, r in enumerate(runs, start=1):
                    (dest / side / f"stdout-{k}.txt").write_bytes(r.out)
                    (dest / side / f"stderr-{k}.txt").write_bytes(r.err)
            for k, deck in enumerate(case.decks, start=1):
                (dest / f"deck{k}.inp").write_bytes(deck)
        return o
    finally:
        shutil.rmtree(base, ignore_errors=True)


# ---------------------------------------------------------------------------


def main(argv: Optional[list[str]] = None) -> int:
    p = argparse.ArgumentParser(
        prog="scripts/compare-builds.sh",
        description="Runs the build of REV (side A) and of the working tree "
        "(side B) on every deck and compares what they leave, byte for "
        "byte.")
    p.add_argument("rev", nargs="?", help="revision built as side A "
                   "(required unless --exe-a is given)")
    p.add_argument("--exe-a", help="executable of side A instead of REV")
    p.add_argument("--exe-b", help="executable of side B instead of the "
                   "working tree's build")
    p.add_argument("--wrap-a", default="", help="command prefix of side A")
    p.add_argument("--wrap-b", default="", help="command prefix of side B "
                   "(e.g. wine)")
    p.add_argument("--args-a", default="", help="extra arguments, side A")
    p.add_argument("--args-b", default="", help="extra arguments, side B; "
                   "files only B leaves are listed, not counted")
    p.add_argument("--jobs", type=int, default=2)
    p.add_argument("--count", type=int, default=2000,
                   help="random cases (default 2000)")
    p.add_argument("--seed", type=int, default=DEFAULT_SEED,
                   help=f"seed of the first random case ({DEFAULT_SEED})")
    p.add_argument("--beyond-legacy", type=int, nargs="?", const=200,
                   default=0, metavar="N",
                   help="also N random cases beyond the legacy capacities "
                   "(default N 200)")
    p.add_argument("--with-test-decks", action="store_true",
                   help="also the decks the C++ tests run (harvested with "
                   "ctest once, cached in build-compare/)")
    p.add_argument("--only", default="",
                   help="comma-separated categories: " + ",".join(CATEGORIES))
    p.add_argument("--timeout", type=float, default=20.0,
                   help="seconds per run (default 20)")
    p.add_argument("--build", default=str(ROOT / "build"),
                   help="build folder of the working tree (default build/)")
    p.add_argument("--keep-diffs", metavar="DIR",
                   help="keep the decks and both sides' files of each "
                   "differing case in DIR")
    p.add_argument("--show-stderr", action="store_true",
                   help="show standard error of differing cases")
    p.add_argument("--as-self", action="store_true",
                   help="run as the current user even when root (default: "
                   "root runs the program as the user nobody)")
    p.add_argument("--max-report", type=int, default=100,
                   help="differing cases shown in full (default 100)")
    a = p.parse_args(argv)
    if not a.rev and not a.exe_a:
        p.error("REV is required (or give --exe-a)")

    t0 = time.monotonic()
    build = Path(a.build)
    exe_a = a.exe_a or str(build_rev(a.rev, a.jobs))
    exe_b = a.exe_b or str(build_tree(build, a.jobs))
    for e in (exe_a, exe_b):
        if not shutil.which(e) and not Path(e).exists():
            p.error(f"no executable {e}")
    side_a = Side(os.path.abspath(exe_a) if Path(exe_a).exists() else exe_a,
                  shlex.split(a.wrap_a), shlex.split(a.args_a))
    side_b = Side(os.path.abspath(exe_b) if Path(exe_b).exists() else exe_b,
                  shlex.split(a.wrap_b), shlex.split(a.args_b))

    only = set(filter(None, a.only.split(","))) or set(CATEGORIES)
    unknown = only - set(CATEGORIES)
    if unknown:
        p.error("unknown categories: " + ",".join(sorted(unknown)))
    cases: list[Case] = []
    if "examples" in only:
        cases += examples()
    if "regress" in only:
        cases += regress()
    if "mistakes" in only:
        cases += mistakes()
    if "fuzz" in only:
        cases += fuzz_corpus()
    if "tests" in only and a.with_test_decks:
        cases += test_decks(build, a.jobs)
    if "random" in only and a.count > 0:
        cases += random_cases(a.seed, a.count, False)
    if "beyond" in only and a.beyond_legacy > 0:
        cases += random_cases(a.seed, a.beyond_legacy, True)
    t_prep = time.monotonic() - t0

    top = Path("/dev/shm") if os.access("/dev/shm", os.W_OK) \
        else Path(tempfile.gettempdir())
    scratch = Path(tempfile.mkdtemp(prefix="qmr-compare-", dir=top))
    os.chmod(scratch, 0o755)
    runner = Runner(scratch, a.timeout, not a.as_self)
    keep = Path(a.keep_diffs).resolve() if a.keep_diffs else None
    print(f"A: {' '.join(side_a.wrap + [side_a.exe] + side_a.args)}\n"
          f"B: {' '.join(side_b.wrap + [side_b.exe] + side_b.args)}\n"
          f"{len(cases)} cases, {a.jobs} jobs"
          + (", as the user nobody" if runner.as_user else ""))
    t1 = time.monotonic()
    try:
        with ThreadPoolExecutor(max_workers=max(1, a.jobs)) as pool:
            outcomes = list(pool.map(
                lambda c: work(c, side_a, side_b, runner, keep,
                               bool(side_b.args)), cases))
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    t_run = time.monotonic() - t1

    # Report
    shown = 0
    for o in outcomes:
        if o.verdict != "differing":
            continue
        shown += 1
        if shown > a.max_report:
            continue
        label = f" [{o.case.label}]" if o.case.label else ""
        print(f"\nDIFFERENT {o.case.category}/{o.case.name}{label}\n"
              f"  statuses A={list(o.statuses[0])} B={list(o.statuses[1])}\n"
              f"  {o.first}")
        if a.show_stderr:
            for s, e in zip("AB", o.err):
                text = e.decode("latin-1").rstrip()
                if text:
                    print(f"  stderr {s}: " +
                          "\n           ".join(text.splitlines()[:5]))
    if shown > a.max_report:
        print(f"\n... and {shown - a.max_report} more differing cases")
    only_b = [o for o in outcomes if o.only_b]
    if only_b:
        names = sorted({n.split("/")[-1] for o in only_b for n in o.only_b})
        print(f"\nfiles only side B left (not counted), in {len(only_b)} "
              f"cases: " + ", ".join(names[:20]) +
              (" ..." if len(names) > 20 else ""))

    print("\nsummary")
    print(f"  {'category':<10}{'cases':>7}{'identical':>11}{'differing':>11}"
          f"{'refused-A':>11}{'failed':>8}")
    tot = [0, 0, 0, 0, 0]
    for cat in CATEGORIES:
        sel = [o for o in outcomes if o.case.category == cat]
        if not sel:
            continue
        row = [len(sel),
               sum(o.verdict == "identical" for o in sel),
               sum(o.verdict == "differing" for o in sel),
               sum(o.verdict == "refused-by-a" for o in sel),
               sum(any(s != 0 for s in o.statuses[1]) for o in sel)]
        tot = [x + y for x, y in zip(tot, row)]
        print(f"  {cat:<10}{row[0]:>7}{row[1]:>11}{row[2]:>11}{row[3]:>11}"
              f"{row[4]:>8}")
    print(f"  {'all':<10}{tot[0]:>7}{tot[1]:>11}{tot[2]:>11}{tot[3]:>11}"
          f"{tot[4]:>8}")
    print("  (failed: cases in which some run of side B did not end "
          "normally)")
    rnd = [o for o in outcomes if o.case.category == "random"]
    if rnd:
        meant = sum(o.case.label.startswith("expect-fail") for o in rnd)
        other = sum(any(s != 0 for s in o.statuses[1]) and
                    not o.case.label.startswith("expect-fail") for o in rnd)
        print(f"  random: {meant} cases made to fail (label expect-fail); "
              f"{other} others did not end normally on side B")
    print(f"  time: {t_prep:.0f} s building and preparing, {t_run:.0f} s "
          f"running")
    return 0 if tot[2] == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
