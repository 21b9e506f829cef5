#!/usr/bin/env bash
# Runs a Windows executable under Wine for CTest: the prefix and settings
# come from the environment that scripts/wine-env.sh prepares (WINEPREFIX,
# WINEDEBUG), and the exit code passes through.
set -u
: "${WINEPREFIX:?run the Windows tests through scripts/test.sh (WINEPREFIX is not set)}"
export WINEDEBUG="${WINEDEBUG:--all}"
exec wine "$@"
