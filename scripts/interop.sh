#!/usr/bin/env bash
# Fetches three files with the updater's own HTTP client (under Wine) from private
# instances of common web servers on loopback, checks them byte for byte and prints a
# table: nginx, Apache, lighttpd, HAProxy in front of nginx, Varnish in front of nginx;
# then through squid as the user's manual proxy and as chosen by a configuration
# script, nginx over https, and an http server that moved to https.
# All from Debian; each with its own configuration under build/interop and its own
# 127.0.0.x address; no system service is started, and everything started is stopped.
# Not part of the test run. Usage: bash scripts/interop.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/build.sh x86_64

pkgs=(apache2 lighttpd haproxy varnish)
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  # The package scripts must not start the system's services on port 80.
  policy=/usr/sbin/policy-rc.d
  made_policy=0
  [ -e "$policy" ] || { printf '#!/bin/sh\nexit 101\n' > "$policy"; chmod +x "$policy"; made_policy=1; }
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  [ "$made_policy" = 1 ] && rm -f "$policy"
fi
for service in apache2 lighttpd haproxy varnish; do
  pgrep -x "${service/apache2/apache2}" >/dev/null && service "$service" stop >/dev/null 2>&1 || true
done

build=$root/build/x86_64
work=$build/interop
# Whatever an interrupted run left running goes first.
for pid in "$work"/*/*.pid; do [ -f "$pid" ] && kill "$(cat "$pid")" 2>/dev/null || true; done
[ -f "$work/nginx/nginx.pid" ] && bash scripts/nginx.sh stop "$work/nginx"
sleep 0.5
rm -rf "$work"
www=$work/www
mkdir -p "$www/download"
head -c 1000 /dev/urandom > "$www/small.bin"
head -c $((5 * 1024 * 1024)) /dev/urandom > "$www/large.bin"
printf 'Vantorel update server\n1.2.4\n\nlatest\n' > "$www/download/update_info.php"
chmod -R a+rX "$work"
stops=()
stop_all() { for s in "${stops[@]}"; do eval "$s" || true; done; }
trap stop_all EXIT

# nginx, also the back end of the two proxies.
mkdir -p "$work/nginx/www"
cp -r "$www/." "$work/nginx/www/"
bash scripts/nginx.sh start "$work/nginx" 127.0.0.21
stops+=("bash scripts/nginx.sh stop '$work/nginx'")

mkdir -p "$work/apache"
cat > "$work/apache/apache2.conf" <<CONF
ServerRoot /etc/apache2
ServerName 127.0.0.22
LoadModule mpm_event_module /usr/lib/apache2/modules/mod_mpm_event.so
LoadModule authz_core_module /usr/lib/apache2/modules/mod_authz_core.so
Listen 127.0.0.22:80
PidFile $work/apache/apache.pid
DefaultRuntimeDir $work/apache
ErrorLog $work/apache/error.log
User www-data
Group www-data
DocumentRoot $www
<Directory $www>
    Require all granted
</Directory>
<FilesMatch "\.php$">
    ForceType text/plain
</FilesMatch>
CONF
apache2 -f "$work/apache/apache2.conf" -k start
stops+=("apache2 -f '$work/apache/apache2.conf' -k stop")

mkdir -p "$work/lighttpd"
cat > "$work/lighttpd/lighttpd.conf" <<CONF
server.document-root = "$www"
server.bind = "127.0.0.23"
server.port = 80
server.pid-file = "$work/lighttpd/lighttpd.pid"
server.errorlog = "$work/lighttpd/error.log"
server.username = "www-data"
server.groupname = "www-data"
mimetype.assign = (".php" => "text/plain", "" => "application/octet-stream")
CONF
chown -R www-data: "$work/lighttpd" # it opens its log after dropping to that user
lighttpd -f "$work/lighttpd/lighttpd.conf"
stops+=("kill \$(cat '$work/lighttpd/lighttpd.pid')")

mkdir -p "$work/haproxy"
cat > "$work/haproxy/haproxy.cfg" <<CONF
global
    pidfile $work/haproxy/haproxy.pid
defaults
    mode http
    timeout connect 5s
    timeout client 30s
    timeout server 30s
frontend updates
    bind 127.0.0.24:80
    default_backend nginx
backend nginx
    server nginx 127.0.0.21:80
CONF
haproxy -D -f "$work/haproxy/haproxy.cfg"
stops+=("kill \$(cat '$work/haproxy/haproxy.pid')")

mkdir -p "$work/varnish"
varnishd -a 127.0.0.25:80 -b 127.0.0.21:80 -n "$work/varnish" -P "$work/varnish/varnish.pid" -s malloc,64m
stops+=("kill \$(cat '$work/varnish/varnish.pid')")
# https and the proxy: nginx on 127.0.0.1 with the tests' server certificates (their CA
# trusted in the prefix), squid resolving origin.test to it.
( . scripts/wine-env.sh "$build" && wine_prefix_ready && bash tests/support/make-signed.sh "$build/bin" >/dev/null && wineserver -w )
mkdir -p "$work/nginx-tls/www"
cp -r "$www/." "$work/nginx-tls/www/"
printf 'function FindProxyForURL(url, host) {\n  return host == "origin.test" ? "PROXY 127.0.0.1:3128" : "DIRECT";\n}\n' \
  > "$work/nginx-tls/www/proxy.pac"
bash scripts/nginx.sh start "$work/nginx-tls" 127.0.0.1 "$build/bin/signed/tls"
stops+=("bash scripts/nginx.sh stop '$work/nginx-tls'")
bash scripts/squid.sh start "$work/squid"
stops+=("bash scripts/squid.sh stop '$work/squid'")
sleep 1

files=(small.bin large.bin "download/update_info.php?v=01020003")
# name|URL before the file|manual proxy|configuration script
servers=("nginx 1.22|http://127.0.0.21||" "Apache 2.4|http://127.0.0.22||" "lighttpd 1.4|http://127.0.0.23||"
         "HAProxy 2.6 in front of nginx|http://127.0.0.24||" "Varnish 7.1 in front of nginx|http://127.0.0.25||"
         "nginx through squid 5.7, a manual proxy|http://origin.test|127.0.0.1:3128|"
         "nginx through squid 5.7, chosen by a PAC file|http://origin.test||http://127.0.0.1/proxy.pac"
         "nginx 1.22 over https|https://localhost||"
         "nginx 1.22, moved from http to https (301)|http://127.0.0.1/to-https||")
out=$work/out
mkdir -p "$out"
xvfb-run -a -s "-screen 0 640x480x24" bash -c '
  . scripts/wine-env.sh "'"$build"'"
  wine_prefix_ready
  wine_start
  echo "| server | 1,000 bytes | 5 MiB | update_info.php?v=01020003 |"
  echo "|---|---|---|---|"
  for entry in "$@"; do
    IFS="|" read -r name base proxy script <<< "$entry"
    wine_proxy_settings "$proxy" "" "$script"
    row="| $name |"
    i=0
    for file in small.bin large.bin "download/update_info.php?v=01020003"; do
      i=$((i + 1))
      result=$(wine "'"$build"'/bin/fetch.exe" "$base/$file" "Z:'"$out"'/$i" 2>/dev/null | tr -d "\r")
      expected="'"$www"'/${file%%\?*}"
      if [ "$result" = 200 ] && cmp -s "'"$out"'/$i" "$expected"; then row="$row 200, byte-exact |"
      else row="$row $result |"; fi
      rm -f "'"$out"'/$i"
    done
    echo "$row"
  done
  wine_proxy_settings
  wine_stop
' bash "${servers[@]}" 2>&1 | grep -v setlocale
