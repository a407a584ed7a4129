#!/usr/bin/env bash
# Builds libcurl (Schannel, zlib), expat and simdjson for 64-bit Windows, static, from Debian's own
# source packages, into a prefix outside the source tree, and prints that prefix. The prefix is
# named after the package versions and this script's own text, so a second run reuses it until
# Debian updates a package or the recipe here changes.
#
# The sources come through a private deb-src list: the machine's apt configuration and lists
# stay as they are.
set -euo pipefail

suite=${BUGZILLA_WINDOWS_SUITE:-bookworm}
cache=${BUGZILLA_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/bugzilla-plugin-windows}
toolchain=$(cd "$(dirname "$0")/.." && pwd)/cmake/mingw-w64-x86_64.cmake
jobs=${JOBS:-$(nproc)}

apt_dir=$cache/apt
mkdir -p "$apt_dir/sources" "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
cat >"$apt_dir/sources/deb-src.sources" <<SOURCES
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: $suite
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
apt_options=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$apt_dir/sources"
             -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
             -o Debug::NoLocking=1 -o APT::Sandbox::User=root)

log() { echo "windows-deps: $*" >&2; }

# The source index: refreshed when older than a day, so that repeated builds work offline.
stamp=$apt_dir/lists/.updated
if [ -z "$(find "$stamp" -mmin -1440 2>/dev/null)" ]; then
  log "reading Debian's source index ($suite)"
  apt-get "${apt_options[@]}" -qq update >&2
  touch "$stamp"
fi

source_version() {
  apt-cache "${apt_options[@]}" showsrc "$1" 2>/dev/null | awk '/^Version:/ { print $2; exit }'
}
curl_version=$(source_version curl)
expat_version=$(source_version expat)
simdjson_version=$(source_version simdjson)
if [ -z "$curl_version" ] || [ -z "$expat_version" ] || [ -z "$simdjson_version" ]; then
  log "curl, expat or simdjson is missing from Debian's $suite source index"
  exit 1
fi

recipe=$(sha256sum "$0" | cut -c1-8)
prefix=$cache/curl-${curl_version}_expat-${expat_version}_simdjson-${simdjson_version}_${recipe}
if [ -f "$prefix/.complete" ]; then
  echo "$prefix"
  exit 0
fi

work=$cache/work
rm -rf "$work" "$prefix"
mkdir -p "$work"
cd "$work"
log "fetching curl $curl_version, expat $expat_version and simdjson $simdjson_version"
apt-get "${apt_options[@]}" -qq source "curl=$curl_version" "expat=$expat_version" \
  "simdjson=$simdjson_version" >&2

cmake_common=(-G "Unix Makefiles" -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$toolchain"
              -DBUGZILLA_WINDOWS_PREFIX="$prefix" -DCMAKE_INSTALL_PREFIX="$prefix"
              -DBUILD_SHARED_LIBS=OFF)

expat_source=$(find "$work" -maxdepth 1 -type d -name 'expat-*' | head -n 1)/expat
# Debian's patches take XML_DTD to be defined as 1, which CMake's template leaves empty.
sed -i 's/^#cmakedefine XML_DTD$/#cmakedefine XML_DTD 1/' "$expat_source/expat_config.h.cmake"
log "building expat"
cmake -S "$expat_source" -B "$work/expat-build" "${cmake_common[@]}" \
  -DEXPAT_SHARED_LIBS=OFF -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF \
  -DEXPAT_BUILD_TESTS=OFF -DEXPAT_BUILD_DOCS=OFF -DEXPAT_BUILD_FUZZERS=OFF >&2
cmake --build "$work/expat-build" -j "$jobs" --target install >&2

curl_source=$(find "$work" -maxdepth 1 -type d -name 'curl-*' | head -n 1)
# ENABLE_UNICODE: file names (the CA file) are UTF-8 and opened through the wide calls.
log "building curl"
cmake -S "$curl_source" -B "$work/curl-build" "${cmake_common[@]}" \
  -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_ZLIB=ON -DZLIB_USE_STATIC_LIBS=ON \
  -DHTTP_ONLY=ON -DCURL_DISABLE_LDAP=ON -DCURL_DISABLE_LDAPS=ON -DENABLE_UNIX_SOCKETS=OFF \
  -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBSSH=OFF -DUSE_NGHTTP2=OFF -DUSE_NGTCP2=OFF \
  -DUSE_QUICHE=OFF -DUSE_LIBIDN2=OFF -DUSE_WIN32_IDN=OFF -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF \
  -DCURL_USE_GSSAPI=OFF -DENABLE_MANUAL=OFF -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF \
  -DENABLE_UNICODE=ON \
  -DCURL_CA_PATH=none -DCURL_CA_BUNDLE=none >&2
cmake --build "$work/curl-build" -j "$jobs" --target install >&2

simdjson_source=$(find "$work" -maxdepth 1 -type d -name 'simdjson-*' | head -n 1)
log "building simdjson"
cmake -S "$simdjson_source" -B "$work/simdjson-build" "${cmake_common[@]}" \
  -DSIMDJSON_DEVELOPER_MODE=OFF -DSIMDJSON_ENABLE_THREADS=OFF >&2
cmake --build "$work/simdjson-build" -j "$jobs" --target install >&2

rm -rf "$work"
touch "$prefix/.complete"
echo "$prefix"
