"""One Wine session (prefix, wineserver, Xvfb) for all the cases of one build
tree; every case launches the exe afresh and keeps its state on a Case. A
case that only reads the exes takes them from `built`, without a session."""

import os
import shutil

import pytest

from wineharness.prefix import Tree, host32
from wineharness.session import Session


def pytest_addoption(parser):
    for option in ("--tree", "--moved", "--evidence"):
        parser.addoption(option, required=True)


@pytest.fixture(scope="session")
def built(request):
    """The exes that the tree built: the exe and the moved copy."""
    option = request.config.getoption
    built = Tree(option("--tree"))
    built.moved = option("--moved")
    return built


@pytest.fixture(scope="session")
def session(request, built):
    option = request.config.getoption
    if built.arch == "win32" and host32() == "none":
        how = os.environ["GLTRIANGLES_HOST32_HOW"]  # set with the answer
        why = how if how.startswith("forced") else "and no emulator could be registered for them"
        pytest.skip(f"this host cannot run 32-bit programs ({why})")
    with Session(option("--evidence"), built.check) as s:
        yield s


class Case:
    """One case: the session it runs in, the exes it may launch, and the
    folder where it keeps what a failure leaves."""

    def __init__(self, session, built, evidence_dir):
        self.session, self.exe, self.moved = session, built.exe, built.moved
        self.evidence_dir = evidence_dir


@pytest.fixture
def case(session, built, request):
    evidence_dir = os.path.join(request.config.getoption("--evidence"), request.node.name)
    try:  # what an earlier run kept is not this one's
        shutil.rmtree(evidence_dir)
    except FileNotFoundError:
        pass
    except OSError as failure:
        pytest.fail(f"cannot empty {evidence_dir} of an earlier run's files ({failure}): "
                    f"remove it, or make it writable, and run again", pytrace=False)
    os.makedirs(evidence_dir)
    yield Case(session, built, evidence_dir)
    session.end_launches()
