#!/usr/bin/env bash
# A per-machine installation its user cannot write: DIR holding the updater and A's
# main program of 1.2.3.4 that requires signed answers, bind-mounted read-only over
# itself. Only inside the test run's private mount namespace (scripts/run-ctest.sh),
# where the Wine server runs too: a server outside it would still write through the
# mount.
# Usage: read-only-install.sh mount DIR BIN | unmount DIR
set -euo pipefail
dir=${2:?directory}
[ "${UPDATER_PRIVATE_MOUNTS:-}" = 1 ] || { echo "not in the test run's private mount namespace" >&2; exit 1; }
case "$1" in
mount)
  mountpoint -q "$dir" && umount "$dir"
  rm -rf "$dir" && mkdir -p "$dir"
  cp "${3:?bin}/Module_Client_Updater.exe" "$dir/"
  cp "$3/signed/vrequires.exe" "$dir/Vantorel.exe"
  mount --bind "$dir" "$dir"
  mount -o remount,bind,ro "$dir"
  ! touch "$dir/probe" 2>/dev/null
  ;;
unmount) ! mountpoint -q "$dir" || umount "$dir" ;;
esac
