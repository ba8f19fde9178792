#!/usr/bin/env bash
# A private nginx for end-to-end tests and benchmarks: its own configuration, pid
# file, logs and document root under DIR, on ADDRESS:80. Never the system service.
# Usage: nginx.sh start|stop DIR [ADDRESS]
set -euo pipefail
action=${1:?start or stop}
dir=${2:?directory}
address=${3:-127.0.0.1}

case "$action" in
start)
  mkdir -p "$dir/www/download" "$dir/tmp"
  [ -f "$dir/nginx.pid" ] && nginx -p "$dir" -c "$dir/nginx.conf" -e "$dir/error.log" -s quit 2>/dev/null || true
  cat > "$dir/nginx.conf" <<CONF
user root;
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/error.log;
events { worker_connections 256; }
http {
    access_log $dir/access.log;
    client_body_temp_path $dir/tmp/body;
    proxy_temp_path $dir/tmp/proxy;
    fastcgi_temp_path $dir/tmp/fastcgi;
    uwsgi_temp_path $dir/tmp/uwsgi;
    scgi_temp_path $dir/tmp/scgi;
    default_type application/octet-stream;
    sendfile on;
    server {
        listen $address:80;
        root $dir/www;
        # The update-info "script" is a plain file whatever the query says.
        location ~ \.php\$ { types { } default_type text/plain; }
        # A site of its own, if DIR holds one (the demo answers by the version query).
        include $dir/site*.conf;
    }
}
CONF
  nginx -p "$dir" -c "$dir/nginx.conf" -e "$dir/error.log"
  ;;
stop)
  if [ -f "$dir/nginx.pid" ]; then
    nginx -p "$dir" -c "$dir/nginx.conf" -e "$dir/error.log" -s quit || true
    for _ in $(seq 50); do [ -f "$dir/nginx.pid" ] || break; sleep 0.1; done
  fi
  ;;
*) echo "usage: $0 start|stop DIR [ADDRESS]" >&2; exit 2 ;;
esac
