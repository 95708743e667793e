#!/usr/bin/env python3
"""Scans a directory tree with the codepage_guess module on a Dask cluster:
what each regular file is, one JSON object per line, sorted by path.

    dask_scan.py TREE --workers 2              # a local cluster of 2 processes
    dask_scan.py TREE --scheduler HOST:8786    # an existing cluster
    dask_scan.py TREE --serial                 # no Dask, for comparison

Each line holds the path, the file's kind and the verdict beside it, with the
names of codepage-scan's JSON ("kind", "bom", "ambiguous", "code_page",
"rule"), or "error". A name that is not valid in the file system's encoding
(a Shift_JIS name on a UTF-8 system) is written with U+FFFD in "path" and
exactly, in hexadecimal, in "path_bytes".

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
    """Every regular file under root, symbolic links not followed, sorted; as
    bytes, so that any name survives the trip to the workers."""
    found = []
    for folder, folders, names in os.walk(os.fsencode(root)):
        folders.sort()
        for name in names:
            path = os.path.join(folder, name)
            if os.path.isfile(path) and not os.path.islink(path):
                found.append(path)
    return sorted(found)


def printable(path):
    """The JSON fields that name path: "path", and "path_bytes" where the name
    does not decode."""
    try:
        return {"path": path.decode(sys.getfilesystemencoding(), "strict")}
    except UnicodeDecodeError:
        return {"path": path.decode(sys.getfilesystemencoding(), "replace"),
                "path_bytes": path.hex()}


def describe(path):
    result = printable(path)
    try:
        description = codepage_guess.describe_file(path)
    except OSError as error:
        result["error"] = error.strerror
        return result
    for field in ("kind", "bom", "ambiguous", "code_page", "rule"):
        result[field] = getattr(description, field)
    return result


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
        return dask.bag.from_sequence(paths, npartitions=partitions).map(describe).compute()


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("tree")
    parser.add_argument("--workers", type=int, default=2, help="local worker processes")
    parser.add_argument("--scheduler", help="the address of an existing Dask scheduler")
    parser.add_argument("--serial", action="store_true", help="scan here, without Dask")
    arguments = parser.parse_args()
    paths = files_under(arguments.tree)
    if arguments.serial:
        results = [describe(path) for path in paths]
    else:
        results = scan(paths, arguments.workers, arguments.scheduler)
    output = sys.stdout.buffer
    for result in sorted(results, key=lambda r: (r["path"], r.get("path_bytes", ""))):
        output.write(json.dumps(result, ensure_ascii=False).encode() + b"\n")


if __name__ == "__main__":
    main()
