"""Measures gltriangles.exe under Wine and Xvfb against bench/baseline.exe,
the program's own shell with an empty renderer (no OpenGL), and prints one
table: each figure's median with its min and max over several runs, both
programs measured in the same run, in alternating order."""

import argparse
import os
import platform
import shutil
import statistics
import subprocess
import sys
import time

from bench.measure import RESIZE_STEP, STEP_PERIOD, BenchSession, Pictures, one_run, pe_info
from wineharness.prefix import ROOT, WINE64, Tree, host32, lock_prefix

NAMES = ("gltriangles", "baseline")


def plan():
    """The arch measured in full, the other one if it is timed at start-up,
    and why: 32-bit where this host runs it natively, as the program ships,
    and 64-bit otherwise, since emulated 32-bit figures are qemu's."""
    how = host32()
    if how == "native":
        return "win32", "win64", "this host runs 32-bit programs natively"
    if how == "emulated":
        return "win64", "win32", "32-bit programs are emulated here, so win32 is timed at start-up only"
    return "win64", None, "32-bit programs cannot run here, so win32 is not timed"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--idle", type=float, default=10.0, help="idle span, seconds")
    parser.add_argument("--steps", type=int, default=100, help="resize steps")
    parser.add_argument("--builds", default=os.path.join(ROOT, "build"),
                        help="folder that holds the win32 and win64 build trees")
    # Its own prefix: the bench neither waits for nor disturbs the tests'.
    parser.add_argument("--prefix", default=os.path.join(ROOT, "build", "bench-wineprefix"))
    args = parser.parse_args()

    full, other, why = plan()
    exes = {(name, arch): os.path.join(args.builds, arch, path)
            for arch in ("win32", "win64")
            for name, path in zip(NAMES, ("gltriangles.exe", "bench/baseline.exe"))}
    check = Tree(os.path.join(args.builds, "win64")).check
    for exe in [*exes.values(), check]:
        if not os.path.exists(exe):
            sys.exit(f"missing {exe}: build the presets win32 and win64 first")

    began = time.monotonic()
    load_before = os.getloadavg()
    measured = [(full, args.idle, args.steps)] + ([(other, 0, 0)] if other else [])
    results = {(name, arch): [] for arch, _, _ in measured for name in NAMES}
    keep = os.path.join(args.builds, "bench-kept")  # Wine's log, and screens on failure
    lock = lock_prefix(args.prefix)  # first: another bench may be writing there
    shutil.rmtree(keep, ignore_errors=True)
    with lock, BenchSession(keep, check, args.prefix) as s:
        s.query("dragfull")  # show the contents while sizing, as Windows does
        # Both windows have the same geometry: take it from the program, in
        # an unmeasured launch that also warms the caches.
        proc = s.launch(exes[("gltriangles", full)])
        win = s.shown_window(proc, hit_tests=True)
        pictures = Pictures(s, win)
        s.alt_f4()
        s.wait_exit(proc)
        ox, oy = s.desktop()[:2]
        grip = (win["grip"][0] + ox, win["grip"][1] + oy)
        for key in results:
            one_run(s, pictures, key[0], exes[key], key[1], grip, 0, 0)
        for i in range(args.runs):
            # Alternate the order, so that drift in the load falls on both.
            order = NAMES[::1 if i % 2 == 0 else -1]
            for arch, idle, steps in measured:
                for name in order:
                    print(f"run {i + 1}/{args.runs}: {name} {arch}", file=sys.stderr)
                    results[(name, arch)].append(one_run(
                        s, pictures, name, exes[(name, arch)], arch, grip, idle, steps))
    print_table(args, exes, results, (full, other, why), win["client"],
                time.monotonic() - began, load_before)


def spread(values, fmt):
    values = [v for v in values if v is not None]
    if not values:
        return "n/a"
    low, mid, high = (fmt.format(v) for v in (min(values), statistics.median(values),
                                              max(values)))
    return mid if len(values) == 1 else f"{mid} [{low}-{high}]"


