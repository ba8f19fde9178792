#!/usr/bin/env bash
# The whole test suite from a fresh Debian machine: set-up, both builds, ctest under
# Wine on a virtual display. Extra arguments go to ctest (for example -R http).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/build.sh x86_64 i686 -- -DUPDATER_WERROR=ON

clang-format --dry-run --Werror $(git ls-files '*.cpp' '*.h') 2>&1 | head -40
xvfb-run -a -s "-screen 0 1280x1024x24" bash scripts/run-ctest.sh build/x86_64 "$@"
