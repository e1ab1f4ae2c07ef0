#!/usr/bin/env python3
"""A census of an archive's hooks through the Python package: every animation, setup model and
physics script decoded, its hooks counted per hook type and file type.

Usage: python3 bench/python_census.py ARCHIVE   (with the package on PYTHONPATH)

Prints one line per hook type used, "name anim setup pscript", then "total N"."""

import sys
from collections import Counter

import quillmere

COLUMNS = {"0x03": 0, "0x02": 1, "0x33": 2}


def census(path):
    counts = Counter()
    with quillmere.open(path) as archive:
        for entry in archive:
            column = COLUMNS.get(entry.file_type)
            if column is not None:
                for hook in archive.decode(entry.id).hooks:
                    counts[hook.name, column] += 1
    return counts


def main(path):
    counts = census(path)
    for name in sorted({name for name, _ in counts}):
        print(name, *(counts[name, column] for column in range(3)))
    print("total", sum(counts.values()))


if __name__ == "__main__":
    main(sys.argv[1])
