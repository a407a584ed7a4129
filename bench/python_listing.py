#!/usr/bin/env python3
"""The baseline listing: the same exchanges as GetIssueList (login, Bug.search, one
Bug.comments) made with python's xmlrpc.client, building the same records. Prints JSON with
its CPU time and peak memory."""
import argparse
import json
import resource
import time
import xmlrpc.client


def current_rss_kib():
    # The resident size now, as the C++ listing measures its baseline.
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * resource.getpagesize() // 1024


def reset_peak_rss():
    # The peak starts afresh from now, as in the C++ listing.
    try:
        with open("/proc/self/clear_refs", "w") as clear:
            clear.write("5")
    except OSError:
        pass


def peak_rss_kib():
    # This process image's peak (VmHWM): getrusage's ru_maxrss carries the parent's over.
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--url", required=True)
    args = parser.parse_args()
    reset_peak_rss()
    baseline_kib = current_rss_kib()
    started_cpu = time.process_time()
    started = time.perf_counter()
    proxy = xmlrpc.client.ServerProxy(args.url)
    token = proxy.User.login({"login": "alice@example.com", "password": "x"})["token"]
    bugs = proxy.Bug.search({"product": "Widgets", "assigned_to": "alice@example.com",
                             "token": token})["bugs"]
    comments = proxy.Bug.comments({"ids": [b["id"] for b in bugs], "token": token})["bugs"]
    records = []
    for b in bugs:
        found = comments.get(str(b["id"]), {}).get("comments", [])
        records.append((str(b["id"]), b["summary"], b["severity"], b["status"],
                        found[0]["text"] if found else ""))
    print(json.dumps({
        "records": len(records),
        "wall_seconds": time.perf_counter() - started,
        "cpu_seconds": time.process_time() - started_cpu,
        "baseline_rss_kib": baseline_kib,
        "peak_rss_kib": peak_rss_kib(),
    }))


if __name__ == "__main__":
    main()
