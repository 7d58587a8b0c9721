"""One Wine session (prefix, wineserver, Xvfb) for all the cases of one build
tree; every case launches the exe afresh and keeps its state on a Case."""

import os
import shutil

import pytest

from wineharness.prefix import host32, pe_header
from wineharness.session import Session, probe_in


def pytest_addoption(parser):
    for option in ("--tree", "--moved", "--evidence"):
        parser.addoption(option, required=True)


@pytest.fixture(scope="session")
def session(request):
    option = request.config.getoption
    exe = os.path.join(option("--tree"), "gltriangles.exe")
    if pe_header(exe)[0] == "win32" and host32() == "none":
        how = os.environ["GLTRIANGLES_HOST32_HOW"]  # set with the answer
        why = how if how.startswith("forced") else "and no emulator could be registered for them"
        pytest.skip(f"this host cannot run 32-bit programs ({why})")
    with Session(option("--evidence"), probe_in(option("--tree"))) as s:
        yield s


class Case:
    """One case: the session it runs in, the exes it may launch, and the
    folder where it keeps what a failure leaves."""

    def __init__(self, s, tree, moved, evidence_dir):
        self.s, self.exe = s, os.path.join(tree, "gltriangles.exe")
        self.moved, self.evidence_dir = moved, evidence_dir


@pytest.fixture
def case(session, request):
    option = request.config.getoption
    evidence_dir = os.path.join(option("--evidence"), request.node.name)
    shutil.rmtree(evidence_dir, ignore_errors=True)  # what an earlier run kept is not this one's
    os.makedirs(evidence_dir)
    yield Case(session, option("--tree"), option("--moved"), evidence_dir)
    session.end_launches()
