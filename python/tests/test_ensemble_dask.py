"""Ensembles on a real Dask cluster started on 127.0.0.1 (a scheduler and
two worker processes, each under its nanny): results as hand-computed and
as serial runs give them, a worker killed during the run, and the cluster
over TLS, which refuses clients without its certificates."""

import os
import signal
import subprocess
from pathlib import Path

import numpy as np
import pandas as pd
import pytest

import qmr
from ensemble_cases import (LENGTH, OBS_NODES, ROOT, Cluster,
                            make_certificates, serial_observations,
                            steady_deck)

pytest.importorskip("distributed")
EXE = os.environ.get("QMR_EXE", "")
pytestmark = pytest.mark.skipif(not Path(EXE).is_file(),
                                reason="QMR_EXE does not name the program")

H1 = "prescribed_values[1].value"


def table(n, seed=7):
    return qmr.latin_hypercube({H1: qmr.Uniform(46.0, 60.0)}, n, seed=seed,
                               index=[f"d{i}" for i in range(n)]).round(6)


def linear_heads(p):
    """Heads at the observation nodes (x = 20, 50, 80 m) between the fixed
    heads (the ensemble reads them at full precision)."""
    x = np.array([(n - 1) * LENGTH / 10 for n in OBS_NODES])
    h1 = p[H1].to_numpy()[:, None]
    return h1 + (45.0 - h1) * x / LENGTH


@pytest.fixture(scope="module")
def cluster(tmp_path_factory):
    c = Cluster(tmp_path_factory.mktemp("dask"))
    try:
        client = c.client()
        yield c, client
        client.close()
    finally:
        c.stop()


def test_200_realizations_on_the_cluster(cluster, tmp_path):
    c, client = cluster
    p = table(200)
    res = qmr.ensemble(steady_deck(), p, executor=client,
                       results_file=tmp_path / "r.csv")
    assert res.ran == 200 and len(res.succeeded) == 200
    obs = res["observations"]
    np.testing.assert_allclose(obs.to_numpy(), linear_heads(p), rtol=1e-12)
    for label in p.index[::10]:
        d = steady_deck()
        d.prescribed_values[1].value = p.loc[label, H1]
        ref = serial_observations(d, tmp_path / label)
        assert np.array_equal(obs.loc[label].to_numpy(), ref), label
    # The same by the scheduler's address, as the command gives it.
    again = qmr.ensemble(steady_deck(), p.iloc[:20], executor=c.address)
    pd.testing.assert_frame_equal(again["observations"], obs.iloc[:20])


def test_a_killed_worker_loses_and_duplicates_nothing(cluster, tmp_path):
    c, client = cluster
    pids = sorted(client.run(os.getpid).values())
    assert len(pids) == 2
    victim = pids[0]
    p = table(80, seed=8)
    seen = []

    def kill_after_10(outcome):
        seen.append(outcome)
        if len(seen) == 10:
            os.kill(victim, signal.SIGKILL)

    res = qmr.ensemble(steady_deck(), p, executor=client,
                       results_file=tmp_path / "r.csv",
                       on_result=kill_after_10)
    assert sorted(o.key for o in seen) == sorted(p.index)      # once each
    assert len(res.succeeded) == 80 and len(res.failed) == 0
    # Realizations finished by the victim may still arrive after the kill
    # (Dask keeps results on the worker until fetched, and reruns those it
    # lost); the second half all ran elsewhere.
    assert victim not in [o.pid for o in seen[40:]]
    st = pd.read_csv(tmp_path / "r.status.csv", dtype={"realization": str})
    assert sorted(st.realization) == sorted(p.index)
    np.testing.assert_allclose(res["observations"].to_numpy(),
                               linear_heads(p), rtol=1e-12)
    client.wait_for_workers(2, timeout=120)   # the nanny started another


def test_tls_only_for_holders_of_the_certificates(tmp_path):
    certs = make_certificates(tmp_path)
    tls = (certs["ca"], certs["cert"], certs["key"])
    c = Cluster(tmp_path, tls=tls)
    try:
        address = c.address
        assert address.startswith("tls://127.0.0.1:")
        client = c.client(security=qmr.tls_security(*tls))
        p = table(30, seed=9)
        res = qmr.ensemble(steady_deck(), p, executor=client)
        client.close()
        np.testing.assert_allclose(res["observations"].to_numpy(),
                                   linear_heads(p), rtol=1e-12)

        # The command, with the cluster's certificates.
        deck = tmp_path / "base.inp"
        steady_deck().write(deck)
        p.to_csv(tmp_path / "p.csv", index_label="id")
        r = subprocess.run(
            [str(ROOT / "tools" / "qmr-ensemble"), str(deck),
             str(tmp_path / "p.csv"), "--out", str(tmp_path / "out.csv"),
             "--scheduler", address, "--tls-ca-file", str(tls[0]),
             "--tls-cert", str(tls[1]), "--tls-key", str(tls[2])],
            capture_output=True, text=True, timeout=300)
        assert r.returncode == 0, r.stderr
        assert "30 succeeded, 0 failed" in r.stderr

        from distributed import Client
        # Without certificates, plain TCP to a TLS scheduler.
        with pytest.raises((OSError, TimeoutError)):
            Client(address.replace("tls://", "tcp://"), timeout=5)
        # With a certificate of another authority.
        other = qmr.tls_security(certs["other_ca"], certs["other_cert"],
                                 certs["other_key"])
        with pytest.raises((OSError, TimeoutError)):
            Client(address, security=other, timeout=5)
        # And the command without them.
        r = subprocess.run(
            [str(ROOT / "tools" / "qmr-ensemble"), str(deck),
             str(tmp_path / "p.csv"), "--out", str(tmp_path / "no.csv"),
             "--scheduler", address.replace("tls://", "tcp://")],
            capture_output=True, text=True, timeout=300,
            env={**os.environ, "DASK_DISTRIBUTED__COMM__TIMEOUTS__CONNECT":
                 "5s"})
        assert r.returncode == 2
        assert not (tmp_path / "no.status.csv").exists()
    finally:
        c.stop()


def test_an_outcome_the_executor_glue_drops_counts_as_lost():
    """When the worker holding a task dies, Dask's executor glue may fail to
    pass its outcome on (a ValueError raised in distributed/cfexecutor.py):
    the task is lost and run again, not the ensemble's failure; the same
    exception raised anywhere else is not taken for a loss."""
    from qmr.ensembles.engines import _DaskEngine
    engine = object.__new__(_DaskEngine)     # lost() reads no state
    glue = compile("def unpack(result):\n    typ, exc, tb = result\n",
                   os.path.join("site", "distributed", "cfexecutor.py"),
                   "exec")
    elsewhere = compile("def unpack(result):\n    typ, exc, tb = result\n",
                        os.path.join("site", "qmr", "cfexecutor.py"), "exec")
    caught = []
    for code in (glue, elsewhere):
        scope: dict = {}
        exec(code, scope)
        try:
            scope["unpack"](("error", None))
        except ValueError as e:
            caught.append(e)
    assert len(caught) == 2
    assert engine.lost(caught[0])
    assert not engine.lost(caught[1])
    assert not engine.lost(ValueError("no traceback"))
