"""Random decks built through the objects, written, read back and run: the
listing's echoes of every record must show the values of the object, so the
description of the deck and the program cannot drift apart."""

import os
import random
import shutil
import warnings
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import pytest

import qmr
from qmrdev.common import run_decks

EXE = os.environ.get("QMR_EXE") or qmr.runner.find_exe()
COUNT = int(os.environ.get("QMR_RANDOM_DECKS", "1000"))

needs_qmr = pytest.mark.skipif(not Path(EXE).is_file(),
                               reason=f"qmr executable {EXE} not built")


def rv(rng, lo, hi, digits=4):
    """A random value with a few significant digits, as users type them."""
    return float(f"{rng.uniform(lo, hi):.{digits}g}")


def fe(v, w, d):
    """The program's Ew.d output field (leading zero dropped when the field
    is one column short, asterisks when shorter still)."""
    if v == 0:
        digits, exp = "0" * d, 0
    else:
        s = f"{abs(v):.{d - 1}e}"
        m, e = s.split("e")
        digits, exp = m.replace(".", ""), int(e) + 1
    ex = f"E{exp:+03d}" if abs(exp) < 100 else f"{exp:+04d}"
    sign = "-" if v < 0 else ""
    t = f"{sign}0.{digits}{ex}"
    if len(t) > w:
        t = f"{sign}.{digits}{ex}"
    if len(t) > w:
        t = "*" * w
    return t.rjust(w)


