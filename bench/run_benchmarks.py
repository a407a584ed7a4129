#!/usr/bin/env python3
"""Runs every benchmark side by side and rewrites bench/results.md with the figures, the
ratios against the targets, the figures before streaming decoding (baseline.json), and the
machine they were measured on.

usage: run_benchmarks.py BUILD_DIR"""
import http.client
import json
import math
import os
import platform
import shutil
import socket
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SIZES = [1000, 10000, 50000]          # bugs of a listing
COMMENTS = [200, 2000, 20000]         # comments of the one bug whose details are shown
LISTING_REPLIES = ("Bug.search.xml", "Bug.comments.xml")
DETAILS_REPLIES = ("Bugzilla.version.xml", "Bug.get.xml", "Bug.comments.xml", "Bug.fields.xml")
DETAILS_ID = "4242"
REST_SIZE = 10000                     # bugs of the REST listings, beside the XML-RPC one
REST_STYLES = ("upstream", "bmo")
REST_RUNS = 5                         # each client's runs per style, the best by CPU counted
JSON_DECODERS = {  # decode_bench's JSON cases, in the order shown
    "DecodeJsonListing": "ours, keeping everything",
    "DecodeJsonListingFilter": "ours, with the listing's filter (five members of each bug)",
    "DecodeJsonListingNoMember": "ours, with a filter that keeps no member of a bug (the floor "
                                 "of simdjson's passes)",
}


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
    load = os.getloadavg()[0] if hasattr(os, "getloadavg") else float("nan")
    return "%s, %d cores, %.0f GiB, %s %s, python %s; load average %.1f when the run began" % (
        model, os.cpu_count(), mem_kib / 2**20, platform.system(), platform.release(),
        platform.python_version(), load)


class ReplyServer:
    def __init__(self, folder, rest_style=None, log=None):
        command = [sys.executable, os.path.join(HERE, "reply_server.py"), "--dir", folder]
        if rest_style:
            command += ["--rest", rest_style]
        if log:
            command += ["--log", log]
        self.log = log
        self.process = subprocess.Popen(command, stdout=subprocess.PIPE, text=True)
        self.port = int(self.process.stdout.readline().split()[1])
        self.url = "http://127.0.0.1:%d/xmlrpc.cgi" % self.port
        self.rest_base = "http://127.0.0.1:%d/rest" % self.port

    def logged(self, command):
        """The JSON line `command` prints, and the requests the server logged meanwhile."""
        open(self.log, "w").close()
        result = run_json(command)
        return result, [json.loads(line) for line in open(self.log)]

    def replay_rate(self, requests):
        """MB/s at which the server answers a listing's logged requests again (its own cost):
        each asked on a connection of its own and read raw to its end, framing and all. The
        masked credentials do not matter to it."""
        best = None
        size = 0
        for _ in range(3):
            started = time.perf_counter()
            size = 0
            for entry in requests:
                with socket.create_connection(("127.0.0.1", self.port)) as conn:
                    conn.sendall(b"GET %s HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close"
                                 b"\r\n\r\n" % entry["target"].encode())
                    while True:
                        piece = conn.recv(1 << 20)
                        if not piece:
                            break
                        size += len(piece)
            elapsed = time.perf_counter() - started
            best = elapsed if best is None else min(best, elapsed)
        return size / best / 1e6

    def close(self):
        self.process.terminate()
        self.process.wait(timeout=10)

    def serve_rate(self, method):
        """MB/s at which the server hands out a reply (its own cost)."""
        body = b"<methodCall><methodName>%s</methodName></methodCall>" % method.encode()
        best = None
        for _ in range(3):
            conn = http.client.HTTPConnection("127.0.0.1", self.port)
            started = time.perf_counter()
            conn.request("POST", "/xmlrpc.cgi", body, {"Content-Type": "text/xml"})
            response = conn.getresponse()
            size = 0
            while True:  # in pieces: this process's size would pass on to the clients it starts
                piece = response.read(1 << 20)
                if not piece:
                    break
                size += len(piece)
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


def peak_mib(result):
    return (result["peak_rss_kib"] - result["baseline_rss_kib"]) / 1024


