#!/usr/bin/env python3
"""Runs every benchmark side by side and rewrites bench/results.md with the figures, the
ratios against the targets, and the machine they were measured on.

usage: run_benchmarks.py BUILD_DIR"""
import http.client
import json
import math
import os
import platform
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SIZES = [1000, 10000, 50000]


def machine():
    model = "unknown"
    try:
        for line in open("/proc/cpuinfo"):
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
        mem_kib = int(open("/proc/meminfo").readline().split()[1])
    except OSError:
        mem_kib = 0
    return "%s, %d cores, %.0f GiB, %s %s, python %s" % (
        model, os.cpu_count(), mem_kib / 2**20, platform.system(), platform.release(),
        platform.python_version())


class ReplyServer:
    def __init__(self, folder):
        self.process = subprocess.Popen(
            [sys.executable, os.path.join(HERE, "reply_server.py"), "--dir", folder],
            stdout=subprocess.PIPE, text=True)
        self.port = int(self.process.stdout.readline().split()[1])

    def close(self):
        self.process.terminate()
        self.process.wait(timeout=10)

    def serve_rate(self):
        """MB/s at which the server hands out the largest reply (its own cost)."""
        body = b"<methodCall><methodName>Bug.comments</methodName></methodCall>"
        best = None
        for _ in range(3):
            conn = http.client.HTTPConnection("127.0.0.1", self.port)
            started = time.perf_counter()
            conn.request("POST", "/xmlrpc.cgi", body, {"Content-Type": "text/xml"})
            size = len(conn.getresponse().read())
            elapsed = time.perf_counter() - started
            conn.close()
            best = elapsed if best is None else min(best, elapsed)
        return size / best / 1e6


def run_json(command, env=None):
    out = subprocess.run(command, check=True, capture_output=True, text=True, env=env).stdout
    return json.loads(out.strip().splitlines()[-1])


def best_of(runs, command):
    results = [run_json(command) for _ in range(runs)]
    return min(results, key=lambda r: r["cpu_seconds"])


def slope(xs, ys):
    lx = [math.log(x) for x in xs]
    ly = [math.log(max(y, 1e-9)) for y in ys]
    mx, my = sum(lx) / len(lx), sum(ly) / len(ly)
    return sum((a - mx) * (b - my) for a, b in zip(lx, ly)) / sum((a - mx) ** 2 for a in lx)


def main():
    build = os.path.abspath(sys.argv[1])
    data = os.path.join(HERE, "data")
    subprocess.run([sys.executable, os.path.join(HERE, "generate_replies.py"), "--out", data,
                    "--sizes", ",".join(map(str, SIZES))], check=True)
    plugin = os.path.join(build, "lib", "libBugzilla.so")
    listing = {}
    for size in SIZES:
        folder = os.path.join(data, str(size))
        reply_bytes = sum(os.path.getsize(os.path.join(folder, f))
                          for f in ("Bug.search.xml", "Bug.comments.xml"))
        server = ReplyServer(folder)
        try:
            rate = server.serve_rate()
            runs = 3 if size <= 10000 else 1
            with tempfile.TemporaryDirectory() as tmp:
                ours = best_of(runs, [os.path.join(build, "bench", "listing_bench"), plugin, tmp,
                                      str(server.port)])
            py = best_of(runs, [sys.executable, os.path.join(HERE, "python_listing.py"), "--url",
                                "http://127.0.0.1:%d/xmlrpc.cgi" % server.port])
        finally:
            server.close()
        assert ours["records"] == size and py["records"] == size, (ours, py)
        listing[size] = {"ours": ours, "python": py, "reply_bytes": reply_bytes,
                         "serve_mb_s": rate}

    comments = os.path.join(data, "10000", "Bug.comments.xml")
    env = dict(os.environ, BENCH_REPLY=comments)
    bench = json.loads(subprocess.run(
        [os.path.join(build, "bench", "decode_bench"), "--benchmark_format=json"],
        check=True, capture_output=True, text=True, env=env).stdout)
    rates = {b["name"].split("/")[0]: b["bytes_per_second"] / 1e6 for b in bench["benchmarks"]}
    py_decode = run_json([sys.executable, os.path.join(HERE, "python_decode.py"), comments, "3"])
    write_results(listing, rates, py_decode, os.path.getsize(comments))