def random_deck(rng, kind=None):
    """A deck that runs, built through the objects, and the files it reads
    (name -> text)."""
    kind = kind or rng.choice("FT")
    flow = kind == "F"
    d = qmr.FlowDeck() if flow else qmr.TransportDeck()
    files = {}
    d.title = rng.choice(["", "a random deck", "Ünïcode title é"])
    d.listing, d.graphic = "r.lst", rng.choice(["r.grf", "sub/../r.grf"])
    d.column2 = rng.choice(["", "x"])
    if rng.random() < 0.5:
        d.flux_file = "r.flx"
        d.variant = rng.choice(["", "  ", "ow", "X1"])
    else:
        d.variant = rng.choice(["05", "OW", "AN"])
    ne = rng.choice([1, 2, rng.randint(3, 40), rng.randint(3, 40),
                     rng.randint(40, 300)])
    np_ = ne + 1
    d.mesh_code = rng.choice([0, 0, 1, 2, 3, 4, -1, 5])
    if d.mesh_code in (1, 2, 4):
        d.first_coordinate = rv(rng, -100, 100)
        d.last_coordinate = float(
            f"{d.first_coordinate + rv(rng, 10, 5000):.8g}")
        d.grading = rv(rng, 0.5, 2.5)
        d.elements = ne
    elif d.mesh_code == 3:
        d.first_coordinate = rv(rng, 0.05, 1)
        d.last_coordinate = rv(rng, 100, 10000)
        d.elements = ne
    else:
        x = [rv(rng, -50, 50)]
        for _ in range(ne):
            x.append(float(f"{x[-1] + rv(rng, 0.5, 100):.8g}"))
        d.coordinates = x
    d.radial = rng.choice([0, 0, 1])
    d.print_interval = rng.randint(1, 4)
    d.time_scheme = rng.choice([0, 1, 2])
    d.water_table = 1 if flow and rng.random() < 0.2 else 0
    d.steady_state = 1 if rng.random() < 0.15 else rng.choice([0, 2])
    d.time_generation = rng.choice([0, 1, 3])
    d.restart_write = rng.choice([0, 1])
    d.restart_read = 1 if rng.random() < 0.15 else rng.choice([0, 2])
    if flow:
        d.velocity_code = rng.choice([0, 0, 1, 2, 3, -1])
    else:
        d.velocity_code = rng.choice([0, 0, -1, 1, 2])
    if d.restart_read == 1:
        d.restart_in, d.restart_in_note = "in.rst", "restart read"
    if d.restart_write == 1:
        d.restart_out, d.restart_out_note = "out.rst", ""
    if d.velocity_code > 0:
        d.velocity_file, d.velocity_note = "v.vel", "velocities"
    steps = rng.randint(1, 30)
    if d.steady_state != 1 and d.time_generation == 0:
        t = [rv(rng, 0, 10)]
        for _ in range(steps):
            t.append(float(f"{t[-1] + rv(rng, 0.01, 50):.8g}"))
        d.initial_time, d.times = t[0], t[1:]
    else:
        d.steps = steps
        d.initial_time = rv(rng, 0, 10)
        d.first_step = rv(rng, 0.01, 10)
        d.steps_per_decade = rng.randint(-1, 12)
    nts = 1 if d.steady_state == 1 else steps
    # Media and their assignment.
    d.property_input = rng.choice([0, 1, 2])
    nmat = rng.randint(2 if d.property_input == 2 else 1, min(4, np_))
    if d.property_input == 1:
        nmat = min(nmat, ne)
    if d.property_input == 0:
        d.medium_numbers = [rng.randint(1, nmat) for _ in range(ne)]
    elif d.property_input == 1:
        d.zone_starts = [1] + sorted(rng.sample(range(2, ne + 1), nmat - 1))
    else:
        d.zone_starts = ([1] + sorted(rng.sample(range(2, np_), nmat - 2))
                         + [np_])
    for _ in range(nmat):
        if flow:
            d.media.append(qmr.FlowMedium(
                conductivity=rv(rng, 0.5, 100),
                specific_storage=rng.choice([0.0, rv(rng, 1e-6, 1e-4)]),
                storativity=rv(rng, 1e-4, 0.3),
                thickness=(rv(rng, -20, 10) if d.water_table
                           else rng.choice([0.0, rv(rng, 5, 50)])),
                recharge=rng.choice([0.0, rv(rng, 1e-5, 1e-3)]),
                leakance=rng.choice([0.0, rv(rng, 1e-5, 1e-3)]),
                head_beyond_aquitard=rv(rng, 40, 60),
                width=rng.choice([0.0, rv(rng, 1, 1000)]),
                max_leakage=(rv(rng, 1e-4, 1e-3) if rng.random() < 0.1
                             else 0.0)))
        else:
            d.media.append(qmr.TransportMedium(
                dispersivity=rv(rng, 0.1, 50),
                diffusion=rng.choice([0.0, rv(rng, 1e-5, 1e-2)]),
                porosity=rv(rng, 0.05, 0.4),
                retardation=rng.choice([0.0, rv(rng, 1, 3)]),
                decay=rng.choice([0.0, rv(rng, 1e-4, 1e-2)]),
                recharge_concentration=rng.choice([0.0, rv(rng, 0, 100)]),
                aquitard_concentration=rng.choice([0.0, rv(rng, 0, 100)]),
                width=rng.choice([0.0, rv(rng, 1, 1000)])))
    lo, hi = (40, 60) if flow else (0, 100)
    for node in rng.sample(range(1, np_ + 1), rng.randint(1, min(4, np_))):
        d.prescribed_values.append(qmr.PrescribedValue(
            node=node, dof=rng.randint(0, 9), value=rv(rng, lo, hi)))
    for _ in range(rng.randint(0, 3)):
        if flow:
            d.prescribed_fluxes.append(qmr.FlowFlux(
                node=rng.randint(1, np_), dof=rng.randint(0, 9),
                rate=rv(rng, -20, 20)))
        else:
            d.prescribed_fluxes.append(qmr.TransportFlux(
                node=rng.randint(1, np_), dof=rng.randint(0, 9),
                solute_flux=rv(rng, -10 if rng.random() < 0.2 else 0, 100),
                fluid_flux=rv(rng, 0, 10)))
    if d.restart_read != 1:
        d.initial_value = rv(rng, 45, 55) if flow else rng.choice(
            [0.0, rv(rng, 0, 10)])
    else:
        files["in.rst"] = "".join(
            f"{ip:5d}{rv(rng, 0, 1000):15.7E}{rv(rng, lo, hi):15.7E}\n"
            for ip in range(1, np_ + 1))
    for _ in range(rng.randint(0, 3)):
        d.initial_values.append(qmr.InitialValue(
            node=rng.randint(1, np_), value=rv(rng, lo, hi)))
    if d.water_table == 1:
        d.max_iterations = rng.randint(20, 50)
        d.tolerance = rv(rng, 1e-4, 1e-2)
        d.relaxation = rng.choice([rv(rng, 0.6, 1), 0.0005, 0.0])
    if not flow:
        if d.velocity_code <= 0:
            d.default_velocity = rv(rng, 0.01, 2)
            d.default_thickness = rv(rng, 1, 50)
        else:
            blocks = nts if d.velocity_code == 2 else 1
            files["v.vel"] = "".join(
                f"{ie:5d}{rv(rng, -5, 5):15.7E}{rv(rng, 1, 50):15.7E}"
                f"{rv(rng, -1e-3, 1e-3):15.7E}{rv(rng, -1e-3, 1e-3):15.7E}\n"
                for _ in range(blocks) for ie in range(1, ne + 1))
    d.observation_nodes = rng.sample(range(1, np_ + 1),
                                     rng.randint(0, min(20, np_)))
    d.profile_steps = sorted(rng.sample(range(1, nts + 1),
                                        rng.randint(0, min(20, nts))))
    return d, files


