#!/usr/bin/env bash
# Runs a Windows executable under Wine for CTest, in the prefix that
# scripts/windows-tests.sh prepared: the one with the null graphics driver,
# or, for tests marked TELORUS_WINE_SCREEN=1, the one that draws on Xvfb.
# The exit code passes through.
set -u
export WINEDEBUG="${WINEDEBUG:--all}"
if [ "${TELORUS_WINE_SCREEN:-}" = 1 ]; then
  export WINEPREFIX="${TELORUS_WINE_X11_PREFIX:?run the Windows tests through scripts/windows-tests.sh}"
else
  export WINEPREFIX="${TELORUS_WINE_NULL_PREFIX:?run the Windows tests through scripts/windows-tests.sh}"
fi
exec wine "$@"
