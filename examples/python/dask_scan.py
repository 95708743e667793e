#!/usr/bin/env python3
"""Scans a directory tree with the codepage_guess module on a Dask cluster:
what each regular file is written in, one JSON object per line, sorted by path.

    dask_scan.py TREE --workers 2              # a local cluster of 2 processes
    dask_scan.py TREE --scheduler HOST:8786    # an existing cluster
    dask_scan.py TREE --serial                 # no Dask, for comparison

The files are read where the work runs: on a cluster of several machines the
tree must be at the same path on every worker (a shared file system), and
codepage_guess installed in every worker's Python.
"""
import argparse
import json
import os
import sys

import codepage_guess


def files_under(root):
    """Every regular file under root, symbolic links not followed, sorted."""
    found = []
    for folder, folders, names in os.walk(root):
        folders.sort()
        for name in names:
            path = os.path.join(folder, name)
            if os.path.isfile(path) and not os.path.islink(path):
                found.append(path)
    return sorted(found)


def verdict(path):
    try:
        return {"path": path, "code_page": codepage_guess.guess_file(path)}
    except OSError as error:
        return {"path": path, "error": error.strerror}


def scan(paths, workers, scheduler):
    import dask.bag
    from dask.distributed import Client, LocalCluster

    if scheduler:
        client = Client(scheduler)
    else:
        cluster = LocalCluster(n_workers=workers, threads_per_worker=1, processes=True,
                               dashboard_address=None)
        client = Client(cluster)
    with client:
        partitions = max(1, min(len(paths), 8 * sum(client.nthreads().values())))
        return dask.bag.from_sequence(paths, npartitions=partitions).map(verdict).compute()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("tree")
    parser.add_argument("--workers", type=int, default=2, help="local worker processes")
    parser.add_argument("--scheduler", help="the address of an existing Dask scheduler")
    parser.add_argument("--serial", action="store_true", help="scan here, without Dask")
    arguments = parser.parse_args()
    paths = files_under(arguments.tree)
    if arguments.serial:
        results = [verdict(path) for path in paths]
    else:
        results = scan(paths, arguments.workers, arguments.scheduler)
    for result in sorted(results, key=lambda r: r["path"]):
        sys.stdout.write(json.dumps(result, ensure_ascii=False) + "\n")


if __name__ == "__main__":
    main()
