#!/usr/bin/env python3
"""The translation against its floor: zoqc against bench/floor.cc (which reads a page's inputs
as zoqc does and writes a page of the same size the way zoqc writes one, without translating)
and against `cat` of the inputs, on the bench pages: instructions (callgrind, the same for the
same binary whatever the load), page faults and CPU time (medians of --runs runs, the three
commands taking turns).

  bench/floor.py --zoqc build-release/zoqc [--pages small,medium,large] [--runs 21]
"""
import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from run import PAGES  # noqa: E402


def sh(cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


def instructions(cmd, cwd):
    with tempfile.NamedTemporaryFile(suffix=".cg") as out:
        r = sh(["valgrind", "--tool=callgrind", "--callgrind-out-file=" + out.name] + cmd,
               cwd=cwd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    return int(re.search(r"I\s+refs:\s+([\d,]+)", r.stderr).group(1).replace(",", ""))


def faults_and_cpu(cmd, cwd):
    """Minor page faults and CPU seconds (user and system) of one run, from its rusage."""
    p = subprocess.Popen(cmd, cwd=cwd, stdout=subprocess.DEVNULL)
    _, status, usage = os.wait4(p.pid, 0)
    p.returncode = os.waitstatus_to_exitcode(status)
    if p.returncode != 0:
        raise subprocess.CalledProcessError(p.returncode, cmd)
    return usage.ru_minflt, usage.ru_utime + usage.ru_stime


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    ap.add_argument("--zoqc", required=True)
    ap.add_argument("--pages", default="small,medium,large")
    ap.add_argument("--runs", type=int, default=21)
    ap.add_argument("--work", default="/tmp/zoqc-floor")
    a = ap.parse_args()
    zoqc = os.path.abspath(a.zoqc)
    os.makedirs(a.work, exist_ok=True)
    floor = os.path.join(a.work, "floor")
    # Linked as zoqc is (statically), so that both start alike.
    sh(["g++", "-O2", "-std=c++20", "-static", "-o", floor, os.path.join(HERE, "floor.cc")])
    print("| page | input bytes | page bytes | instructions: zoqc / floor / cat | zoqc against "
          "the floor (CPU) | faults: zoqc / floor / cat | CPU ms (median): zoqc / floor / cat |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    for name in a.pages.split(","):
        page = os.path.join(a.work, name)
        sh([sys.executable, os.path.join(HERE, "gen_page.py"), page] + PAGES[name])
        sh([zoqc, "-q", "page"], cwd=page)
        size = os.path.getsize(os.path.join(page, "page.php"))
        inputs = sum(os.path.getsize(os.path.join(page, f)) for f in ("page.zoq", "page.zot"))
        cmds = {"zoqc": [zoqc, "-q", "page"], "floor": [floor, "page", str(size)],
                "cat": ["sh", "-c", "exec cat page.zoq page.zot > cat.out"]}
        ir = {k: instructions(c, page) for k, c in cmds.items() if k != "cat"}
        ir["cat"] = instructions(["cat", "page.zoq", "page.zot"], page)  # not through sh
        runs = {k: [] for k in cmds}
        for i in range(a.runs):
            order = list(cmds)[i % 3:] + list(cmds)[:i % 3]
            for k in order:
                runs[k].append(faults_and_cpu(cmds[k], page))
        faults = {k: statistics.median(f for f, _ in v) for k, v in runs.items()}
        cpu = {k: statistics.median(c for _, c in v) * 1000 for k, v in runs.items()}
        print(f"| {name} | {inputs:,} | {size:,} | {ir['zoqc'] / 1e6:.2f} M / "
              f"{ir['floor'] / 1e6:.2f} M / {ir['cat'] / 1e6:.2f} M | "
              f"{cpu['zoqc'] / cpu['floor']:.2f}x | {faults['zoqc']:.0f} / {faults['floor']:.0f} / "
              f"{faults['cat']:.0f} | {cpu['zoqc']:.2f} / {cpu['floor']:.2f} / {cpu['cat']:.2f} |",
              flush=True)


if __name__ == "__main__":
    main()
