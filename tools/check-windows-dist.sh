#!/usr/bin/env bash
# Checks a Windows install folder: every DLL and program in it imports only Windows' own DLLs
# and DLLs of the folder, and Bugzilla.dll exports exactly the names of the plug-in API.
set -euo pipefail
dist=${1:?usage: check-windows-dist.sh DIST_DIR EXPORTS_HEADER}
exports_header=${2:?usage: check-windows-dist.sh DIST_DIR EXPORTS_HEADER}
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}

# What every Windows installation has (lower case).
declare -A system_dlls
for dll in kernel32 user32 advapi32 bcrypt crypt32 ws2_32 msvcrt secur32 shell32 ole32 \
           iphlpapi normaliz wldap32 ntdll; do
  system_dlls[$dll.dll]=1
done

status=0
shopt -s nullglob nocaseglob
for binary in "$dist"/*.dll "$dist"/*.exe; do
  while read -r dll; do
    lower=$(tr '[:upper:]' '[:lower:]' <<<"$dll")
    [ -n "${system_dlls[$lower]:-}" ] && continue
    # A DLL of the folder, whatever the letter case.
    [ -n "$(find "$dist" -maxdepth 1 -iname "$dll" -print -quit)" ] && continue
    echo "check-windows-dist: $(basename "$binary") imports $dll, which is neither Windows' nor in $dist" >&2
    status=1
  done < <("$objdump" -p "$binary" | sed -n 's/^[[:space:]]*DLL Name: //p')
done

list_entries() {  # the names in one X-macro list of the header
  sed -n "/#define ISSUE_PLUGIN_$1(X)/,/^\$/p" "$exports_header" | grep -o 'X([A-Za-z_0-9]*' |
    sed 's/^X(//'
}
expected=$( (list_entries DESCRIPTORS | sed 's/^/KOVAIP_/'; list_entries FUNCTIONS) | sort)
listed=$("$objdump" -p "$dist/Bugzilla.dll" |
         sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
         sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\] \(.*\)$/\1/p' | sort)
if [ "$expected" != "$listed" ]; then
  echo "check-windows-dist: Bugzilla.dll exports differ from $exports_header:" >&2
  diff <(echo "$expected") <(echo "$listed") >&2 || true
  status=1
fi
[ "$status" -eq 0 ] && echo "check-windows-dist: $dist imports only Windows and its own DLLs; Bugzilla.dll exports the $(wc -l <<<"$listed") names"
exit "$status"
