#!/usr/bin/env python3
"""Times zoqc against `cat` of the same inputs (and Twig and Smarty where installed) as whole
processes, and runs the scaling series. Writes results.md, the raw numbers (results.json) and
scaling.png into --out.

  bench/run.py --zoqc build/zoqc                 # the four pages and the scaling series
  bench/run.py --zoqc build/zoqc --install       # first apt-get install what is missing
  bench/run.py --zoqc build/zoqc --pages tiny,small --no-scaling

Each page is rendered with php by every engine, and must print the same text, before it is
timed. Timings are hyperfine runs in --rounds rounds, the commands taking turns in each round,
so a change of load hits all of them alike; min, median and max are over all runs. Peak memory
(maximum resident set) comes from GNU time.
"""
import argparse
import json
import os
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PAGES = {  # name -> generator arguments
    "tiny": ["--vars", "3", "--uses", "2", "--blocks", "1", "--filler", "40"],
    "small": ["--vars", "40", "--uses", "10", "--blocks", "3", "--filler", "36"],
    "medium": ["--vars", "2000", "--uses", "10", "--blocks", "50", "--filler", "32"],
    "large": ["--vars", "100000", "--uses", "10", "--blocks", "500", "--filler", "30"],
}
MIB = 1 << 20


def sh(cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


def install():
    want = [p for p, tool in [("hyperfine", "hyperfine"), ("php-cli", "php"),
                              ("time", "/usr/bin/time"), ("gnuplot-nox", "gnuplot")]
            if not shutil.which(tool)]
    want += [p for p, path in [("php-twig", "/usr/share/php/Twig/autoload.php"),
                               ("smarty4", "/usr/share/php/smarty4/bootstrap.php")]
             if not os.path.exists(path)]
    if want:
        sh(["apt-get", "update", "-qq"])
        sh(["apt-get", "install", "-y", "-qq", "--no-install-recommends"] + want)


def engines_available():
    found = []
    if os.path.exists("/usr/share/php/Twig/autoload.php"):
        found.append("twig")
    if os.path.exists("/usr/share/php/smarty4/bootstrap.php"):
        found.append("smarty")
    return found if shutil.which("php") else []


def generate(path, args, engines):
    shutil.rmtree(path, ignore_errors=True)
    sh([sys.executable, os.path.join(HERE, "gen_page.py"), path] + args +
       (["--engines"] if engines else []))
    return sum(os.path.getsize(os.path.join(path, f)) for f in ("page.zoq", "page.zot"))


def render(page, zoqc, engine):
    """The page as the engine renders it, with line ends as LF (Twig and Smarty turn CR LF
    into LF)."""
    if engine == "zoqc":
        sh([zoqc, "page"], cwd=page, stdout=subprocess.DEVNULL)
        cmd = ["php", "-d", "memory_limit=-1", "page.php"]
    else:
        cmd = ["php", "-d", "memory_limit=-1", os.path.join(HERE, "engines", engine + ".php"),
               "render", "."]
    out = subprocess.run(cmd, cwd=page, check=True, capture_output=True).stdout
    return out.replace(b"\r\n", b"\n")


def commands(page, zoqc, engines):
    """name -> (command, command run before each timing or None)."""
    cmds = {"cat": (f"cat page.zoq page.zot", None), "zoqc": (f"{zoqc} page", None)}
    for e in engines:
        cache = "twig-cache" if e == "twig" else "smarty-compiled"
        cmds[e] = (f"php {os.path.join(HERE, 'engines', e + '.php')} compile .",
                   f"rm -rf {cache}")
    return cmds


def time_commands(page, cmds, rounds, runs):
    """name -> (list of seconds, list of CPU seconds (user + system) per round), the commands
    taking turns round by round."""
    times = {name: [] for name in cmds}
    cpu = {name: [] for name in cmds}
    for _ in range(rounds):
        for name, (cmd, prepare) in cmds.items():
            out = os.path.join(page, "hf.json")
            hf = ["hyperfine", "-N", "--style", "none", "--warmup", "1", "--runs", str(runs),
                  "--output", os.path.join(page, "cat.out" if name == "cat" else "cmd.out"),
                  "--export-json", out]
            if prepare:
                hf += ["--prepare", prepare]
            sh(hf + [cmd], cwd=page, stdout=subprocess.DEVNULL)
            with open(out) as f:
                result = json.load(f)["results"][0]
            times[name] += result["times"]
            cpu[name].append(result["user"] + result["system"])
    return times, cpu


def peak_kib(page, cmd, prepare=None, runs=3):
    peaks = []
    for _ in range(runs):
        if prepare:
            sh(prepare, shell=True, cwd=page)
        with open(os.path.join(page, "peak.out"), "wb") as out:
            r = subprocess.run(["/usr/bin/time", "-f", "%M"] + cmd.split(), cwd=page,
                               stdout=out, stderr=subprocess.PIPE, text=True, check=True)
        peaks.append(int(r.stderr.strip().splitlines()[-1]))
    return statistics.median(peaks)


def load_average():
    return os.getloadavg()[0]


def bench_pages(args, zoqc, results):
    engines = engines_available() if args.engines else []
    for name in args.pages.split(","):
        page = os.path.join(args.work, name)
        page_engines = engines if name in args.engine_pages.split(",") else []
        size = generate(page, PAGES[name], bool(page_engines))
        texts = {e: render(page, zoqc, e) for e in ["zoqc"] + page_engines}
        for e, text in texts.items():
            if text != texts["zoqc"]:
                sys.exit(f"{name}: {e} renders other text than zoqc")
        cmds = commands(page, zoqc, page_engines)
        rounds, runs = (args.rounds, args.runs) if name != "large" else (args.rounds, 3)
        load_before = load_average()
        times, cpu = time_commands(page, cmds, rounds, runs)
        row = {"bytes": size, "load": [load_before, load_average()], "engines": {}}
        for e, t in times.items():
            prepare = cmds[e][1]
            row["engines"][e] = {
                "min": min(t), "median": statistics.median(t), "max": max(t), "runs": len(t),
                "cpu": statistics.median(cpu[e]),
                "peak_kib": peak_kib(page, cmds[e][0], prepare)}
        results["pages"][name] = row
        z, c = row["engines"]["zoqc"], row["engines"]["cat"]
        print(f"{name}: {size} B  cat {c['median']*1e3:.2f} ms  zoqc {z['median']*1e3:.2f} ms"
              f"  ratio {z['median']/c['median']:.2f}  peak {z['peak_kib']/1024:.1f} MiB", flush=True)
        if name != "tiny":
            shutil.rmtree(page, ignore_errors=True)


def median_time(page, zoqc, runs):
    """(median wall seconds, mean CPU seconds) of zoqc on the page."""
    out = os.path.join(page, "hf.json")
    sh(["hyperfine", "-N", "--style", "none", "--warmup", "1", "--runs", str(runs), "--output",
        os.path.join(page, "cmd.out"), "--export-json", out, f"{zoqc} page"], cwd=page,
       stdout=subprocess.DEVNULL)
    with open(out) as f:
        result = json.load(f)["results"][0]
    return statistics.median(result["times"]), result["user"] + result["system"]


def scaling_series(scale):
    """series name -> list of (x label value, generator arguments)."""
    mb = [1, 10, 100] + ([500] if scale >= 500 else [])
    return {
        # template bytes: 1,000 names, more uses
        "bytes (MB of template)": [(m, ["--vars", "1000", "--uses", str(m * 20), "--blocks", "10"])
                                   for m in mb],
        # distinct names at about 20 MB: fewer uses each
        "distinct names": [(n, ["--vars", str(n), "--uses", str(max(1, 400000 // n)),
                                "--blocks", "10"]) for n in (10, 1000, 100000, 1000000)],
        "blocks": [(b, ["--vars", "1000", "--uses", "400", "--blocks", str(b)])
                   for b in (1, 100, 10000)],
        "rebinds of one name": [(k, ["--shape", "rebind", "--count", str(k), "--uses", "100000"])
                                for k in (1000, 100000, 1000000)],
        "copies of a block defined 1,000 times": [
            (m, ["--shape", "dupblock", "--count", "1000", "--copies", str(m)])
            for m in (1000, 10000, 100000)],
        "a block defined k times, k different copies": [
            (k, ["--shape", "distinct", "--count", str(k)]) for k in (1000, 4000, 16000)],
        "the same, each copy holding an inner block": [
            (k, ["--shape", "distinctin", "--count", str(k)]) for k in (1000, 4000, 16000)],
        "nesting depth": [(d, ["--shape", "nest", "--count", str(d)])
                          for d in (1000, 10000, 100000)],
        "placeholder width": [(w, ["--shape", "hugeph", "--width", str(w), "--uses",
                                   str(10000000 // w)]) for w in (100, 10000, 1000000)],
        "template of only {": [(m, ["--shape", "braces", "--bytes", str(m * MIB)])
                               for m in (1, 10, 100)],
        "template of only <!--BEGIN": [(m, ["--shape", "begins", "--bytes", str(m * MIB)])
                                       for m in (1, 10, 100)],
    }


def bench_scaling(args, zoqc, results):
    page = os.path.join(args.work, "scaling")
    # The start-up of a process, measured on a page of one line, is taken off every point, so
    # small points show the cost of their bytes and not of starting.
    generate(page, ["--vars", "1", "--uses", "1", "--blocks", "0"], False)
    startup = min(median_time(page, zoqc, args.scaling_runs)[1] for _ in range(3))
    results["scaling_startup_seconds"] = startup
    for series, points in scaling_series(args.scale).items():
        rows = []
        for x, gen_args in points:
            size = generate(page, gen_args, False)
            wall, cpu = median_time(page, zoqc, args.scaling_runs)
            # CPU time (user + system) per byte: what the translator costs, whatever the load.
            rows.append({"x": x, "bytes": size, "seconds": wall, "cpu_seconds": cpu,
                         "ns_per_byte": max(cpu - startup, 0) * 1e9 / size})
        spread = max(r["ns_per_byte"] for r in rows) / min(r["ns_per_byte"] for r in rows)
        results["scaling"][series] = {"points": rows, "spread": spread}
        print(f"{series}: " + ", ".join(f"{r['x']}: {r['ns_per_byte']:.2f} ns/B" for r in rows) +
              f"  (max/min {spread:.2f})", flush=True)
    shutil.rmtree(page, ignore_errors=True)


def plot(results, out):
    if not shutil.which("gnuplot") or not results["scaling"]:
        return
    data = os.path.join(out, "scaling.dat")
    with open(data, "w") as f:
        for series, s in results["scaling"].items():
            f.write(f'"{series}"\n')
            for k, r in enumerate(s["points"]):
                f.write(f"{k} {r['ns_per_byte']:.4f}\n")
            f.write("\n\n")
    n = len(results["scaling"])
    script = (f"set terminal png noenhanced size 1100,650; set output '{out}/scaling.png';"
              "set xtics 1;"
              "set title 'zoqc: time per input byte along each scaling series (flat = linear)';"
              "set xlabel 'step along the series (each step 10x more of the quantity, about)';"
              "set ylabel 'CPU ns per input byte (whole process)'; set logscale y; set key outside;"
              f"plot for [i=0:{n - 1}] '{data}' index i using 1:2 with linespoints "
              "title columnheader(1)")
    sh(["gnuplot", "-e", script])


def write_markdown(results, out):
    lines = ["| page | bytes | cat | zoqc | zoqc / cat | CPU: cat, zoqc, ratio | zoqc peak memory | "
             "Twig compile | Smarty compile |", "|---|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for name, row in results["pages"].items():
        e = row["engines"]

        def ms(k):
            if k not in e:
                return "-"
            v = e[k]
            return f"{v['median']*1e3:.2f} ms ({v['min']*1e3:.2f}-{v['max']*1e3:.2f})"
        z, c = e["zoqc"], e["cat"]
        lines.append(f"| {name} | {row['bytes']:,} | {ms('cat')} | {ms('zoqc')} | "
                     f"{z['median']/c['median']:.2f}x | {c['cpu']*1e3:.2f} ms, {z['cpu']*1e3:.2f} ms, "
                     f"{z['cpu']/c['cpu']:.2f}x | {z['peak_kib']/1024:.1f} MiB | "
                     f"{ms('twig')} | {ms('smarty')} |")
    loads = [x for row in results["pages"].values() for x in row["load"]]
    if loads:
        lines += ["", f"Load average (1 min) during the page runs: {min(loads):.2f} to "
                  f"{max(loads):.2f} on {results['machine']['cpus']} cores."]
    if "scaling_startup_seconds" in results:
        lines += ["", f"Scaling points: CPU time (user + system) less the start-up of a process "
                  f"({results['scaling_startup_seconds'] * 1e3:.2f} ms), per input byte."]
    lines += ["", "| scaling series | points: CPU ns per input byte (user + system) | max / min |",
              "|---|---|---:|"]
    for series, s in results["scaling"].items():
        pts = ", ".join(f"{r['x']:,}: {r['ns_per_byte']:.2f}" for r in s["points"])
        lines.append(f"| {series} | {pts} | {s['spread']:.2f} |")
    with open(os.path.join(out, "results.md"), "w") as f:
        f.write("\n".join(lines) + "\n")


def main():
    ap = argparse.ArgumentParser(description=__doc__,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--zoqc", required=True)
    ap.add_argument("--out", default=os.path.join(HERE, "results"))
    ap.add_argument("--work", default="/dev/shm/zoqc-bench" if os.path.isdir("/dev/shm")
                    else "/tmp/zoqc-bench", help="where pages are written (tmpfs by default)")
    ap.add_argument("--pages", default="tiny,small,medium,large")
    ap.add_argument("--engines", action=argparse.BooleanOptionalAction, default=True)
    ap.add_argument("--engine-pages", default="tiny,small,medium",
                    help="pages also compiled by Twig and Smarty (large takes them minutes)")
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--runs", type=int, default=10, help="runs per command and round")
    ap.add_argument("--scaling", action=argparse.BooleanOptionalAction, default=True)
    ap.add_argument("--scaling-runs", type=int, default=5)
    ap.add_argument("--scale", type=int, default=100, help="500: add the 500 MB template")
    ap.add_argument("--install", action="store_true")
    ap.add_argument("--replot", action="store_true",
                    help="only rewrite results.md and scaling.png from --out/results.json")
    a = ap.parse_args()
    if a.replot:
        with open(os.path.join(a.out, "results.json")) as f:
            results = json.load(f)
        write_markdown(results, a.out)
        plot(results, a.out)
        return
    if a.install:
        install()
    zoqc = os.path.abspath(a.zoqc)
    os.makedirs(a.out, exist_ok=True)
    os.makedirs(a.work, exist_ok=True)
    results = {"machine": {"cpus": os.cpu_count(), "uname": " ".join(os.uname()),
                           "started": time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime())},
               "pages": {}, "scaling": {}}
    if a.pages:
        bench_pages(a, zoqc, results)
        with open(os.path.join(a.out, "results.json"), "w") as f:  # in case scaling fails
            json.dump(results, f, indent=1)
    if a.scaling:
        bench_scaling(a, zoqc, results)
    with open(os.path.join(a.out, "results.json"), "w") as f:
        json.dump(results, f, indent=1)
    write_markdown(results, a.out)
    plot(results, a.out)


if __name__ == "__main__":
    main()
