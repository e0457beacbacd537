"""Decks, clusters and reference runs shared by the ensemble tests and the
ensemble benchmark."""

from __future__ import annotations

import json
import os
import signal
import subprocess
import time
from pathlib import Path
from typing import Dict, List, Optional, Sequence

import numpy as np

import qmr

ROOT = Path(__file__).resolve().parents[2]
PYTHON = "/usr/bin/python3"

# Steady confined flow over 0..100 m in ten elements: conductivity K,
# thickness 5 m, width 2 m, heads fixed at node 1 (x = 0) and node 11
# (x = 100). The head is linear between them and the flow through the
# aquifer is K * 5 * 2 * (h1 - h11) / 100.
THICKNESS, WIDTH, LENGTH = 5.0, 2.0, 100.0
OBS_NODES = (3, 6, 9)


def steady_deck(h1: float = 50.0, h11: float = 45.0,
                k: float = 10.0) -> qmr.FlowDeck:
    return qmr.FlowDeck(
        listing="s.lst", graphic="s.grf", flux_file="s.flx", title="steady",
        mesh_code=1, first_coordinate=0.0, last_coordinate=LENGTH,
        grading=1.0, elements=10, steady_state=1, steps=1, property_input=1,
        zone_starts=[1],
        media=[qmr.FlowMedium(conductivity=k, thickness=THICKNESS,
                              width=WIDTH)],
        prescribed_values=[qmr.PrescribedValue(1, value=h1),
                           qmr.PrescribedValue(11, value=h11)],
        initial_value=h1, observation_nodes=list(OBS_NODES),
        profile_steps=[1])


