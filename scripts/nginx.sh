#!/usr/bin/env bash
# A private nginx for end-to-end tests and benchmarks: its own configuration, pid
# file, logs and document root under DIR, on ADDRESS:80. Never the system service.
# With TLS_DIR (the tests' server certificates) it also serves https on 127.0.0.1:443
# (good), :4431 (expired) and :4432 (untrusted root), and servers that moved.
# Usage: nginx.sh start|stop DIR [ADDRESS [TLS_DIR]]
set -euo pipefail
action=${1:?start or stop}
dir=${2:?directory}
address=${3:-127.0.0.1}
tls=${4:-}

case "$action" in
start)
  mkdir -p "$dir/www/download" "$dir/tmp"
  rm -f "$dir/servers-tls.conf" "$dir/site-moves.conf"
  if [ -n "$tls" ]; then
    for kind in good:443 expired:4431 untrusted:4432; do
      cat >> "$dir/servers-tls.conf" <<CONF
server {
    listen 127.0.0.1:${kind#*:} ssl;
    ssl_certificate $tls/tls_${kind%:*}.crt;
    ssl_certificate_key $tls/tls_${kind%:*}.key;
    root $dir/www;
    location = /down { return 301 http://127.0.0.1/download/hello.txt; }
}
CONF
    done
    {
      for code in 301 302 303 307 308; do
        echo "location = /move/$code { return $code http://127.0.0.1/download/hello.txt; }"
      done
      echo "location = /chain1 { return 301 http://127.0.0.1/download/hello.txt; }"
      for n in 2 3 4 5 6; do echo "location = /chain$n { return 301 http://127.0.0.1/chain$((n - 1)); }"; done
      echo "location = /up { return 301 https://localhost/download/hello.txt; }"
      echo "location ^~ /to-https/ { rewrite ^/to-https/(.*)\$ https://localhost/\$1 permanent; }"
    } > "$dir/site-moves.conf"
  fi
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
    # A request that never ends its header lines fails in seconds, not in a minute.
    client_header_timeout 3s;
    server {
        listen $address:80;
        root $dir/www;
        # The update-info "script" is a plain file whatever the query says.
        location ~ \.php\$ { types { } default_type text/plain; }
        # A site of its own, if DIR holds one (the demo answers by the version query).
        include $dir/site*.conf;
    }
    include $dir/servers*.conf;
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
