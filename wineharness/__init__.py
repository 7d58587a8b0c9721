"""The Wine harness of the e2e suite, scripts/run.sh, scripts/trace.sh and the
bench, and CTest's emulator for the cross trees: prefix.py, session.py, wait.py,
trace.py, relaylog.py, emulate.py and check.cpp (the check program)."""
