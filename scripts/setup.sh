#!/usr/bin/env bash
# Installs what building and testing need on a Debian 12 machine; safe to run again.
set -euo pipefail

pkgs=(cmake ninja-build g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix
      binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
      wine wine64 xvfb xauth locales fonts-wqy-microhei nginx googletest clang-format
      openssl osslsigncode squid python3 php-cgi)

# The 32-bit build's tests run under 32-bit Wine.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup: adding the i386 architecture"
  dpkg --add-architecture i386
  apt-get update -qq
fi
pkgs+=(wine32:i386)

missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # Keep the package scripts from starting the system's nginx on port 80: the tests bind it.
  policy=/usr/sbin/policy-rc.d
  made_policy=0
  if [ ! -e "$policy" ]; then
    printf '#!/bin/sh\nexit 101\n' > "$policy"; chmod +x "$policy"; made_policy=1
  fi
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
  [ "$made_policy" = 1 ] && rm -f "$policy"
fi

# A system nginx started by someone else would hold port 80 on every address; the
# tests start squid of their own.
if pgrep -x nginx >/dev/null && [ -f /run/nginx.pid ]; then
  nginx -s quit 2>/dev/null || true
fi
if [ -f /run/squid.pid ]; then
  squid -k shutdown 2>/dev/null || true
fi

# Wine's ANSI code page follows the locale: zh_CN.UTF-8 gives code page 936, en_US.UTF-8
# code pages 1252 and 437 (and file names in UTF-8, which the C locale cannot spell).
for loc in zh_CN en_US; do
  if ! locale -a 2>/dev/null | grep -qi "^$loc\.utf-\?8\$"; then
    echo "setup: generating $loc.UTF-8"
    localedef -i $loc -f UTF-8 $loc.UTF-8
  fi
done
echo "setup: done"
