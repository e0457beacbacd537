"""Engines that run batches of realizations: a pool of local processes,
any ``concurrent.futures.Executor``, or a Dask cluster."""

from __future__ import annotations

import concurrent.futures as cf
import os
from pathlib import Path
from typing import Any, List, Optional

from .outputs import EnsembleError, PathLike
from .realize import _realize_all, _remove_scratch, _Task


# ---------------------------------------------------------------------------
# Engines
# ---------------------------------------------------------------------------

class _Engine:
    """Runs tasks; knows which failures of a future mean a lost worker."""

    workers = 1

    def submit(self, tasks: List[_Task]) -> cf.Future:
        """Run a batch of realizations; the future gives their outcomes."""
        raise NotImplementedError

    def lost(self, exc: BaseException) -> bool:
        return False

    def replace(self) -> None:
        """Start afresh after a broken pool (only for an own pool)."""
        raise EnsembleError("the executor broke; run the ensemble again to "
                            "continue")

    def close(self) -> None:
        pass

    def remove_scratch(self, name: str) -> None:
        """Remove what realizations lost with their workers left."""
        _remove_scratch(name)


def _raised_in(exc: BaseException, package: str, module: str) -> bool:
    """True when the innermost frame of exc's traceback is in the file
    `module` of the folder `package`."""
    tb = exc.__traceback__
    if tb is None:
        return False
    while tb.tb_next is not None:
        tb = tb.tb_next
    path = Path(tb.tb_frame.f_code.co_filename)
    return path.name == module and path.parent.name == package


class _PoolEngine(_Engine):
    def __init__(self, workers: Optional[int]) -> None:
        self.workers = workers or os.cpu_count() or 1
        self.pool = cf.ProcessPoolExecutor(max_workers=self.workers)

    def submit(self, tasks: List[_Task]) -> cf.Future:
        return self.pool.submit(_realize_all, tasks)

    def lost(self, exc: BaseException) -> bool:
        from concurrent.futures.process import BrokenProcessPool
        return isinstance(exc, BrokenProcessPool)

    def replace(self) -> None:
        self.pool.shutdown(wait=False, cancel_futures=True)
        self.pool = cf.ProcessPoolExecutor(max_workers=self.workers)

    def close(self) -> None:
        self.pool.shutdown(wait=True, cancel_futures=True)


class _ExecutorEngine(_Engine):
    def __init__(self, executor: cf.Executor) -> None:
        self.executor = executor
        self.workers = getattr(executor, "_max_workers", None) or \
            os.cpu_count() or 1

    def submit(self, tasks: List[_Task]) -> cf.Future:
        return self.executor.submit(_realize_all, tasks)


class _DaskEngine(_Engine):
    def __init__(self, client: Any, own: bool) -> None:
        self.client = client
        self.own = own
        self.executor = client.get_executor(pure=False)
        try:
            self.workers = max(1, sum(client.nthreads().values()))
        except Exception:
            self.workers = 1

    def submit(self, tasks: List[_Task]) -> cf.Future:
        return self.executor.submit(_realize_all, tasks)  # type: ignore

    def lost(self, exc: BaseException) -> bool:
        # A task whose workers died too often (Dask reruns it on others
        # first), or one the scheduler dropped.
        if type(exc).__name__ in ("KilledWorker", "CancelledError",
                                  "FutureCancelledError"):
            return True
        # Or one whose outcome Dask's executor could not pass on: when the
        # worker holding it dies, the glue between Dask's futures and the
        # executor's can fail itself (a ValueError raised in its own
        # module). A realization's own failures never come back as
        # exceptions, so an exception raised there is the engine's.
        return _raised_in(exc, "distributed", "cfexecutor.py")

    def close(self) -> None:
        try:
            self.executor.shutdown(wait=False)
        finally:
            if self.own:
                self.client.close()

    def remove_scratch(self, name: str) -> None:
        try:
            self.client.run(_remove_scratch, name)
        except Exception:
            pass          # workers gone: nothing to clean there


def tls_security(ca_file: PathLike, cert: PathLike, key: PathLike) -> Any:
    """Dask's TLS security for a client of a cluster whose members hold
    certificates signed by `ca_file`: connections are encrypted, and both
    sides show a certificate of that authority."""
    from distributed.security import Security
    return Security(tls_ca_file=os.fspath(ca_file),
                    tls_client_cert=os.fspath(cert),
                    tls_client_key=os.fspath(key), require_encryption=True)


def _is_dask_client(x: Any) -> bool:
    return type(x).__name__ == "Client" and \
        type(x).__module__.startswith("distributed")


def _engine(executor: Any, workers: Optional[int], security: Any
            ) -> _Engine:
    if executor is None:
        return _PoolEngine(workers)
    if isinstance(executor, str):
        from distributed import Client
        if isinstance(security, (tuple, list)):
            security = tls_security(*security)
        kw = {"security": security} if security is not None else {}
        return _DaskEngine(Client(executor, **kw), own=True)
    if _is_dask_client(executor):
        return _DaskEngine(executor, own=False)
    if isinstance(executor, cf.Executor):
        return _ExecutorEngine(executor)
    raise TypeError("executor: None (local processes), a "
                    "concurrent.futures.Executor, a distributed.Client or a "
                    "scheduler address")
