#!/usr/bin/env python3
"""Python's own decoding speed on a reply: xmlrpc.client.loads, best of a few runs (MB/s)."""
import json
import sys
import time
import xmlrpc.client


def main():
    data = open(sys.argv[1], "rb").read()
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 3
    best = None
    for _ in range(runs):
        started = time.perf_counter()
        xmlrpc.client.loads(data)
        elapsed = time.perf_counter() - started
        best = elapsed if best is None else min(best, elapsed)
    print(json.dumps({"bytes": len(data), "seconds": best, "mb_per_s": len(data) / best / 1e6}))


if __name__ == "__main__":
    main()