def slope(xs, ys):
    lx = [math.log(x) for x in xs]
    ly = [math.log(max(y, 1e-9)) for y in ys]
    mx, my = sum(lx) / len(lx), sum(ly) / len(ly)
    return sum((a - mx) * (b - my) for a, b in zip(lx, ly)) / sum((a - mx) ** 2 for a in lx)


def callgrind_instructions(command, toggle):
    """Instructions executed inside `toggle` (a function name), or None without valgrind."""
    if shutil.which("valgrind") is None:
        return None
    with tempfile.TemporaryDirectory() as tmp:
        out = os.path.join(tmp, "callgrind.out")
        subprocess.run(["valgrind", "--tool=callgrind", "--toggle-collect=" + toggle,
                        "--callgrind-out-file=" + out] + command,
                       check=True, capture_output=True)
        for line in open(out):
            if line.startswith("totals:") or line.startswith("summary:"):
                return int(line.split()[1])
    return None


class Runner:
    def __init__(self, build):
        self.build = build
        self.plugin = os.path.join(build, "lib", "libBugzilla.so")
        self.bench = os.path.join(build, "bench", "listing_bench")
        self.decode = os.path.join(build, "bench", "decode_bench")
        self.users = os.path.join(build, "bench", "users_bench")

    def ours(self, server, runs, extra=()):
        with tempfile.TemporaryDirectory() as tmp:
            return best_of(runs, [self.bench, self.plugin, tmp, str(server.port)] + list(extra))

    def ours_instructions(self, server, toggle, extra=()):
        with tempfile.TemporaryDirectory() as tmp:
            return callgrind_instructions(
                [self.bench, self.plugin, tmp, str(server.port)] + list(extra), toggle)

    def expat_seconds(self, files):
        return run_json([self.decode, "--expat-seconds"] + list(files))["seconds"]

    def expat_instructions(self, files):
        # --expat-seconds parses every file three times.
        total = callgrind_instructions([self.decode, "--expat-seconds"] + list(files),
                                       "XML_Parse")
        return None if total is None else total / 3


def measure_listing(runner, data):
    listing = {}
    for size in SIZES:
        folder = os.path.join(data, str(size))
        files = [os.path.join(folder, f) for f in LISTING_REPLIES]
        log = tempfile.NamedTemporaryFile(suffix=".log", delete=False)
        log.close()
        server = ReplyServer(folder, log=log.name)
        try:
            rate = server.serve_rate("Bug.comments")
            runs = 3 if size <= 10000 else 1
            ours = runner.ours(server, runs)
            requests = []
            if size == REST_SIZE:  # the requests of one listing, shown beside the REST ones
                with tempfile.TemporaryDirectory() as tmp:
                    requests = server.logged(
                        [runner.bench, runner.plugin, tmp, str(server.port)])[1]
            py = best_of(runs, [sys.executable, os.path.join(HERE, "python_listing.py"),
                                "--url", server.url])
            instructions = runner.ours_instructions(server, "GetIssueList") if size == 1000 else None
        finally:
            server.close()
            os.unlink(log.name)
        assert ours["records"] == size and py["records"] == size, (ours, py)
        listing[size] = {"ours": ours, "python": py, "serve_mb_s": rate,
                         "requests": [r["method"] for r in requests],
                         "reply_bytes": sum(os.path.getsize(f) for f in files),
                         "expat_seconds": runner.expat_seconds(files),
                         "instructions": instructions,
                         "expat_instructions": runner.expat_instructions(files) if size == 1000 else None}
    return listing


def measure_details(runner, data):
    details = {}
    for count in COMMENTS:
        folder = os.path.join(data, "details-%d" % count)
        files = [os.path.join(folder, f) for f in DETAILS_REPLIES]
        server = ReplyServer(folder)
        try:
            ours = runner.ours(server, 3, ["details", DETAILS_ID])
            py = best_of(3, [sys.executable, os.path.join(HERE, "python_details.py"),
                             "--url", server.url, "--id", DETAILS_ID])
            instructions = (runner.ours_instructions(server, "GetIssueDetails",
                                                     ["details", DETAILS_ID])
                            if count == 2000 else None)
        finally:
            server.close()
        assert ours["description_bytes"] == py["description_bytes"] > 0, (ours, py)
        details[count] = {"ours": ours, "python": py,
                          "reply_bytes": sum(os.path.getsize(f) for f in files),
                          "expat_seconds": runner.expat_seconds(files),
                          "instructions": instructions,
                          "expat_instructions": runner.expat_instructions(files) if count == 2000 else None}
    return details


