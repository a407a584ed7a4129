#!/usr/bin/env bash
# The main job end to end, without a version-control server: starts the Bugzilla test server
# on loopback, writes a data directory (.demo/) pointing at it, and walks issue-plugin-host
# through describe, connections, filters, doctor, the demo user's bugs, one bug's details, the
# fix workflow with a failing and a passing validation, and a check-in of three files attached
# to two bugs; then doctor, the bugs, a bug and a check-in once more over the REST API. It ends with the test server's own record of the two new comments, which the
# plug-in cannot show (it only ever reads a bug's first comment).
#
# Usage: testing/demo.sh BUILD_DIR     (what `make demo` runs)
# Exits non-zero when any step does not end as expected; stops the server in every case.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "$1" 2>/dev/null && pwd) || {
  echo "demo: no build directory $1; build first (make build)" >&2
  exit 1
}
HOST="$BUILD/bin/issue-plugin-host"
RUNNER=()
if [ -f "$HOST.exe" ]; then  # a Windows build (make demo-windows): the host runs under wine
  HOST="$HOST.exe"
  RUNNER=(wine)
fi
DATA="$ROOT/.demo"
DEMO_USER="alice@example.com"
BUGS=(1 26)
REST_BUG=7

if [ ! -f "$HOST" ]; then
  echo "demo: $HOST is missing; build it first (make build)" >&2
  exit 1
fi

# A fresh data directory on every run, so that a second run starts like the first.
rm -rf "$DATA"
mkdir -p "$DATA"

# shellcheck source=test_server.sh
. "$ROOT/testing/test_server.sh"
trap stop_test_server EXIT
start_test_server "$DATA" demo

write_demo_data "$DATA"

# A word as a shell would need it typed: single quotes when it holds anything unusual.
shell_word() {
  if [[ "$1" =~ ^[A-Za-z0-9_@%+=:,./-]+$ ]]; then
    printf '%s' "$1"
  else
    printf "'%s'" "${1//\'/\'\\\'\'}"
  fi
}

# Runs one step and checks its exit status (0 unless given as the first argument).
STEP=0
step() {
  local expected=0
  if [[ "$1" =~ ^[0-9]+$ ]]; then
    expected=$1
    shift
  fi
  STEP=$((STEP + 1))
  echo
  # The command as one would type it, quoted where needed, with .demo for the data directory.
  local shown="" arg
  for arg in "$@"; do shown+=" $(shell_word "${arg//$DATA/.demo}")"; done
  echo "== $STEP. issue-plugin-host --data-dir .demo$shown"
  local status=0
  "${RUNNER[@]}" "$HOST" --data-dir "$DATA" "$@" || status=$?
  if [ "$status" -ne "$expected" ]; then
    echo "demo: step $STEP ended with exit status $status, expected $expected" >&2
    exit 1
  fi
  if [ "$expected" -ne 0 ]; then
    echo "(exit status $status, as expected)"
  fi
}

PASSWORD=(--password-file "$DATA/password")
echo "Bugzilla test server on 127.0.0.1:$PORT; data directory .demo/"

step describe
step connections
step filters
step doctor --connection Demo --user "$DEMO_USER" "${PASSWORD[@]}"
step list --connection Demo --user "$DEMO_USER" "${PASSWORD[@]}"
step show --connection Demo --user "$DEMO_USER" "${PASSWORD[@]}" 4
step workflow
FIX_COMMENT="Frobnicator start-up: check the configuration first, close files on error paths"
step 1 validate --hours 120000 --comment "$FIX_COMMENT"
step validate --hours 2.5 --comment "$FIX_COMMENT"
step attach --user "$DEMO_USER" "${PASSWORD[@]}" \
  --hours 2.5 --comment "$FIX_COMMENT" \
  --bug "Demo:${BUGS[0]}" --bug "Demo:${BUGS[1]}" \
  --file "Main:Main:widgets:src/frobnicator.c:12" \
  --file "Main:Main:widgets:src/frobnicator.h:5" \
  --file "Main:Main:widgets:docs/CHANGES.txt:31"

# The same job over Bugzilla's REST API, as a server without XML-RPC (bugzilla.mozilla.org,
# or one whose administrator turned XML-RPC off) is reached.
echo
echo "== The same over the REST API: connection \"Demo REST\" (web_service rest, /rest.cgi)"
step doctor --connection "Demo REST" --user "$DEMO_USER" "${PASSWORD[@]}"
step list --connection "Demo REST" --user "$DEMO_USER" "${PASSWORD[@]}"
step show --connection "Demo REST" --user "$DEMO_USER" "${PASSWORD[@]}" 4
step attach --user "$DEMO_USER" "${PASSWORD[@]}" \
  --bug "Demo REST:${REST_BUG}" --file "Main:Main:widgets:src/frobnicator.c:13"

echo
echo "== The test server's own record: the comments added to bugs ${BUGS[*]} and $REST_BUG"
# Each bug with the kova:// links its one new comment must hold.
python3 - "$PORT" "${BUGS[0]}:3" "${BUGS[1]}:3" "$REST_BUG:1" <<'EOF'
import sys
import xmlrpc.client

port = int(sys.argv[1])
expected = [tuple(int(n) for n in arg.split(":")) for arg in sys.argv[2:]]
control = xmlrpc.client.ServerProxy("http://127.0.0.1:%d/control" % port)
failed = False
for bug_id, wanted_links in expected:
    bug = control.control.bug(bug_id)
    added = [c for c in bug["comments"] if c.get("added")]
    print("\nBug %d: %s" % (bug["id"], bug["summary"]))
    for comment in added:
        hours = ", %g hours worked" % comment["work_time"] if comment["work_time"] else ""
        print("--- new comment by %s%s" % (comment["creator"], hours))
        print(comment["text"])
    links = sum(line.startswith("kova://") for c in added for line in c["text"].splitlines())
    if len(added) != 1 or links != wanted_links:
        print("demo: bug %d has %d new comments with %d kova:// links; expected 1 with %d"
              % (bug_id, len(added), links, wanted_links), file=sys.stderr)
        failed = True
sys.exit(1 if failed else 0)
EOF

stop_test_server
echo
echo "Demo finished: every step ended as expected; the test server is stopped."
