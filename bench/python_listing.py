#!/usr/bin/env python3
"""The baseline listing: the same exchanges as GetIssueList (login, Bug.search, one
Bug.comments) made with python's xmlrpc.client, building the same records. Prints JSON with
its CPU time and peak memory.

With --rest BASE, the same over Bugzilla's REST API with urllib and json, as the plug-in makes
it: GET BASE/login, GET BASE/whoami (a user's name: the server reads credentials in headers;
404 code 32614: as query parameters), GET BASE/bug with include_fields, and where the bugs
come without "description", GET BASE/bug/{first id}/comment?include_fields=text&ids=... with
the ids split so that no request line (the token left out) passes 8,000 bytes."""
import argparse
import json
import re
import resource
import time
import urllib.error
import urllib.parse
import urllib.request
import xmlrpc.client

LOGIN = "alice@example.com"
LISTED = ("id", "summary", "severity", "status", "description")
MAX_REQUEST_LINE = 8000


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


def records_of(bugs, comments):
    """Each bug's five fields as the plug-in hands them out, its first comment from `comments`."""
    records = []
    for b in bugs:
        found = comments.get(str(b["id"]), {}).get("comments", [])
        records.append((str(b["id"]), b["summary"], b["severity"], b["status"],
                        found[0]["text"] if found else ""))
    return records


def xmlrpc_listing(url):
    proxy = xmlrpc.client.ServerProxy(url)
    token = proxy.User.login({"login": LOGIN, "password": "x"})["token"]
    bugs = proxy.Bug.search({"product": "Widgets", "assigned_to": LOGIN, "token": token})["bugs"]
    comments = proxy.Bug.comments({"ids": [b["id"] for b in bugs], "token": token})["bugs"]
    return records_of(bugs, comments)


def escape(text):
    # As libcurl escapes a query value: everything but unreserved characters, lower-case hex.
    return re.sub(r"%[0-9A-F]{2}", lambda m: m.group().lower(),
                  urllib.parse.quote_plus(str(text), safe=""))


def target(path, query):
    return path + ("?" + "&".join("%s=%s" % (n, escape(v)) for n, v in query) if query else "")


def get(base, path, query=(), headers=None):
    """(status, decoded JSON) of GET base+path?query."""
    request = urllib.request.Request(base + target(path, query), headers=headers or {})
    try:
        with urllib.request.urlopen(request) as response:
            return response.status, json.loads(response.read())
    except urllib.error.HTTPError as error:
        return error.code, json.loads(error.read())


def rest_listing(base):
    prefix = urllib.parse.urlsplit(base).path
    _, login = get(base, "/login", [("login", LOGIN), ("password", "x")])
    token = login["token"]
    status, who = get(base, "/whoami", headers={"X-BUGZILLA-TOKEN": token})
    in_headers = status == 200 and "name" in who
    if not in_headers and who.get("code") != 32614:
        raise SystemExit("whoami answered %d" % status)

    def call(path, query):
        if in_headers:
            return get(base, path, query, {"X-BUGZILLA-TOKEN": token})[1]
        return get(base, path, query + [("token", token)])[1]

    bugs = call("/bug", [("product", "Widgets"), ("assigned_to", LOGIN),
                         ("include_fields", ",".join(LISTED))])["bugs"]
    if all(isinstance(b.get("description"), str) for b in bugs):
        return [tuple(str(b[name]) for name in LISTED) for b in bugs]
    ids = [str(b["id"]) for b in bugs]
    comments = {}
    at = 0
    while at < len(ids):
        path = "/bug/%s/comment" % ids[at]
        query = [("include_fields", "text")]
        # Each id lengthens the line by its own "&ids=N": counted, not the line made again.
        length = len("GET %s HTTP/1.1" % target(prefix + path, query))
        taken = at + 1
        while taken < len(ids):
            length += len("&ids=") + len(escape(ids[taken]))
            if length > MAX_REQUEST_LINE:
                break
            query.append(("ids", ids[taken]))
            taken += 1
        comments.update(call(path, query)["bugs"])
        at = taken
    return records_of(bugs, comments)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--url", help="the XML-RPC endpoint")
    parser.add_argument("--rest", help="the REST base, e.g. http://127.0.0.1:PORT/rest")
    args = parser.parse_args()
    reset_peak_rss()
    baseline_kib = current_rss_kib()
    started_cpu = time.process_time()
    started = time.perf_counter()
    records = rest_listing(args.rest) if args.rest else xmlrpc_listing(args.url)
    wall = time.perf_counter() - started
    cpu = time.process_time() - started_cpu
    peak = peak_rss_kib()
    print(json.dumps({
        "records": len(records),
        "record_bytes": sum(len(field.encode()) for record in records for field in record),
        "wall_seconds": wall,
        "cpu_seconds": cpu,
        "baseline_rss_kib": baseline_kib,
        "peak_rss_kib": peak,
    }))


if __name__ == "__main__":
    main()