def measure_rest(runner, data):
    """The REST listing in each server style: the plug-in and python (urllib + json) against
    the same stored replies, each run's requests logged by the server. Both clients must make
    the same requests (credentials masked) and hand out the same bytes of fields."""
    folder = os.path.join(data, "rest-%d" % REST_SIZE)
    rest = {}
    for style in REST_STYLES:
        with tempfile.TemporaryDirectory() as tmp:
            server = ReplyServer(folder, style, os.path.join(tmp, "requests.log"))
            try:
                runs = {"ours": [], "python": []}
                for _ in range(REST_RUNS):
                    with tempfile.TemporaryDirectory() as plugin_dir:
                        runs["ours"].append(server.logged(
                            [runner.bench, runner.plugin, plugin_dir, str(server.port), "rest"]))
                    runs["python"].append(server.logged(
                        [sys.executable, os.path.join(HERE, "python_listing.py"),
                         "--rest", server.rest_base]))
                requests = runs["ours"][0][1]
                rate = server.replay_rate(requests)
            finally:
                server.close()
        for client, results in runs.items():
            for result, logged in results:
                assert logged == requests, (style, client, logged[:3], requests[:3])
                assert result["records"] == REST_SIZE, (style, client, result)
                assert result["record_bytes"] == runs["ours"][0][0]["record_bytes"], (style, result)
        best = {client: min((r for r, _ in results), key=lambda r: r["cpu_seconds"])
                for client, results in runs.items()}
        rest[style] = {"ours": best["ours"], "python": best["python"], "serve_mb_s": rate,
                       "requests": len(requests),
                       "reply_bytes": sum(r["body_bytes"] for r in requests),
                       "largest_reply": max(r["body_bytes"] for r in requests),
                       "longest_line": max(r["line_bytes"] for r in requests)}
    # python's own JSON decoding, on the largest stored reply (the bugzilla.mozilla.org search).
    body = open(os.path.join(folder, "search.bmo.json"), "rb").read()
    best = None
    for _ in range(3):
        started = time.process_time()
        json.loads(body)
        spent = time.process_time() - started
        best = spent if best is None else min(best, spent)
    rest["python_json_mb_s"] = len(body) / best / 1e6
    return rest


def measure_decoding(runner, data):
    comments = os.path.join(data, "10000", "Bug.comments.xml")
    env = dict(os.environ, BENCH_REPLY=comments)
    bench = json.loads(subprocess.run(
        [runner.decode, "--benchmark_format=json"],
        check=True, capture_output=True, text=True, env=env).stdout)
    rates = {}
    for b in bench["benchmarks"]:
        rates[b["name"].split("/")[0]] = {"mb_s": b["bytes_per_second"] / 1e6,
                                          "value_bytes": b.get("value_bytes"),
                                          "reply_bytes": b.get("reply_bytes")}
    py = run_json([sys.executable, os.path.join(HERE, "python_decode.py"), comments, "3"])
    # Counted on the 1,000-bug reply: a tenth of the bytes, the same mix, a tenth of the wait.
    small = os.path.join(data, "1000", "Bug.comments.xml")
    instructions = {kind: callgrind_instructions([runner.decode, "--once", kind, small],
                                                 "*run_once*")
                    for kind in ("ours", "filtered", "expat")}
    # The JSON listing decode_bench builds itself: instructions repeat exactly whatever the load.
    for kind in ("json", "json-filtered"):
        instructions[kind] = callgrind_instructions([runner.decode, "--once", kind, "builtin"],
                                                    "*run_once*")
    return {"rates": rates, "python_mb_s": py["mb_per_s"], "bytes": os.path.getsize(comments),
            "instructions": instructions}


def measure_users(runner):
    """1, 2, 4 and 8 users listing at once against the test server (users_bench)."""
    result = run_json([runner.users, runner.plugin])
    result["users"] = {int(n): figures for n, figures in result["users"].items()}
    return result


