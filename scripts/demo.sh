#!/usr/bin/env bash
# A real update, as a user sees it. A private nginx on 127.0.0.1:80 plays the vendor's
# update server: a main program of 1.2.3.4 is offered a package that installs 1.2.4.0,
# a current one hears "latest". Module_Client_Updater.exe is installed beside a
# Vantorel.exe of 1.2.3.4 and run twice on the user's display (a virtual one if there
# is none): the first run updates, the second finds nothing to do. Screenshots of each
# step go to build/x86_64/demo/screenshots/. Only the build tree is touched (its own
# Wine prefix, folders and nginx); the registry value is removed afterwards.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

# The two runs, on a display: called again by this script with --inside.
run_demo() {
  set -euo pipefail
  . scripts/wine-env.sh "$build"
  wine_prefix_ready
  wine_start
  local tool="$build/bin/demo_tool.exe" key='HKCU\Software\Vantorel\Vantorel\Settings'
  wine reg add "$key" /v UpdateSvrUrl /d "http://127.0.0.1/download/update_info.php" /f >/dev/null 2>&1
  n=0
  shot() { n=$((n + 1)); wine "$tool" shot "$(printf '%s/%02d-%s.bmp' "$shots" "$n" "$1")" >/dev/null 2>&1 || true; }
  running() { pgrep -f Module_Client_Updater_BAK >/dev/null; }
  for run in 1 2; do
    echo "run $run: installed Vantorel.exe is $(wine "$tool" version "$app/Vantorel.exe" | tr -d '\r')"
    wine "$app/Module_Client_Updater.exe" >/dev/null 2>&1 &
    # The popup slides in for every status; a picture each time it is fully shown.
    for _ in $(seq 30); do
      sleep 0.5
      shot "run$run"
      [ "$run" = 1 ] && [ ! -e "$app/update_files" ] && [ -e "$app/Vantorel.exe" ] && \
        [ "$(wine "$tool" version "$app/Vantorel.exe" | tr -d '\r')" = 1.2.4.0 ] && break
      [ "$run" = 2 ] && [ "$n" -ge 4 ] && break
    done
    sleep 1.5
    shot "run$run-end"
    wine "$tool" cancel >/dev/null 2>&1 || true
    for _ in $(seq 50); do running || break; sleep 0.1; done
    wait
    echo "run $run: installed Vantorel.exe is now $(wine "$tool" version "$app/Vantorel.exe" | tr -d '\r')"
  done
  wine reg delete "$key" /v UpdateSvrUrl /f >/dev/null 2>&1
  wine_stop
}
if [ "${1:-}" = --inside ]; then
  run_demo
  exit
fi

bash scripts/build.sh x86_64

build=$root/build/x86_64
demo=$build/demo
server=$demo/server
app=$demo/app
shots=$demo/screenshots
rm -rf "$app" "$shots" "$server/www"
mkdir -p "$app" "$shots" "$server/www/download"
cp "$build/bin/Module_Client_Updater.exe" "$app/"
cp "$build/bin/fake_1_2_3_4.exe" "$app/Vantorel.exe"
cp "$build/bin/demo_package.exe" "$server/www/download/vantorel_patch_1.2.4.exe"
printf 'Vantorel update server\nnewest 1.2.4\n\nupdate_files:\nhttp://127.0.0.1/download/vantorel_patch_1.2.4.exe\n' \
  > "$server/www/download/info_1.2.3.txt"
printf 'Vantorel update server\nnewest 1.2.4\n\nlatest\n' > "$server/www/download/info_latest.txt"
cat > "$server/site.conf" <<'CONF'
location = /download/update_info.php {
    types { } default_type text/plain;
    if ($arg_v = "01020003") { rewrite ^ /download/info_1.2.3.txt last; }
    rewrite ^ /download/info_latest.txt last;
}
# Slow enough for the progress bar to be seen.
location = /download/vantorel_patch_1.2.4.exe { limit_rate 200k; }
CONF
: > "$server/access.log"
bash scripts/nginx.sh start "$server"
trap 'bash scripts/nginx.sh stop "$server"' EXIT

export build app shots
if [ -n "${DISPLAY:-}" ] && xset q >/dev/null 2>&1; then
  bash "$0" --inside
else
  xvfb-run -a -s "-screen 0 1280x1024x24" bash "$0" --inside
fi 2>&1 | grep -v setlocale

echo "requests the server answered:"
sed 's/^/  /' "$server/access.log"
echo "left in the installation folder: $(ls "$app" | tr '\n' ' ')"
python3 scripts/bmp2png.py "$shots"/*.bmp && rm -f "$shots"/*.bmp
# Keep one picture of each distinct screen.
python3 - "$shots" <<'PY'
import hashlib, os, sys
seen = set()
for name in sorted(os.listdir(sys.argv[1])):
    path = os.path.join(sys.argv[1], name)
    digest = hashlib.sha1(open(path, "rb").read()).hexdigest()
    if digest in seen:
        os.remove(path)
    seen.add(digest)
PY
echo "screenshots: $(ls "$shots" | wc -l) in $shots"
