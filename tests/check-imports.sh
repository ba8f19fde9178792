#!/usr/bin/env bash
# What Wine starts but Windows 7 would refuse: an import of a DLL outside the system's
# own set (MinGW's runtime, the api-ms-win-crt set of the universal C runtime) or a
# subsystem version above 6.1 in the header; and a manifest that declares no scaling.
set -euo pipefail
objdump=${1:?objdump}
bin=${2:?bin folder}
system='kernel32|user32|gdi32|advapi32|shell32|ws2_32|version|comctl32|msvcrt|psapi|urlmon|ole32|oleaut32|msimg32'
system+='|wintrust|crypt32|winhttp|shlwapi'
status=0
count=0
for exe in "$bin"/*.exe; do
  count=$((count + 1))
  header=$("$objdump" -p "$exe")
  for dll in $(sed -n 's/^\s*DLL Name: //p' <<<"$header" | grep -viE "^($system)\.dll$"); do
    echo "$(basename "$exe") imports $dll"
    status=1
  done
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
