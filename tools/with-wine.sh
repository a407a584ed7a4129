#!/usr/bin/env bash
# Runs a command with wine ready for the Windows build in BUILD_DIR: a wine prefix of its own
# in the build folder (made once), a wine server kept up for the whole command (each Windows
# program then starts in a fraction of the time) and stopped at the end.
#
#   tools/with-wine.sh BUILD_DIR COMMAND [ARGUMENTS...]
#
# wine's output goes to files, never into a pipe: its background services keep a pipe open
# and the command would never end. They are started here, so that the programs the command
# runs may write into pipes.
set -euo pipefail
build=$(cd "${1:?usage: with-wine.sh BUILD_DIR COMMAND [ARGUMENTS...]}" && pwd)
shift
export WINEPREFIX=$build/wine WINEDEBUG=-all
# No .NET or HTML engine: nothing here needs them, and their installers would ask.
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  echo "with-wine: making the wine prefix $WINEPREFIX"
  wineboot --init >"$build/wineboot.log" 2>&1 </dev/null
  wineserver -w  # the registry is on disk once the server has ended
fi
wineserver -p </dev/null >"$build/wineserver.log" 2>&1
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
wine cmd.exe /c exit 0 </dev/null >"$build/wine-services.log" 2>&1
"$@"
