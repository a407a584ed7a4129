#!/usr/bin/env python3
"""Serves pre-generated Bugzilla replies from memory on loopback, so that the benchmark
measures the client and not the server: XML-RPC replies chosen by the request's methodName,
or (--rest upstream|bmo) REST replies chosen by the resource below /rest/ or /rest.cgi/.

REST replies go out as each server style sends them: upstream Bugzilla (Apache) in chunks on a
connection that may stay open, bugzilla.mozilla.org with `Connection: close` and neither
length nor chunks, the body ending when the connection does. A comments request gets the
comments of the bug in its path and of every `ids` parameter, joined from one stored member
per bug. --log FILE appends one JSON line per request (credentials masked) with what was
served, so that a run can check which requests a client made and how many bytes it read."""
import argparse
import http.server
import json
import os
import re
import sys
import threading
import urllib.parse

METHOD = re.compile(rb"<methodName>([^<]+)</methodName>")
SECRET = re.compile(r"((?:^|[?&])(?:token|password|api_key)=)[^&]*")
CHUNK = 16 * 1024  # Apache's chunks in the recorded replies run up to about this size
JSON_TYPE = "application/json; charset=UTF-8"


def error_body(code, message):
    return json.dumps({"error": True, "code": code, "message": message,
                       "documentation": "https://bugzilla.readthedocs.org/en/5.0/api/"},
                      separators=(",", ":")).encode()


class RestReplies:
    """The stored REST replies of one folder, for one server style."""

    def __init__(self, folder, style):
        self.style = style

        def read(name):
            path = os.path.join(folder, name)
            return open(path, "rb").read() if os.path.exists(path) else None

        self.login = read("login.json")
        self.whoami = read("whoami.%s.json" % style)
        self.search = read("search.%s.json" % style)
        self.comments = {}
        for line in (read("comments.upstream.jsonl") or b"").splitlines():
            self.comments[line[1:line.index(b'"', 1)].decode()] = line

    def answer(self, resource, query, headers):
        """(status, body) for GET {base}/{resource}?{query}."""
        parts = resource.split("/")
        if parts == ["login"]:
            return 200, self.login
        if parts == ["whoami"]:
            if self.style == "upstream":
                return 404, self.whoami
            if "X-BUGZILLA-TOKEN" in headers or "X-BUGZILLA-API-KEY" in headers:
                return 200, self.whoami
            return 401, error_body(410, "You must log in before using this part of Bugzilla.")
        if parts == ["bug"]:
            return 200, self.search
        if len(parts) == 3 and parts[0] == "bug" and parts[2] == "comment":
            ids = [parts[1]] + [i for i in query.get("ids", []) if i != parts[1]]
            missing = [i for i in ids if i not in self.comments]
            if missing:
                return 404, error_body(101, "Bug %s does not exist." % missing[0])
            return 200, (b'{"comments":{},"bugs":{' +
                         b",".join(self.comments[i] for i in ids) + b"}}")
        return 404, error_body(32614, "A REST API resource was not found for 'GET /%s'." % resource)


def chunked(body):
    view = memoryview(body)
    pieces = []
    for at in range(0, len(body), CHUNK):
        piece = view[at:at + CHUNK]
        pieces += [b"%x\r\n" % len(piece), piece, b"\r\n"]
    return b"".join(pieces) + b"0\r\n\r\n"


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    replies = {}
    rest = None
    log_path = None
    log_lock = threading.Lock()

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        match = METHOD.search(body)
        method = match.group(1).decode() if match else ""
        reply = self.replies.get(method)
        self.record(urllib.parse.urlsplit(self.path), 200 if reply else 404,
                    len(reply) if reply else 0, method)
        if reply is None:
            self.send_error(404)
            return
        self.send_response(200)
        self.send_header("Content-Type", "text/xml")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        base, _, resource = url.path.lstrip("/").partition("/")
        if self.rest is None or base not in ("rest", "rest.cgi"):
            self.send_error(404)
            return
        query = urllib.parse.parse_qs(url.query, keep_blank_values=True)
        status, body = self.rest.answer(resource, query, self.headers)
        self.record(url, status, len(body))
        self.send_response(status)
        self.send_header("Content-Type", JSON_TYPE)
        if self.rest.style == "bmo":
            self.send_header("Status", str(status))
            self.send_header("Connection", "close")
            self.end_headers()
            self.wfile.write(body)
        else:
            self.send_header("Transfer-Encoding", "chunked")
            self.end_headers()
            self.wfile.write(chunked(body))

    def record(self, url, status, size, method=None):
        if self.log_path is None:
            return
        query = urllib.parse.parse_qs(url.query)
        credential = ("query" if "token" in query or "api_key" in query else
                      "header" if "X-BUGZILLA-TOKEN" in self.headers or
                      "X-BUGZILLA-API-KEY" in self.headers else "")
        entry = {"target": SECRET.sub(r"\1***", self.path),
                 "method": method,
                 "line_bytes": len(self.requestline), "credential": credential,
                 "status": status, "body_bytes": size}
        with self.log_lock, open(self.log_path, "a") as log:
            log.write(json.dumps(entry) + "\n")

    def log_message(self, *args):
        pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    parser.add_argument("--rest", choices=("upstream", "bmo"))
    parser.add_argument("--log")
    args = parser.parse_args()
    for name in os.listdir(args.dir):
        if name.endswith(".xml"):
            with open(os.path.join(args.dir, name), "rb") as f:
                Handler.replies[name[:-4]] = f.read()
    if args.rest:
        Handler.rest = RestReplies(args.dir, args.rest)
    Handler.log_path = args.log
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    print("PORT %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
