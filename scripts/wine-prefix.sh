# Sourced by the scripts that run Windows executables: prepare_wine_prefix
# PREFIX null|x11 creates a Wine prefix once (no crash dialog; the null
# graphics driver for windows without a display, or Wine's X11 driver).
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installers

prepare_wine_prefix() {
  local prefix=$1 driver=$2
  [ -f "$prefix/.telorus-ready" ] && return 0
  rm -rf "$prefix"
  mkdir -p "$(dirname "$prefix")"
  WINEPREFIX=$prefix wine wineboot -i >/dev/null 2>&1
  WINEPREFIX=$prefix wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  if [ "$driver" = null ]; then
    WINEPREFIX=$prefix wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  fi
  WINEPREFIX=$prefix wineserver -w
  touch "$prefix/.telorus-ready"
}
