#!/usr/bin/env python3
"""Starts the tests' python helpers on this machine for test programs that cannot start them
themselves: the Windows test builds, which run under wine.

  process_launcher.py start --state-dir DIR   starts the launcher in the background and waits
                                              until DIR/launcher.port names its port
  process_launcher.py stop --state-dir DIR    stops it and every helper it started

The launcher answers XML-RPC on 127.0.0.1 at the path /launcher:
  start(script, arguments, startup_seconds) -> {"id": int, "line": text}
      runs `python3 script arguments...` (a script of this source tree only) and returns the
      first line it prints, as the helpers announce their port
  stop(id) -> true           closes the helper's standard input, then ends it
  refused_port() -> int      a loopback port that nothing listens on
It ends by itself after an hour without requests, should nobody stop it.
"""
import argparse
import os
import signal
import socket
import socketserver
import subprocess
import sys
import threading
import time
import xmlrpc.server

ROOT = os.path.dirname(os.path.dirname(os.path.realpath(__file__)))
IDLE_SECONDS = 3600
STOP_SECONDS = 5


class Launcher:
    def __init__(self):
        self.lock = threading.Lock()
        self.children = {}
        self.next_id = 1
        self.last_request = time.monotonic()

    def touch(self):
        self.last_request = time.monotonic()

    def start(self, script, arguments, startup_seconds):
        self.touch()
        script = os.path.realpath(script)
        if not script.startswith(ROOT + os.sep) or not script.endswith(".py"):
            raise ValueError("only the python scripts of %s can be started" % ROOT)
        process = subprocess.Popen([sys.executable, "-B", script] + [str(a) for a in arguments],
                                   stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        line = read_first_line(process, float(startup_seconds))
        if line is None:
            end(process)
            raise RuntimeError("%s printed no first line within %s seconds (exit status %s; "
                               "its errors are in launcher.log)"
                               % (os.path.basename(script), startup_seconds, process.returncode))
        # Whatever it prints later must not fill the pipe and block it.
        threading.Thread(target=process.stdout.read, daemon=True).start()
        with self.lock:
            child_id = self.next_id
            self.next_id += 1
            self.children[child_id] = process
        return {"id": child_id, "line": line}

    def stop(self, child_id):
        self.touch()
        with self.lock:
            process = self.children.pop(child_id, None)
        if process is not None:
            end(process)
        return True

    def refused_port(self):
        self.touch()
        with socket.socket(socket.AF_INET, socket.SOCK_STREAM) as probe:
            probe.bind(("127.0.0.1", 0))
            return probe.getsockname()[1]

    def stop_all(self):
        with self.lock:
            children = list(self.children.values())
            self.children.clear()
        for process in children:
            end(process)


def read_first_line(process, seconds):
    found = []
    reader = threading.Thread(target=lambda: found.append(process.stdout.readline()), daemon=True)
    reader.start()
    reader.join(seconds)
    if not found or not found[0]:
        return None
    return found[0].decode("utf-8", "replace").rstrip("\r\n")


def end(process):
    try:
        process.stdin.close()
    except OSError:
        pass
    if process.poll() is None:
        process.terminate()
    try:
        process.wait(STOP_SECONDS)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


class Handler(xmlrpc.server.SimpleXMLRPCRequestHandler):
    rpc_paths = ("/launcher",)

    def log_message(self, format, *args):  # quiet: the tests report what matters
        pass


class Server(socketserver.ThreadingMixIn, xmlrpc.server.SimpleXMLRPCServer):
    daemon_threads = True


def serve(state_dir):
    launcher = Launcher()
    server = Server(("127.0.0.1", 0), requestHandler=Handler, allow_none=True, logRequests=False)
    server.register_function(launcher.start, "start")
    server.register_function(launcher.stop, "stop")
    server.register_function(launcher.refused_port, "refused_port")

    def shut_down(*_):
        launcher.stop_all()
        os._exit(0)

    signal.signal(signal.SIGTERM, shut_down)
    signal.signal(signal.SIGINT, shut_down)

    def exit_when_idle():
        while True:
            time.sleep(30)
            if time.monotonic() - launcher.last_request > IDLE_SECONDS:
                shut_down()

    threading.Thread(target=exit_when_idle, daemon=True).start()
    write_atomically(os.path.join(state_dir, "launcher.pid"), "%d\n" % os.getpid())
    write_atomically(os.path.join(state_dir, "launcher.port"), "%d\n" % server.server_address[1])
    server.serve_forever()


def write_atomically(path, text):
    with open(path + ".new", "w") as out:
        out.write(text)
    os.replace(path + ".new", path)


def start(state_dir):
    stop(state_dir)
    os.makedirs(state_dir, exist_ok=True)
    with open(os.path.join(state_dir, "launcher.log"), "ab") as log:
        process = subprocess.Popen([sys.executable, "-B", os.path.realpath(__file__), "serve",
                                    "--state-dir", state_dir],
                                   stdin=subprocess.DEVNULL, stdout=log, stderr=log,
                                   start_new_session=True)
    port_file = os.path.join(state_dir, "launcher.port")
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        if os.path.exists(port_file):
            return 0
        if process.poll() is not None:
            break
        time.sleep(0.05)
    sys.stderr.write("process launcher did not start; see %s/launcher.log\n" % state_dir)
    return 1


def stop(state_dir):
    pid_file = os.path.join(state_dir, "launcher.pid")
    try:
        with open(pid_file) as text:
            pid = int(text.read())
    except (OSError, ValueError):
        return 0
    for name in ("launcher.port", "launcher.pid"):
        try:
            os.remove(os.path.join(state_dir, name))
        except OSError:
            pass
    try:
        os.kill(pid, signal.SIGTERM)
    except OSError:
        return 0
    deadline = time.monotonic() + STOP_SECONDS * 2
    while time.monotonic() < deadline:
        try:
            os.kill(pid, 0)
        except OSError:
            return 0
        time.sleep(0.05)
    os.kill(pid, signal.SIGKILL)
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("command", choices=["start", "stop", "serve"])
    parser.add_argument("--state-dir", required=True)
    args = parser.parse_args()
    state_dir = os.path.realpath(args.state_dir)
    if args.command == "serve":
        serve(state_dir)
        return 0
    return start(state_dir) if args.command == "start" else stop(state_dir)


if __name__ == "__main__":
    sys.exit(main())
