#!/usr/bin/env python3
"""Loopback servers for the XML-RPC client tests.

  echo_server.py xmlrpc [--tls CERT KEY]   python's own xmlrpc.server with echo methods
  echo_server.py raw                       an HTTP server that misbehaves on purpose, and
                                           answers REST calls below /rest/ as Bugzilla does

Both listen on 127.0.0.1 with an OS-chosen port, print it on the first line, and stop by
themselves when their standard input closes (the test ended) or after two minutes.
"""
import argparse
import gzip
import json
import os
import socket
import socketserver
import ssl
import struct
import sys
import threading
import time
import xmlrpc.client
from xmlrpc.server import SimpleXMLRPCRequestHandler, SimpleXMLRPCServer

LIFETIME_SECONDS = 120


def stop_when_orphaned():
    def watch():
        try:
            sys.stdin.buffer.read()
        finally:
            os._exit(0)

    threading.Thread(target=watch, daemon=True).start()
    threading.Timer(LIFETIME_SECONDS, lambda: os._exit(0)).start()


# ----------------------------------------------------------------------------- xmlrpc mode

request_state = threading.local()
connection_lock = threading.Lock()
connection_count = 0


class EchoHandler(SimpleXMLRPCRequestHandler):
    protocol_version = "HTTP/1.1"  # keep-alive, so tests can count connections
    rpc_paths = ()  # any path

    def setup(self):
        global connection_count
        super().setup()
        with connection_lock:
            connection_count += 1
            self.connection_id = connection_count

    def do_POST(self):
        request_state.connection_id = self.connection_id
        request_state.cookie = self.headers.get("Cookie", "")
        request_state.set_cookies = []
        super().do_POST()

    def end_headers(self):
        for text in getattr(request_state, "set_cookies", []):
            self.send_header("Set-Cookie", text)
        request_state.set_cookies = []
        super().end_headers()

    def log_message(self, *args):
        pass


class ThreadedXmlRpcServer(socketserver.ThreadingMixIn, SimpleXMLRPCServer):
    daemon_threads = True


def type_names(value):
    """How python's unmarshaller read a value: nested lists/dicts of type names."""
    if isinstance(value, list):
        return [type_names(v) for v in value]
    if isinstance(value, dict):
        return {k: type_names(v) for k, v in value.items()}
    return type(value).__name__


def raise_fault(code, text):
    raise xmlrpc.client.Fault(code, text)


def set_cookie(*texts):
    request_state.set_cookies.extend(texts)
    return True


def run_xmlrpc(tls):
    server = ThreadedXmlRpcServer(("127.0.0.1", 0), requestHandler=EchoHandler,
                                  allow_none=True, use_builtin_types=True, logRequests=False)
    if tls:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(tls[0], tls[1])
        server.socket = context.wrap_socket(server.socket, server_side=True)
    server.register_function(lambda value: value, "echo")
    server.register_function(type_names, "types")
    server.register_function(lambda text: [ord(c) for c in text], "code_points")
    server.register_function(lambda count: list(range(count)), "numbers")
    server.register_function(raise_fault, "fault")
    server.register_function(lambda: request_state.connection_id, "connection")
    server.register_function(lambda: request_state.cookie, "cookie")
    server.register_function(set_cookie, "set_cookie")
    print(server.server_address[1], flush=True)
    server.serve_forever()


# -------------------------------------------------------------------------------- raw mode

GOOD_BODY = (b'<?xml version="1.0" encoding="UTF-8"?><methodResponse><params><param>'
             b'<value><string>fine</string></value></param></params></methodResponse>')
FAULT_BODY = (b'<?xml version="1.0"?><methodResponse><fault><value><struct>'
              b'<member><name>faultCode</name><value><int>32000</int></value></member>'
              b'<member><name>faultString</name><value><string>token expired</string></value>'
              b'</member></struct></value></fault></methodResponse>')
# A comment as real servers send it: control characters XML forbids and stray Latin-1.
DIRTY_BODY = (b'<?xml version="1.0" encoding="UTF-8"?><methodResponse><params><param><value>'
              b'<struct><member><name>text</name><value><string>bell\x07 form\x0c caf\xe9'
              b'</string></value></member><member><name>id</name><value><int>5</int></value>'
              b'</member></struct></value></param></params></methodResponse>')