def main():
    build = os.path.abspath(sys.argv[1])
    data = os.path.join(HERE, "data")
    subprocess.run([sys.executable, os.path.join(HERE, "generate_replies.py"), "--out", data,
                    "--sizes", ",".join(map(str, SIZES)),
                    "--comments", ",".join(map(str, COMMENTS)),
                    "--rest-sizes", str(REST_SIZE)], check=True)
    runner = Runner(build)
    header = machine()
    listing = measure_listing(runner, data)
    details = measure_details(runner, data)
    decoding = measure_decoding(runner, data)
    users = measure_users(runner)
    rest = measure_rest(runner, data)
    baseline = json.load(open(os.path.join(HERE, "baseline.json")))
    write_results(header, listing, details, decoding, users, rest, baseline)


def verdict(ok):
    return "met" if ok else "MISSED"


def users_section(users, baseline):
    """Section 5: wall time of N users listing at once, and the plug-in's CPU time per listing."""
    counts = sorted(users["users"])
    figures = users["users"]
    before = baseline["users"]
    one, most = figures[counts[0]]["wall_seconds"], figures[counts[-1]]["wall_seconds"]
    before_ratio = before[str(counts[-1])]["wall_seconds"] / before[str(counts[0])]["wall_seconds"]
    cpus = [figures[n]["cpu_seconds_per_listing"] for n in counts]
    lines = [
        "## 5. Several users listing at once",
        "",
        "`users_bench`: one loaded plug-in, each thread its own user (`userN@example.com`), all "
        "released together by a start gate, each calling GetIssueList (\"Not Filtered\", product "
        "Widgets) against the test server (`testing/bugzilla_server.py`) answering every request "
        "after %.1f s. Each round starts without sessions (Initialize ... Uninitialize), so each "
        "listing signs in: %d requests per listing. Wall time is the round's, from the gate to the "
        "last thread's return (median of %d rounds); CPU is the benchmark process's user + system "
        "time over the round divided by the listings (the server is a process of its own). "
        "\"Before\" is the same benchmark against the build with one lock for the whole process "
        "(`baseline.json`). Listen overflows are connections the machine dropped during those "
        "rounds because a listening queue was full (counted for the whole machine, so other "
        "work's sockets count too). The test server listens with python's default queue of 5; "
        "when it falls behind accepting 8 connections at once, the dropped one is retried a "
        "second later and that round takes a second longer, whatever the plug-in does." % (
            float(users["server_delay_seconds"]), users["requests_per_listing"], users["rounds"]),
        "",
        "| users | wall s per round | wall / 1 user | CPU ms per listing | listen overflows | before: wall s | before: wall / 1 user | before: CPU ms per listing |",
        "|---|---|---|---|---|---|---|---|",
    ]
    for n in counts:
        r, b = figures[n], before[str(n)]
        lines.append("| %d | %.3f | %.2f | %.2f | %s | %.3f | %.2f | %.2f |" % (
            n, r["wall_seconds"], r["wall_seconds"] / one, r["cpu_seconds_per_listing"] * 1e3,
            r["listen_overflows"] if r["listen_overflows"] >= 0 else "?", b["wall_seconds"],
            b["wall_seconds"] / before[str(counts[0])]["wall_seconds"],
            b["cpu_seconds_per_listing"] * 1e3))
    lines += [
        "",
        "- %d users / 1 user, wall time: **%.2f×** (target at most 1.5×: %s; before %.2f×)" % (
            counts[-1], most / one, verdict(most / one <= 1.5), before_ratio),
        "- CPU per listing from %d to %d users: %.2f to %.2f ms (largest / smallest %.2f)" % (
            counts[0], counts[-1], cpus[0] * 1e3, cpus[-1] * 1e3, max(cpus) / min(cpus)),
        "",
    ]
    return lines


