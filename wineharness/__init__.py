"""The Wine harness of the e2e suite, scripts/run.sh, scripts/trace.sh and the
bench: prefix.py, session.py, wait.py, oracle.py, timeline.py and probe.cpp."""