def print_table(args, exes, results, arches, client, elapsed, load_before):
    full, other, why = arches
    rows = []

    def row(label, key, arch=full, fmt="{:.0f}", scale=1.0, target=""):
        a, b = ([r[key] * scale for r in results[(name, arch)] if r.get(key) is not None]
                for name in NAMES)
        ratio = (f"{statistics.median(a) / statistics.median(b):.2f}x"
                 if a and b and statistics.median(b) > 0 else "")
        rows.append((label, spread(a, fmt), spread(b, fmt), ratio, target))

    idle, steps = f"{args.idle:g} s", args.steps
    row("start-up to first full picture, ms", "start_ms")
    for i, what in enumerate(("launch to WM_CREATE's first GL call", "ChoosePixelFormat",
                              "SetPixelFormat, context, projection",
                              "on to the first paint (show, size)",
                              "first paint to the full picture")):
        row(f"  {what}, ms", f"split{i}_ms")
    if other:
        row(f"  the same, {other}, ms", "start_ms", arch=other)
    row(f"idle CPU over {idle} (schedstat), ms", "idle_cpu_ms", fmt="{:.2f}", target="< 20")
    row(f"idle CPU over {idle} (utime+stime), ms", "idle_ticks_ms", target="< 20")
    row(f"paints during the idle {idle}", "idle_paints")
    row(f"wineserver CPU during the idle {idle}, ms", "idle_server_ms", fmt="{:.1f}")
    row(f"resize: steps right when the next came, of {steps}", "steps_held", target=f"{steps}")
    row(f"resize: steps that showed it at all, of {steps}", "steps_shown")
    row("resize: steps that lost it again (flicker)", "steps_flickered")
    row("resize: step to correct picture, median ms", "step_median_ms", fmt="{:.1f}")
    row("resize: step to correct picture, worst ms", "step_worst_ms", fmt="{:.1f}")
    row("  step to its first glClear, median ms", "step_to_paint_ms", fmt="{:.1f}")
    row("  first glClear to correct picture, median ms", "paint_to_picture_ms", fmt="{:.1f}")
    row(f"resize: paints in {steps} steps", "resize_paints")
    row("peak RSS at first picture, MiB", "rss_first_kib", fmt="{:.1f}", scale=1 / 1024)
    if other:
        row(f"  the same, {other}, MiB", "rss_first_kib", arch=other, fmt="{:.1f}",
            scale=1 / 1024)
    row("peak RSS over the whole run, MiB", "rss_peak_kib", fmt="{:.1f}", scale=1 / 1024)
    for arch in ("win32", "win64"):
        (size_a, dlls_a), (size_b, dlls_b) = (pe_info(exes[(name, arch)])
                                              for name in NAMES)
        rows.append((f"file size {arch}, KiB", f"{size_a / 1024:.1f}", f"{size_b / 1024:.1f}",
                     f"{size_a / size_b:.2f}x", "< 24" if arch == "win32" else ""))
        rows.append((f"DLLs imported {arch}", " ".join(d.removesuffix(".DLL") for d in dlls_a),
                     " ".join(d.removesuffix(".DLL") for d in dlls_b), "", ""))

    header = ("figure", "gltriangles: median [min-max]", "baseline: median [min-max]",
              "ratio", "target")
    widths = [max(len(r[i]) for r in [header, *rows]) for i in range(len(header))]
    line = "  ".join(f"{{:<{w}}}" for w in widths)
    print(line.format(*header))
    print(line.format(*("-" * w for w in widths)))
    for r in rows:
        print(line.format(*r).rstrip())
    exits = sorted({str(r["exit"]) for runs in results.values() for r in runs})
    wine = subprocess.run([WINE64, "--version"], capture_output=True, text=True).stdout.strip()
    print(f"\n{args.runs} runs of each, alternating; measured in full on {full} ({why})"
          f"{f', start-up also on {other}' if other else ''}; first client area "
          f"{client[2]}x{client[3]}; resize steps +{RESIZE_STEP[0]},+{RESIZE_STEP[1]} px out "
          f"and back, one per {STEP_PERIOD * 1000:.0f} ms; exit statuses {exits}")
    print(f"took {elapsed:.0f} s; load average {load_before[0]:.2f} before, "
          f"{os.getloadavg()[0]:.2f} after; {os.cpu_count()} CPUs, "
          f"{platform.machine()}, Linux {platform.release()}, {wine}")


if __name__ == "__main__":
    try:
        main()
    except KeyboardInterrupt:  # Ctrl+C: the session has ended its Wine; bench.sh says so
        sys.exit(130)
