#!/usr/bin/env python3
"""-r over a deep chain of folders: one page at the bottom of a chain of N, 2N and 4N folders
(each named "d", so 4N = 2,000 stays under Linux's 4,096-byte path limit). Prints, at each
depth, the CPU time of `zoqc -q -r chain` (user + system, the median of RUNS runs, less that
of a process on one page), its cost per level and its peak memory, then the largest over the
smallest cost per level: about 1 when the walk is linear in the depth. `find chain` is timed
beside it as the floor.

Usage: bench/site/deep_chain.py ZOQC [--depth N] [--runs RUNS] [--work DIR]
(RUNS defaults to 7, DIR to /dev/shm/zoqc-deep-chain, which is removed at the end)
"""
import argparse
import os
import statistics
import subprocess
import sys


def make_chain(root, depth):
    """The folders root/d/d/.../d, depth of them, with page.zoq and page.zot in the last."""
    if os.path.isdir(root):
        return
    os.mkdir(root)
    fd = os.open(root, os.O_RDONLY | os.O_DIRECTORY)
    for _ in range(depth):  # by descriptor: no path grows with the depth
        os.mkdir("d", dir_fd=fd)
        below = os.open("d", os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
        os.close(fd)
        fd = below
    for name, text in (("page.zoq", "<?php\n<<t<<1\n"), ("page.zot", "{t}\n")):
        out = os.open(name, os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=fd)
        os.write(out, text.encode())
        os.close(out)
    os.close(fd)


def cpu_seconds(command, cwd, runs):
    """The median CPU time (user + system) of RUNS runs of COMMAND, which must succeed."""
    cpu = []
    for _ in range(runs):
        child = subprocess.Popen(command, cwd=cwd, stdout=subprocess.DEVNULL,
                                 stderr=subprocess.PIPE)
        _, status, usage = os.wait4(child.pid, 0)
        err = child.stderr.read().decode(errors="replace")
        child.stderr.close()
        if os.waitstatus_to_exitcode(status) != 0:
            sys.exit(f"{' '.join(command)} failed: {err}")
        cpu.append(usage.ru_utime + usage.ru_stime)
    return statistics.median(cpu)


def peak_kib(command, cwd):
    """The maximum resident set of COMMAND, from GNU time ("-" without it)."""
    if not os.path.exists("/usr/bin/time"):
        return "-"
    run = subprocess.run(["/usr/bin/time", "-f", "%M"] + command, cwd=cwd,
                         stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    return f"{int(run.stderr.split()[-1]):,}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("zoqc")
    parser.add_argument("--depth", type=int, default=500, help="N (default 500)")
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--work", default="/dev/shm/zoqc-deep-chain")
    args = parser.parse_args()
    zoqc = os.path.realpath(args.zoqc)
    os.makedirs(args.work, exist_ok=True)
    # What every run costs whatever the depth: the process, and a folder with one page.
    make_chain(os.path.join(args.work, "chain0"), 0)
    start = cpu_seconds([zoqc, "-q", "-r", "chain0"], args.work, args.runs)
    print(f"CPU time less the start-up of a process with one page ({start * 1e3:.2f} ms), "
          f"median of {args.runs} runs\n")
    print("depth | zoqc -q -r: CPU ms | per level us | peak KiB | find: CPU ms")
    print("---:|---:|---:|---:|---:")
    per_level = []
    for depth in (args.depth, 2 * args.depth, 4 * args.depth):
        chain = f"chain{depth}"
        make_chain(os.path.join(args.work, chain), depth)
        cpu = cpu_seconds([zoqc, "-q", "-r", chain], args.work, args.runs) - start
        floor = cpu_seconds(["find", chain], args.work, args.runs)
        per_level.append(cpu / depth)
        print(f"{depth:,} | {cpu * 1e3:.2f} | {cpu / depth * 1e6:.2f} | "
              f"{peak_kib([zoqc, '-q', '-r', chain], args.work)} | {floor * 1e3:.2f}")
    print(f"\nlargest / smallest cost per level: {max(per_level) / min(per_level):.2f}")
    subprocess.run(["rm", "-rf", args.work], check=True)  # deeper than shutil.rmtree recurses


if __name__ == "__main__":
    main()
