#!/usr/bin/env bash
# Runs the Windows test build under wine through CTest: a wine prefix of its own in the build
# folder (made once), a wine server kept up for the whole run (each test program then starts
# in a fraction of the time) and stopped at the end. Extra arguments go to ctest.
#
# wine's output goes to files, never into a pipe: its background services keep a pipe open
# and the command would never end.
set -euo pipefail
build=$(cd "${1:?usage: test-windows.sh BUILD_DIR [ctest arguments]}" && pwd)
shift
export WINEPREFIX=$build/wine WINEDEBUG=-all
# No .NET or HTML engine: nothing here needs them, and their installers would ask.
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "test-windows: making the wine prefix $WINEPREFIX"
  wineboot --init >"$build/wineboot.log" 2>&1 </dev/null
  wineserver -w  # the registry is on disk once the server has ended
fi
wineserver -p </dev/null >"$build/wineserver.log" 2>&1
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
# wine's services start with the first program and inherit its output: let that be a file,
# so that CTest can read the tests' output through pipes.
wine cmd.exe /c exit 0 </dev/null >"$build/wine-services.log" 2>&1
cd "$build"
ctest --output-on-failure "$@"
