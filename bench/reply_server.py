#!/usr/bin/env python3
"""Serves pre-generated Bugzilla replies from memory on loopback, chosen by the request's
methodName, so that the benchmark measures the client and not the server."""
import argparse
import http.server
import os
import re
import sys

METHOD = re.compile(rb"<methodName>([^<]+)</methodName>")


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    replies = {}

    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        match = METHOD.search(body)
        reply = self.replies.get(match.group(1).decode() if match else "")
        if reply is None:
            self.send_error(404)
            return
        self.send_response(200)
        self.send_header("Content-Type", "text/xml")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--dir", required=True)
    args = parser.parse_args()
    for name in os.listdir(args.dir):
        if name.endswith(".xml"):
            with open(os.path.join(args.dir, name), "rb") as f:
                Handler.replies[name[:-4]] = f.read()
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    print("PORT %d" % server.server_address[1], flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass


if __name__ == "__main__":
    sys.exit(main())