def huge_body(size):
    head = b'<methodResponse><params><param><value><string>'
    tail = b'</string></value></param></params></methodResponse>'
    return head + b"x" * (size - len(head) - len(tail)) + tail


# REST replies as recorded from Bugzilla: status, content type, body, extra header lines.
JSON_TYPE = b"application/json; charset=UTF-8"
REST_REPLIES = {
    "unknown_bug": (b"404 Not Found", JSON_TYPE,
                    b'{"documentation":"https://bugzilla.readthedocs.org/en/5.0/api/",'
                    b'"error":true,"message":"Bug 999999 does not exist.","code":101}'),
    "error_200": (b"200 OK", JSON_TYPE, b'{"error":true,"code":32000,"message":"expired"}'),
    "created": (b"201 Created", JSON_TYPE, b'{"id":42}'),
    "html500": (b"500 Internal Server Error", b"text/html",
                b"<html><body>Internal Server Error</body></html>"),
    "proxy502": (b"502 Bad Gateway", b"text/html", b"<html><body>Bad Gateway</body></html>"),
    "json500": (b"500 Internal Server Error", JSON_TYPE, b'{"bugs":[]}'),
    "uri414": (b"414 Request-URI Too Long", b"text/html; charset=iso-8859-1",
               b"<!DOCTYPE HTML PUBLIC><html><title>414 Request-URI Too Long</title></html>"),
    "truncated": (b"200 OK", JSON_TYPE, b'{"bugs":[{"id":1,"summary":"cut'),
    "empty": (b"200 OK", JSON_TYPE, b""),
    "redirect": (b"302 Found", b"text/html", b"", b"Location: http://127.0.0.1:1/rest/\r\n"),
    "valid_login": (b"200 OK", JSON_TYPE, b"true"),
}


def listing_body(count):
    bugs = [{"id": i, "summary": "bug %d \u00e9" % i, "status": "CONFIRMED", "dupe_of": None,
             "alias": None, "is_open": True, "severity": "normal",
             "assigned_to_detail": {"id": 3, "email": "alice@example.com"}}
            for i in range(1, count + 1)]
    return json.dumps({"bugs": bugs}, separators=(",", ":"), ensure_ascii=False).encode()


