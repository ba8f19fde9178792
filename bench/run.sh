#!/usr/bin/env bash
# Benchmarks against a private nginx on 127.0.0.1:80; prints the figures that
# bench/README.md records. Usage: bash bench/run.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/build.sh x86_64

build=$root/build/x86_64
dir=$build/bench-nginx
www=$dir/www
# The tests' server certificates (their CA trusted in the prefix) for https, and squid
# as the user's proxy.
( . scripts/wine-env.sh "$build" && wine_prefix_ready && bash tests/support/make-signed.sh "$build/bin" >/dev/null && wineserver -w )
bash scripts/nginx.sh start "$dir" 127.0.0.1 "$build/bin/signed/tls"
bash scripts/squid.sh start "$build/bench-squid"
trap 'bash scripts/nginx.sh stop "$dir"; bash scripts/squid.sh stop "$build/bench-squid"' EXIT

for mib in 1 64 256; do
  [ -f "$www/f${mib}m.bin" ] || head -c $((mib * 1024 * 1024)) /dev/urandom > "$www/f${mib}m.bin"
done
mkdir -p "$www/download"
printf 'bench\n\n\nlatest\n' > "$www/download/latest.php"
cp "$build/bin/fake_noversion.exe" "$www/download/a.exe"
cp "$build/bin/fake_noversion.exe" "$www/download/b.exe"
printf 'bench\n\n\nupdate_files:\nhttp://127.0.0.1/download/a.exe\nhttp://127.0.0.1/download/b.exe\n' \
  > "$www/download/two.php"
printf 'bench\n\n\nupdate_files:\nhttp://127.0.0.5/stall.exe\n' > "$www/download/stall.php"
# A server that sends the headers and a little of the body, then holds the rest back.
python3 - <<'PY' &
import socket, threading, time
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.5", 80)); s.listen(8); s.settimeout(600)
def hold(c):
    c.recv(4096); c.sendall(b"HTTP/1.0 200 OK\r\nContent-Length: 100000\r\n\r\n" + b"x" * 1000); time.sleep(60); c.close()
try:
    while True:
        threading.Thread(target=hold, args=(s.accept()[0],), daemon=True).start()
except OSError:
    pass
PY
stall=$!
# A link that drops the connection after every 5 MiB, to a server that resumes: 127.0.0.6
# and https on 127.0.0.1:4433 (the tests' certificate).
[ -f "$www/f50m.bin" ] || head -c $((50 * 1024 * 1024)) /dev/urandom > "$www/f50m.bin"
python3 bench/flaky-server.py "$www/f50m.bin" $((5 * 1024 * 1024)) "$dir/sent.log" 127.0.0.6 \
  "$build/bin/signed/tls/tls_good.crt" "$build/bin/signed/tls/tls_good.key" &
flaky=$!
trap 'bash scripts/nginx.sh stop "$dir"; bash scripts/squid.sh stop "$build/bench-squid"; kill $stall $flaky 2>/dev/null' EXIT
app=$build/bench-app
rm -rf "$app" && mkdir -p "$app"
cp "$build/bin/Module_Client_Updater.exe" "$app/"
cp "$build/bin/fake_1_2_3_4.exe" "$app/Vantorel.exe"