FLOW_MEDIUM = [
    ("HYDRAULIC CONDUCTIVITY          ", "conductivity"),
    ("SPECIFIC STORAGE                ", "specific_storage"),
    ("STORAGE COEFFICIENT             ", "storativity"),
    ("AQUIFER THICKNESS/BASE ELEV.    ", "thickness"),
    ("DISTRIBUTED RECHARGE            ", "recharge"),
    ("AQUITARD LEAKAGE COEFFICIENT    ", "leakance"),
    ("FIXED HEAD BEYOND AQUITARD      ", "head_beyond_aquitard"),
    ("MAXIMUM LEAKAGE RATE            ", "max_leakage"),
    ("AQUIFER WIDTH                   ", "width"),
]
TRANSPORT_MEDIUM = [
    ("EFFECTIVE LONGITUDINAL DISPERSIVITY        ", "dispersivity"),
    ("EFFECTIVE DIFFUSION COEFFICIENT            ", "diffusion"),
    ("EFFECTIVE POROSITY                         ", "porosity"),
    ("RETARDATION FACTOR                         ", "retardation"),
    ("DECAY COEFFICIENT                          ", "decay"),
    ("CONCENTRATION OF SURFACE RECHARGE          ", "recharge_concentration"),
    ("CONCENTRATION OF FLUID IN LEAKY AQUITARD   ", "aquitard_concentration"),
    ("AQUIFER WIDTH                              ", "width"),
]
COUNTS = ["ELEMENTS", "TIMESTEPS", "DIFFERENT MATERIAL LAYERS",
          "PRESCRIBED VALUE NODES", "PRESCRIBED FLUX NODES",
          "NON-UNIFORM INITIAL NODAL VALUES", "OBSERVATION NODES",
          "PROFILE PLOTS"]
CODES = ["GENERATION OF MESH DATA", "AXISYMMETRIC BEHAVIOUR", "PRINTOUT DATA",
         "TIMESTEPPING SCHEME", "INPUT OF NON-UNIFORM INITIAL CONDITIONS",
         "WRITING RESTART VALUES", "READING/WRITING DARCY VELOCITIES",
         "TIMESTEP GENERATION", "WATER TABLE/NON-LINEAR CONDITIONS",
         "STEADY-STATE CONDITIONS", "THE INPUT OF MATERIAL PROPERTIES"]
TINY = 1.000000013351432e-10
THIN = 9.999999717180685e-10


