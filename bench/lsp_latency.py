#!/usr/bin/env python3
"""The language server's diagnostics latency after an edit: opens the medium page (a template of
about 1 MB) in `zoqc --lsp`, then types into the template, one character per edit as an editor
sends it (an incremental change), and times each edit from the change sent to the diagnostics of
that version received. Every other edit breaks a placeholder, so that the diagnostics differ.
Prints the median, 95th percentile and maximum, the server's CPU time per edit, and the load
average.

  bench/lsp_latency.py --zoqc build-release/zoqc [--edits 200]
"""
import argparse
import json
import os
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
MEDIUM = ["--vars", "2000", "--uses", "10", "--blocks", "50", "--filler", "32"]


def frame(message):
    body = json.dumps(message).encode()
    return b"Content-Length: %d\r\n\r\n" % len(body) + body


def read_message(stream):
    length = 0
    while True:
        line = stream.readline()
        if not line:
            sys.exit("lsp_latency: the server closed its output")
        if line in (b"\r\n", b"\n"):
            break
        if line.lower().startswith(b"content-length:"):
            length = int(line.split(b":")[1])
    return json.loads(stream.read(length))


def cpu_seconds(pid):
    """The user and system time of a process so far (Linux)."""
    fields = open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    ap.add_argument("--zoqc", required=True)
    ap.add_argument("--edits", type=int, default=200)
    args = ap.parse_args()
    folder = tempfile.mkdtemp(dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    subprocess.run([sys.executable, os.path.join(HERE, "gen_page.py"), folder] + MEDIUM,
                   check=True)
    script = open(os.path.join(folder, "page.zoq"), encoding="utf-8", newline="").read()
    templ = open(os.path.join(folder, "page.zot"), encoding="utf-8", newline="").read()
    uri = {ext: "file://" + os.path.join(folder, "page." + ext) for ext in ("zoq", "zot")}
    server = subprocess.Popen([args.zoqc, "--lsp"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)

    def send(message):
        server.stdin.write(frame(message))
        server.stdin.flush()

    def diagnostics_of(version):
        while True:
            message = read_message(server.stdout)
            params = message.get("params", {})
            if (message.get("method") == "textDocument/publishDiagnostics" and params["uri"] == uri["zot"]
                    and params.get("version") == version):
                return params["diagnostics"]

    send({"jsonrpc": "2.0", "id": 1, "method": "initialize", "params": {"capabilities": {}}})
    read_message(server.stdout)
    send({"jsonrpc": "2.0", "method": "initialized", "params": {}})
    for ext, text in (("zoq", script), ("zot", templ)):
        send({"jsonrpc": "2.0", "method": "textDocument/didOpen",
              "params": {"textDocument": {"uri": uri[ext], "languageId": ext, "version": 1, "text": text}}})
    diagnostics_of(1)
    # Edits at the first placeholder of the template's middle line: "{" removed, then put back.
    lines = templ.split("\n")
    line = next(i for i in range(len(lines) // 2, len(lines)) if "{" in lines[i])
    column = lines[line].index("{")
    times = []
    cpu_before = cpu_seconds(server.pid)
    for version in range(2, args.edits + 2):
        remove = version % 2 == 0
        end = column + 1 if remove else column
        change = {"range": {"start": {"line": line, "character": column}, "end": {"line": line, "character": end}},
                  "text": "" if remove else "{"}
        start = time.perf_counter()
        send({"jsonrpc": "2.0", "method": "textDocument/didChange",
              "params": {"textDocument": {"uri": uri["zot"], "version": version}, "contentChanges": [change]}})
        diagnostics_of(version)
        times.append((time.perf_counter() - start) * 1000)
    cpu = (cpu_seconds(server.pid) - cpu_before) * 1000 / len(times)
    send({"jsonrpc": "2.0", "id": 2, "method": "shutdown"})
    read_message(server.stdout)
    send({"jsonrpc": "2.0", "method": "exit"})
    server.wait()
    times.sort()
    print(f"template: {len(templ.encode()):,} bytes, script: {len(script.encode()):,} bytes, {len(times)} edits")
    print(f"diagnostics after an edit: median {statistics.median(times):.1f} ms, "
          f"95th percentile {times[int(len(times) * 0.95) - 1]:.1f} ms, max {times[-1]:.1f} ms")
    print(f"server CPU time (user + system) per edit: {cpu:.1f} ms")
    print(f"load average (1 min): {os.getloadavg()[0]:.2f} on {os.cpu_count()} cores")
    subprocess.run(["rm", "-rf", folder])


if __name__ == "__main__":
    main()
