"""Fixtures of the Python tests: a demo archive made by make_demo_archive, and the checker's
per-type hook counts on it. CTest passes the two programs' paths in the environment."""

import os
import re
import subprocess

import pytest

DEMO_FILES = 2000


def program(variable):
    path = os.environ.get(variable)
    if not path:
        pytest.fail(f"{variable} is not set (run the tests through ctest)")
    return path


@pytest.fixture(scope="session")
def demo_archive(tmp_path_factory):
    path = tmp_path_factory.mktemp("demo") / "demo.dat"
    subprocess.run(
        [program("QUILLMERE_MAKE_DEMO_ARCHIVE"), "--output", str(path), "--files", str(DEMO_FILES)],
        check=True,
        stdout=subprocess.DEVNULL,
    )
    return path


@pytest.fixture(scope="session")
def checker_counts(demo_archive):
    """{hook name: (anim, setup, pscript)} from the checker's per-type table."""
    run = subprocess.run(
        [program("QUILLMERE_CHECKER"), "--no-capture", "sweep"],
        env={**os.environ, "QUILLMERE_PORTAL_DAT": str(demo_archive)},
        capture_output=True,
        text=True,
        check=True,
    )
    rows = re.findall(r"^\s*(\d+)\s+(\w+)\s+(\d+)\s+(\d+)\s+(\d+)\s+(\d+)$",
                      run.stdout + run.stderr, re.MULTILINE)
    counts = {name: (int(a), int(s), int(p)) for _, name, a, s, p, _ in rows}
    assert counts, "no per-type table in the checker's report"
    return counts
