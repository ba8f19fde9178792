#!/usr/bin/env bash
# A local demo update: a private nginx on 127.0.0.1:80 serves an update-info file
# and one package; an installation folder holds a main program of version 1.2.3.4;
# the engine runs one whole update there and prints every status message. Only the
# build tree is touched (its own Wine prefix, folders and nginx).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/build.sh x86_64

build=$root/build/x86_64
demo=$build/demo
server=$demo/server
app=$demo/app
rm -rf "$app"
mkdir -p "$app" "$server/www/download"
cp "$build/bin/update_demo.exe" "$app/Module_Client_Updater_BAK.exe"
cp "$build/bin/fake_1_2_3_4.exe" "$app/Vantorel.exe"
cp "$build/bin/fake_noversion.exe" "$server/www/download/vantorel_patch_1.2.4.exe"
printf 'Vantorel update server\nnewest 1.2.4\n\nupdate_files:\nhttp://127.0.0.1/download/vantorel_patch_1.2.4.exe\n' \
  > "$server/www/download/update_info.php"

bash scripts/nginx.sh start "$server"
trap 'bash scripts/nginx.sh stop "$server"' EXIT

xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  set -e
  . scripts/wine-env.sh "'"$build"'"
  wine_prefix_ready
  wine_start
  key="HKCU\\Software\\Vantorel\\Vantorel\\Settings"
  wine reg add "$key" /v UpdateSvrUrl /d "http://127.0.0.1/download/update_info.php" /f >/dev/null 2>&1
  app_win="Z:$(echo "'"$app"'" | tr / \\\\)"
  export PACKAGE_LOG="$app_win\\installed.log"
  rc=0
  wine "'"$app"'/Module_Client_Updater_BAK.exe" || rc=$?
  wine reg delete "$key" /v UpdateSvrUrl /f >/dev/null 2>&1
  wine_stop
  exit $rc
' 2>&1 | grep -v setlocale
echo "server log:"
sed 's/^/  /' "$server/access.log" | tail -n 2
echo "packages run (as they logged themselves):"
sed 's/^/  /' "$app/installed.log"
[ -d "$app/update_files" ] && echo "update_files is still there" || echo "update_files removed"
