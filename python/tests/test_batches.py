"""kelpie.solve_many on threads and kelpie.dask.solve_many on a local cluster
of worker processes: results in input order, the same bits as one by one."""
import numpy as np
import pytest

import kelpie
from conftest import random_problem


def problems(count, seed):
    rng = np.random.default_rng(seed)
    kinds = ["definite", "semidefinite", "least-squares", "nonconvex"]
    return [random_problem(kinds[k % 4], 5 + k % 23, rng) for k in range(count)]


def assert_same(results, batch):
    assert len(results) == len(batch)
    for result, problem in zip(results, batch):
        alone = kelpie.solve(*problem)
        assert result.status == alone.status
        assert np.array_equal(result.x, alone.x)
        assert np.array_equal(result.lambda_lower, alone.lambda_lower)
        assert np.array_equal(result.lambda_upper, alone.lambda_upper)


@pytest.mark.parametrize("threads", [1, 3, None])
def test_threads_give_the_bits_of_single_solves_in_order(threads):
    batch = problems(60, 1)
    assert_same(kelpie.solve_many(batch, threads=threads), batch)


def test_mappings_and_a_bad_problem():
    batch = [dict(H=np.eye(2), f=[1.0, -1.0], lower=0), dict(H=np.eye(2), f=[1.0])]
    with pytest.raises(ValueError, match="problem 1: f must have shape"):
        kelpie.solve_many(batch, threads=2)
    assert kelpie.solve_many([], threads=2) == []
    with pytest.raises(ValueError, match="threads"):
        kelpie.solve_many(batch, threads=0)


def test_dask_local_cluster_gives_the_bits_of_local_solves():
    distributed = pytest.importorskip("distributed")
    import kelpie.dask
    batch = problems(300, 2)
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        results = kelpie.dask.solve_many(client, batch, batch_size=32)
        bad = [(np.eye(2), [1.0])]
        with pytest.raises(ValueError, match="f must have shape"):
            kelpie.dask.solve_many(client, bad)
    assert_same(results, batch)
