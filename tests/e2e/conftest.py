"""One Wine session (prefix, wineserver, Xvfb) for all the cases of one
architecture; every case launches the exe afresh."""

import os
import sys

import pytest

from wineharness import Session, arch_of, host32

# Under emulation every 32-bit process takes about a minute to start: there
# the cases that prove the PE32 exe end to end run, and the others say why not.
CORE = {"test_window", "test_picture", "test_close_button", "test_trace",
        "test_register_failure", "test_create_failure"}

def pytest_addoption(parser):
    for option in ("--exe", "--fault", "--probe64", "--keep"):
        parser.addoption(option, required=True)


@pytest.fixture(scope="session")
def wine(request):
    exe = request.config.getoption("--exe")
    arch = arch_of(exe)
    if arch == "win32" and host32() == "none":
        why = ("forced by GLTRIANGLES_HOST32" if os.environ.get("GLTRIANGLES_HOST32_FORCED")
               else "scripts/deps.sh says why")
        pytest.skip(f"this host cannot run 32-bit programs and has no emulator for them ({why})")
    keep = request.config.getoption("--keep")
    with Session(arch, keep, request.config.getoption("--probe64")) as session:
        session.exe, session.fault = exe, request.config.getoption("--fault")
        yield session


@pytest.fixture
def s(wine, request):
    name = request.node.name
    if wine.slowness > 1 and name not in CORE:
        pytest.skip("32-bit programs are emulated here: only the core cases run")
    wine.keep = os.path.join(request.config.getoption("--keep"), name)
    os.makedirs(wine.keep, exist_ok=True)
    yield wine
    wine.end_case()


def pytest_configure(config):
    if sys.flags.optimize:  # would strip every assert, so nothing would be checked
        raise pytest.UsageError("run without -O or PYTHONOPTIMIZE: asserts would be stripped")
