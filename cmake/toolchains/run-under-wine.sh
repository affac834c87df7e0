#!/bin/sh
# Runs a Windows program under Wine for the tests of the Windows build: quiet
# (no Wine diagnostics on the program's standard error) and in a Wine prefix
# of its own, made on first use.
export WINEDEBUG=-all
export WINEPREFIX="${KAV_WINEPREFIX:-${HOME:-/tmp}/.wine-kav}"
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot --init >/dev/null 2>&1 || true
  wineserver --wait 2>/dev/null || true
fi
exec wine "$@"
