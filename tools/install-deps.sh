#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when any is missing.
# --windows: those of the Windows cross-build and its run under wine instead.
set -euo pipefail
if [ "${1:-}" = "--windows" ]; then
  # dpkg-dev unpacks the curl and expat source packages that tools/windows-deps.sh builds.
  packages=(cmake make python3 dpkg-dev openssl g++-mingw-w64-x86-64-posix libz-mingw-w64-dev
            wine64 wine libgtest-dev libgmock-dev nlohmann-json3-dev libcli11-dev)
else
  packages=(cmake make g++ clang pkg-config python3 libcurl4-openssl-dev libssl-dev
            libexpat1-dev libsimdjson-dev libgtest-dev libgmock-dev libbenchmark-dev nlohmann-json3-dev
            libcli11-dev openssl valgrind time dpkg-dev lintian)
fi
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
if [ "$(id -u)" -ne 0 ]; then
  echo "Missing packages: ${missing[*]}" >&2
  echo "Install them with: sudo apt-get install ${missing[*]}" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
