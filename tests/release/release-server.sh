#!/usr/bin/env bash
# The update server a publisher would set up with the release tool: its answers for a
# release (1.2.4.0, updating from 1.1.0.0 on, A's package) written and signed with A's
# certificate by the tool under Wine, and the
# tests' nginx started with the location block it wrote, on 127.0.0.13:80. With "php",
# runs the PHP script it wrote through Debian's php-cgi for each QUERY:VERDICT and fails
# unless each answer's fourth line is that verdict.
# Usage: release-server.sh start|stop|php DIR [BIN_DIR | QUERY:VERDICT...]
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
action=${1:?start, stop or php}
dir=${2:?directory}
shift 2
case "$action" in
start)
  bin=${1:?bin folder}
  rm -rf "$dir/www"
  mkdir -p "$dir/www"
  wine "$bin/Module_Client_Updater_Release.exe" answers --current 1.2.4.0 --oldest 1.1.0.0 \
    --out "$(winepath -w "$dir/www/download")" --sign "$(winepath -w "$bin/signed/a.pfx")" --password secret \
    --valid-days 30 http://127.0.0.13/download/setup.exe </dev/null
  cp "$bin/signed/timestamped.exe" "$dir/www/download/setup.exe"
  cp "$dir/www/download/nginx.conf" "$dir/site-release.conf"
  bash "$here/../../scripts/nginx.sh" start "$dir" 127.0.0.13
  ;;
stop) bash "$here/../../scripts/nginx.sh" stop "$dir" ;;
php)
  for pair in "$@"; do
    got=$(QUERY_STRING="v=${pair%%:*}" REQUEST_METHOD=GET REDIRECT_STATUS=200 \
      SCRIPT_FILENAME="$dir/www/download/update_info.php" php-cgi | tr -d '\r' | sed '1,/^$/d' | sed -n 4p)
    [ "$got" = "${pair#*:}" ] || { echo "v=${pair%%:*}: $got, not ${pair#*:}"; exit 1; }
  done
  echo "php: $# answers as expected"
  ;;
esac
