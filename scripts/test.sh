#!/usr/bin/env bash
# The whole test suite from a fresh Debian machine: set-up, both builds, ctest of each
# under Wine (64-bit, then 32-bit) on a virtual display. Extra arguments go to ctest
# (for example -R http).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/build.sh x86_64 i686 -- -DUPDATER_WERROR=ON

clang-format --dry-run --Werror $(git ls-files '*.cpp' '*.h') 2>&1 | head -40
for build in x86_64 i686; do
  echo "== tests of the $build build"
  xvfb-run -a -s "-screen 0 1280x1024x24" bash scripts/run-ctest.sh "build/$build" "$@"
done
