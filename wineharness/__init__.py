"""The Wine harness shared by the e2e suite, scripts/run.sh, scripts/trace.sh
and the bench; it imports nothing of theirs.

    prefix.py     the Wine prefix, its loaders and lock, and runs on your display
    session.py    a private Xvfb and wineserver, launches, the probe, screen and input
    wait.py       polling until something holds
    oracle.py     the colours the window must show
    timeline.py   the exe's own calls from Wine's relay log (scripts/trace.sh)
    probe.cpp     a 64-bit Win32 program that asks the platform what X cannot show

    python3 -m wineharness prefix|run TREE|trace TREE [--raw]   (__main__.py)
"""
