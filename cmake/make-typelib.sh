#!/usr/bin/env bash
# Build step of the Windows control: runs the type-library generator under
# Wine in a prefix of its own inside the build tree.
#   make-typelib.sh PREFIX GENERATOR.exe OUTPUT.tlb
set -euo pipefail
prefix=$1 generator=$2 output=$3
source "$(dirname "$0")/../scripts/wine-prefix.sh"
prepare_wine_prefix "$prefix" null
export WINEPREFIX=$prefix
rm -f "$output"
status=0
# wine's own output goes to a file: the wine server outlives the program and
# would hold a pipe open.
wine "$generator" "$output" >"$output.log" 2>&1 || status=$?
wineserver -w
if [ "$status" -ne 0 ] || [ ! -s "$output" ]; then
  cat "$output.log" >&2
  echo "make-typelib.sh: the generator failed (exit $status)" >&2
  exit 1
fi
