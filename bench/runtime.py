#!/usr/bin/env python3
"""Times the pages at run time: each bench page rendered by PHP with opcache on, many renders in
one process, by zoqc's page (raw and under --escape), by the same page written by hand with the
same escaping call (the floor), and by the same page in Twig and Smarty (Debian's php-twig and
smarty4; compiled caches warm), with and without their HTML escaping.

  bench/runtime.py --zoqc build-release/zoqc [--install] [--pages tiny,small,medium]
                   [--rounds 3] [--renders 60] [--out bench/results]

Every contestant decodes the page's data from JSON in every render (bench_data() in
bench/runtime/render.php). The contestants take turns round by round, their order rotating,
so a change of load hits all of them alike; the figures are the median and the 10th and 90th
percentiles of all renders, and ratios to the hand-written page of the same round set.
Writes runtime.md and runtime.json into --out.
"""
import argparse
import json
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
from run import PAGES, install  # noqa: E402

PHP = ["php", "-d", "opcache.enable_cli=1", "-d", "opcache.jit=disable", "-d",
       "memory_limit=-1", "-d", "opcache.validate_timestamps=0",
       "-d", "opcache.file_update_protection=0"]  # cache pages written a moment ago
ORDER = ["hand", "zoqc", "twig", "smarty",
         "hand-escaped", "zoqc --escape", "twig autoescape", "smarty escape_html"]
DATA_LINE = "require __DIR__ . '/data.php';"
BENCH_DATA = "[$v, $rows] = bench_data();"


def sh(cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


def prepare(page, zoqc, args):
    shutil.rmtree(page, ignore_errors=True)
    sh([sys.executable, os.path.join(HERE, "gen_page.py"), page, "--engines", "--hand"] + args)
    data = sh(PHP + ["-r", "require 'data.php'; echo json_encode(['v' => $v, 'rows' => $rows]);"],
              cwd=page, capture_output=True).stdout
    with open(os.path.join(page, "data.json"), "wb") as f:
        f.write(data)
    for name in ("page.zoq", "hand.php", "hand-escaped.php"):
        path = os.path.join(page, name)
        with open(path, newline="") as f:
            text = f.read()
        assert DATA_LINE in text, name
        with open(path, "w", newline="") as f:
            f.write(text.replace(DATA_LINE, BENCH_DATA, 1))
    for engine in ("twig", "tpl"):
        shutil.copy(os.path.join(page, "page." + engine), os.path.join(page, "page-escaped." + engine))
    sh([zoqc, "-q", "page"], cwd=page)
    os.rename(os.path.join(page, "page.php"), os.path.join(page, "page-escaped.php.tmp"))
    sh([zoqc, "-q", "--escape", "page"], cwd=page)
    os.rename(os.path.join(page, "page.php"), os.path.join(page, "page-escaped.php"))
    os.rename(os.path.join(page, "page-escaped.php.tmp"), os.path.join(page, "page.php"))
    with open(os.path.join(page, "page.zot")) as f:
        values = len(re.findall(r"\{[A-Za-z0-9]+\}", f.read()))
    return values


def values_printed(page, values_in_template):
    """Placeholders printed per render: each block's variables print once per row."""
    with open(os.path.join(page, "data.json")) as f:
        rows = len(json.load(f)["rows"])
    with open(os.path.join(page, "page.zot")) as f:
        zot = f.read()
    in_blocks = sum(len(re.findall(r"\{[A-Za-z0-9]+\}", m))
                    for m in re.findall(r"<!--BEGIN \w+-->(.*?)<!--END \w+-->", zot, re.S))
    return values_in_template - in_blocks + in_blocks * rows


def percentile(xs, p):
    xs = sorted(xs)
    return xs[min(len(xs) - 1, int(p * len(xs)))]


def versions():
    php = sh(["php", "-r", "echo PHP_VERSION;"], capture_output=True, text=True).stdout
    dpkg = {}
    for pkg in ("php-twig", "smarty4"):
        r = subprocess.run(["dpkg-query", "-W", "-f=${Version}", pkg], capture_output=True,
                           text=True)
        dpkg[pkg] = r.stdout or "not installed"
    cpu = "unknown"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    return {"php": php, **dpkg, "cpu": cpu, "cores": os.cpu_count(),
            "kernel": platform.release()}


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    ap.add_argument("--zoqc", required=True)
    ap.add_argument("--install", action="store_true")
    ap.add_argument("--pages", default="tiny,small,medium")
    ap.add_argument("--rounds", type=int, default=3)
    ap.add_argument("--renders", type=int, default=60)
    ap.add_argument("--work", default="/tmp/zoqc-runtime")
    ap.add_argument("--out", default=os.path.join(HERE, "results"))
    a = ap.parse_args()
    if a.install:
        install()
    zoqc = os.path.abspath(a.zoqc)
    results = {"machine": versions(), "rounds": a.rounds, "renders": a.renders, "pages": {}}
    for name in a.pages.split(","):
        page = os.path.join(a.work, name)
        printed = values_printed(page, prepare(page, zoqc, PAGES[name]))
        out = sh(PHP + [os.path.join(HERE, "runtime", "render.php"), page, str(a.rounds),
                        str(a.renders)] + ORDER, capture_output=True, text=True).stdout
        times = json.loads(out)
        rows = {}
        for who in ORDER:
            xs = times[who]
            rows[who] = {"median": statistics.median(xs), "p10": percentile(xs, 0.1),
                         "p90": percentile(xs, 0.9)}
        for who in ORDER:
            floor = rows["hand-escaped" if "esc" in who else "hand"]["median"]
            rows[who]["ratio"] = rows[who]["median"] / floor
            rows[who]["ns_per_value"] = rows[who]["median"] * 1e6 / printed
        results["pages"][name] = {"values": printed, "contestants": rows}
        print(f"{name}: {printed} values", file=sys.stderr)
        for who in ORDER:
            r = rows[who]
            print(f"  {who:20s} {r['median']:8.3f} ms  ({r['p10']:.3f} .. {r['p90']:.3f})  "
                  f"{r['ratio']:.2f}x  {r['ns_per_value']:.0f} ns/value", file=sys.stderr)
    os.makedirs(a.out, exist_ok=True)
    with open(os.path.join(a.out, "runtime.json"), "w") as f:
        json.dump(results, f, indent=1)
    with open(os.path.join(a.out, "runtime.md"), "w") as f:
        f.write(table(results))
    print(table(results))


def table(results):
    m = results["machine"]
    lines = [f"PHP {m['php']} with opcache, php-twig {m['php-twig']}, smarty4 {m['smarty4']}; "
             f"{m['cpu']}, {m['cores']} cores; {results['rounds']} rounds of "
             f"{results['renders']} renders per contestant.", "",
             "| page (values printed) | contestant | median ms | p10 .. p90 ms | per value ns | "
             "against the hand-written page |", "|---|---|---:|---:|---:|---:|"]
    for name, page in results["pages"].items():
        for who, r in page["contestants"].items():
            lines.append(f"| {name} ({page['values']}) | {who} | {r['median']:.3f} | "
                         f"{r['p10']:.3f} .. {r['p90']:.3f} | {r['ns_per_value']:.0f} | "
                         f"{r['ratio']:.2f}x |")
    return "\n".join(lines) + "\n"


if __name__ == "__main__":
    main()