class RawHandler(socketserver.BaseRequestHandler):
    def read_request(self):
        data = b""
        while b"\r\n\r\n" not in data:
            chunk = self.request.recv(65536)
            if not chunk:
                return None
            data += chunk
        head, _, body = data.partition(b"\r\n\r\n")
        lines = head.decode("latin-1").split("\r\n")
        self.request_line = lines[0]
        self.headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            self.headers[name.strip().lower()] = value.strip()
        path = lines[0].split(" ")[1]
        if path == "/reset":
            # Refuse the rest of the request with a TCP reset while it is still coming.
            self.request.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                    struct.pack("ii", 1, 0))
            return None
        length = int(self.headers.get("content-length", "0"))
        while len(body) < length:
            chunk = self.request.recv(65536)
            if not chunk:
                return None
            body += chunk
        self.body = body
        return path

    def reply(self, status, content_type, body, extra=b"", length=None):
        if length is None:
            length = len(body)
        self.request.sendall(b"HTTP/1.1 " + status + b"\r\nContent-Type: " + content_type +
                             b"\r\nContent-Length: " + str(length).encode() +
                             b"\r\nConnection: close\r\n" + extra + b"\r\n" + body)

    def rest(self, path):
        name = path[len("/rest/"):].split("?")[0]
        if name in REST_REPLIES:
            self.reply(*REST_REPLIES[name])
        elif name == "listing":
            # As bugzilla.mozilla.org answers: no length, no chunks, the end is the close.
            self.request.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: " + JSON_TYPE +
                                 b"\r\nConnection: close\r\nSet-Cookie: github_token=t; path=/"
                                 b"\r\n\r\n" + listing_body(2000))
        else:  # the request as it arrived
            seen = {"request_line": self.request_line, "body": self.body.decode("latin-1")}
            for header in ("cookie", "accept", "content-type", "x-bugzilla-api-key", "expect"):
                seen[header] = self.headers.get(header)
            self.reply(b"200 OK", JSON_TYPE, json.dumps(seen).encode())

    def handle(self):
        path = self.read_request()
        if path is None:
            return
        ok, xml = b"200 OK", b"text/xml"
        if path.startswith("/rest/"):
            self.rest(path)
        elif path == "/drip":
            # A valid reply spread over three seconds: never idle for long, slow in total.
            self.request.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n"
                                 b"Content-Length: " + str(len(GOOD_BODY)).encode() +
                                 b"\r\nConnection: close\r\n\r\n")
            step = len(GOOD_BODY) // 30 + 1
            for at in range(0, len(GOOD_BODY), step):
                time.sleep(0.1)
                self.request.sendall(GOOD_BODY[at:at + step])
        elif path == "/close":
            pass
        elif path == "/stall":
            time.sleep(6)
        elif path == "/stall_body":
            self.request.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n"
                                 b"Content-Length: " + str(len(GOOD_BODY)).encode() +
                                 b"\r\n\r\n" + GOOD_BODY[:40])
            time.sleep(6)
        elif path == "/http500":
            self.reply(b"500 Internal Server Error", b"text/html",
                       b"<html><body><h1>Internal Server Error</h1></body></html>")
        elif path == "/fault500":
            self.reply(b"500 Internal Server Error", xml, FAULT_BODY)
        elif path == "/ok500":
            self.reply(b"500 Internal Server Error", xml, GOOD_BODY)
        elif path == "/truncated":
            self.reply(ok, xml, GOOD_BODY[:len(GOOD_BODY) // 2])
        elif path == "/cut":
            self.reply(ok, xml, GOOD_BODY[:50], length=len(GOOD_BODY))
        elif path == "/malformed":
            self.reply(ok, xml, b"<methodResponse><params><param><value><int>1</value></param>"
                                b"</params></methodResponse>")
        elif path == "/not_xml":
            self.reply(ok, b"text/plain", b"hello")
        elif path == "/redirect":
            self.reply(b"302 Found", b"text/html", b"moved", b"Location: /elsewhere\r\n")
        elif path == "/huge":
            self.reply(ok, xml, huge_body(2 << 20))
        elif path == "/huge_chunked":
            self.request.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n"
                                 b"Transfer-Encoding: chunked\r\nConnection: close\r\n\r\n")
            body = huge_body(2 << 20)
            try:
                for at in range(0, len(body), 32768):
                    piece = body[at:at + 32768]
                    self.request.sendall(b"%x\r\n%s\r\n" % (len(piece), piece))
                self.request.sendall(b"0\r\n\r\n")
            except OSError:
                pass  # the client gave up, as it should
        elif path == "/gzip_bomb":
            self.reply(ok, xml, gzip.compress(huge_body(8 << 20)),
                       b"Content-Encoding: gzip\r\n")
        elif path == "/gzip":
            self.reply(ok, xml, gzip.compress(GOOD_BODY), b"Content-Encoding: gzip\r\n")
        elif path == "/inspect":
            seen = "|".join([self.request_line, self.headers.get("content-type", ""),
                             self.headers.get("accept-encoding", ""),
                             self.headers.get("expect", "")])
            self.reply(ok, xml, GOOD_BODY.replace(b"fine", seen.encode().replace(b"&", b"&amp;")
                                                  .replace(b"<", b"&lt;")))
        elif path == "/dirty":
            self.reply(ok, xml, DIRTY_BODY)
        else:
            self.reply(ok, xml, GOOD_BODY)


class ThreadedTcpServer(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    allow_reuse_address = True


def run_raw():
    server = ThreadedTcpServer(("127.0.0.1", 0), RawHandler)
    print(server.server_address[1], flush=True)
    server.serve_forever()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("mode", choices=["xmlrpc", "raw"])
    parser.add_argument("--tls", nargs=2, metavar=("CERT", "KEY"))
    args = parser.parse_args()
    stop_when_orphaned()
    if args.mode == "xmlrpc":
        run_xmlrpc(args.tls)
    else:
        run_raw()


if __name__ == "__main__":
    main()