echo "== $(date -u +%F) $(nproc) cores, $(wine --version 2>/dev/null), nginx $(nginx -v 2>&1 | sed 's/.*\///')"
echo "== curl (native, to a file)"
for mib in 1 64 256; do
  speeds=()
  for _ in 1 2 3; do
    speeds+=("$(curl -s -o /tmp/bench_curl.bin -w '%{speed_download}' "http://127.0.0.1/f${mib}m.bin")")
  done
  printf 'size_mib=%s curl_mib_s=%s\n' "$mib" \
    "$(printf '%s\n' "${speeds[@]}" | sort -n | sed -n 2p | awk '{printf "%.1f", $1/1048576}')"
done
rm -f /tmp/bench_curl.bin

xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  set -e
  . scripts/wine-env.sh "'"$build"'"
  wine_prefix_ready
  wine_start
  bench="wine '"$build"'/bin/download_bench.exe"
  echo "== HttpDownload against the floor and the system downloader (median)"
  $bench download http://127.0.0.1/f1m.bin 9
  $bench download http://127.0.0.1/f64m.bin 5
  $bench download http://127.0.0.1/f256m.bin 3
  echo "== the same over https (the system'"'"'s HTTP stack)"
  $bench download https://localhost/f1m.bin 9
  $bench download https://localhost/f64m.bin 5
  echo "== 50 MiB fetched whole, then over a link that drops the connection after every 5 MiB"
  for base in http://127.0.0.6 https://localhost:4433; do
    : > "'"$dir"'/sent.log"
    $bench resume $base/whole $base/cut
    awk "\$1 == \"cut\" { n += \$2 } END { printf \"bytes sent for the cut one over its size: %.4f\n\", n / (50 * 1048576) }" "'"$dir"'/sent.log"
  done
  echo "== peak memory of one HttpDownload, each in a fresh process"
  for mib in 1 64 256; do $bench peak http://127.0.0.1/f${mib}m.bin; done
  echo "== refused connection (nothing listens on 127.0.0.2:80)"
  $bench refused http://127.0.0.2/x 20
  echo "== whole update runs (median)"
  $bench run "http://127.0.0.1/download/latest.php?v=01020003" 15
  $bench run "http://127.0.0.1/download/two.php?v=01020003" 9
  echo "== a \"latest\" run through the user'"'"'s proxy (squid; origin.test resolves only there)"
  wine_proxy_settings 127.0.0.1:3128
  $bench run "http://origin.test/download/latest.php?v=01020003" 15
  wine_proxy_settings
  echo "== the whole program against an answer of \"latest\""
  key="HKCU\\Software\\Vantorel\\Vantorel\\Settings"
  wine reg add "$key" /v UpdateSvrUrl /d "http://127.0.0.1/download/latest.php" /f >/dev/null 2>&1
  program="wine '"$build"'/bin/program_bench.exe"
  app_win="Z:$(echo "'"$app"'" | tr / \\\\)"
  $program shown "$app_win" 9
  $program quiet "$app_win" 9
  echo "== sizes and working sets"
  for b in x86_64 i686; do
    f="'"$root"'/build/$b/bin/Module_Client_Updater.exe"
    [ -f "$f" ] && echo "$b Module_Client_Updater.exe: $(stat -c %s "$f") bytes"
  done
  $program memory "$app_win" 9
  $program memory "Z:$(echo "'"$build"'/bin/minimal_window.exe" | tr / \\\\)" 9
  wine reg add "$key" /v UpdateSvrUrl /d "http://127.0.0.1/download/stall.php" /f >/dev/null 2>&1
  echo "== cancel while the server holds a package'"'"'s body back"
  $program cancel "$app_win" 5
  wine reg add "$key" /v UpdateSvrUrl /d "http://127.0.0.1/download/latest.php" /f >/dev/null 2>&1
  echo "== cancel while the same server holds the user'"'"'s configuration script back"
  wine_proxy_settings "" "" http://127.0.0.5/proxy.pac
  $program cancel "$app_win" 5
  wine_proxy_settings
  $program idle "$app_win" 75 &
  sleep 10 # the popup has slid in and out again: idle in the tray
  # The copy is the Wine process with the most mappings of those naming this bench'"'"'s copy:
  # every worktree'"'"'s benches and tests start copies, and all of them are seen from here.
  copy_pid() { for p in $(pgrep -f Module_Client_Updater_BAK); do tr "\0" " " < /proc/$p/cmdline | grep -qiF "$app_win\\Module_Client_Updater_BAK" && echo "$(wc -l < /proc/$p/maps) $p"; done | sort -n | tail -n 1 | cut -d" " -f2; }
  pid=$(copy_pid)
  # The process'"'"'s CPU time in clock ticks, and the scheduler'"'"'s own per thread: time and times run.
  cpu() { awk "{print \$14 + \$15}" /proc/$pid/stat; }
  sched() { cat /proc/$pid/task/*/schedstat | awk "{ns += \$1; runs += \$3} END {print ns, runs}"; }
  before="$(cpu) $(sched)"; sleep 60; after="$(cpu) $(sched)"
  echo "$before $after" | awk -v hz="$(getconf CLK_TCK)" "{printf \"idle in the tray for 60 s: %d ms of CPU (scheduler: %.1f ms, run %d times)\n\", (\$4 - \$1) * 1000 / hz, (\$5 - \$2) / 1e6, \$6 - \$3}"
  echo "trust and COM libraries mapped after \"latest\": $(grep -o -i -E "(wintrust|crypt32|ole32)\.dll" /proc/$pid/maps | sort -u | tr "\n" " ")"
  wait
  wine reg delete "$key" /v UpdateSvrUrl /f >/dev/null 2>&1
  wine_stop
' 2>&1 | grep -v "setlocale"