def write_results(listing, rates, py_decode, comments_bytes):
    ours_rate, expat_rate, py_rate = rates["DecodeOurs"], rates["ExpatEmptyHandlers"], py_decode["mb_per_s"]
    sizes = sorted(listing)
    cpu_exp = slope(sizes, [listing[s]["ours"]["cpu_seconds"] for s in sizes])
    mem_exp = slope(sizes, [(listing[s]["ours"]["peak_rss_kib"] - listing[s]["ours"]["baseline_rss_kib"])
                            for s in sizes])
    ten = listing[10000]
    ten_mem_ratio = (ten["ours"]["peak_rss_kib"] - ten["ours"]["baseline_rss_kib"]) * 1024 / ten["reply_bytes"]
    ten_cpu_ratio = ten["python"]["cpu_seconds"] / ten["ours"]["cpu_seconds"]

    def verdict(ok):
        return "met" if ok else "MISSED"

    lines = [
        "# Benchmark results",
        "",
        "Written by `bench/run_benchmarks.py` (`make bench`). Machine: %s." % machine(),
        "",
        "## 1. Decoding a Bug.comments reply (10,000 bugs, %.1f MB)" % (comments_bytes / 1e6),
        "",
        "| decoder | MB/s |",
        "|---|---|",
        "| ours (expat + building the values) | %.0f |" % ours_rate,
        "| expat alone, empty handlers | %.0f |" % expat_rate,
        "| python `xmlrpc.client.loads` | %.1f |" % py_rate,
        "",
        "- ours / python: **%.1f×** (target at least 5×: %s)" % (ours_rate / py_rate, verdict(ours_rate / py_rate >= 5)),
        "- ours / expat alone: **%.2f** (target at least 0.4: %s)" % (ours_rate / expat_rate, verdict(ours_rate / expat_rate >= 0.4)),
        "",
        "## 2. GetIssueList through the exported function",
        "",
        "CPU time is the listing's cost outside the network wait (the client process's user + system time). "
        "Peak memory is the process's peak resident size during the call minus its size before it.",
        "",
        "| bugs | reply bytes | ours wall s | ours CPU s | ours peak MB | python wall s | python CPU s | python peak MB | CPU ratio python/ours | server rate MB/s |",
        "|---|---|---|---|---|---|---|---|---|---|",
    ]
    for s in sizes:
        r = listing[s]
        lines.append("| %d | %.1f MB | %.3f | %.3f | %.1f | %.3f | %.3f | %.1f | %.1f× | %.0f |" % (
            s, r["reply_bytes"] / 1e6, r["ours"]["wall_seconds"], r["ours"]["cpu_seconds"],
            (r["ours"]["peak_rss_kib"] - r["ours"]["baseline_rss_kib"]) / 1024,
            r["python"]["wall_seconds"], r["python"]["cpu_seconds"], (r["python"]["peak_rss_kib"] - r["python"]["baseline_rss_kib"]) / 1024,
            r["python"]["cpu_seconds"] / r["ours"]["cpu_seconds"], r["serve_mb_s"]))
    lines += [
        "",
        "The loopback server hands out replies from memory at the rate in the last column, far above "
        "what either client consumes, so it is not what is measured.",
        "",
        "- 10,000 bugs, peak memory / bytes of the two replies: **%.2f** (target below 3: %s)" % (ten_mem_ratio, verdict(ten_mem_ratio < 3)),
        "- 10,000 bugs, CPU python / ours: **%.1f×** (target at least 5×: %s)" % (ten_cpu_ratio, verdict(ten_cpu_ratio >= 5)),
        "",
        "## 3. Growth from %d to %d bugs" % (sizes[0], sizes[-1]),
        "",
        "Exponent of a power-law fit (1.0 is linear): CPU time **%.2f**, peak memory **%.2f** (target: linear: %s)." % (
            cpu_exp, mem_exp, verdict(cpu_exp < 1.15 and mem_exp < 1.15)),
        "",
    ]
    with open(os.path.join(HERE, "results.md"), "w") as out:
        out.write("\n".join(lines))
    print("\n".join(lines))


if __name__ == "__main__":
    main()
