"""A Wine session on a private Xvfb. It locks the prefix, ends what a killed
run left behind, makes the prefix if need be, starts Xvfb and one wineserver,
and on exit ends everything it started. The check program (check.cpp)
drives the exe and judges it, and answers what X cannot show."""

import contextlib
import os
import signal
import subprocess
import sys
import tempfile

from . import diagnose
from .prefix import (PREFIX, SERVER, end_leftovers, loader, lock_prefix, make_prefix,
                     process_id, stop_server, wine_env)
from .wait import NotYet, wait_for


class Session:
    """EVIDENCE_DIR gets Wine's log, of this session alone, and what callers
    keep there. With grey_unwritten_memory (no MIT-SHM, a heap of 0xAA bytes)
    a picture that was never drawn shows grey, not by chance the right
    colours."""

    def __init__(self, evidence_dir, check, prefix=PREFIX, grey_unwritten_memory=True,
                 xvfb_args=()):
        self.evidence_dir, self.check_exe = os.path.abspath(evidence_dir), check
        self.prefix, self.grey = prefix, grey_unwritten_memory
        self.xvfb_args = list(xvfb_args)
        self.procs = []

    def __enter__(self):
        os.makedirs(self.evidence_dir, exist_ok=True)
        self.lock = lock_prefix(self.prefix)
        signal.signal(signal.SIGTERM, lambda *_: sys.exit(143))  # clean up then too
        try:
            end_leftovers(self.prefix)
            self.log = open(os.path.join(self.evidence_dir, "wine.log"), "w")
            width, height = make_prefix(self.prefix)  # room for Wine's desktop:
            width, height = max(width, 1024), max(height, 768)
            read_end, write_end = os.pipe()
            no_shm = ["-extension", "MIT-SHM"] if self.grey else []
            self.xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", f"{width}x{height}x24",
                 "-nolisten", "tcp", *no_shm, *self.xvfb_args],
                pass_fds=(write_end,), stderr=subprocess.DEVNULL,
                process_group=0)  # Ctrl+C reaches us, not it: Wine ends first, then it
            os.close(write_end)
            with open(self.prefix + ".xvfb", "w") as f:
                f.write(process_id(self.xvfb.pid))
            with os.fdopen(read_end) as f:
                display = ":" + f.readline().strip()
            if display == ":":
                raise RuntimeError("Xvfb did not report a display")
            self.env = wine_env(self.prefix, DISPLAY=display)
            if self.grey:
                self.env["MALLOC_PERTURB_"] = "85"  # new blocks start as 0xAA
            self.keep_server_running()
        except BaseException:
            self.__exit__()
            raise
        return self

    def __exit__(self, *exc):
        # Ctrl+C, once more or late, must not cut the ending short.
        interrupt = signal.signal(signal.SIGINT, signal.SIG_IGN)
        try:
            self.end_launches()
            stop_server(self.prefix)  # Wine's desktop first, before its X server goes
            if hasattr(self, "xvfb"):
                self.xvfb.terminate()
                self.xvfb.wait()
                with contextlib.suppress(FileNotFoundError):  # ended cleanly: no leftover
                    os.remove(self.prefix + ".xvfb")
            # Wine 10 can leave services.exe and its kin hung after the server
            # ends; the next session would end them, but nothing should outlive us.
            end_leftovers(self.prefix)
            if hasattr(self, "log"):
                self.log.close()
            self.lock.close()
        finally:
            signal.signal(signal.SIGINT, interrupt)

    def end_launches(self):
        """Ends what was launched and still runs; if anything did, the
        wineserver too, so that nothing of it reaches the next launch."""
        left = [proc for proc in self.procs if proc.poll() is None]
        for proc in left:
            proc.kill()
            proc.wait()
        self.procs.clear()
        if left:
            stop_server(self.prefix)
            self.keep_server_running()

    def keep_server_running(self):
        """One wineserver for the whole session: without this it exits a few
        seconds after the last Wine process, and a program started just then
        can find it going away."""
        subprocess.run([SERVER, "-p"], env=self.env, check=True)

    def until(self, condition, what, timeout=20.0, hit_tests=False, app=None):
        """The main window once condition(window) holds; fails at once if
        the process APP has exited. The hit tests, slow where the exe is
        emulated, are made only once the rest of the condition holds."""
        def attempt():
            if app and app.poll() is not None:
                raise AssertionError(f"the exe exited with status {app.returncode} before {what}"
                                     + self.said(app))
            win = self.window()
            if hit_tests and condition(win):
                win = self.window(hit_tests)
            if not condition(win):
                raise NotYet(f"saw window {win['window']}, client {win['client']}, (visible, "
                             f"minimised, maximised) {win['state']}, active {win['active']}")
            return win
        return wait_for(attempt, what, timeout)

    def shown_window(self, app, hit_tests=False):
        """APP's main window once it is visible and active."""
        return self.until(lambda w: w["state"][0] == 1 and w["active"] == 1,
                          "the active main window", 40.0, hit_tests, app)

    # --- processes -------------------------------------------------------
    def start(self, *argv, log=None, own_output=False, cwd=None, **env):
        """ARGV... under Wine in the background, in CWD, with ENV added and
        Wine's log to LOG (the session's log by default), and its output too
        unless OWN_OUTPUT sends that to ours."""
        log = log or self.log
        since = os.path.getsize(log.name)
        proc = subprocess.Popen([loader(argv[0]), *argv], env=dict(self.env, **env),
                                stdout=None if own_output else log, stderr=log, cwd=cwd)
        proc.log, proc.since = log.name, since  # where its run's lines begin
        self.procs.append(proc)
        return proc

    def said(self, proc):
        """Wine's error lines since PROC started, and where its whole log is kept."""
        lines = diagnose.errors(proc.log, proc.since)
        return ("; Wine said:\n  " + "\n  ".join(lines) if lines else
                "; Wine said nothing on its error channel") + f"\nWine's whole log: {proc.log}"

    def wait_exit(self, proc, timeout=20.0):
        try:
            return proc.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError(f"the process (pid {proc.pid}) was still running "
                                 f"{timeout:.0f} s later") from None

    def query(self, *args):
        """The check program's "key value" lines as a dict, or None when it says
        that what was asked for is not there (exit status 3)."""
        for start in (1, 2):
            with tempfile.TemporaryFile("w+") as out, tempfile.NamedTemporaryFile("w+") as err:
                status = subprocess.run([loader(self.check_exe), self.check_exe, *args], env=self.env,
                                        stdout=out, stderr=err, timeout=60).returncode
                out.seek(0)
                lines = out.read().splitlines()
                said = diagnose.errors(err.name)
                err.seek(0)
                self.log.write(err.read())  # only its own lines decide; the log keeps them too
                self.log.flush()
            # Now and then Wine's loader finds the shared user data page taken
            # and exits 1 before the check program runs (seen once in thousands of
            # starts): that start alone is tried again.
            taken = [line for line in said if diagnose.LOADER_GAVE_UP in line]
            if status != 1 or not taken or start == 2:
                break
            print(f"check {' '.join(args)}: starting it once more, as Wine's loader gave up on "
                  f"it: {taken[0]}", file=sys.stderr)
        if status == 3:
            return None
        if status != 0:
            raise RuntimeError(f"check {' '.join(args)} exited with status {status}"
                               f"{' at both starts' if start == 2 else ''}; its errors: "
                               f"{' | '.join(said) or 'none'} (Wine's log: {self.log.name})")
        return dict((line.split(" ", 1) + [""])[:2] for line in lines)

    def window(self, hit_tests=False):
        """The main window as the check program sees it: a number as an int, several
        as a tuple of ints. With hit_tests, also where its caption buttons
        and sizing corner are, found by a hundred or more WM_NCHITTEST
        messages."""
        info = self.query("window", *(("hittests",) if hit_tests else ()))
        if info is None:
            raise NotYet("no window of class MinimalApp with the expected title")

        def numbers(text):
            values = tuple(int(n, 0) for n in text.split())
            return values[0] if len(values) == 1 else values
        return {key: numbers(value) for key, value in info.items()}
