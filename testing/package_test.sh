#!/usr/bin/env bash
# Builds the Debian package from a finished build, checks its name, dependencies and file list,
# unpacks it into a scratch folder (never installing it) and runs the unpacked issue-plugin-host
# there without --plugin against the Bugzilla test server: it must load the unpacked plug-in and
# its XML-RPC library, describe it with the project version and list bugs. When lintian is
# installed, the package must also pass it without errors.
#
# Usage: testing/package_test.sh BUILD_DIR CPACK VERSION PLUGIN_DIR
#   (CTest runs it; PLUGIN_DIR is the plug-in's folder below /usr, e.g. lib/issue-plugins/bugzilla)
# Exits 0 when every check passes, 77 (skipped) when the Debian packaging tools are missing.
set -euo pipefail

if [ $# -ne 4 ]; then
  echo "usage: $0 BUILD_DIR CPACK VERSION PLUGIN_DIR" >&2
  exit 2
fi
ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "$1" && pwd)
CPACK=$2
VERSION=$3
PLUGIN_DIR=usr/$4
NAME=bugzilla-issue-plugin

for tool in dpkg-deb dpkg-shlibdeps; do
  command -v "$tool" >/dev/null || { echo "package_test: $tool is not installed; skipped"; exit 77; }
done

WORK=$(mktemp -d /tmp/package-test-XXXXXX)
# shellcheck source=test_server.sh
. "$ROOT/testing/test_server.sh"
cleanup() {
  stop_test_server
  rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
  echo "package_test: $*" >&2
  exit 1
}

# A package directory of its own, so a concurrent `make package` in the same build is unaffected.
"$CPACK" --config "$BUILD/CPackConfig.cmake" -B "$WORK/out" >"$WORK/cpack.log" 2>&1 ||
  { cat "$WORK/cpack.log" >&2; fail "cpack failed"; }
DEB="$WORK/out/${NAME}_${VERSION}_$(dpkg --print-architecture).deb"
[ -f "$DEB" ] || fail "no $(basename "$DEB") was made; cpack made: $(ls "$WORK/out")"
echo "ok    $(basename "$DEB")"

depends=$(dpkg-deb -f "$DEB" Depends)
for library in libcurl4 libexpat1 libc6 libstdc++6; do
  [[ ", $depends," == *", $library "* ]] || fail "Depends lacks $library: $depends"
done
echo "ok    Depends: $depends"

# Files only (directories left out), as paths below the root.
dpkg-deb -c "$DEB" | awk '$1 !~ /^d/ {print substr($6, 3)}' | sort >"$WORK/files"
DOC=usr/share/doc/$NAME
sort >"$WORK/expected" <<EOF
usr/bin/issue-plugin-host
usr/include/issue_plugin_api.h
$PLUGIN_DIR/libBugzilla.so
$PLUGIN_DIR/libXmlRpc.so
$DOC/BugzillaConnections.txt
$DOC/README.md
$DOC/SECURITY.md
$DOC/changelog.gz
$DOC/copyright
usr/share/man/man1/issue-plugin-host.1.gz
EOF
diff -u "$WORK/expected" "$WORK/files" >&2 || fail "the package's files differ from the expected list"
echo "ok    $(wc -l <"$WORK/files") files"

if command -v lintian >/dev/null; then
  lintian --fail-on error "$DEB" >"$WORK/lintian.log" 2>&1 ||
    { cat "$WORK/lintian.log" >&2; fail "lintian reports errors"; }
  echo "ok    lintian: no errors"
fi

UNPACKED="$WORK/root"
dpkg-deb -x "$DEB" "$UNPACKED"
HOST="$UNPACKED/usr/bin/issue-plugin-host"
PLUGIN="$UNPACKED/$PLUGIN_DIR/libBugzilla.so"
# Both must take the XML-RPC library from the unpacked folder, not from the build.
for binary in "$HOST" "$PLUGIN"; do
  loaded=$(ldd "$binary" | awk '$1 == "libXmlRpc.so" {print $3}')
  [ -n "$loaded" ] && [ "$(realpath "$loaded")" = "$(realpath "$UNPACKED/$PLUGIN_DIR/libXmlRpc.so")" ] ||
    { ldd "$binary" >&2; fail "$binary does not load the unpacked libXmlRpc.so"; }
done
echo "ok    the unpacked host and plug-in load the unpacked libXmlRpc.so"

DATA="$WORK/data"
mkdir "$DATA"
start_test_server "$DATA" package_test
write_demo_data "$DATA"

"$HOST" --data-dir "$DATA" --json describe >"$WORK/describe.json" || fail "describe failed"
"$HOST" --data-dir "$DATA" --json list --connection Demo --user alice@example.com \
  --password-file "$DATA/password" >"$WORK/list.json" || fail "list failed"
# The host names the plug-in by its own resolved location, so compare resolved paths.
python3 - "$WORK/describe.json" "$WORK/list.json" "$(realpath "$PLUGIN")" "$VERSION" <<'PYTHON'
import json
import sys

describe_file, list_file, plugin, version = sys.argv[1:]
with open(describe_file) as f:
    described = json.load(f)
with open(list_file) as f:
    listed = json.load(f)
problems = []
if described.get("path") != plugin:
    problems.append("describe names the plug-in %r, not %r" % (described.get("path"), plugin))
if described.get("version") != version:
    problems.append("the plug-in's version is %r, not %r" % (described.get("version"), version))
ids = [str(bug.get("id")) for bug in listed.get("bugs", [])]
if "1" not in ids:
    problems.append("the listing lacks bug 1: %r" % ids)
for problem in problems:
    print("package_test: " + problem, file=sys.stderr)
if not problems:
    print("ok    describe: %s, version %s; list: %d bugs" % (plugin, version, len(ids)))
sys.exit(1 if problems else 0)
PYTHON
