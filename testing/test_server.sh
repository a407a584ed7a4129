# Sourced by the scripts that drive issue-plugin-host against the Bugzilla test server.
# start_test_server DIR NAME: starts testing/bugzilla_server.py on a free loopback port with the
# default fixture, its output in DIR/server.out and DIR/server.log, and sets SERVER_PID and PORT;
# NAME prefixes the messages. Exits the script when the server does not come up.
# stop_test_server: stops it (safe to call twice, e.g. from an EXIT trap).

SERVER_PID=""
PORT=""

start_test_server() {
  local dir=$1 name=$2
  local script
  script="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/bugzilla_server.py"
  : >"$dir/server.out"  # exists before the server writes to it: polled below
  # --parent-pid: the server also ends by itself should the script die without its trap.
  python3 "$script" --port 0 --fixture default.json --parent-pid $$ \
    >"$dir/server.out" 2>"$dir/server.log" &
  SERVER_PID=$!
  PORT=""
  for _ in $(seq 1 100); do  # at most 10 seconds
    PORT=$(sed -n 's/^PORT \([0-9][0-9]*\)$/\1/p' "$dir/server.out")
    [ -n "$PORT" ] && return 0
    if ! kill -0 "$SERVER_PID" 2>/dev/null; then
      echo "$name: the test server did not start:" >&2
      cat "$dir/server.log" >&2
      exit 1
    fi
    sleep 0.1
  done
  echo "$name: the test server did not report its port" >&2
  exit 1
}

stop_test_server() {
  if [ -n "$SERVER_PID" ]; then
    kill "$SERVER_PID" 2>/dev/null || true
    wait "$SERVER_PID" 2>/dev/null || true
    SERVER_PID=""
  fi
}

# write_demo_data DIR: the connections file with two connections to the running test server's
# product Widgets, "Demo" over XML-RPC and "Demo REST" over the REST API, and the demo user's
# password in DIR/password, readable by this user only (a password never goes on a command line).
write_demo_data() {
  local dir=$1
  cat >"$dir/BugzillaConnections.txt" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<bugzilla_connections>
  <velloran_server>
    <ip_address>vcs.example.com</ip_address>
    <port>8081</port>
  </velloran_server>
  <connection>
    <name>Demo</name>
    <server_url>http://127.0.0.1</server_url>
    <port>$PORT</port>
    <web_service_extension>/xmlrpc.cgi</web_service_extension>
    <product>Widgets</product>
  </connection>
  <connection>
    <name>Demo REST</name>
    <server_url>http://127.0.0.1</server_url>
    <port>$PORT</port>
    <web_service>rest</web_service>
    <web_service_extension>/rest.cgi</web_service_extension>
    <product>Widgets</product>
  </connection>
</bugzilla_connections>
XML
  (umask 077 && printf '%s\n' "alice-pass-1" >"$dir/password")
}
