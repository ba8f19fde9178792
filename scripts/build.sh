#!/usr/bin/env bash
# Set-up, then configure and build the given presets (default: x86_64).
# Extra cmake configure options may follow "--", e.g. build.sh x86_64 i686 -- -DUPDATER_WERROR=ON
set -euo pipefail
cd "$(dirname "$0")/.."
presets=()
while [ $# -gt 0 ] && [ "$1" != "--" ]; do presets+=("$1"); shift; done
[ $# -gt 0 ] && shift
[ ${#presets[@]} -gt 0 ] || presets=(x86_64)
bash scripts/setup.sh
for preset in "${presets[@]}"; do
  cmake --preset "$preset" "$@" >/dev/null
  cmake --build --preset "$preset"
done
