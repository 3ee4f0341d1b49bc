#!/usr/bin/env python3
"""Times the native program on pod trees of realistic and of large size.

Usage: python3 bench/bench.py [--runs N] [--program PATH]

Needs strace and GNU time (bash scripts/install-tools.sh bench, as root) and a
C compiler for the yardstick.

Realistic tree: 60 common pods and 40 in each numbered directory. Each run is
"/u /3 root" (update the seven lists, then install list 3), timed against a
floor measured in the same session: the program printing its usage, which
starts the process and does no file work. Runs alternate between the two, and
the medians are compared; the tree is timed once unchanged (the update finds
every list as it was) and once changed before every run (every list is
rewritten and forced to disk).

Large tree: the same, with 1,000 to 100,000 files that are not pods beside the
common pods, to show how the time grows with them, set against a yardstick: a
bare C program that makes the directory listings the update must make (for
each of the seven lists, the common directory and the list's own), and
nothing else. The stat calls of a run are counted with strace, to show that
the other files cost none. The largest resident memory comes from one extra
run under GNU time.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def make_tree(root, other_files=0):
    for directory in range(8):
        os.makedirs(os.path.join(root, str(directory)), exist_ok=True)
    for i in range(60):
        open(os.path.join(root, "0", f"common{i:02}.pod"), "wb").close()
    for directory in range(1, 8):
        for i in range(40):
            open(os.path.join(root, str(directory), f"list{directory}-{i:02}.pod"), "wb").close()
    for i in range(other_files):
        open(os.path.join(root, "0", f"other{i:06}.dat"), "wb").close()


def timed(command, cwd):
    start = time.perf_counter()
    subprocess.run(command, cwd=cwd, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, check=True,
                   start_new_session=True)
    return time.perf_counter() - start


def max_resident_kib(command, cwd):
    """One extra run under GNU time: a process forked from Python would count Python's own pages."""
    result = subprocess.run(["/usr/bin/time", "-f", "%M"] + command, cwd=cwd, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True, check=True)
    return result.stderr.strip().splitlines()[-1] + " KiB"


def compare(commands, cwd, runs, before_each=None):
    """The median time of each command, the commands taking turns."""
    times = [[] for _ in commands]
    for _ in range(runs):
        for command, samples in zip(commands, times):
            if before_each and command is commands[-1]:
                before_each()
            samples.append(timed(command, cwd))
    return [statistics.median(samples) for samples in times]


def stat_calls(program, root, cwd):
    """The stat calls of one run; it fails loudly where strace catches no file call at all."""
    result = subprocess.run(["strace", "-f", "-c", "-e", "trace=%%stat,%file", program, "/u", "/3", root], cwd=cwd,
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    calls = {}
    for line in result.stderr.splitlines():
        words = line.split()
        if len(words) >= 5 and words[0][0].isdigit() and words[-1] != "total":
            calls[words[-1]] = int(words[3])
    if not calls:
        sys.exit("strace caught no file calls of the program:\n" + result.stderr)
    return sum(count for name, count in calls.items() if "stat" in name)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--runs", type=int, default=200)
    parser.add_argument("--program", default=os.path.join(ROOT, "build", "native", "quorvantis"))
    args = parser.parse_args()
    if not os.path.exists(args.program):
        subprocess.run(["cmake", "--preset", "native"], cwd=ROOT, check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", "--preset", "native", "--target", "quorvantis"], cwd=ROOT, check=True)
    program = args.program
    missing = [tool for tool in ("strace", "time", "cc") if not shutil.which(tool)]
    if missing or not os.path.exists("/usr/bin/time"):
        sys.exit(f"the benchmark needs strace, GNU time and a C compiler ({', '.join(missing) or 'time'} missing): "
                 "bash scripts/install-tools.sh bench, as root")

    with tempfile.TemporaryDirectory(prefix="quorvantis-bench-") as scratch:
        yardstick = os.path.join(scratch, "yardstick")
        subprocess.run(["cc", "-O2", "-o", yardstick, os.path.join(ROOT, "bench", "yardstick.c")], check=True)
        root = os.path.join(scratch, "pods")
        make_tree(root)
        timed([program, "/u", "/3", root], scratch)

        floor, work = compare([[program], [program, "/u", "/3", root]], scratch, args.runs)
        print(f"realistic tree, unchanged: floor {floor * 1e3:.2f} ms, /u /3 {work * 1e3:.2f} ms, "
              f"median ratio {work / floor:.2f}; maximum resident memory "
              f"{max_resident_kib([program, '/u', '/3', root], scratch)}")

        flip = [0]
        def change_tree():
            flip[0] ^= 1
            old, new = ("common59.pod", "common59x.pod") if flip[0] else ("common59x.pod", "common59.pod")
            os.rename(os.path.join(root, "0", old), os.path.join(root, "0", new))
        floor, work = compare([[program], [program, "/u", "/3", root]], scratch, args.runs, change_tree)
        print(f"realistic tree, changed before each run: floor {floor * 1e3:.2f} ms, /u /3 {work * 1e3:.2f} ms, "
              f"median ratio {work / floor:.2f}")

        print("large tree (other files beside the common pods):")
        runs = max(10, args.runs // 10)
        previous = None
        for other in (1000, 10000, 100000):
            large = os.path.join(scratch, f"large{other}")
            make_tree(large, other)
            timed([program, "/u", "/3", large], scratch)
            floor, least, work = compare([[program], [yardstick, large], [program, "/u", "/3", large]], scratch, runs)
            per_file = (work - floor) / other * 1e9
            growth = f", x{work / previous:.1f} for x10 files" if previous else ""
            print(f"  {other:>6} other files: /u /3 {work * 1e3:.2f} ms (floor {floor * 1e3:.2f} ms, "
                  f"ratio {work / floor:.2f}; yardstick {least * 1e3:.2f} ms, ratio {work / least:.2f}), "
                  f"{per_file:.0f} ns per other file{growth}; stat calls: {stat_calls(program, large, scratch)}; "
                  f"maximum resident memory {max_resident_kib([program, '/u', '/3', large], scratch)}")
            previous = work
            shutil.rmtree(large)



if __name__ == "__main__":
    sys.exit(main())