def rest_section(rest, listing, decoding, baseline):
    """Section 6: the listing over REST in both server styles, beside the XML-RPC listing."""
    xmlrpc = listing[REST_SIZE]
    before = baseline.get("rest_listing", {})
    lines = [
        "## 6. GetIssueList over REST (%s bugs)" % format(REST_SIZE, ","),
        "",
        "The same bugs and texts as the XML-RPC listing (`generate_replies.py`, folder "
        "`rest-%d`), as JSON replies shaped like the recorded ones, served by `reply_server.py "
        "--rest`. **upstream** (Bugzilla 5.0/5.2 behind Apache): `GET /rest/login`, `GET "
        "/rest/whoami` (404, code 32614: credentials go as query parameters), `GET /rest/bug?"
        "...&include_fields=id,summary,severity,status,description` (the bugs come without "
        "description), then `GET /rest/bug/{first id}/comment?include_fields=text&ids=...` with "
        "the ids split so that no request line passes 8,000 bytes before the token is added; "
        "replies chunked (16 KiB chunks) on a connection that may stay open. **bmo** "
        "(bugzilla.mozilla.org): login, whoami (the user: the token goes in a header), one "
        "search whose bugs carry their first comment as `description` and the "
        "`assigned_to_detail` / `creator_detail` objects; replies with `Connection: close`, "
        "neither length nor chunks. python (`python_listing.py --rest`) uses urllib and json, "
        "makes the same requests and reads the same fields; the server logs every request "
        "(credentials masked) and the run stops unless both clients' logs are identical and "
        "both hand out the same bytes of fields. CPU, wall time and peak memory are taken as "
        "in section 2 (best of %d by CPU); **replies** is the sum of the bodies of every "
        "request of the listing, as the server logged them." % (REST_SIZE, REST_RUNS),
        "",
        "| listing | requests | replies | largest reply | ours CPU s | python CPU s | python/ours CPU | ours peak MB | ours peak / replies | python peak MB | ours wall s | python wall s | server MB/s | first measured: ours CPU s | first measured: ours peak MB |",
        "|---|---|---|---|---|---|---|---|---|---|---|---|---|---|---|",
        "| XML-RPC (section 2) | %d | %.1f MB | %.1f MB | %.3f | %.3f | %.1f× | %.1f | %.2f | %.1f | %.3f | %.3f | %.0f | — | — |" % (
            len(xmlrpc["requests"]), xmlrpc["reply_bytes"] / 1e6,
            os.path.getsize(os.path.join(HERE, "data", str(REST_SIZE), "Bug.comments.xml")) / 1e6,
            xmlrpc["ours"]["cpu_seconds"], xmlrpc["python"]["cpu_seconds"],
            xmlrpc["python"]["cpu_seconds"] / xmlrpc["ours"]["cpu_seconds"],
            peak_mib(xmlrpc["ours"]), peak_mib(xmlrpc["ours"]) * 2**20 / xmlrpc["reply_bytes"],
            peak_mib(xmlrpc["python"]), xmlrpc["ours"]["wall_seconds"],
            xmlrpc["python"]["wall_seconds"], xmlrpc["serve_mb_s"]),
    ]
    for style in REST_STYLES:
        r = rest[style]
        first = before.get(style)
        lines.append("| REST %s | %d | %.1f MB | %.1f MB | %.3f | %.3f | %.1f× | %.1f | %.2f | %.1f | %.3f | %.3f | %.0f | %s | %s |" % (
            style, r["requests"], r["reply_bytes"] / 1e6, r["largest_reply"] / 1e6,
            r["ours"]["cpu_seconds"], r["python"]["cpu_seconds"],
            r["python"]["cpu_seconds"] / r["ours"]["cpu_seconds"],
            peak_mib(r["ours"]), peak_mib(r["ours"]) * 2**20 / r["reply_bytes"],
            peak_mib(r["python"]), r["ours"]["wall_seconds"], r["python"]["wall_seconds"],
            r["serve_mb_s"], "%.3f" % first["cpu_seconds"] if first else "—",
            "%.1f" % first["peak_mb"] if first else "—"))
    lines += [
        "",
        "The XML-RPC listing's requests: %s (its replies column counts each of the two large "
        "replies once, as section 2 does)." % ", ".join(xmlrpc["requests"]),
        "",
        "The server column is the rate at which `reply_server.py` answers the listing's logged "
        "requests again, each read raw to the end of its connection (XML-RPC: the rate of the "
        "Bug.comments reply, as in section 2).",
        "",
    ]
    for style in REST_STYLES:
        r = rest[style]
        ratio = r["python"]["cpu_seconds"] / r["ours"]["cpu_seconds"]
        memory = peak_mib(r["ours"]) * 2**20 / r["reply_bytes"]
        lines.append(
            "- REST %s: CPU python / ours **%.1f×** (target at least 10×: %s); ours peak / "
            "replies **%.2f** (target at most 1.0: %s), of which the records handed out hold "
            "%.1f MB of field bytes; longest request line %d bytes" % (
                style, ratio, verdict(ratio >= 10), memory, verdict(memory <= 1.0),
                r["ours"]["record_bytes"] / 2**20, r["longest_line"]))
    # decode_bench's JSON cases, whichever it runs; the known ones described.
    rates = decoding["rates"]
    json_names = [name for name in rates if name.startswith("DecodeJson")]
    if json_names:
        reply_bytes = max(rates[name]["reply_bytes"] or 0 for name in json_names)
        lines += [
            "",
            "Decoding alone (`decode_bench`, a bugzilla.mozilla.org-shaped search of 10,000 bugs "
            "made by the benchmark itself, %.1f MB, fed in 16 KiB pieces and decoded at the end):" % (
                reply_bytes / 1e6),
            "",
            "| decoder | MB/s (CPU time) | value held after decoding |",
            "|---|---|---|",
        ]
        order = list(JSON_DECODERS)
        json_names.sort(key=lambda n: (order.index(n) if n in order else len(order), n))
        for name in json_names:
            r = rates[name]
            held = r["value_bytes"] or 0
            lines.append("| %s | %.0f | %.1f MB (%.2f× the reply) |" % (
                JSON_DECODERS.get(name, "`%s`" % name), r["mb_s"], held / 1e6,
                held / reply_bytes if reply_bytes else float("nan")))
        lines.append("| python `json.loads` (the bmo search reply above, %.1f MB, same shape) | %.0f | — |" % (
            os.path.getsize(os.path.join(HERE, "data", "rest-%d" % REST_SIZE,
                                         "search.bmo.json")) / 1e6,
            rest["python_json_mb_s"]))
        filtered = rates.get("DecodeJsonListingFilter")
        if filtered:
            lines += ["", "- with the listing's filter: **%.0f MB/s** (target at least 1,000: %s)" % (
                filtered["mb_s"], verdict(filtered["mb_s"] >= 1000))]
        counted = decoding["instructions"]
        if counted.get("json-filtered") and reply_bytes:
            lines.append(
                "- by instructions (callgrind, one decode in 16 KiB pieces, freeing the value "
                "included): with the filter %.0f M (%.1f per byte), keeping everything %.0f M "
                "(%.1f per byte)" % (
                    counted["json-filtered"] / 1e6, counted["json-filtered"] / reply_bytes,
                    counted["json"] / 1e6, counted["json"] / reply_bytes))
    lines.append("")
    return lines


