# Sourced by the scripts: a Wine prefix of the project's own, quiet, code page 936,
# shared by the builds beside BUILD_DIR (it runs 32-bit and 64-bit programs alike).
# Usage: . scripts/wine-env.sh BUILD_DIR
build_dir=${1:?build directory}
WINEPREFIX="$(cd "$build_dir/.." && pwd)/wineprefix"
export WINEPREFIX
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64
export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8

wine_prefix_ready() {
  [ -f "$WINEPREFIX/.project-ready-3" ] && return 0
  echo "wine: preparing the prefix $WINEPREFIX"
  # A prefix made before 32-bit Wine was installed starts no program at all.
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 </dev/null
  # Without a window manager, destroying a managed window takes two seconds.
  wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 </dev/null
  # A program that crashes ends at once instead of waiting in a crash dialog.
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1 </dev/null
  wineserver -w
  touch "$WINEPREFIX/.project-ready-3"
}

# Starts the server and the desktop with their output detached: otherwise the first
# program's background Wine processes keep its output pipe open.
wine_start() {
  wineserver -p >/dev/null 2>&1 </dev/null
  wine wineboot >/dev/null 2>&1 </dev/null
}

wine_stop() {
  wineserver -k >/dev/null 2>&1 || true
}

# Sets the user's proxy as Windows keeps it: the plain values and the binary one the
# system's HTTP stack reads (flags 1 direct, 2 proxy, 4 script; then each text with its
# length). No arguments: direct. Usage: wine_proxy_settings [PROXY [BYPASS [SCRIPT]]]
wine_proxy_settings() {
  local proxy=${1:-} bypass=${2:-} script=${3:-} key='HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings'
  le32() { printf '%02x%02x%02x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
  text() { le32 ${#1}; printf '%s' "$1" | od -An -v -tx1 | tr -d ' \n'; }
  local flags=$((1 | (${#proxy} > 0 ? 2 : 0) | (${#script} > 0 ? 4 : 0)))
  local blob
  blob=$(le32 70)$(le32 1)$(le32 $flags)$(text "$proxy")$(text "$bypass")$(text "$script")$(printf '0%.0s' $(seq 64))
  wine reg add "$key\\Connections" /v DefaultConnectionSettings /t REG_BINARY /d "$blob" /f >/dev/null 2>&1 </dev/null
  wine reg add "$key" /v ProxyEnable /t REG_DWORD /d $((${#proxy} > 0)) /f >/dev/null 2>&1 </dev/null
  wine reg add "$key" /v ProxyServer /d "$proxy" /f >/dev/null 2>&1 </dev/null
  wine reg add "$key" /v ProxyOverride /d "$bypass" /f >/dev/null 2>&1 </dev/null
  wine reg add "$key" /v AutoConfigURL /d "$script" /f >/dev/null 2>&1 </dev/null
}