def transient_deck(elements: int = 10, steps: int = 10) -> qmr.TransportDeck:
    """A transport run: a solute entering at node 1 of a uniform mesh of
    `elements` elements of 10 m over `steps` steps of 5 days (the
    benchmark's 300-element run; a tiny run with the defaults)."""
    return qmr.TransportDeck(
        variant="OW", listing="t.lst", graphic="t.grf", title="transport",
        mesh_code=1, first_coordinate=0.0,
        last_coordinate=10.0 * elements, grading=1.0, elements=elements,
        steps=steps, property_input=1, zone_starts=[1], time_generation=1,
        initial_time=0.0, first_step=5.0, steps_per_decade=0,
        media=[qmr.TransportMedium(dispersivity=10.0, porosity=0.25,
                                   retardation=1.0)],
        prescribed_values=[qmr.PrescribedValue(1, value=100.0)],
        default_velocity=0.5, default_thickness=10.0,
        observation_nodes=[elements // 4 + 1, elements // 2 + 1],
        profile_steps=[steps])


def serial_observations(deck: qmr.Deck, folder: Path) -> np.ndarray:
    """Observation values of one plain run (node by node, step by step),
    read from its CSV file at full precision: the ensemble's reference."""
    with qmr.run(deck, folder, args=["--csv"]) as r:
        return r.read_csv("obs").to_numpy().T.ravel()


# ---------------------------------------------------------------------------
# A Dask cluster on the loopback interface: a scheduler and worker
# processes started as commands, stopped at the end.
# ---------------------------------------------------------------------------

class Cluster:
    """A scheduler and `workers` single-threaded workers (each under its
    nanny, which starts it again when it dies) on 127.0.0.1, the scheduler
    on a free port it picks itself (written to its scheduler file).
    `tls` = (CA, certificate, key) files runs it over TLS only."""

    def __init__(self, folder: Path, workers: int = 2,
                 tls: Optional[Sequence[Path]] = None) -> None:
        self.folder = folder
        self.file = folder / "scheduler.json"
        self.procs: List[subprocess.Popen] = []
        env = dict(os.environ)
        env["PYTHONPATH"] = str(ROOT / "python")
        env["DASK_DISTRIBUTED__WORKER__DAEMON"] = "False"
        sec: List[str] = []
        if tls is not None:
            ca, cert, key = (str(p) for p in tls)
            sec = ["--tls-ca-file", ca, "--tls-cert", cert, "--tls-key", key]
        self.tls = tls
        self._start([PYTHON, "-m", "distributed.cli.dask_scheduler",
                     "--host", "127.0.0.1", "--port", "0",
                     "--dashboard-address", "127.0.0.1:0",
                     "--protocol", "tls" if tls else "tcp",
                     "--scheduler-file", str(self.file), *sec], env,
                    "scheduler")
        deadline = time.monotonic() + 120
        while not self.file.is_file():
            if time.monotonic() > deadline or self.procs[0].poll() is not None:
                self.stop()
                raise RuntimeError("the scheduler did not start: "
                                   + (folder / "scheduler.log").read_text())
            time.sleep(0.1)
        for i in range(workers):
            self._start([PYTHON, "-m", "distributed.cli.dask_worker",
                         "--scheduler-file", str(self.file),
                         "--host", "127.0.0.1", "--nthreads", "1",
                         "--nworkers", "1", "--dashboard-address",
                         "127.0.0.1:0", "--local-directory",
                         str(folder / f"w{i}"), *sec], env, f"worker{i}")

    def _start(self, cmd: List[str], env: Dict[str, str], log: str) -> None:
        with open(self.folder / f"{log}.log", "w") as fh:
            self.procs.append(subprocess.Popen(
                cmd, env=env, stdout=fh, stderr=subprocess.STDOUT,
                start_new_session=True))

    @property
    def address(self) -> str:
        for _ in range(100):
            try:
                return str(json.loads(self.file.read_text())["address"])
            except (ValueError, KeyError):
                time.sleep(0.1)
        raise RuntimeError("no scheduler address")

    def client(self, workers: int = 2, security: object = None) -> object:
        from distributed import Client
        c = Client(self.address, security=security, timeout=60)
        c.wait_for_workers(workers, timeout=120)
        return c

    def stop(self) -> None:
        for p in reversed(self.procs):
            if p.poll() is None:
                try:
                    os.killpg(p.pid, signal.SIGTERM)
                except ProcessLookupError:
                    pass
        for p in reversed(self.procs):
            try:
                p.wait(timeout=20)
            except subprocess.TimeoutExpired:
                os.killpg(p.pid, signal.SIGKILL)
                p.wait()


def make_certificates(folder: Path) -> Dict[str, Path]:
    """A certificate authority and a certificate signed by it for the
    cluster's members (and its clients), made with openssl; and a second,
    unrelated authority with its own certificate, which the cluster must
    refuse. Names: ca, cert, key, other_ca, other_cert, other_key."""
    def ssl(*args: str) -> None:
        subprocess.run(["openssl", *args], cwd=folder, check=True,
                       capture_output=True)

    out: Dict[str, Path] = {}
    for tag in ("", "other_"):
        ssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2",
            "-subj", f"/CN={tag}qmr-test-ca", "-keyout", f"{tag}ca.key",
            "-out", f"{tag}ca.pem")
        ssl("req", "-newkey", "rsa:2048", "-nodes", "-subj",
            f"/CN={tag}qmr-member", "-keyout", f"{tag}member.key", "-out",
            f"{tag}member.csr")
        (folder / "ext.cnf").write_text(
            "subjectAltName=IP:127.0.0.1,DNS:localhost\n")
        ssl("x509", "-req", "-in", f"{tag}member.csr", "-CA", f"{tag}ca.pem",
            "-CAkey", f"{tag}ca.key", "-CAcreateserial", "-days", "2",
            "-extfile", "ext.cnf", "-out", f"{tag}member.pem")
        out[f"{tag}ca"] = folder / f"{tag}ca.pem"
        out[f"{tag}cert"] = folder / f"{tag}member.pem"
        out[f"{tag}key"] = folder / f"{tag}member.key"
    return out
