#!/usr/bin/env bash
# Runs issue-plugin-host under valgrind for every command against the Bugzilla test server:
# nothing the plug-in hands out may stay unreleased, and no invalid read or write may happen,
# on success paths and on reported failures alike. Prints one line per command and a summary.
#
# Usage: testing/valgrind_host.sh BUILD_DIR   (a build without sanitizers; `make valgrind`)
# Exits 0 when every command ran clean with its expected exit status, 1 otherwise.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 BUILD_DIR" >&2
  exit 2
fi
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "$1" && pwd)
HOST="$BUILD/bin/issue-plugin-host"
command -v valgrind >/dev/null || { echo "valgrind_host: valgrind is not installed" >&2; exit 1; }
[ -x "$HOST" ] || { echo "valgrind_host: $HOST is missing; build it first" >&2; exit 1; }

WORK=$(mktemp -d /tmp/valgrind-host-XXXXXX)
# shellcheck source=test_server.sh
. "$ROOT/testing/test_server.sh"
cleanup() {
  stop_test_server
  rm -rf "$WORK"
}
trap cleanup EXIT
start_test_server "$WORK" valgrind_host

connection() {  # NAME URI PRODUCT
  cat <<EOF
  <connection>
    <name>$1</name>
    <server_url>http://127.0.0.1</server_url>
    <port>$PORT</port>
    <web_service_extension>$2</web_service_extension>
    <product>$3</product>
  </connection>
EOF
}
{
  echo "<bugzilla_connections>"
  echo "  <velloran_server><ip_address>vcs.example.com</ip_address><port>8081</port></velloran_server>"
  connection Demo /xmlrpc.cgi Widgets
  connection WrongPath /xmlrpc.php Widgets
  echo "</bugzilla_connections>"
} >"$WORK/BugzillaConnections.txt"
(umask 077 && printf '%s\n' "alice-pass-1" >"$WORK/password")
printf '%s\n' "wrong-pass" >"$WORK/wrong-password"

USER_ARGS=(--user alice@example.com --password-file "$WORK/password")
FILES=(--file Main:Main:widgets:src/frobnicator.c:12 --file Main:Main:widgets:src/frobnicator.h:5)

RUNS=0
FAILED=0
ERRORS=0
LOST=0
# Runs one command (expected exit status first) under valgrind and adds up what it found.
check() {
  local expected=$1
  shift
  RUNS=$((RUNS + 1))
  local log="$WORK/valgrind-$RUNS.log" status=0
  valgrind --leak-check=full --errors-for-leak-kinds=definite,indirect \
    --error-exitcode=3 --log-file="$log" \
    "$HOST" --data-dir "$WORK" "$@" >"$WORK/out" 2>"$WORK/err" || status=$?
  local errors lost
  errors=$(sed -n 's/.*ERROR SUMMARY: \([0-9,]*\) errors.*/\1/p' "$log" | tr -d , | tail -1)
  lost=$(sed -n 's/.*definitely lost: \([0-9,]*\) bytes.*/\1/p' "$log" | tr -d , | tail -1)
  lost=${lost:-0}  # no leak summary: every block was freed
  [ -n "$errors" ] || errors=1  # no summary at all: valgrind itself failed
  ERRORS=$((ERRORS + errors))
  LOST=$((LOST + lost))
  if [ "$status" -ne "$expected" ] || [ "$errors" -ne 0 ]; then
    FAILED=$((FAILED + 1))
    echo "FAIL  exit $status (expected $expected), $errors errors: $*"
    grep -v '^==[0-9]*== *$' "$log" | head -80
    cat "$WORK/err"
  else
    echo "ok    exit $status: $*"
  fi
}

check 0 describe
check 0 connections
check 0 filters --json
check 0 list --connection Demo "${USER_ARGS[@]}"
check 0 list --connection Demo "${USER_ARGS[@]}" --filter "Created By Me" --json
check 0 show --connection Demo "${USER_ARGS[@]}" 4 --json
check 1 show --connection Demo "${USER_ARGS[@]}" 999999
check 1 list --connection Demo --user alice@example.com --password-file "$WORK/wrong-password"
check 0 workflow
check 0 validate --hours 2.5 --comment fixed
check 1 validate --hours 120000 --comment fixed --json
check 0 attach "${USER_ARGS[@]}" --hours 1 --comment fixed --bug Demo:1 --bug Demo:26 "${FILES[@]}"
check 1 attach "${USER_ARGS[@]}" --comment fixed --bug Demo:1 --bug Demo:999999 "${FILES[@]}" --json
check 0 doctor --connection Demo "${USER_ARGS[@]}"
check 1 doctor --connection WrongPath --json
check 1 doctor --connection Nowhere
check 2 list --connection Demo

echo "valgrind: $RUNS commands, $FAILED failed, $ERRORS errors, $LOST bytes definitely lost"
[ "$FAILED" -eq 0 ]