def write_results(header, listing, details, decoding, users, rest, baseline):
    sizes = sorted(listing)
    ten = listing[10000]
    ten_mem = peak_mib(ten["ours"]) * 2**20 / ten["reply_bytes"]
    ten_cpu = ten["python"]["cpu_seconds"] / ten["ours"]["cpu_seconds"]
    cpu_exp = slope(sizes, [listing[s]["ours"]["cpu_seconds"] for s in sizes])
    mem_exp = slope(sizes, [peak_mib(listing[s]["ours"]) for s in sizes])
    rates = decoding["rates"]
    ours_rate = rates["DecodeOurs"]["mb_s"]
    filtered_rate = rates["DecodeOursListingFilter"]["mb_s"]
    expat_rate = rates["ExpatStreamed"]["mb_s"]
    whole_rate = rates["ExpatWholeBody"]["mb_s"]
    one = listing[1000]
    before_one = baseline["listing"]["1000"]
    one_instr = one["instructions"]
    before_instr = baseline["listing_1000_instructions"]

    lines = [
        "# Benchmark results",
        "",
        "Written by `bench/run_benchmarks.py` (`make bench`). Machine: %s." % header,
        "",
        "## How the figures are taken",
        "",
        "- Replies are Bugzilla 5.0.6-shaped bodies (`generate_replies.py`) served from memory on "
        "loopback (`reply_server.py`); each call runs in a process of its own (`listing_bench`, "
        "python's `xmlrpc.client` in `python_listing.py` and `python_details.py`).",
        "- **Peak memory** is the process's peak resident size during the call (`VmHWM`, started "
        "afresh just before the call through `/proc/self/clear_refs`) minus its resident size just "
        "before it; it does not depend on load. (getrusage's `ru_maxrss` is not used: Linux carries "
        "it over from the parent process.)",
        "- **CPU** is the client process's user + system time for the call (best of three, one run "
        "at 50,000 bugs). The machine's two cores are shared with other work, so CPU and MB/s "
        "figures move by some 10-30 % between runs; the ratios between figures of one run move less.",
        "- **Instructions** are counted with callgrind (`--toggle-collect` on the export, or on "
        "`XML_Parse` for expat alone) and repeat exactly whatever the load.",
        "- **Expat alone** is expat with empty handlers fed the same bytes in the 16 KiB pieces "
        "libcurl hands over (`decode_bench --expat-seconds`): the floor of any expat-based decoder.",
        "- The \"before\" figures (`baseline.json`) were taken on the same machine with the build "
        "that buffered whole bodies, kept whole replies and gave each member its own name.",
        "",
        "## 1. Decoding a Bug.comments reply (10,000 bugs, %.1f MB, in 16 KiB pieces)" % (decoding["bytes"] / 1e6),
        "",
        "| decoder | MB/s (CPU time) | value held after decoding |",
        "|---|---|---|",
        "| ours, keeping everything | %.0f | %.1f MB (%.2f× the reply) |" % (
            ours_rate, rates["DecodeOurs"]["value_bytes"] / 1e6,
            rates["DecodeOurs"]["value_bytes"] / decoding["bytes"]),
        "| ours, with the listing's filter (first comment's text) | %.0f | %.1f MB (%.2f×) |" % (
            filtered_rate, rates["DecodeOursListingFilter"]["value_bytes"] / 1e6,
            rates["DecodeOursListingFilter"]["value_bytes"] / decoding["bytes"]),
        "| expat alone, empty handlers, same pieces | %.0f | — |" % expat_rate,
        "| expat alone, empty handlers, whole body at once | %.0f | — |" % whole_rate,
        "| python `xmlrpc.client.loads` | %.1f | — |" % decoding["python_mb_s"],
        "| before: ours, whole body (baseline) | %.0f (expat whole body then: %.0f) | — |" % (
            baseline["decode_ours_mb_s"], baseline["decode_expat_whole_mb_s"]),
        "",
        "- ours / expat alone (same pieces): **%.2f** keeping everything, **%.2f** with the filter "
        "(target at least 0.8: %s)" % (ours_rate / expat_rate, filtered_rate / expat_rate,
                                         verdict(ours_rate / expat_rate >= 0.8)),
        "- ours / python: **%.1f×**" % (ours_rate / decoding["python_mb_s"]),
    ]
    instr = decoding["instructions"]
    if instr["ours"] and instr["expat"]:
        lines.append(
            "- by instructions (callgrind, one decode of the 1,000-bug reply in 16 KiB pieces, "
            "freeing the value included): ours %.0f M, with the filter %.0f M, expat alone %.0f M: "
            "ours / expat alone **%.2f** keeping everything, **%.2f** with the filter (target at "
            "least 0.8: %s)" % (
                instr["ours"] / 1e6, instr["filtered"] / 1e6, instr["expat"] / 1e6,
                instr["expat"] / instr["ours"], instr["expat"] / instr["filtered"],
                verdict(instr["expat"] / instr["ours"] >= 0.8)))
    lines += [
        "",
        "## 2. GetIssueList through the exported function",
        "",
        "| bugs | replies | ours CPU s | expat alone CPU s | python CPU s | python/ours CPU | ours peak MB | ours peak / replies | python peak MB | before: ours CPU s | before: ours peak MB | server MB/s |",
        "|---|---|---|---|---|---|---|---|---|---|---|---|",
    ]
    for s in sizes:
        r = listing[s]
        before = baseline["listing"][str(s)]
        lines.append("| %d | %.1f MB | %.3f | %.3f | %.3f | %.1f× | %.1f | %.2f | %.1f | %.3f | %.1f | %.0f |" % (
            s, r["reply_bytes"] / 1e6, r["ours"]["cpu_seconds"], r["expat_seconds"],
            r["python"]["cpu_seconds"], r["python"]["cpu_seconds"] / r["ours"]["cpu_seconds"],
            peak_mib(r["ours"]), peak_mib(r["ours"]) * 2**20 / r["reply_bytes"],
            peak_mib(r["python"]), before["cpu_seconds"], before["peak_mb"], r["serve_mb_s"]))
    lines += [
        "",
        "The loopback server hands out replies at the rate in the last column, far above what "
        "either client consumes, so it is not what is measured.",
        "",
        "- 10,000 bugs, peak memory / bytes of the two replies: **%.2f** (target at most 1.0: %s; "
        "aim 0.5: %s; before %.2f)" % (
            ten_mem, verdict(ten_mem <= 1.0), verdict(ten_mem <= 0.5),
            baseline["listing"]["10000"]["peak_mb"] * 2**20 / baseline["listing"]["10000"]["reply_bytes"]),
        "- 10,000 bugs, CPU python / ours: **%.1f×** (target at least 10×: %s); expat alone over "
        "the same bytes takes %.0f %% of our CPU time, so python / expat alone is %.1f×" % (
            ten_cpu, verdict(ten_cpu >= 10), 100 * ten["expat_seconds"] / ten["ours"]["cpu_seconds"],
            ten["python"]["cpu_seconds"] / ten["expat_seconds"]),
    ]
    if one_instr:
        lines.append(
            "- 1,000 bugs: %.0f M instructions in GetIssueList (before: %.0f M; %+.0f %%), of "
            "which expat alone over the same bytes in pieces needs %.0f M; CPU %.3f s (before "
            "%.3f s) (target no slower than before: %s by CPU time, %s by instructions)" % (
                one_instr / 1e6, before_instr / 1e6, 100 * (one_instr / before_instr - 1),
                (one["expat_instructions"] or 0) / 1e6, one["ours"]["cpu_seconds"],
                before_one["cpu_seconds"],
                verdict(one["ours"]["cpu_seconds"] <= before_one["cpu_seconds"] * 1.05),
                verdict(one_instr <= before_instr)))
    lines += [
        "",
        "## 3. Growth from %d to %d bugs" % (sizes[0], sizes[-1]),
        "",
        "Exponent of a power-law fit (1.0 is linear): CPU time **%.2f**, peak memory **%.2f** "
        "(target at most 1.05: %s)." % (cpu_exp, mem_exp, verdict(cpu_exp <= 1.05 and mem_exp <= 1.05)),
        "",
        "## 4. GetIssueDetails on one bug with many comments",
        "",
        "The four replies (Bugzilla.version, Bug.get, Bug.comments with every comment of the "
        "bug, Bug.fields); the comments reply is read whole.",
        "",
        "| comments | replies | ours CPU s | expat alone CPU s | python CPU s | python/ours CPU | ours peak MB | ours peak / replies | python peak MB | before: ours CPU s | before: ours peak MB |",
        "|---|---|---|---|---|---|---|---|---|---|---|",
    ]
    counts = sorted(details)
    for c in counts:
        r = details[c]
        before = baseline["details"][str(c)]
        lines.append("| %d | %.1f MB | %.3f | %.3f | %.3f | %.1f× | %.1f | %.2f | %.1f | %.3f | %.1f |" % (
            c, r["reply_bytes"] / 1e6, r["ours"]["cpu_seconds"], r["expat_seconds"],
            r["python"]["cpu_seconds"], r["python"]["cpu_seconds"] / r["ours"]["cpu_seconds"],
            peak_mib(r["ours"]), peak_mib(r["ours"]) * 2**20 / r["reply_bytes"],
            peak_mib(r["python"]), before["cpu_seconds"], before["peak_mb"]))
    two = details[2000]
    lines += [
        "",
        "- 2,000 comments: %s instructions in GetIssueDetails, expat alone over the same bytes %s." % (
            "%.1f M" % (two["instructions"] / 1e6) if two["instructions"] else "(no valgrind)",
            "%.1f M" % (two["expat_instructions"] / 1e6) if two["expat_instructions"] else "(no valgrind)"),
        "- Growth from %d to %d comments: CPU time exponent **%.2f**, peak memory **%.2f**." % (
            counts[0], counts[-1], slope(counts, [details[c]["ours"]["cpu_seconds"] for c in counts]),
            slope(counts, [peak_mib(details[c]["ours"]) for c in counts])),
        "",
    ]
    lines += users_section(users, baseline)
    lines += rest_section(rest, listing, decoding, baseline)
    with open(os.path.join(HERE, "results.md"), "w") as out:
        out.write("\n".join(lines))
    print("\n".join(lines))


if __name__ == "__main__":
    main()
