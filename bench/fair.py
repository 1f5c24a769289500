#!/usr/bin/env python3
"""Times cueprune against the read floors, the write floor and the perl one-liner, fairly.

Every timed run gets its own fresh copy of the library, written back to disk with sync
before the clock starts, so that no candidate pays for another's write-back. The candidates
take turns in a rotating order, round after round, and the ratios are paired within a round.
Before any timing, every writing candidate must give the same bytes.
"""
import argparse
import os
import statistics
import subprocess
import sys
import time


def run(command):
    """Runs command; returns its wall time in seconds."""
    start = time.perf_counter()
    if subprocess.run(command, stdout=subprocess.DEVNULL, shell=isinstance(command, str)).returncode:
        sys.exit(f"failed: {command}")
    return time.perf_counter() - start


def peak_memory(command):
    """Peak resident memory of command in MiB, as GNU time reports it (a fork of this script
    would report its own size)."""
    report = subprocess.run(["/usr/bin/time", "-f", "%M", *command], stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True, check=True).stderr
    return int(report.strip().splitlines()[-1]) / 1024


def costs(command, sheets):
    """System calls and context switches per sheet of command, where strace is at hand."""
    switches = subprocess.run(["/usr/bin/time", "-f", "%w %c", *command], stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, text=True, check=True).stderr
    voluntary, involuntary = map(int, switches.strip().splitlines()[-1].split())
    calls = None
    if subprocess.run(["which", "strace"], stdout=subprocess.DEVNULL).returncode == 0:
        report = subprocess.run(["strace", "-f", "-c", "-o", "/dev/stderr", *command],
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True).stderr
        total = [line for line in report.splitlines() if line.rstrip().endswith("total")]
        calls = int(total[-1].split()[3]) if total else None
    return calls / sheets if calls else None, (voluntary + involuntary) / sheets


def remove(tree):
    subprocess.run(["rm", "-rf", tree], check=True)  # much faster than shutil.rmtree


def fresh_copy(library, copy):
    remove(copy)
    subprocess.run(["cp", "-a", library, copy], check=True)
    subprocess.run(["sync"], check=True)


def same_tree(a, b):
    return subprocess.run(["diff", "-r", "-q", a, b], stdout=subprocess.DEVNULL).returncode == 0


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("library")
    parser.add_argument("--cueprune", required=True)
    parser.add_argument("--peer", required=True)
    parser.add_argument("--floors", required=True)
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    work = args.library + ".work"
    cueprune = args.cueprune
    candidates = {
        "floor": (f"find {work} -type f -print0 | xargs -0 cat >/dev/null", False),
        "read floor": ([args.floors, "read", work], False),
        "write floor": ([args.floors, "write", work], True),
        "dry-run": ([cueprune, "-r", "-n", work], False),
        "dry-run -j 1": ([cueprune, "-r", "-n", "-j", "1", work], False),
        "cueprune": ([cueprune, "-r", "-q", work], True),
        "cueprune -j 1": ([cueprune, "-r", "-q", "-j", "1", work], True),
        "perl": ([args.peer, work], True),
    }

    # The writing candidates must agree on every byte, and must change something.
    results = {}
    for name, (command, writes) in candidates.items():
        if writes:
            fresh_copy(args.library, work)
            run(command)
            results[name] = work + "." + name.replace(" ", "")
            remove(results[name])
            os.rename(work, results[name])
    reference = results["cueprune"]
    for name, tree in results.items():
        if not same_tree(reference, tree):
            sys.exit(f"{name} does not give the same bytes as cueprune")
    if same_tree(reference, args.library):
        sys.exit("cueprune changed nothing")
    for tree in results.values():
        remove(tree)

    times = {name: [] for name in candidates}
    names = list(candidates)
    for round_number in range(args.rounds):
        shift = round_number % len(names)
        for name in names[shift:] + names[:shift]:
            fresh_copy(args.library, work)
            times[name].append(run(candidates[name][0]))
    fresh_copy(args.library, work)
    memory = peak_memory(candidates["cueprune"][0])
    sheets = sum(name.lower().endswith(".cue") for _, _, files in os.walk(args.library) for name in files)
    per_sheet = {}
    for name in ("dry-run", "cueprune", "write floor"):
        fresh_copy(args.library, work)
        per_sheet[name] = costs(candidates[name][0], sheets)
    remove(work)

    def paired(a, b):
        ratios = [x / y for x, y in zip(times[a], times[b])]
        return statistics.median(ratios), min(ratios), max(ratios)

    print(f"{sheets} sheets, {args.rounds} rounds, medians (each run on a fresh, synced copy):")
    for name in names:
        print(f"  {name:<14} {statistics.median(times[name]):7.3f} s")
    print(f"  cueprune peak memory: {memory:.1f} MiB")
    for name, (calls, switches) in per_sheet.items():
        shown = f"{calls:.1f} system calls" if calls else "system calls not counted (no strace)"
        print(f"  {name} per sheet: {shown}, {switches:.2f} context switches")
    for a, b in (("cueprune", "perl"), ("cueprune", "write floor"), ("dry-run", "floor"),
                 ("dry-run", "read floor"), ("dry-run", "dry-run -j 1"),
                 ("cueprune", "cueprune -j 1")):
        median, low, high = paired(a, b)
        print(f"  {a} / {b}: {median:.2f} (rounds {low:.2f} to {high:.2f})")
    for name in ("dry-run", "cueprune"):
        print(f"  {name} per sheet: {statistics.median(times[name]) / sheets * 1e6:.1f} us")


if __name__ == "__main__":
    main()
