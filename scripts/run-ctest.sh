#!/usr/bin/env bash
# Runs ctest for a built tree under Wine; expects a display (see test.sh).
set -euo pipefail
# A mount namespace of the run's own, for the read-only installation the tests mount.
if [ -z "${UPDATER_PRIVATE_MOUNTS:-}" ]; then
  export UPDATER_PRIVATE_MOUNTS=1
  exec unshare -m --propagation private bash "$0" "$@"
fi
build_dir=$(cd "${1:?build directory}" && pwd)
shift
here=$(cd "$(dirname "$0")" && pwd)
. "$here/wine-env.sh" "$build_dir"
wine_prefix_ready
wine_start
trap wine_stop EXIT
cd "$build_dir"
status=0
ctest --output-on-failure "$@" || status=$?
exit $status