def expected_listing(d, files):
    """The echo lines the listing must hold, in order, computed from the
    object's values alone."""
    out = [f"   OUTPUT  FILE = {d.listing:<200}",
           f"   GRAPHIC FILE = {d.graphic:<200}"]
    if d.variant not in ("05", "OW", "AN"):
        out.append(f"   FLUX    FILE = {d.flux_file:<200}")
    counts = [d.elements, d.steps, d.media_count, d.prescribed_value_count,
              d.prescribed_flux_count, d.initial_value_count,
              d.observation_count, d.profile_count]
    out += [f" NUMBER OF {k:<39}= {v:3d}" for k, v in zip(COUNTS, counts)]
    codes = [d.mesh_code, d.radial, d.print_interval, d.time_scheme,
             d.restart_read, d.restart_write, d.velocity_code,
             d.time_generation, d.water_table, d.steady_state,
             d.property_input]
    out += [f" CODE FOR {k:<40}= {v:3d}" for k, v in zip(CODES, codes)]
    if d.restart_read == 1:
        out.append(f"  RESTART READ  FILE = {d.restart_in:<200}")
    if d.restart_write == 1:
        out.append(f"  RESTART WRITE FILE = {d.restart_out:<200}")
    if d.velocity_code > 0:
        out.append(f"  VELOCITY FILE = {d.velocity_file:<200}")
    if d.mesh_code in (1, 2, 4):
        out += [f" COORDINATE OF NODE NUMBER 1        = "
                f"{fe(d.first_coordinate, 12, 5)}",
                f" COORDINATE OF NODE NUMBER N        = "
                f"{fe(d.last_coordinate, 12, 5)}",
                f" GRADING FACTOR FOR LINEAR ELEMENTS = "
                f"{fe(d.grading, 12, 5)}"]
    elif d.mesh_code == 3:
        out += [f" COORDINATE OF NODE 1                        = "
                f"{fe(d.first_coordinate, 12, 5)}",
                f" COORDINATE OF NODE NP                       = "
                f"{fe(d.last_coordinate, 12, 5)}"]
    else:
        pairs = [f"{ip:5d}{fe(x, 11, 4)}" for ip, x in
                 d.coordinates.numbered()]
        out += ["".join(pairs[i:i + 6]) for i in range(0, len(pairs), 6)]
    flow = isinstance(d, qmr.FlowDeck)
    for imat, m in d.media.numbered():
        num = str(imat) if imat < 10 else "*"
        out.append(f"MATERIAL PROPERTIES FOR MEDIUM {num}")
        labels = FLOW_MEDIUM if flow else TRANSPORT_MEDIUM
        for label, name in labels:
            v = getattr(m, name)
            if name == "width" and abs(v) <= TINY:
                v = 1.0
            if name == "thickness" and d.water_table == 0 and abs(v) <= THIN:
                v = 1.0
            if name == "retardation" and abs(v) <= TINY:
                v = 1.0
            out.append(f"  {label}= {fe(v, 12, 5)}")
    if d.steady_state == 1:
        out.append(" ** STEADY STATE CONDITION **")
    elif d.time_generation == 0:
        out.append(f"  INITIAL TIME VALUE = {fe(d.initial_time, 10, 4)}")
        prev = d.initial_time
        for its, t in d.times.numbered():
            out.append(f"{its:12d}{fe(t, 12, 5)}"
                       f"{fe(t - d.initial_time, 12, 5)}{fe(t - prev, 12, 5)}")
            prev = t
    elif d.steps_per_decade > 0:
        out += [f" INITIAL TIME VALUE    (TIMA)                = "
                f"{fe(d.initial_time, 12, 5)}",
                f" FIRST TIME STEP VALUE (DELTA1)              = "
                f"{fe(d.first_step, 12, 5)}",
                f" NUMBER OF TIME STEPS PER LOG CYCLE (NTSLOG) = "
                f"{d.steps_per_decade:12d}"]
    else:
        out += [f" INITIAL TIME VALUE      (TIMA)              = "
                f"{fe(d.initial_time, 12, 5)}",
                f" UNIFORM TIME STEP VALUE (DELTA1)            = "
                f"{fe(d.first_step, 12, 5)}"]
        etime, tint = d.first_step, d.initial_time
        for its in range(1, d.steps + 1):
            ttime = d.initial_time + etime
            out.append(f"{its:12d}{fe(ttime, 12, 5)}{fe(etime, 12, 5)}"
                       f"{fe(ttime - tint, 12, 5)}")
            etime, tint = etime + d.first_step, ttime
    for ib, p in d.prescribed_values.numbered():
        out.append(f"{ib:10d}{p.node:10d}{1:10d}{p.node:10d}"
                   f"{fe(p.value, 17, 7)}")
    for isb, f in d.prescribed_fluxes.numbered():
        if flow:
            out.append(f"{isb:10d}{f.node:10d}{f.dof:10d}{f.node:10d}"
                       f"{fe(f.rate, 17, 7)}")
        else:
            if f.solute_flux < 0 or f.fluid_flux < 0:
                out.append(" You have prescribed a discharge of "
                           "concentration !!!!")
            out.append(f"{isb:10d}{f.node:10d}{f.dof:10d}"
                       f"{fe(f.solute_flux, 17, 7)}{fe(f.fluid_flux, 17, 7)}")
    if d.restart_read == 1:
        for rec in files["in.rst"].splitlines():
            ip, x, h = int(rec[:5]), float(rec[5:20]), float(rec[20:35])
            out.append(f"{ip:5d}{fe(x, 12, 5)}     {fe(h, 12, 5)}")
    else:
        out.append(f" DEFAULT INITIAL CONCENTRATION = "
                   f"{fe(d.initial_value, 12, 5)}")
    for iv in d.initial_values:
        out.append(f" NODE NUMBER ({iv.node:4d} ) - NON-UNIFORM INITIAL "
                   f"VALUE = {fe(iv.value, 12, 5)}")
    if d.water_table == 1:
        relax = 1.0 if d.relaxation < 0.0010000000474974513 else d.relaxation
        out += [f"   NITMAX = MAXIMUM NUMBER OF ITERATIONS = "
                f"{d.max_iterations:5d}",
                f"   TOLER  = CONVERGENCE TOLERANCE        = "
                f"{fe(d.tolerance, 12, 5)}",
                f"   RELAX  = RELAXATION FACTOR            = "
                f"{fe(relax, 12, 5)}"]
    if not flow and d.velocity_code <= 0:
        out += [f"     DEFAULT DARCY VELOCITY    = "
                f"{fe(d.default_velocity, 12, 7)}",
                f"     DEFAULT AQUIFER THICKNESS = "
                f"{fe(d.default_thickness, 12, 7)}"]
    return out


