#!/usr/bin/env bash
# What Wine starts but Windows 7 would refuse: an import of a DLL outside the system's
# own set (MinGW's runtime, the api-ms-win-crt set of the universal C runtime) or a
# subsystem version above 6.1 in the header; and a manifest that declares no scaling.
set -euo pipefail
objdump=${1:?objdump}
bin=${2:?bin folder}
status=0
count=0
for exe in "$bin"/*.exe; do
  count=$((count + 1))
  header=$("$objdump" -p "$exe")
  while read -r dll; do
    case "${dll,,}" in
      kernel32.dll|user32.dll|gdi32.dll|advapi32.dll|shell32.dll|ws2_32.dll|version.dll|comctl32.dll|\
      msvcrt.dll|psapi.dll|urlmon.dll|ole32.dll|oleaut32.dll|msimg32.dll|wintrust.dll|crypt32.dll|\
      winhttp.dll|shlwapi.dll) ;;
      *) echo "$(basename "$exe") imports $dll"; status=1 ;;
    esac
  done < <(sed -n 's/^\s*DLL Name: //p' <<<"$header")
  read -r major minor < <(awk '/MajorSubsystemVersion/ {a = $2} /MinorSubsystemVersion/ {print a, $2}' <<<"$header")
  if [ "$major" -gt 6 ] || { [ "$major" -eq 6 ] && [ "$minor" -gt 1 ]; }; then
    echo "$(basename "$exe") needs subsystem version $major.$minor"; status=1
  fi
done
# Wine gives every program the display's scale; Windows lets the popup scale itself
# only when the manifest declares it aware of each monitor's.
for declared in '>true/pm</dpiAware>' '>PerMonitorV2, PerMonitor</dpiAwareness>'; do
  grep -qF "$declared" "$bin/Module_Client_Updater.exe" || { echo "no $declared in the manifest"; status=1; }
done
echo "checked $count executables"
[ "$count" -gt 0 ] && exit $status
