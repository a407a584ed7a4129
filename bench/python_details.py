#!/usr/bin/env python3
"""The baseline of one bug's details: the same exchanges as GetIssueDetails (login,
Bugzilla.version, Bug.get, Bug.comments, Bug.fields) made with python's xmlrpc.client,
building the same record. Prints JSON with its CPU time and peak memory."""
import argparse
import json
import time
import xmlrpc.client

from python_listing import current_rss_kib, peak_rss_kib, reset_peak_rss

FIELDS = [("resolution", "resolution"), ("product", "product"), ("component", "component"),
          ("priority", "priority"), ("severity", "bug_severity"), ("alias", "alias"),
          ("assigned_to", "assigned_to"), ("last_change_time", "delta_ts"),
          ("creation_time", "creation_ts")]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--url", required=True)
    parser.add_argument("--id", required=True)
    args = parser.parse_args()
    reset_peak_rss()
    baseline_kib = current_rss_kib()
    started_cpu = time.process_time()
    started = time.perf_counter()
    proxy = xmlrpc.client.ServerProxy(args.url)
    token = proxy.User.login({"login": "alice@example.com", "password": "x"})["token"]
    proxy.Bugzilla.version()
    bug = proxy.Bug.get({"ids": [args.id], "token": token})["bugs"][0]
    comments = proxy.Bug.comments({"ids": [bug["id"]], "token": token})["bugs"]
    found = comments.get(str(bug["id"]), {}).get("comments", [])
    names = proxy.Bug.fields({"names": [name for _, name in FIELDS], "token": token})["fields"]
    record = (str(bug["id"]), bug["summary"], bug["status"], bug["severity"],
              found[0]["text"] if found else "",
              [(field["display_name"], str(bug.get(member, ""))) for (member, _), field in
               zip(FIELDS, names)])
    print(json.dumps({
        "records": 1,
        "description_bytes": len(record[4].encode()),
        "wall_seconds": time.perf_counter() - started,
        "cpu_seconds": time.process_time() - started_cpu,
        "baseline_rss_kib": baseline_kib,
        "peak_rss_kib": peak_rss_kib(),
    }))


if __name__ == "__main__":
    main()
