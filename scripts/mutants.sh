#!/usr/bin/env bash
# Deliberate breakages of the product (listed in scripts/mutants.py), each applied to
# a scratch copy of the tree, built, and run against the tests that should catch it.
# Prints one line per breakage and a summary; exits non-zero if any survived.
# Not part of the test run. Usage: bash scripts/mutants.sh [PART-OF-NAME[,PART-OF-NAME...]]
# Runs in private network and mount namespaces, so it may go on beside a normal test run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/setup.sh >/dev/null

work=$root/build/mutants
src=$work/src
build=$work/build
# The working tree as it is, committed or not. Only files whose content differs are
# copied, so the kept build rebuilds what changed, a breakage left behind by an
# interrupted run included.
mkdir -p "$src"
git ls-files -z --cached --others --exclude-standard | while IFS= read -r -d '' f; do
  if [ -f "$f" ] && ! cmp -s "$f" "$src/$f"; then
    mkdir -p "$src/$(dirname "$f")"
    cp "$f" "$src/$f"
  fi
done
cmake -S "$src" -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-x86_64.cmake" \
  -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" >/dev/null
log=$work/mutants.log
: > "$log"
: > "$log.json"

UPDATER_PRIVATE_MOUNTS=1 unshare -n -m --propagation private bash -c '
  set -euo pipefail
  ip link set lo up
  exec xvfb-run -a -s "-screen 0 1280x1024x24" bash -c "
    set -euo pipefail
    . \"$0/scripts/wine-env.sh\" \"$2\"
    wine_prefix_ready
    wine_start
    trap wine_stop EXIT
    cd \"$2\"
    ctest --output-on-failure --timeout 120 >>\"$3\" 2>&1 || { echo \"the unbroken tree fails its tests: see $3\"; exit 2; }
    python3 \"$0/scripts/mutants.py\" \"$1\" \"$2\" \"$3\" \"$4\"
  "
' "$root" "$src" "$build" "$log" "${1:-}"