def expected_graphic(d):
    """Headings of the graphic file: observation nodes and profile steps."""
    obs = "1.TIMESTEP   2.TIMEVAL   3.LOGTIME" + "".join(
        f"   OBS.({n:3d})" for n in d.observation_nodes) + "   OBS.("
    prof = "    1.NODE  2.DISTANCE   3.LOGDIST" + "".join(
        f"  PROF.({n:3d})" for n in d.profile_steps) + "  PROF.("
    return [obs, prof]


def missing_in_order(lines, expected):
    """The first expected line not found after the previous one, or None."""
    i = 0
    for e in expected:
        try:
            i = lines.index(e, i) + 1
        except ValueError:
            return e
    return None


def run_in(folder, deck_bytes, files):
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "sub").mkdir(exist_ok=True)
    for name, text in files.items():
        (folder / name).write_text(text)
    p = run_decks(folder, [deck_bytes], exe=EXE, timeout=60)[0]
    return p.returncode, p.stderr.decode("utf-8", "replace")


def check_run(folder, d, files, data):
    """Run one deck; None when the run failed, else the first echo line
    missing from the listing or the graphic file (None when all are
    there)."""
    status, _ = run_in(folder, data, files)
    if status != 0:
        return None
    lst = (folder / "r.lst").read_text("latin-1").split("\n")
    grf = (folder / "r.grf").read_text("latin-1").split("\n")
    miss = (missing_in_order(lst, expected_listing(d, files))
            or missing_in_order(grf, expected_graphic(d)))
    shutil.rmtree(folder)
    return ("missing", miss) if miss else ("ok", d.run_type)


@needs_qmr
def test_random_decks_echo_their_values(tmp_path):
    rng = random.Random(20261207)
    cases = []
    for k in range(COUNT):
        d, files = random_deck(rng)
        with warnings.catch_warnings():
            warnings.simplefilter("error")       # no digit may be lost
            data = d.to_bytes()
        # Writing then reading gives an equal object.
        assert qmr.Deck.from_text(data) == d, f"deck {k}: read back differs"
        cases.append((tmp_path / f"d{k}", d, files, data))
    with ThreadPoolExecutor(2) as pool:
        outcomes = list(pool.map(lambda c: check_run(*c), cases))
    for (folder, _, _, _), out in zip(cases, outcomes):
        assert out is None or out[0] == "ok", \
            f"{folder}: echo missing: {out[1]!r}"
    ran = [out[1] for out in outcomes if out is not None]
    # Nearly every random deck is a deck that runs, of both kinds.
    assert len(ran) >= 0.9 * COUNT, f"only {len(ran)} of {COUNT} decks ran"
    assert min(ran.count("F"), ran.count("T")) >= 0.3 * COUNT
