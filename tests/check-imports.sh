#!/usr/bin/env bash
# Every shipped or test executable must run without MinGW's runtime DLLs: it may
# import system DLLs only.
set -euo pipefail
objdump=${1:?objdump}
bin=${2:?bin folder}
status=0
count=0
for exe in "$bin"/*.exe; do
  count=$((count + 1))
  while read -r dll; do
    case "${dll,,}" in
      kernel32.dll|user32.dll|gdi32.dll|advapi32.dll|shell32.dll|ws2_32.dll|version.dll|comctl32.dll|\
      msvcrt.dll|psapi.dll|urlmon.dll|ole32.dll|oleaut32.dll|msimg32.dll|wintrust.dll|crypt32.dll|\
      winhttp.dll|shlwapi.dll|\
      api-ms-win-*) ;;
      *) echo "$(basename "$exe") imports $dll"; status=1 ;;
    esac
  done < <("$objdump" -p "$exe" | sed -n 's/^\s*DLL Name: //p')
done
echo "checked $count executables"
[ "$count" -gt 0 ] && exit $status
