#!/usr/bin/env bash
# A private squid on 127.0.0.1:3128 for the proxy tests: its own configuration, logs
# and pid file under DIR, never the system service. Names resolve only through its
# hosts file (origin.test and localhost are 127.0.0.1), and origin.test nowhere else, so
# a request for it that arrives proves it went through the proxy; requests for
# denied.test are refused (403).
# Usage: squid.sh start|stop DIR
set -euo pipefail
dir=${2:?directory}
conf=$dir/squid.conf
case "${1:?start or stop}" in
start)
  mkdir -p "$dir"
  [ -f "$dir/squid.pid" ] && squid -f "$conf" -k shutdown 2>/dev/null || true
  # localhost too: a request that should have bypassed squid shows at once by how it
  # arrives, not after the 35 s of a name squid cannot look up, and of each retry.
  printf '127.0.0.1 origin.test\n127.0.0.1 localhost\n' > "$dir/hosts"
  cat > "$conf" <<CONF
http_port 127.0.0.1:3128
pid_filename $dir/squid.pid
access_log stdio:$dir/access.log
cache_log $dir/cache.log
cache_store_log none
cache deny all
coredump_dir $dir
hosts_file $dir/hosts
dns_nameservers 127.0.0.1
shutdown_lifetime 0 seconds
acl denied dstdomain denied.test
acl tls_ports port 443
http_access deny denied
http_access allow CONNECT tls_ports
http_access allow all
CONF
  chown -R proxy "$dir" 2>/dev/null || chmod -R a+rwX "$dir"
  squid -f "$conf"
  for _ in $(seq 100); do
    (exec 3<>/dev/tcp/127.0.0.1/3128) 2>/dev/null && exit 0
    sleep 0.1
  done
  echo "squid did not start: $(tail -n 5 "$dir/cache.log" 2>/dev/null)" >&2
  exit 1
  ;;
stop)
  if [ -f "$dir/squid.pid" ]; then
    squid -f "$conf" -k shutdown || true
    for _ in $(seq 100); do [ -f "$dir/squid.pid" ] || break; sleep 0.1; done
  fi
  ;;
esac
