"""Batches of kelpie problems over a Dask cluster.

>>> from distributed import Client, LocalCluster
>>> import kelpie.dask
>>> with LocalCluster(n_workers=2, processes=True) as cluster, Client(cluster) as client:
...     results = kelpie.dask.solve_many(client, problems)      # doctest: +SKIP

Every worker must be able to import kelpie (install it on each machine).
"""
import kelpie

__all__ = ["solve_many"]


def _solve_batch(batch):
    return kelpie.solve_many(batch, threads=1)


def solve_many(client, problems, batch_size=64):
    """Solve many independent problems on the workers of a Dask cluster.

    Parameters
    ----------
    client : distributed.Client
        A client of the cluster to use.
    problems : iterable
        Problems as taken by :func:`kelpie.solve_many`.
    batch_size : int, optional
        Problems sent to a worker in one task; larger batches cost less in
        scheduling, smaller ones spread better.

    Returns
    -------
    list of kelpie.Result
        In the order of ``problems``; the same bits as local solves when the
        workers use a single-threaded BLAS.

    Raises
    ------
    TypeError, ValueError
        A bad problem, raised from the worker that met it.
    """
    if int(batch_size) != batch_size or batch_size < 1:
        raise ValueError(f"batch_size must be a positive whole number, not {batch_size!r}")
    problems = list(problems)
    batches = [problems[k:k + batch_size] for k in range(0, len(problems), batch_size)]
    futures = client.map(_solve_batch, batches, pure=False)
    return [result for batch in client.gather(futures) for result in batch]
